// The job procedure: take the job over, read how to deliver it, run the
// auxiliary programs and hand the job description file's path to the client
// by copy-data message, clipboard or command line.
#include "job/process_job.h"

#include "agent/activity_log.h"
#include "agent/constants.h"
#include "agent/messages.h"
#include "agent/settings.h"
#include "agent/text.h"
#include "job/auxiliary_programs.h"
#include "job/delivery_settings.h"
#include "job/handoff.h"
#include "job/payload.h"
#include "job/purge.h"
#include "job/target_window.h"

namespace {

// Copy-data and clipboard modes need a window class or title; without
// either the job is reported and its job description file deleted.
bool HasTargetWindowName(const DeliverySettings& settings, const wchar_t* jobPath)
{
    if (!IsEmptyText(settings.targetWindowClass) || !IsEmptyText(settings.targetWindowTitle))
        return true;
    ReportMessage(kTextNotConfigured, kMsgNotConfigured);
    DeleteFileW(jobPath);
    return false;
}

// Preprocessor, progress indicator and converter; false when the
// preprocessor cancelled the job. The progress indicator stays open until
// the caller closes it.
bool RunAuxiliaryPrograms(const wchar_t* jobPath, ProgressIndicator* progress)
{
    RunPreprocessor(jobPath);
    if (IsJobCancelled(jobPath))
        return false;
    *progress = StartProgressIndicator(jobPath);
    RunConverter(jobPath);
    return true;
}

void CloseProgressIfStarted(ProgressIndicator* progress)
{
    if (progress->process != nullptr)
        CloseProgressIndicator(progress);
}

void DeliverByCopyData(const DeliverySettings& settings, const ClientCommandLine& commandLine,
                       const wchar_t* jobPath)
{
    if (!HasTargetWindowName(settings, jobPath))
        return;
    ProgressIndicator progress = {};
    if (!RunAuxiliaryPrograms(jobPath, &progress))
        return;
    HWND window = LocateOrLaunchClient(settings, commandLine, true);
    CloseProgressIfStarted(&progress);

    JobPayload payload;
    bool converted = ConvertJobPath(jobPath, &payload);
    COPYDATASTRUCT record = {settings.messageId, sizeof(payload.bytes), payload.bytes};
    WriteLogLine(kLogSendingCopyData);
    if (converted && IsWindow(window)) {
        SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
        BringWindowToForeground(window);
    } else {
        ReportMessage(kTextTargetInaccessible, kMsgTargetInaccessible);
    }
    PurgePrintedJobs();
}

// Deletes the job's EMF files and its job description file after a failed
// clipboard delivery.
void DeleteJobFiles(const wchar_t* jobPath)
{
    int count = static_cast<int>(GetPrivateProfileIntW(kEmfSection, kEmfCountKey, 0, jobPath));
    for (int n = 0; n < count; ++n) {
        wchar_t key[kPathChars];
        wchar_t emfPath[kPathChars + 1];  // one more, to tell a cut entry from a full one
        FormatText(key, ARRAYSIZE(key), kEmfFileKeyFormat, n);
        // The printer side lists its files without gaps: a missing entry
        // ends the list, so a hostile "Count" cannot hold the thread.
        DWORD chars = GetPrivateProfileStringW(kEmfSection, key, L"", emfPath, ARRAYSIZE(emfPath), jobPath);
        if (chars == 0)
            break;
        // An entry too long for a path comes back cut short and would name
        // some other file: it is skipped.
        if (chars < kPathChars)
            DeleteFileW(emfPath);
    }
    DeleteFileW(jobPath);
}

// Puts the payload on the clipboard; the clipboard is open. Returns the
// message identifier of the failure, or 0.
UINT PutOnClipboard(UINT format, HWND window, const JobPayload& payload)
{
    // Window and format are checked before the user's clipboard is emptied.
    if (!IsWindow(window))
        return kMsgTargetInaccessible;
    if (format == 0)
        return kMsgClipboardSetFailed;
    EmptyClipboard();
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, sizeof(payload.bytes));
    void* data = block != nullptr ? GlobalLock(block) : nullptr;
    if (data == nullptr) {
        if (block != nullptr)
            GlobalFree(block);
        return kMsgClipboardSetFailed;
    }
    memcpy(data, payload.bytes, sizeof(payload.bytes));
    GlobalUnlock(block);
    if (SetClipboardData(format, block) == nullptr) {
        GlobalFree(block);  // still ours: the clipboard did not take it
        return kMsgClipboardSetFailed;
    }
    return 0;
}

