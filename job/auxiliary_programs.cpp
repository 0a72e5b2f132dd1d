// Runs the auxiliary programs. The program path is quoted and also passed as
// the application name, so exactly the file beside the agent starts even
// under a folder whose path has spaces; the job path follows after one space,
// unquoted, as the programs read it.
#include "job/auxiliary_programs.h"

#include <wchar.h>

#include "agent/activity_log.h"
#include "agent/constants.h"
#include "agent/messages.h"
#include "agent/text.h"

namespace {

void CloseProcessHandles(PROCESS_INFORMATION* process)
{
    CloseHandle(process->hThread);
    CloseHandle(process->hProcess);
}

// Starts the program and waits for it to exit; false if it cannot start.
bool RunAuxiliaryProgram(const wchar_t* fileName, const wchar_t* jobPath, bool inherit)
{
    PROCESS_INFORMATION process;
    if (!StartAuxiliaryProgram(fileName, jobPath, kLongCommandLineChars, inherit, &process))
        return false;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseProcessHandles(&process);
    return true;
}

struct ProgressWindowSearch {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK FindProgressWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<ProgressWindowSearch*>(parameter);
    wchar_t className[ARRAYSIZE(kProgressWindowClass) + 1];
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && GetClassNameW(window, className, ARRAYSIZE(className)) > 0
        && wcscmp(className, kProgressWindowClass) == 0) {
        search->window = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool StartAuxiliaryProgram(const wchar_t* fileName, const wchar_t* jobPath, size_t commandLineChars, bool inherit,
                           PROCESS_INFORMATION* process)
{
    wchar_t programPath[kLongCommandLineChars];
    wchar_t commandLine[kLongCommandLineChars + 2];  // room for the two quotes
    if (commandLineChars > kLongCommandLineChars)
        commandLineChars = kLongCommandLineChars;
    // The budget holds the program path, a space and the job path; the
    // quotes we add do not count against it, so a command line that fits
    // is never refused for them.
    if (!GetAgentSiblingPath(fileName, programPath, commandLineChars)
        || wcslen(programPath) + 1 + wcslen(jobPath) >= commandLineChars
        || !FormatText(commandLine, ARRAYSIZE(commandLine), L"\"%ls\" %ls", programPath, jobPath))
        return false;

    // A program that is not installed costs a failed process start
    // otherwise, on every job.
    if (GetFileAttributesW(programPath) == INVALID_FILE_ATTRIBUTES)
        return false;

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(programPath, commandLine,
                          nullptr, nullptr,            // process and thread security
                          inherit ? TRUE : FALSE,      // inherit handles
                          NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr,            // environment, current directory
                          &startup, process)
        != FALSE;
}

void RunPreprocessor(const wchar_t* jobPath)
{
    if (RunAuxiliaryProgram(kPreprocessorFileName, jobPath, false))
        WriteLogLine(kLogPreprocessingFinished);
}

bool IsJobCancelled(const wchar_t* jobPath)
{
    wchar_t result[kPreprocessingResultChars];
    DWORD chars = GetPrivateProfileStringW(kDocumentSection, kPreprocessingResultKey, L"", result,
                                           ARRAYSIZE(result), jobPath);
    return chars > 0 && CompareStringOrdinal(result, -1, kCancelResult, -1, TRUE) == CSTR_EQUAL;
}

ProgressIndicator StartProgressIndicator(const wchar_t* jobPath)
{
    ProgressIndicator progress = {};
    PROCESS_INFORMATION process;
    if (StartAuxiliaryProgram(kProgressIndicatorFileName, jobPath, kProgressCommandLineChars, false, &process)) {
        CloseHandle(process.hThread);
        progress.process = process.hProcess;
        progress.processId = process.dwProcessId;
        WriteLogLine(kLogProgressStarted);
    }
    return progress;
}

void CloseProgressIndicator(ProgressIndicator* progress)
{
    // The indicator may still be opening its window; give it a moment, so
    // that it does not stay on screen after the job.
    WaitForInputIdle(progress->process, kProgressReadyTimeout);
    ProgressWindowSearch search = {progress->processId, nullptr};
    EnumWindows(FindProgressWindow, reinterpret_cast<LPARAM>(&search));
    if (search.window != nullptr)
        PostMessageW(search.window, WM_CLOSE, 0, 0);
    WriteLogLine(kLogProgressClosed);
    CloseHandle(progress->process);
    *progress = ProgressIndicator{};
}

bool RunConverter(const wchar_t* jobPath)
{
    WriteLogLine(kLogConverterStarting);
    if (!RunAuxiliaryProgram(kConverterFileName, jobPath, true)) {
        ReportMessage(kTextConverterMissing, kMsgConverterMissing);
        DeleteFileW(jobPath);
        return false;
    }
    WriteLogLine(kLogConverterFinished);
    return true;
}
