// Shared pieces of the benchmark driver; see bench_util.h.
#include "bench_util.h"

#include <psapi.h>
#include <tlhelp32.h>

#include <stdio.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

const wchar_t kBenchRoot[] = L"C:\\orsanto-bench";
const wchar_t kKillEventName[] = L"Global\\Orsanto_killevent";
const wchar_t kClientClass[] = L"OrsantoBenchClient";

// ---- Clock and statistics ---------------------------------------------------

double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

namespace {

double Percentile(const std::vector<double>& sorted, double p)
{
    if (sorted.empty())
        return 0;
    double at = p * static_cast<double>(sorted.size() - 1);
    size_t below = static_cast<size_t>(at);
    size_t above = std::min(below + 1, sorted.size() - 1);
    double fraction = at - static_cast<double>(below);
    return sorted[below] + (sorted[above] - sorted[below]) * fraction;
}

}  // namespace

Spread Summarize(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return {Percentile(values, 0.5), Percentile(values, 0.1), Percentile(values, 0.9)};
}

double Median(std::vector<double> values)
{
    return Summarize(std::move(values)).median;
}

void PrintFigure(const Figure& f)
{
    printf("result\t%s\t%s\t%.4g\t%.4g\t%s\t%.3f\t%.3f\t%.3f\t%s\t%s\n", f.name.c_str(), f.what.c_str(), f.agent,
           f.baseline, f.spread.c_str(), f.ratio, f.ratioLow, f.ratioHigh, f.goal.c_str(), f.met ? "yes" : "no");
    fflush(stdout);
}

void PrintStep(const std::string& name, const Spread& micros, const std::string& note)
{
    printf("step\t%s\t%.1f\t%.1f\t%.1f\t%s\n", name.c_str(), micros.median, micros.low, micros.high, note.c_str());
    fflush(stdout);
}

// ---- Files ---------------------------------------------------------------------

std::wstring BenchDir(const std::wstring& name)
{
    std::wstring folder = std::wstring(kBenchRoot) + L"\\" + name;
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

void WriteTextFile(const std::wstring& path, const std::string& text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

std::wstring WriteJobFile(const std::wstring& folder, int jobId)
{
    std::wstring path = folder + L"\\job" + std::to_wstring(jobId) + L".ini";
    WriteTextFile(path, "[Document]\r\nJobID=" + std::to_string(jobId) + "\r\n");
    return path;
}

// ---- Processes -----------------------------------------------------------------

bool StartProcess(const std::wstring& application, const std::wstring& arguments, PROCESS_INFORMATION* process)
{
    // Wine can fail a start under load; the bench retries its own launches.
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::wstring commandLine = L"\"" + application + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        if (CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                           &startup, process))
            return true;
        Sleep(200);
    }
    return false;
}

DWORD CountThreads(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof(entry);
    DWORD count = 0;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == processId;
    CloseHandle(snapshot);
    return count;
}

DWORD SettledThreadCount(DWORD processId, DWORD settleMs, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    DWORD count = CountThreads(processId);
    ULONGLONG since = GetTickCount64();
    while (GetTickCount64() - since < settleMs && GetTickCount64() < deadline) {
        Sleep(1);
        DWORD now = CountThreads(processId);
        if (now != count) {
            count = now;
            since = GetTickCount64();
        }
    }
    return count;
}

bool WaitForThreads(DWORD processId, DWORD threads, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (GetTickCount64() < deadline) {
        DWORD settled = SettledThreadCount(processId, kJobSettleMs, static_cast<DWORD>(deadline - GetTickCount64()));
        if (settled == threads)
            return true;
    }
    return false;
}

bool RunningOnWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

