// Legacy naming (Windows NT 4.0 and the 95/98/Me family): event names local
// to the session, without user or session part.
#include "agent_test_util.h"

using AgentLegacyNamingTest = AgentCoreTest;

TEST_F(AgentLegacyNamingTest, UsesTheLocalEventNames)
{
    SetLegacyNaming(true);
    std::wstring folder = MakeAgentFolder(L"legacy-names");
    AgentProcess agent = StartReadyAgent(folder, true);
    agents_.push_back(agent);
    ASSERT_TRUE(IsRunning(agent));
    EXPECT_TRUE(EventExists(kLegacyPrintEvent));
    EXPECT_TRUE(EventExists(kLegacySharedEvent));
    EXPECT_TRUE(EventExists(kLegacyKillEvent));
    EXPECT_FALSE(EventExists(PersonalEventName()));
    EXPECT_FALSE(EventExists(kSharedEvent));
    EXPECT_FALSE(EventExists(kKillEvent));
}

TEST_F(AgentLegacyNamingTest, ServesItsEventsAndEndsOnItsKillEvent)
{
    SetLegacyNaming(true);
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"legacy-serve");
    AgentProcess agent = StartReadyAgent(folder, true);
    agents_.push_back(agent);

    ASSERT_TRUE(SignalEvent(kLegacyPrintEvent));
    ASSERT_TRUE(listener.WaitFor(0xF005));
    ASSERT_TRUE(SignalEvent(kLegacySharedEvent));
    ASSERT_TRUE(WaitUntil([&] { return listener.Received().size() >= 2; }, 10000));

    ASSERT_TRUE(SignalEvent(kLegacyKillEvent));
    EXPECT_TRUE(WaitForExit(agent, 3000));
    std::vector<std::wstring> records = ReadLogRecords();
    std::vector<std::wstring> expected = {
        L"Agent started.",
        L"Waiting for events.",
        L"New print job received. Start processing thread.",
        L"Processing thread started.",
        ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND),
        L"Shared print job received. Start processing thread.",
        L"Processing thread started.",
        ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND),
        L"Suicide.",
        L"Agent exits.",
    };
    EXPECT_EQ(expected, records);
}

TEST_F(AgentLegacyNamingTest, AnySecondInstanceQuits)
{
    SetLegacyNaming(true);
    SetMainDword(L"Log", 1);
    std::wstring first = MakeAgentFolder(L"legacy-first");
    std::wstring other = MakeAgentFolder(L"legacy-second");
    AgentProcess agent = StartReadyAgent(first, true);
    agents_.push_back(agent);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    // Another copy in another folder: the same local names.
    AgentProcess second = StartAgent(other);
    agents_.push_back(second);
    EXPECT_TRUE(WaitForExit(second, 5000));
    EXPECT_TRUE(IsRunning(agent));
    std::vector<std::wstring> expected = {L"Agent started.", L"Waiting for events.", L"Agent started."};
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(AgentLegacyNamingTest, RunsBesideAModernAgent)
{
    SetLegacyNaming(true);
    std::wstring legacyFolder = MakeAgentFolder(L"legacy-beside");
    std::wstring modernFolder = MakeTestFolder(L"legacy-beside-modern");
    CopyProgram(modernFolder, L"orsanto-agent.exe", L"orsanto-modern-agent.exe");
    AgentProcess legacy = StartReadyAgent(legacyFolder, true);
    agents_.push_back(legacy);
    AgentProcess modern = StartAgent(modernFolder, L"orsanto-modern-agent.exe");
    agents_.push_back(modern);
    ASSERT_TRUE(WaitUntil([] { return EventExists(PersonalEventName()); }, 15000));
    Sleep(300);
    EXPECT_TRUE(IsRunning(legacy));
    EXPECT_TRUE(IsRunning(modern));
}
