// Drives the real orsanto-agent.exe as a process; see harness.h.
#include "harness.h"

#include <filesystem>

namespace fs = std::filesystem;

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

}  // namespace

// ---- Files and folders ----------------------------------------------------

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

void WriteFileText(const std::wstring& path, const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    WriteFileBytes(path, bytes);
}

// ---- Text of records and traces --------------------------------------------

std::string Utf8(const std::wstring& text)
{
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], n, nullptr, nullptr);
    return bytes;
}

std::string Hex(const std::string& bytes)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += kDigits[c >> 4];
        hex += kDigits[c & 15];
    }
    return hex;
}

std::string Field(const std::string& line, const std::string& name)
{
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos)
        return "";
    at += name.size() + 2;
    return line.substr(at, line.find(' ', at) - at);
}

// ---- Registry --------------------------------------------------------------

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
    // Drain the pipe while the program runs, so a full pipe never blocks it,
    // and stop when it has ended: a process it started (Wine's desktop
    // process, for one) may hold the pipe's other end for much longer.
    std::string text;
    char buffer[4096];
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    for (;;) {
        DWORD available = 0;
        DWORD read = 0;
        if (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
            if (!ReadFile(readEnd, buffer, available < sizeof(buffer) ? available : sizeof(buffer), &read, nullptr))
                break;
            text.append(buffer, read);
            continue;
        }
        if (ended || GetTickCount64() >= deadline)
            break;
        ended = WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0;  // one more drain after the end
    }
    CloseHandle(readEnd);
    DWORD exitCode = static_cast<DWORD>(-1);
    if (ended)
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

DWORD HandleCount(const AgentProcess& agent)
{
    return HandleCount(agent.process, agent.processId);
}

DWORD SettledHandleCount(const AgentProcess& agent)
{
    DWORD count = HandleCount(agent);
    for (int i = 0; i < 20; ++i) {
        Sleep(100);
        DWORD now = HandleCount(agent);
        if (now == count)
            break;
        count = now;
    }
    return count;
}

DWORD HandlesLeftPerInputIdleWait(const std::wstring& folder)
{
    PROCESS_INFORMATION progress;
    std::wstring program = folder + L"\\progress.exe";
    if (!StartProgram(L"\"" + program + L"\" calibration", &progress, program))
        return 0;
    AgentProcess self = {GetCurrentProcess(), GetCurrentProcessId()};
    WaitForInputIdle(progress.hProcess, 10000);
    DWORD before = HandleCount(self);
    const DWORD calls = 8;
    for (DWORD i = 0; i < calls; ++i)
        WaitForInputIdle(progress.hProcess, 10000);
    DWORD after = HandleCount(self);
    TerminateProcess(progress.hProcess, 0);
    WaitForSingleObject(progress.hProcess, 5000);
    CloseHandle(progress.hThread);
    CloseHandle(progress.hProcess);
    return after > before ? (after - before + calls / 2) / calls : 0;
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
    ASSERT_TRUE(ResetMainKey());
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
