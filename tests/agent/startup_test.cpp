// Start-up, job threads, single instance and shutdown of the real agent.
#include "agent_test_util.h"

#include <algorithm>
#include <thread>

using StartupTest = AgentCoreTest;

TEST_F(StartupTest, LogsStartWaitsAndEndsOnTheKillEvent)
{
    SetMainDword(L"Log", 1);
    std::wstring folder = MakeAgentFolder(L"startup");
    AgentProcess agent = Start(folder);
    ASSERT_TRUE(IsRunning(agent));
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));
    EXPECT_TRUE(LogHasByteOrderMark());
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
    std::vector<std::wstring> records = ReadLogRecords();
    std::vector<std::wstring> expected = {L"Agent started.", L"Waiting for events.", L"Suicide.", L"Agent exits."};
    EXPECT_EQ(expected, records);
}

TEST_F(StartupTest, CreatesTheThreeEventsWithModernNames)
{
    std::wstring folder = MakeAgentFolder(L"startup-events");
    AgentProcess agent = Start(folder);
    ASSERT_TRUE(IsRunning(agent));
    EXPECT_TRUE(EventExists(PersonalEventName()));
    EXPECT_EQ(L"Global\\" + CurrentUserName() + L"_Orsanto_printevent_SESSION1", PersonalEventName());
    EXPECT_TRUE(EventExists(kSharedEvent));
    EXPECT_TRUE(EventExists(kKillEvent));
    EXPECT_FALSE(EventExists(kLegacyPrintEvent));
    EXPECT_FALSE(EventExists(kLegacySharedEvent));
    EXPECT_FALSE(EventExists(kLegacyKillEvent));
}

TEST_F(StartupTest, MissingMainKeyMeansNoLogAndNoMessageModeButTheAgentRuns)
{
    DeleteMainKey();
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"startup-nokey");
    AgentProcess agent = Start(folder);
    ASSERT_TRUE(IsRunning(agent));
    EXPECT_TRUE(EventExists(PersonalEventName()));

    // Message mode is off: the job thread's report is a box, not a broadcast.
    // Without the main key the hand-off cannot even open it (61446).
    SignalPersonalJob();
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(ErrorReportText(L"Failed to open registry key\nHKLM\\Software\\Orsanto", ERROR_FILE_NOT_FOUND), text);
    EXPECT_TRUE(listener.Received().empty());
    EXPECT_TRUE(IsRunning(agent));
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
    EXPECT_FALSE(FileExists(kTestLogPath));
}

TEST_F(StartupTest, PersonalSignalStartsAJobThread)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"startup-personal");
    AgentProcess agent = Start(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    SignalPersonalJob();
    Notification report;
    ASSERT_TRUE(listener.WaitFor(0xF005, 10000, &report));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.code);
    EXPECT_TRUE(IsRunning(agent));
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));

    std::vector<std::wstring> expected = {
        L"Agent started.",
        L"Waiting for events.",
        L"New print job received. Start processing thread.",
        L"Processing thread started.",
        ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND),
        L"Suicide.",
        L"Agent exits.",
    };
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(StartupTest, SharedSignalStartsAJobThread)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"startup-shared");
    Start(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    ASSERT_TRUE(SignalEvent(kSharedEvent));
    ASSERT_TRUE(listener.WaitFor(0xF005));
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));

    std::vector<std::wstring> expected = {
        L"Agent started.",
        L"Waiting for events.",
        L"Shared print job received. Start processing thread.",
        L"Processing thread started.",
        ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND),
        L"Suicide.",
        L"Agent exits.",
    };
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(StartupTest, EverySignalAfterTheResetStartsAnotherJobThread)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"startup-signals");
    Start(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    const size_t kSignals = 5;
    for (size_t i = 1; i <= kSignals; ++i) {
        SignalPersonalJob();
        ASSERT_TRUE(WaitUntil([&] { return listener.Received().size() >= i; }, 10000)) << i;
    }
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
    size_t jobs = 0, threads = 0;
    for (const std::wstring& record : ReadLogRecords()) {
        jobs += record == L"New print job received. Start processing thread.";
        threads += record == L"Processing thread started.";
    }
    EXPECT_EQ(kSignals, jobs);
    EXPECT_EQ(kSignals, threads);
}

// Signals that never pause long enough for the agent to tidy up between
// them (each job ends in a few milliseconds with 61445): the handles of the
// finished job threads are still closed along the way, not only once the
// signals stop.
TEST_F(StartupTest, SignalsWithoutPauseKeepTheFinishedThreadsBounded)
{
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    AgentProcess agent = Start(MakeAgentFolder(L"startup-stream"));
    ASSERT_TRUE(IsRunning(agent));
    Sleep(500);  // the thread for the first job is started
    const DWORD before = HandleCount(agent);
    ASSERT_GT(before, 0u) << "no handle count for the agent";

    volatile LONG streaming = 1;
    DWORD most = 0;
    auto sample = [&] {
        while (streaming != 0)
            most = std::max(most, HandleCount(agent));
    };
    std::thread sampler(sample);
    const size_t kSignals = 300;
    for (size_t i = 1; i <= kSignals; ++i) {
        SignalPersonalJob();
        ULONGLONG deadline = GetTickCount64() + 10000;
        while (listener.Received().size() < i && GetTickCount64() < deadline)
            Sleep(1);
        ASSERT_GE(listener.Received().size(), i) << "job " << i << " was not served";
    }
    InterlockedExchange(&streaming, 0);
    sampler.join();
    // The agent keeps up to 64 finished threads listed between pauses; a
    // list that is never reaped would hold one handle per job.
    EXPECT_LE(most, before + 64 + 16) << "before " << before;
    EXPECT_TRUE(IsRunning(agent));
}

