// Shared pieces of the benchmark driver: clock, statistics, registry,
// processes, the agent's events and an in-process client window.
#pragma once

#include <windows.h>

#include "agent_support.h"

#include <string>
#include <vector>

// ---- Clock and statistics ---------------------------------------------------

// Milliseconds from the performance counter, comparable across processes.
double NowMs();

struct Spread {
    double median;
    double low;   // 10th percentile
    double high;  // 90th percentile
};

Spread Summarize(std::vector<double> values);
double Median(std::vector<double> values);

// One row of the result table, printed as a tab-separated "result" line that
// scripts/bench.sh turns into Markdown. ratioLow/High give the spread of the
// ratio over blocks or rounds of the run.
struct Figure {
    std::string name;
    std::string what;       // unit of the agent and baseline values
    double agent;
    double baseline;
    std::string spread;     // spread of the two values, as text
    double ratio;
    double ratioLow;
    double ratioHigh;
    std::string goal;       // as printed, e.g. "<= 1.10"
    bool met;
};
void PrintFigure(const Figure& figure);

// A line of the step profile ("step" lines), in microseconds.
void PrintStep(const std::string& name, const Spread& micros, const std::string& note);

// ---- Registry: HKLM\Software\Orsanto ----------------------------------------

extern const wchar_t kBenchMainKey[];

// ---- Files -------------------------------------------------------------------

extern const wchar_t kBenchRoot[];  // C:\orsanto-bench
std::wstring BenchDir(const std::wstring& name);  // created if missing
void WriteTextFile(const std::wstring& path, const std::string& text);
// A job description file as the printer side writes it.
std::wstring WriteJobFile(const std::wstring& folder, int jobId);

// ---- Processes ---------------------------------------------------------------

bool StartProcess(const std::wstring& application, const std::wstring& arguments, PROCESS_INFORMATION* process);
DWORD CountThreads(DWORD processId);
// Handles of a process; from the system's handle list where
// GetProcessHandleCount gives 0 (Wine).
// CPU time (kernel and user) a process has used, in milliseconds; -1 when
// unknown. Wine's GetProcessTimes answers with the calling process's times
// whatever handle it is given, so under Wine the time is read from Linux
// (/proc/<pid>/task/*/schedstat, nanoseconds) of the process whose command
// line holds marker.
double ProcessCpuMs(HANDLE process, const std::wstring& marker);
bool RunningOnWine();
// How long the agent's thread count must stay the same to count as settled:
// after a job, longer than its thread lives on after the delivery and than
// the agent's quiet pause before it starts the thread for the next job; after
// the start, longer than the libraries it loads once its events exist.
constexpr DWORD kJobSettleMs = 60;
constexpr DWORD kStartSettleMs = 500;
// The process's thread count once it has stayed the same for settleMs.
DWORD SettledThreadCount(DWORD processId, DWORD settleMs, DWORD timeoutMs);
// Waits until the process's thread count has settled at threads (the agent
// is idle again: its main thread and the thread waiting for the next job).
bool WaitForThreads(DWORD processId, DWORD threads, DWORD timeoutMs);

// ---- The agent -------------------------------------------------------------

extern const wchar_t kKillEventName[];

struct Agent {
    PROCESS_INFORMATION process = {};
    DWORD idleThreads = 0;  // its thread count while it only waits
};
// Copies orsanto-agent.exe into a fresh folder and starts it; waits until
// its personal event exists. The agent ignores its command line; the bench
// puts a marker there to find the process's Linux counterpart.
bool StartAgent(Agent* agent, const std::wstring& marker = L"");
// Kill event, then a bounded wait, then the hard way.
void StopAgent(Agent* agent);

// Writes the hand-off value for the agent and the delivery settings of the
// handoff benchmarks: copy-data mode, message mode, a client window of the
// bench, no client program to start.
void ConfigureCopyData(DWORD log, const std::wstring& windowTitle);

// ---- Client windows --------------------------------------------------------

extern const wchar_t kClientClass[];

// A top-level window on its own thread that takes WM_COPYDATA records like
// a client application: it notes the arrival time, then holds the sender for
// handleMs.
class ClientWindow {
public:
    ClientWindow(const std::wstring& title, DWORD handleMs);
    ~ClientWindow();
    HWND window() const { return window_; }
    // Resets the arrival state before a job.
    void Arm();
    // Waits for the next record; false on time-out.
    bool WaitArrival(DWORD timeoutMs);
    bool WaitDone(DWORD timeoutMs);
    double arrivalMs() const { return arrivalMs_; }
    double doneMs() const { return doneMs_; }
    ULONG_PTR lastData() const { return lastData_; }
    std::string lastPath() const { return lastPath_; }

private:
    static DWORD WINAPI Run(LPVOID self);
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    std::wstring title_;
    DWORD handleMs_;
    HWND window_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    HANDLE ready_ = nullptr;
    HANDLE arrived_ = nullptr;
    HANDLE done_ = nullptr;
    volatile double arrivalMs_ = 0;
    volatile double doneMs_ = 0;
    ULONG_PTR lastData_ = 0;
    std::string lastPath_;
};
