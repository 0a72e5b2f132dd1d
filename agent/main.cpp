// Entry point: reads the settings, opens the log, creates the three named
// events and serves them, one job thread per print signal.
#include <windows.h>

#include "agent/activity_log.h"
#include "agent/constants.h"
#include "agent/job_threads.h"
#include "agent/messages.h"
#include "agent/open_security.h"
#include "agent/settings.h"
#include "agent/text.h"
#include "job/purge.h"

namespace {

enum EventIndex : DWORD { kPrintIndex = 0, kSharedIndex = 1, kKillIndex = 2, kEventCount = 3 };

struct EventSet {
    HANDLE handles[kEventCount];
    DWORD count;  // 2 when the kill event is unavailable
};

HANDLE CreateAgentEvent(SECURITY_ATTRIBUTES* attributes, const wchar_t* name)
{
    return CreateEventW(attributes, TRUE /* manual reset */, FALSE /* not signalled */, name);
}

// user32 is linked to load on first use: under Wine its load is most of the
// start-up, so the events exist before it. Every report broadcasts the
// notification message in message mode, so it is registered before the
// first report and before the first job.
void PrepareReports()
{
    if (g_settings.notificationMessage == 0)
        RegisterNotificationMessage(&g_settings);
}

void ReportStartFailure(const wchar_t* text, UINT identifier)
{
    DWORD error = GetLastError();
    PrepareReports();
    ReportError(text, identifier, error);
}

// Creates the events; false when the agent must end (failures are reported
// here, except a personal event that already exists: a beep only).
bool CreateAgentEvents(const EventNames& names, EventSet* events)
{
    OpenSecurity security;
    BuildOpenSecurity(&security);

    events->handles[kPrintIndex] = CreateAgentEvent(&security.attributes, names.print);
    if (events->handles[kPrintIndex] == nullptr) {
        ReportStartFailure(kTextCreateEvent0Failed, kMsgCreateEvent0Failed);
        return false;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {  // another agent serves this user and session
        MessageBeep(0xFFFFFFFF);
        return false;
    }

    events->handles[kSharedIndex] = CreateAgentEvent(&security.attributes, names.shared);
    if (events->handles[kSharedIndex] == nullptr) {
        ReportStartFailure(kTextCreateEvent1Failed, kMsgCreateEvent1Failed);
        return false;
    }

    events->handles[kKillIndex] = CreateAgentEvent(&security.attributes, names.kill);
    if (events->handles[kKillIndex] == nullptr)
        events->handles[kKillIndex] = OpenEventW(SYNCHRONIZE, FALSE, names.kill);
    events->count = events->handles[kKillIndex] != nullptr ? kEventCount : kKillIndex;
    return true;
}

void CloseAgentEvents(EventSet* events)
{
    for (HANDLE& event : events->handles) {
        if (event != nullptr)
            CloseHandle(event);
        event = nullptr;
    }
}

// The event is reset before the job starts: the printer side signals the
// next job once this one has taken its hand-off value, and a reset after
// that would swallow the signal.
void ServePrintSignal(HANDLE event, const wchar_t* logLine, JobKind kind, JobThreads* threads)
{
    WriteLogLine(logLine);
    ResetEvent(event);
    StartJobThread(threads, kind);
}

// Serves print signals until the kill event. The thread for the next job is
// started, and finished ones reaped, once the signals have been quiet for a
// moment: done at once, it would compete with the job just handed over. A
// wait that keeps failing is logged once and retried after a pause, so the
// agent never spins a core.
void RunEventLoop(const EventSet& events, JobThreads* threads)
{
    bool failureLogged = false;
    bool prepare = true;
    for (;;) {
        DWORD timeout = prepare ? kPrepareThreadDelay : INFINITE;
        DWORD result = WaitForMultipleObjects(events.count, events.handles, FALSE, timeout);
        switch (result) {
        case WAIT_TIMEOUT:
            PrepareForNextJob(threads);
            prepare = false;
            break;
        case WAIT_OBJECT_0 + kPrintIndex:
            ServePrintSignal(events.handles[kPrintIndex], kLogPrintJob, kPersonalJob, threads);
            prepare = true;
            break;
        case WAIT_OBJECT_0 + kSharedIndex:
            ServePrintSignal(events.handles[kSharedIndex], kLogSharedJob, kSharedJob, threads);
            prepare = true;
            break;
        case WAIT_OBJECT_0 + kKillIndex:
            return;
        default: {
            DWORD error = GetLastError();
            if (!failureLogged) {
                WriteLogLineF(kLogWaitFailedFormat, static_cast<int>(error));
                failureLogged = true;
            }
            if (error == ERROR_INVALID_HANDLE)  // the events are gone for good
                return;
            Sleep(kWaitFailureBackoff);
            break;
        }
        }
    }
}

void ReportLogOpenFailure()
{
    wchar_t text[kTextChars];
    FormatText(text, ARRAYSIZE(text), kTextLogOpenFailed, kLogFilePath);
    PrepareReports();
    ReportMessage(text, kMsgLogOpenFailed);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    ReadAgentSettings(&g_settings);

    if (g_settings.logEnabled != 0) {
        if (!OpenActivityLog()) {
            ReportLogOpenFailure();
            return 0;
        }
        WriteLogLine(kLogAgentStarted);
    }

    DWORD sessionId = 0;
    if (!g_settings.legacyNaming && !ProcessIdToSessionId(GetCurrentProcessId(), &sessionId))
        sessionId = 0;
    EventNames names;
    if (!ComposeEventNames(g_settings.legacyNaming, g_settings.userName, sessionId, &names))
        return 0;

    EventSet events = {};
    JobThreads threads = {};
    bool allEnded = true;
    if (CreateAgentEvents(names, &events)) {
        PrepareReports();
        BindSpooler();
        WriteLogLine(kLogWaiting);
        RunEventLoop(events, &threads);
        WriteLogLine(kLogSuicide);
        WriteLogLine(kLogAgentExits);
        CloseActivityLog();
        allEnded = EndJobThreads(&threads);
    }
    CloseAgentEvents(&events);
    // Job threads still running end with the process, all at once. Ending
    // them one by one could leave a lock they hold inside the system (the
    // loader's, the heap's) taken for good, and the exit would wait for it.
    if (!allEnded)
        TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
