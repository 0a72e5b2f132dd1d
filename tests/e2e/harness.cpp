// Drives the real orsanto-agent.exe as a process; see harness.h.
#include "harness.h"

#include <filesystem>

namespace fs = std::filesystem;

const wchar_t kTestMainKey[] = L"Software\\Orsanto";
const wchar_t kTestLogPath[] = L"C:\\vp_log.txt";
const wchar_t kSharedEvent[] = L"Global\\Orsanto_shared_printing_event";
const wchar_t kKillEvent[] = L"Global\\Orsanto_killevent";
const wchar_t kLegacyPrintEvent[] = L"Orsanto_printevent";
const wchar_t kLegacySharedEvent[] = L"Orsanto_shared_printing_event";
const wchar_t kLegacyKillEvent[] = L"Orsanto_killevent";

namespace {

const wchar_t kTestRoot[] = L"C:\\orsanto-tests";
const wchar_t kCaptionText[] = L"Orsanto agent";
const wchar_t kAppDefaultsKey[] = L"Software\\Wine\\AppDefaults\\orsanto-agent.exe";

bool IsStamp(const std::wstring& s, size_t at)
{
    static const wchar_t kShape[] = L"dddd-dd-dd dd:dd:dd.ddd:\t";
    const size_t n = ARRAYSIZE(kShape) - 1;
    if (s.size() < at + n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        wchar_t c = s[at + i];
        if (kShape[i] == L'd' ? !(c >= L'0' && c <= L'9') : c != kShape[i])
            return false;
    }
    return true;
}

constexpr size_t kStampChars = 25;

HKEY OpenMainKey(REGSAM access)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestMainKey, 0, nullptr, 0, access, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return nullptr;
    return key;
}

}  // namespace

// ---- Files and folders ----------------------------------------------------

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

std::wstring MakeTestFolder(const std::wstring& name)
{
    std::wstring folder = std::wstring(kTestRoot) + L"\\" + name;
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(folder, ec);
    return folder;
}

std::wstring CopyProgram(const std::wstring& folder, const std::wstring& fileName, const std::wstring& asName)
{
    std::wstring target = folder + L"\\" + (asName.empty() ? fileName : asName);
    EXPECT_TRUE(CopyFileW((BinDir() + L"\\" + fileName).c_str(), target.c_str(), FALSE))
        << "cannot copy " << std::string(fileName.begin(), fileName.end());
    return target;
}

std::wstring MakeAgentFolder(const std::wstring& name, std::initializer_list<const wchar_t*> programs)
{
    std::wstring folder = MakeTestFolder(name);
    CopyProgram(folder, L"orsanto-agent.exe");
    for (const wchar_t* program : programs)
        CopyProgram(folder, program);
    return folder;
}

void WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void WriteFileText(const std::wstring& path, const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    WriteFileBytes(path, bytes);
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- Registry --------------------------------------------------------------

void DeleteRegistryTree(HKEY root, const wchar_t* path)
{
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

void DeleteMainKey()
{
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kTestMainKey);
}

void ResetMainKey()
{
    DeleteMainKey();
    HKEY key = OpenMainKey(KEY_ALL_ACCESS);
    ASSERT_NE(nullptr, key);
    RegCloseKey(key);
}

void SetMainRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = OpenMainKey(KEY_SET_VALUE);
    ASSERT_NE(nullptr, key);
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void SetMainDword(const wchar_t* name, DWORD value)
{
    SetMainRaw(name, REG_DWORD, &value, sizeof(value));
}

void SetMainString(const wchar_t* name, const std::wstring& value)
{
    SetMainRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool MainValueExists(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestMainKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

void SetRegistryString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& value)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
}

void SetLegacyNaming(bool on)
{
    if (on)
        SetRegistryString(HKEY_CURRENT_USER, kAppDefaultsKey, L"Version", L"nt40");
    else
        DeleteRegistryTree(HKEY_CURRENT_USER, kAppDefaultsKey);
}

// ---- Activity log --------------------------------------------------------

void DeleteLog()
{
    SetFileAttributesW(kTestLogPath, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(kTestLogPath);
    RemoveDirectoryW(kTestLogPath);
}

bool LogHasByteOrderMark()
{
    std::string bytes = ReadFileBytes(kTestLogPath);
    return bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE';
}

std::wstring ReadLogText()
{
    std::string bytes = ReadFileBytes(kTestLogPath);
    size_t start = bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE' ? 2 : 0;
    std::wstring text((bytes.size() - start) / 2, L'\0');
    memcpy(&text[0], bytes.data() + start, text.size() * 2);
    return text;
}

std::vector<std::wstring> ReadLogRecords()
{
    std::wstring text = ReadLogText();
    std::vector<std::wstring> records;
    size_t at = 0;
    while (at < text.size()) {
        // A record ends at the CR LF before the next stamp, or at the end.
        size_t next = at;
        for (;;) {
            next = text.find(L"\r\n", next);
            if (next == std::wstring::npos || IsStamp(text, next + 2) || next + 2 == text.size())
                break;
            next += 2;
        }
        size_t end = next == std::wstring::npos ? text.size() : next;
        size_t bodyStart = IsStamp(text, at) ? at + kStampChars : at;
        records.push_back(text.substr(bodyStart, end - bodyStart));
        at = end == text.size() ? end : end + 2;
    }
    return records;
}

bool LogContains(const std::wstring& text)
{
    for (const std::wstring& record : ReadLogRecords()) {
        if (record == text)
            return true;
    }
    return false;
}

bool WaitForLog(const std::wstring& text, DWORD timeoutMs)
{
    return WaitUntil([&] { return LogContains(text); }, timeoutMs);
}

bool LogRecordsWellFormed(std::wstring* firstBad)
{
    std::string bytes = ReadFileBytes(kTestLogPath);
    if (bytes.size() % 2 != 0) {
        if (firstBad)
            *firstBad = L"odd byte count";
        return false;
    }
    std::wstring text = ReadLogText();
    if (text.empty())
        return true;
    if (!IsStamp(text, 0) || text.size() < 2 || text.compare(text.size() - 2, 2, L"\r\n") != 0) {
        if (firstBad)
            *firstBad = text.substr(0, 80);
        return false;
    }
    // Every line starts with a stamp unless the record before it spans lines
    // (a text with "\n" in it, such as an error report).
    size_t lineStart = 0;
    bool continuing = false;
    while (lineStart < text.size()) {
        size_t lineEnd = text.find(L"\r\n", lineStart);
        std::wstring line = text.substr(lineStart, lineEnd - lineStart);
        if (!IsStamp(text, lineStart) && !continuing) {
            if (firstBad)
                *firstBad = line;
            return false;
        }
        continuing = IsStamp(text, lineStart) ? line.find(L'\n') != std::wstring::npos : continuing;
        lineStart = lineEnd + 2;
    }
    return true;
}

// ---- Events --------------------------------------------------------------

std::wstring PersonalEventName()
{
    wchar_t user[64];
    DWORD size = 64;
    if (!GetUserNameW(user, &size))
        user[0] = L'\0';
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"Global\\" + std::wstring(user) + L"_Orsanto_printevent_SESSION" + std::to_wstring(session);
}

bool EventExists(const std::wstring& name)
{
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    CloseHandle(event);
    return true;
}

bool SignalEvent(const std::wstring& name)
{
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    BOOL ok = SetEvent(event);
    CloseHandle(event);
    return ok != FALSE;
}

// ---- The agent process -----------------------------------------------------

bool StartProgram(const std::wstring& commandLine, PROCESS_INFORMATION* process, const std::wstring& applicationName)
{
    // Wine can fail to start a process under load: the harness retries.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring writable = commandLine;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (CreateProcessW(applicationName.empty() ? nullptr : applicationName.c_str(), &writable[0], nullptr,
                           nullptr, FALSE, 0, nullptr, nullptr, &startup, process))
            return true;
        Sleep(200);
    }
    return false;
}