void DeliverByClipboard(const DeliverySettings& settings, const ClientCommandLine& commandLine,
                        const wchar_t* jobPath)
{
    if (!HasTargetWindowName(settings, jobPath))
        return;
    ProgressIndicator progress = {};
    UINT message = ClampClipboardMessage(settings.messageId);
    if (!RunAuxiliaryPrograms(jobPath, &progress))
        return;
    HWND window = LocateOrLaunchClient(settings, commandLine, false);
    CloseProgressIfStarted(&progress);

    UINT format = RegisterClipboardFormatW(settings.clipboardFormat);
    if (!OpenClipboard(nullptr)) {
        ReportMessage(kTextClipboardOpenFailed, kMsgClipboardOpenFailed);
        PurgePrintedJobs();
        return;
    }
    JobPayload payload;
    UINT failure = ConvertJobPath(jobPath, &payload) ? PutOnClipboard(format, window, payload)
                                                     : kMsgTargetInaccessible;
    // Closed before any report, so a message box never holds the clipboard.
    CloseClipboard();
    if (failure == 0) {
        BringWindowToForeground(window);
        PostMessageW(window, message, 0, 0);
    } else {
        ReportMessage(failure == kMsgTargetInaccessible ? kTextTargetInaccessible : kTextClipboardSetFailed,
                      failure);
        DeleteJobFiles(jobPath);
    }
    PurgePrintedJobs();
}

void DeliverByCommandLine(const ClientCommandLine& prepared, const wchar_t* jobPath)
{
    ProgressIndicator progress = {};
    if (!RunAuxiliaryPrograms(jobPath, &progress))
        return;
    CloseProgressIfStarted(&progress);

    ClientCommandLine commandLine = prepared;
    PROCESS_INFORMATION client;
    WriteLogLine(kLogRunClient);
    if (!AppendText(commandLine.text, ARRAYSIZE(commandLine.text), L" ")
        || !AppendText(commandLine.text, ARRAYSIZE(commandLine.text), jobPath)
        || !StartClient(commandLine.text, &client)) {
        ReportMessage(kTextDispatcherFailed, kMsgDispatcherFailed);
        DeleteFileW(jobPath);
    } else {
        if (WaitForInputIdle(client.hProcess, kCommandLineClientReadyTimeout) == 0)
            ActivateProcessWindow(client.dwProcessId);
        CloseHandle(client.hThread);
        CloseHandle(client.hProcess);
    }
    PurgePrintedJobs();
}

}  // namespace

DWORD WINAPI ProcessJob(LPVOID parameter)
{
    JobKind kind = static_cast<JobKind>(reinterpret_cast<ULONG_PTR>(parameter));
    wchar_t userName[kUserNameChars];
    FetchUserName(userName);
    WriteLogLine(kLogThreadStarted);
    PurgePrintedJobs();

    wchar_t jobPath[kPathChars];
    if (!TakeOverJob(kind, userName, jobPath))
        return 0;

    DeliverySettings settings;
    ClientCommandLine commandLine;
    if (!ReadDeliverySettings(&settings) || !PrepareClientCommandLine(settings, jobPath, &commandLine))
        return 0;

    switch (settings.transferMode) {
    case kCopyDataMode:
        DeliverByCopyData(settings, commandLine, jobPath);
        break;
    case kClipboardMode:
        DeliverByClipboard(settings, commandLine, jobPath);
        break;
    default:
        DeliverByCommandLine(commandLine, jobPath);
        break;
    }
    return 0;
}