TEST_F(StartupTest, ASecondAgentEndsAtOnceAndTheFirstKeepsServing)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"startup-second");
    AgentProcess first = Start(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    AgentProcess second = Start(folder, false);
    ASSERT_TRUE(WaitForExit(second, 5000)) << "the second agent keeps running";
    EXPECT_EQ(0u, ExitCodeOf(second));
    EXPECT_EQ(nullptr, FindMessageBox());
    EXPECT_TRUE(IsRunning(first));

    std::vector<std::wstring> expected = {L"Agent started.", L"Waiting for events.", L"Agent started."};
    EXPECT_EQ(expected, ReadLogRecords());

    // The first agent still owns the events and serves them.
    SignalPersonalJob();
    EXPECT_TRUE(listener.WaitFor(0xF005));
    EXPECT_TRUE(IsRunning(first));
    EXPECT_TRUE(StopAgent(&agents_.front(), 3000));
}

TEST_F(StartupTest, ASecondAgentWithoutLogEndsAtOnce)
{
    std::wstring folder = MakeAgentFolder(L"startup-second-nolog");
    AgentProcess first = Start(folder);
    AgentProcess second = Start(folder, false);
    EXPECT_TRUE(WaitForExit(second, 5000));
    EXPECT_TRUE(IsRunning(first));
    EXPECT_FALSE(FileExists(kTestLogPath));
}

TEST_F(StartupTest, KillEndsTheAgentWhileJobThreadsHoldMessageBoxes)
{
    SetMainDword(L"Log", 1);
    std::wstring folder = MakeAgentFolder(L"startup-kill-boxes");
    AgentProcess agent = Start(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    // Each job thread blocks in its own box (61445).
    for (size_t i = 1; i <= 3; ++i) {
        SignalPersonalJob();
        ASSERT_TRUE(WaitForMessageBoxes(i)) << i;
    }
    ULONGLONG start = GetTickCount64();
    ASSERT_TRUE(SignalEvent(kKillEvent));
    ASSERT_TRUE(WaitForExit(agent, 2000)) << "the agent waits for its job threads";
    EXPECT_LT(GetTickCount64() - start, 2000u);
    EXPECT_EQ(0u, ExitCodeOf(agent));
    EXPECT_TRUE(WaitUntil([] { return MessageBoxes().empty(); }, 5000));

    std::vector<std::wstring> records = ReadLogRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(L"Suicide.", records[records.size() - 2]);
    EXPECT_EQ(L"Agent exits.", records.back());
    EXPECT_FALSE(EventExists(PersonalEventName()));
}

TEST_F(StartupTest, KillWithoutLogEndsTheAgentQuickly)
{
    std::wstring folder = MakeAgentFolder(L"startup-kill");
    AgentProcess agent = Start(folder);
    SignalPersonalJob();
    ASSERT_TRUE(WaitForMessageBoxes(1));
    ASSERT_TRUE(SignalEvent(kKillEvent));
    EXPECT_TRUE(WaitForExit(agent, 2000));
    EXPECT_FALSE(FileExists(kTestLogPath));
}

// The kill event at any moment of a job thread's life (starting, loading
// what its box needs, showing it, ending): the agent always ends.
// DISABLED: open fault. Under Wine 8 about 4 in 100 agents killed 0 to 30 ms
// after a print signal never end (about 12 in 100 before the agent ended its
// process without the loader shutdown after forced thread ends). "Agent
// exits." is logged; sometimes the events are still open (the main thread is
// stuck in the shutdown), sometimes they are closed but the process never
// ends. Run with --gtest_also_run_disabled_tests.
TEST_F(StartupTest, KillAtAnyMomentOfAJobThreadEndsTheAgent)
{
    std::wstring folder = MakeAgentFolder(L"startup-kill-jitter");
    int hung = 0;
    for (int i = 0; i < 60; ++i) {
        AgentProcess agent = StartReadyAgent(folder);
        ASSERT_TRUE(IsRunning(agent));
        SignalPersonalJob();
        Sleep(i % 30);
        SignalEvent(kKillEvent);
        if (!WaitForExit(agent, 3000)) {
            ++hung;
            TerminateProcess(agent.process, 1);
            WaitForExit(agent, 3000);
        } else {
            EXPECT_EQ(0u, ExitCodeOf(agent));
        }
        CloseHandle(agent.process);
        CloseAllMessageBoxes();
        WaitUntil([] { return !EventExists(kKillEvent); }, 3000);
    }
    EXPECT_EQ(0, hung) << "agents that did not end after the kill event";
}