int RunProgram(const std::wstring& commandLine, std::string* output, DWORD timeoutMs)
{
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    PROCESS_INFORMATION process = {};
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        std::wstring writable = commandLine;
        started = CreateProcessW(nullptr, &writable[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                                 &startup, &process) != FALSE;
        if (!started)
            Sleep(200);
    }
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return -1;
    }
    // Read until the program closes its end, so a full pipe never blocks it.
    std::string text;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(readEnd, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        text.append(buffer, read);
    CloseHandle(readEnd);
    DWORD exitCode = static_cast<DWORD>(-1);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &exitCode);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (output)
        *output = text;
    return static_cast<int>(exitCode);
}

AgentProcess StartAgent(const std::wstring& folder, const wchar_t* programName)
{
    AgentProcess agent;
    std::wstring path = folder + L"\\" + programName;
    PROCESS_INFORMATION process;
    if (StartProgram(L"\"" + path + L"\"", &process, path)) {
        CloseHandle(process.hThread);
        agent.process = process.hProcess;
        agent.processId = process.dwProcessId;
    }
    return agent;
}

AgentProcess StartReadyAgent(const std::wstring& folder, bool legacy)
{
    AgentProcess agent = StartAgent(folder);
    std::wstring event = legacy ? kLegacyPrintEvent : PersonalEventName();
    EXPECT_TRUE(WaitUntil([&] { return EventExists(event) || !IsRunning(agent); }, 15000));
    return agent;
}

bool IsRunning(const AgentProcess& agent)
{
    return agent.process != nullptr && WaitForSingleObject(agent.process, 0) == WAIT_TIMEOUT;
}

bool WaitForExit(const AgentProcess& agent, DWORD timeoutMs)
{
    return agent.process == nullptr || WaitForSingleObject(agent.process, timeoutMs) == WAIT_OBJECT_0;
}

bool StopAgent(AgentProcess* agent, DWORD timeoutMs)
{
    if (agent->process == nullptr)
        return true;
    SignalEvent(kKillEvent);
    SignalEvent(kLegacyKillEvent);
    bool ended = WaitForExit(*agent, timeoutMs);
    if (!ended) {
        TerminateProcess(agent->process, 1);
        WaitForSingleObject(agent->process, 5000);
    }
    CloseHandle(agent->process);
    agent->process = nullptr;
    return ended;
}

namespace {

// One entry of the system's handle list (information class 16).
struct SystemHandleEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT handle;
    PVOID object;
    ULONG grantedAccess;
};

// Counts the process's handles in the system's handle list; Wine answers
// GetProcessHandleCount with 0 but keeps that list.
DWORD CountHandlesInSystemList(DWORD processId)
{
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return 0;
    std::vector<BYTE> buffer(1 << 16);
    for (int attempt = 0; attempt < 10; ++attempt) {
        ULONG needed = 0;
        LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // the list does not fit yet
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return 0;
        ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
        const auto* entry = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
        DWORD count = 0;
        for (ULONG i = 0; i < entries; ++i)
            count += entry[i].processId == static_cast<USHORT>(processId);
        return count;
    }
    return 0;
}

}  // namespace

DWORD HandleCount(const AgentProcess& agent)
{
    DWORD count = 0;
    if (!GetProcessHandleCount(agent.process, &count) || count == 0)
        count = CountHandlesInSystemList(agent.processId);
    return count;
}

// ---- Message boxes ---------------------------------------------------------

HWND FindMessageBox()
{
    return FindWindowW(L"#32770", kCaptionText);
}

bool TakeMessageBox(std::wstring* text, DWORD timeoutMs)
{
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindMessageBox()) != nullptr; }, timeoutMs))
        return false;
    wchar_t buffer[2048] = L"";
    // The static control may be filled just after the box appears.
    WaitUntil([&] { return GetDlgItemTextW(box, 0xFFFF, buffer, ARRAYSIZE(buffer)) > 0; }, 2000);
    if (text)
        *text = buffer;
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); }, 5000);
    return true;
}