namespace {

// The Linux process id of the Wine process whose command line holds marker.
std::wstring FindLinuxProcess(const std::wstring& marker)
{
    std::string wanted(marker.begin(), marker.end());
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(L"Z:\\proc\\*", &entry);
    if (search == INVALID_HANDLE_VALUE)
        return L"";
    std::wstring found;
    do {
        std::wstring name = entry.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        std::string commandLine = ReadFileBytes(L"Z:\\proc\\" + name + L"\\cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find(wanted) != std::string::npos && commandLine.find(".exe") != std::string::npos) {
            found = name;
            break;
        }
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

}  // namespace

double ProcessCpuMs(HANDLE process, const std::wstring& marker)
{
    if (!RunningOnWine()) {
        FILETIME created, exited, kernel, user;
        if (!GetProcessTimes(process, &created, &exited, &kernel, &user))
            return -1;
        auto ms = [](const FILETIME& t) {
            return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
        };
        return ms(kernel) + ms(user);
    }
    std::wstring pid = FindLinuxProcess(marker);
    if (pid.empty())
        return -1;
    std::wstring tasks = L"Z:\\proc\\" + pid + L"\\task\\";
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((tasks + L"*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return -1;
    double nanoseconds = 0;
    do {
        std::wstring name = entry.cFileName;
        if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos)
            continue;
        nanoseconds += strtod(ReadFileBytes(tasks + name + L"\\schedstat").c_str(), nullptr);
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return nanoseconds / 1e6;
}

// ---- The agent -------------------------------------------------------------

bool StartAgent(Agent* agent, const std::wstring& marker)
{
    // A left-over agent would own the events.
    SignalEvent(kKillEventName);
    for (int i = 0; i < 250 && EventExists(kKillEventName); ++i)
        Sleep(20);
    std::wstring folder = BenchDir(L"agent");
    std::wstring path = folder + L"\\orsanto-agent.exe";
    CopyFileW((BinDir() + L"\\orsanto-agent.exe").c_str(), path.c_str(), FALSE);
    if (!StartProcess(path, marker, &agent->process))
        return false;
    std::wstring event = PersonalEventName();
    for (int i = 0; i < 1500; ++i) {
        if (EventExists(event)) {
            agent->idleThreads = SettledThreadCount(agent->process.dwProcessId, kStartSettleMs, 10000);
            return true;
        }
        if (WaitForSingleObject(agent->process.hProcess, 10) == WAIT_OBJECT_0)
            break;
    }
    fprintf(stderr, "the agent did not get ready\n");
    return false;
}

void StopAgent(Agent* agent)
{
    if (agent->process.hProcess == nullptr)
        return;
    SignalEvent(kKillEventName);
    if (WaitForSingleObject(agent->process.hProcess, 5000) != WAIT_OBJECT_0) {
        TerminateProcess(agent->process.hProcess, 1);
        WaitForSingleObject(agent->process.hProcess, 5000);
    }
    CloseHandle(agent->process.hThread);
    CloseHandle(agent->process.hProcess);
    agent->process = {};
}

void ConfigureCopyData(DWORD log, const std::wstring& windowTitle)
{
    ResetMainKey();
    SetMainDword(L"Log", log);
    SetMainDword(L"Message Mode", 1);
    SetMainDword(L"Transfer Mode", 1);
    SetMainDword(L"Message ID", 1);
    // Never started: the window is open before every job.
    SetMainString(L"Client Application", std::wstring(kBenchRoot) + L"\\no-client.exe");
    SetMainString(L"Target Window Class", kClientClass);
    SetMainString(L"Target Window Title", windowTitle);
}

// ---- Client windows --------------------------------------------------------

ClientWindow::ClientWindow(const std::wstring& title, DWORD handleMs) : title_(title), handleMs_(handleMs)
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    arrived_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    done_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    WaitForSingleObject(ready_, 10000);
}

ClientWindow::~ClientWindow()
{
    PostMessageW(window_, WM_CLOSE, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
    CloseHandle(arrived_);
    CloseHandle(done_);
}

void ClientWindow::Arm()
{
    ResetEvent(arrived_);
    ResetEvent(done_);
}

bool ClientWindow::WaitArrival(DWORD timeoutMs)
{
    return WaitForSingleObject(arrived_, timeoutMs) == WAIT_OBJECT_0;
}

bool ClientWindow::WaitDone(DWORD timeoutMs)
{
    return WaitForSingleObject(done_, timeoutMs) == WAIT_OBJECT_0;
}

LRESULT CALLBACK ClientWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* self = reinterpret_cast<ClientWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (message == WM_COPYDATA && self != nullptr) {
        double now = NowMs();
        const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        self->arrivalMs_ = now;
        self->lastData_ = record->dwData;
        self->lastPath_.assign(static_cast<const char*>(record->lpData),
                               strnlen(static_cast<const char*>(record->lpData), record->cbData));
        SetEvent(self->arrived_);
        if (self->handleMs_ != 0) {
            Sleep(self->handleMs_);
            self->doneMs_ = NowMs();
        } else {
            self->doneMs_ = now;
        }
        SetEvent(self->done_);
        return TRUE;
    }
    if (message == WM_CLOSE) {
        DestroyWindow(window);
        return 0;
    }
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

DWORD WINAPI ClientWindow::Run(LPVOID parameter)
{
    auto* self = static_cast<ClientWindow*>(parameter);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kClientClass;
    RegisterClassW(&windowClass);  // fails harmlessly once registered
    self->window_ = CreateWindowExW(0, kClientClass, self->title_.c_str(), WS_OVERLAPPEDWINDOW, 0, 0, 200, 100,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
    SetWindowLongPtrW(self->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(self->ready_);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
