// Start-up, single instance and shutdown of the real agent.
#include "harness.h"

using StartupTest = AgentTest;

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