void CloseAllMessageBoxes()
{
    for (int i = 0; i < 50; ++i) {
        HWND box = FindMessageBox();
        if (box == nullptr)
            return;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        WaitUntil([&] { return !IsWindow(box); }, 2000);
    }
}

// ---- Notification broadcasts ---------------------------------------------

NotificationListener::NotificationListener()
{
    InitializeCriticalSection(&lock_);
    message_ = RegisterWindowMessageW(L"Orsanto_notify_message");
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    WaitForSingleObject(ready_, 10000);
}

NotificationListener::~NotificationListener()
{
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    DeleteCriticalSection(&lock_);
}

LRESULT CALLBACK NotificationListener::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<NotificationListener*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self != nullptr && message == self->message_) {
        EnterCriticalSection(&self->lock_);
        self->received_.push_back({wParam, lParam});
        LeaveCriticalSection(&self->lock_);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI NotificationListener::Run(LPVOID parameter)
{
    auto* self = static_cast<NotificationListener*>(parameter);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"OrsantoTestNotificationListener";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"listener", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue exists from here on
    SetEvent(self->ready_);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    DestroyWindow(window);
    return 0;
}

std::vector<Notification> NotificationListener::Received()
{
    EnterCriticalSection(&lock_);
    std::vector<Notification> copy = received_;
    LeaveCriticalSection(&lock_);
    return copy;
}

bool NotificationListener::WaitFor(WPARAM identifier, DWORD timeoutMs, Notification* found)
{
    return WaitUntil(
        [&] {
            for (const Notification& n : Received()) {
                if (n.identifier == identifier) {
                    if (found)
                        *found = n;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
}

// ---- Jobs ------------------------------------------------------------------

std::wstring WriteJobFile(const std::wstring& folder, const std::wstring& name, int jobId,
                          const std::vector<std::wstring>& emfFiles)
{
    std::wstring path = folder + L"\\" + name;
    std::wstring text = L"[Document]\r\nJobID=" + std::to_wstring(jobId) + L"\r\n";
    if (!emfFiles.empty()) {
        text += L"[EMF]\r\nCount=" + std::to_wstring(emfFiles.size()) + L"\r\n";
        for (size_t i = 0; i < emfFiles.size(); ++i) {
            text += L"File" + std::to_wstring(i) + L"=" + emfFiles[i] + L"\r\n";
            WriteFileBytes(emfFiles[i], "EMF page " + std::to_string(i));
        }
    }
    WriteFileText(path, text);
    return path;
}

void HandOff(const wchar_t* valueName, const std::wstring& jobPath, const std::wstring& event)
{
    SetMainString(valueName, jobPath);
    EXPECT_TRUE(SignalEvent(event)) << "no agent waits on the event";
}

// ---- Fixture -------------------------------------------------------------

void AgentTest::SetUp()
{
    // An agent left over from an earlier test would take this test's events.
    SignalEvent(kKillEvent);
    SignalEvent(kLegacyKillEvent);
    WaitUntil([] { return !EventExists(kKillEvent) && !EventExists(kLegacyKillEvent); }, 5000);
    CloseAllMessageBoxes();
    SetLegacyNaming(false);
    ResetMainKey();
    DeleteLog();
}

void AgentTest::TearDown()
{
    CloseAllMessageBoxes();
    for (AgentProcess& agent : agents_)
        StopAgent(&agent);
    agents_.clear();
    CloseAllMessageBoxes();
    SetLegacyNaming(false);
}

AgentProcess AgentTest::Start(const std::wstring& folder, bool waitReady)
{
    AgentProcess agent = waitReady ? StartReadyAgent(folder) : StartAgent(folder);
    agents_.push_back(agent);
    return agent;
}
