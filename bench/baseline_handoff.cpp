// The least a program must do to carry a job from the printer side to an
// open client window: wait on the event, read and delete the hand-off value,
// find the window and send the copy-data record. With a log file it also
// appends as many records as the agent does before its send, opened with
// the agent's flags. Baseline of the hand-off latency benchmarks.
//
// With "design" it also does the work the agent's design asks for in the
// bench's set-up before the send (the purge of the printer's queue, the
// delivery settings, looking for the three auxiliary programs, the cancel
// check, the 61456 broadcast and the deletion of the job file), so the agent
// can be compared with that too.
//
//   orsanto-bench-handoff.exe <job event> <quit event> <value name> <log file or -> [design]
//
// The window is the bench client: class OrsantoBenchClient, title
// "Orsanto bench client 0".
#include <windows.h>
#include <winspool.h>

#include <stdio.h>
#include <wchar.h>

namespace {

const wchar_t kMainKey[] = L"Software\\Orsanto";
const wchar_t kClientClass[] = L"OrsantoBenchClient";
const wchar_t kClientTitle[] = L"Orsanto bench client 0";
const ULONG_PTR kMessageId = 2;
const wchar_t* const kSettingValues[] = {
    L"Client Application", L"Transfer Mode",    L"Target Window Class",
    L"Target Window Title", L"Clipboard Format", L"Message ID",
};
const wchar_t* const kProgramNames[] = {L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe"};
const UINT kConverterMissing = 61456;

// The records the agent writes between the signal and its send.
const wchar_t* const kRecords[] = {
    L"New print job received. Start processing thread.",
    L"Processing thread started.",
    L"Print job info successfully retrieved. JobID=%d",
    L"Starting converter.",
    L"Cannot find converter executable.",
    L"Sending WM_COPYDATA.",
};

HANDLE g_log = INVALID_HANDLE_VALUE;
bool g_design = false;
UINT g_notificationMessage = 0;

void WriteRecord(const wchar_t* format, int number)
{
    if (g_log == INVALID_HANDLE_VALUE)
        return;
    wchar_t text[256];
    swprintf(text, 256, format, number);
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t line[1024];
    int chars = swprintf(line, 1024, L"%d-%02d-%02d %02d:%02d:%02d.%03d:\t%ls\r\n", now.wYear, now.wMonth, now.wDay,
                         now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
    DWORD written = 0;
    WriteFile(g_log, line, static_cast<DWORD>(chars) * sizeof(wchar_t), &written, nullptr);
}

// Splits the command line at spaces (the bench passes no quoted arguments).
int SplitArguments(wchar_t* commandLine, wchar_t** arguments, int most)
{
    int count = 0;
    wchar_t* at = commandLine;
    while (*at != L'\0' && count < most) {
        while (*at == L' ')
            *at++ = L'\0';
        if (*at == L'\0')
            break;
        arguments[count++] = at;
        while (*at != L'\0' && *at != L' ')
            ++at;
    }
    return count;
}

// What the agent's design adds before the send when no auxiliary program is
// installed; the programs are looked for beside this program (none lie there).
void DoDesignWork(const wchar_t* jobPath)
{
    wchar_t printerName[] = L"Orsanto";
    HANDLE printer = nullptr;
    if (OpenPrinterW(printerName, &printer, nullptr))
        ClosePrinter(printer);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        for (const wchar_t* name : kSettingValues) {
            BYTE data[MAX_PATH * sizeof(wchar_t)];
            DWORD size = sizeof(data);
            RegQueryValueExW(key, name, nullptr, nullptr, data, &size);
        }
        RegCloseKey(key);
    }
    wchar_t path[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t* folderEnd = wcsrchr(path, L'\\');
    if (chars == 0 || chars >= MAX_PATH || folderEnd == nullptr)
        return;
    for (const wchar_t* name : kProgramNames) {
        swprintf(folderEnd + 1, MAX_PATH - (folderEnd + 1 - path), L"%ls", name);
        GetFileAttributesW(path);
    }
    wchar_t result[256];
    GetPrivateProfileStringW(L"Document", L"PreprocessingResult", L"", result, 256, jobPath);
    SendNotifyMessageW(HWND_BROADCAST, g_notificationMessage, kConverterMissing, 0);
    DeleteFileW(jobPath);
}

void CarryJob(const wchar_t* valueName, int jobNumber)
{
    wchar_t jobPath[MAX_PATH] = L"";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD size = sizeof(jobPath) - sizeof(wchar_t);
    LSTATUS status = RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(jobPath), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return;
    jobPath[size / sizeof(wchar_t)] = L'\0';
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueW(key, valueName);
        RegCloseKey(key);
    }
    for (int i = 0; i < 5; ++i)
        WriteRecord(kRecords[i], jobNumber);
    if (g_design)
        DoDesignWork(jobPath);

    HWND window = FindWindowW(kClientClass, kClientTitle);
    char payload[MAX_PATH] = {};
    WideCharToMultiByte(CP_ACP, 0, jobPath, -1, payload, sizeof(payload), nullptr, nullptr);
    COPYDATASTRUCT record = {kMessageId, sizeof(payload), payload};
    WriteRecord(kRecords[5], jobNumber);
    SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    wchar_t* arguments[5];
    int count = SplitArguments(commandLine, arguments, 5);
    if (count < 4)
        return 2;
    g_design = count == 5 && wcscmp(arguments[4], L"design") == 0;
    if (g_design)
        g_notificationMessage = RegisterWindowMessageW(L"Orsanto_notify_message");
    if (wcscmp(arguments[3], L"-") != 0) {
        g_log = CreateFileW(arguments[3], FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
        if (g_log == INVALID_HANDLE_VALUE)
            return 1;
    }
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    HANDLE events[2] = {
        CreateEventW(&attributes, TRUE, FALSE, arguments[0]),
        CreateEventW(&attributes, TRUE, FALSE, arguments[1]),
    };
    if (events[0] == nullptr || events[1] == nullptr)
        return 1;
    for (int job = 1; WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0; ++job) {
        ResetEvent(events[0]);
        CarryJob(arguments[2], job);
    }
    if (g_log != INVALID_HANDLE_VALUE)
        CloseHandle(g_log);
    return 0;
}
