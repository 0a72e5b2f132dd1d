// Job threads: each is started one job ahead and waits for its job on an
// event of its own, so the print signal costs a wake-up, not a thread start.
#include "agent/job_threads.h"

#include <new>

#include "agent/messages.h"
#include "job/process_job.h"

// Handed from the main thread to one waiting thread: the main thread writes
// kind, then signals go; from then on the thread owns the record.
struct JobStart {
    HANDLE go;  // auto-reset, unnamed
    DWORD kind;
};

namespace {

constexpr DWORD kNoJob = 0xFFFFFFFF;  // ends a waiting thread without a job

DWORD WINAPI AwaitJob(LPVOID parameter)
{
    JobStart* start = static_cast<JobStart*>(parameter);
    WaitForSingleObject(start->go, INFINITE);
    DWORD kind = start->kind;
    CloseHandle(start->go);
    delete start;
    if (kind == kNoJob)
        return 0;
    return ProcessJob(reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(kind)));
}

// Keeps the last error of the failing call for the report.
bool StartWaitingThread(JobThreads* threads)
{
    JobStart* start = new (std::nothrow) JobStart{nullptr, kNoJob};
    HANDLE thread = nullptr;
    if (start != nullptr)
        start->go = CreateEventW(nullptr, FALSE /* auto reset */, FALSE /* not signalled */, nullptr);
    if (start != nullptr && start->go != nullptr)
        thread = CreateThread(nullptr, 0, AwaitJob, start, 0, nullptr);
    if (thread == nullptr) {
        DWORD error = start != nullptr ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
        if (start != nullptr && start->go != nullptr)
            CloseHandle(start->go);
        delete start;
        SetLastError(error);
        return false;
    }
    threads->waiting = thread;
    threads->waitingStart = start;
    return true;
}

// Closes the handles of finished job threads; running ones stay listed.
void ReapJobThreads(JobThreads* threads)
{
    std::vector<HANDLE>& running = threads->running;
    for (size_t i = running.size(); i-- > 0;) {
        DWORD exitCode = 0;
        if (!GetExitCodeThread(running[i], &exitCode) || exitCode == STILL_ACTIVE)
            continue;
        CloseHandle(running[i]);
        running.erase(running.begin() + static_cast<ptrdiff_t>(i));
    }
}

// Wakes the waiting thread with kind and lists it as running.
void HandOver(JobThreads* threads, DWORD kind)
{
    threads->waitingStart->kind = kind;
    SetEvent(threads->waitingStart->go);
    threads->running.push_back(threads->waiting);
    threads->waiting = nullptr;
    threads->waitingStart = nullptr;
}

}  // namespace

void PrepareForNextJob(JobThreads* threads)
{
    ReapJobThreads(threads);
    if (threads->waiting == nullptr)
        StartWaitingThread(threads);
}

void StartJobThread(JobThreads* threads, JobKind kind)
{
    if (threads->waiting == nullptr && !StartWaitingThread(threads))
        ReportError(kTextCreateThreadFailed, kMsgCreateThreadFailed, 0);
    else
        HandOver(threads, kind);
    // Reaping waits for the quiet that follows; signals that never pause
    // must not grow the list without bound.
    if (threads->running.size() >= kUnreapedThreadLimit)
        ReapJobThreads(threads);
}

bool EndJobThreads(JobThreads* threads)
{
    if (threads->waiting != nullptr) {
        HANDLE thread = threads->waiting;
        HandOver(threads, kNoJob);
        WaitForSingleObject(thread, kWaitingThreadEndTimeout);
    }
    ReapJobThreads(threads);
    return threads->running.empty();
}
