// The activity log C:\vp_log.txt of the real agent: byte-order mark,
// appending, several writing processes, a log that cannot be opened.
#include "agent_test_util.h"

#include <map>
#include <set>

using AgentLogTest = AgentCoreTest;

namespace {

const std::vector<std::wstring> kOneRun = {L"Agent started.", L"Waiting for events.", L"Suicide.",
                                           L"Agent exits."};

// Runs one agent with the log on and stops it.
void RunOnce(AgentTest* test, const std::wstring& folder, std::vector<AgentProcess>* agents)
{
    AgentProcess agent = StartReadyAgent(folder);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));
    agents->push_back(agent);
    EXPECT_TRUE(StopAgent(&agents->back(), 3000));
    (void)test;
}

size_t CountOf(const std::wstring& text, wchar_t c)
{
    size_t n = 0;
    for (wchar_t x : text)
        n += x == c;
    return n;
}

// Starts the log writer helper with a tag, a count and a text length.
AgentProcess StartWriter(const std::wstring& tag, int count, int length)
{
    std::wstring program = BinDir() + L"\\orsanto-agent-log-writer.exe";
    PROCESS_INFORMATION process;
    AgentProcess writer;
    if (StartProgram(L"\"" + program + L"\" " + tag + L" " + std::to_wstring(count) + L" " + std::to_wstring(length),
                     &process, program)) {
        CloseHandle(process.hThread);
        writer.process = process.hProcess;
        writer.processId = process.dwProcessId;
    }
    return writer;
}

}  // namespace

TEST_F(AgentLogTest, ANewLogBeginsWithTheByteOrderMark)
{
    SetMainDword(L"Log", 1);
    RunOnce(this, MakeAgentFolder(L"log-new"), &agents_);
    std::string bytes = ReadFileBytes(kTestLogPath);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ('\xFF', bytes[0]);
    EXPECT_EQ('\xFE', bytes[1]);
    EXPECT_EQ(kOneRun, ReadLogRecords());
    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end());
}

TEST_F(AgentLogTest, ReopeningAnExistingLogAppendsWithoutASecondMark)
{
    SetMainDword(L"Log", 1);
    std::wstring folder = MakeAgentFolder(L"log-reopen");
    RunOnce(this, folder, &agents_);
    size_t firstSize = ReadFileBytes(kTestLogPath).size();
    RunOnce(this, folder, &agents_);
    EXPECT_GT(ReadFileBytes(kTestLogPath).size(), firstSize);
    EXPECT_TRUE(LogHasByteOrderMark());
    EXPECT_EQ(0u, CountOf(ReadLogText(), L'\xFEFF'));
    std::vector<std::wstring> expected = kOneRun;
    expected.insert(expected.end(), kOneRun.begin(), kOneRun.end());
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(AgentLogTest, AnExistingLogWithTextKeepsIt)
{
    SetMainDword(L"Log", 1);
    WriteFileText(kTestLogPath, L"2020-01-02 03:04:05.006:\tolder record\r\n");
    RunOnce(this, MakeAgentFolder(L"log-existing"), &agents_);
    std::vector<std::wstring> expected = {L"older record"};
    expected.insert(expected.end(), kOneRun.begin(), kOneRun.end());
    EXPECT_EQ(expected, ReadLogRecords());
    EXPECT_EQ(0u, CountOf(ReadLogText(), L'\xFEFF'));
}

TEST_F(AgentLogTest, AnExistingEmptyLogGetsNoByteOrderMark)
{
    SetMainDword(L"Log", 1);
    WriteFileBytes(kTestLogPath, "");
    RunOnce(this, MakeAgentFolder(L"log-empty"), &agents_);
    std::string bytes = ReadFileBytes(kTestLogPath);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_FALSE(LogHasByteOrderMark());
    EXPECT_EQ('2', bytes[0]);  // the year of the first stamp, UTF-16LE
    EXPECT_EQ('\0', bytes[1]);
    EXPECT_EQ(kOneRun, ReadLogRecords());
}

TEST_F(AgentLogTest, LogOffWritesNothing)
{
    SetMainDword(L"Log", 0);
    AgentProcess agent = Start(MakeAgentFolder(L"log-off"));
    ASSERT_TRUE(IsRunning(agent));
    EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
    EXPECT_FALSE(FileExists(kTestLogPath));
}

// Two processes append thousands of records at the same moment: every record
// is whole and none is missing.
TEST_F(AgentLogTest, TwoProcessesWritingAtOnceLoseAndMixNothing)
{
    const int kCount = 3000;
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"OrsantoLogWriterGo");
    ASSERT_NE(nullptr, go);
    std::vector<AgentProcess> writers = {StartWriter(L"A", kCount, 40), StartWriter(L"B", kCount, 90),
                                         StartWriter(L"C", kCount, 300)};
    for (const AgentProcess& writer : writers)
        ASSERT_NE(nullptr, writer.process);
    Sleep(500);  // every writer is waiting
    SetEvent(go);
    for (const AgentProcess& writer : writers) {
        EXPECT_TRUE(WaitForExit(writer, 120000));
        EXPECT_EQ(0u, ExitCodeOf(writer));
        CloseHandle(writer.process);
    }
    CloseHandle(go);

    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end());
    EXPECT_TRUE(LogHasByteOrderMark());
    EXPECT_EQ(0u, CountOf(ReadLogText(), L'\xFEFF'));

    std::map<std::wstring, std::set<int>> seen;
    std::map<std::wstring, size_t> lengths = {{L"A", 40}, {L"B", 90}, {L"C", 300}};
    size_t malformed = 0;
    for (const std::wstring& record : ReadLogRecords()) {
        std::wstring tag = record.substr(0, 1);
        bool ok = lengths.count(tag) && record.size() == lengths[tag] && record[1] == L' ' && record[8] == L' '
            && record.find_first_not_of(L'x', 9) == std::wstring::npos;
        if (!ok) {
            if (++malformed < 5)
                ADD_FAILURE() << "broken record: " << std::string(record.begin(), record.end()).substr(0, 120);
            continue;
        }
        int number = std::stoi(record.substr(2, 6));
        EXPECT_TRUE(seen[tag].insert(number).second) << "record twice";
    }
    EXPECT_EQ(0u, malformed);
    for (const auto& tag : {L"A", L"B", L"C"})
        EXPECT_EQ(static_cast<size_t>(kCount), seen[tag].size()) << "records of one writer are missing";
}

// A text too long for the 1024-character line still gives a record that
// ends in CR LF, also with another writer at work.
TEST_F(AgentLogTest, LongTextsStillEndTheirRecords)
{
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, L"OrsantoLogWriterGo");
    std::vector<AgentProcess> writers = {StartWriter(L"L", 300, 3000), StartWriter(L"M", 300, 1000),
                                         StartWriter(L"S", 300, 20)};
    Sleep(500);
    SetEvent(go);
    for (const AgentProcess& writer : writers) {
        EXPECT_TRUE(WaitForExit(writer, 60000));
        CloseHandle(writer.process);
    }
    CloseHandle(go);

    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end()).substr(0, 120);
    std::map<wchar_t, size_t> counts;
    for (const std::wstring& record : ReadLogRecords()) {
        ASSERT_FALSE(record.empty());
        ++counts[record[0]];
        // The record (stamp 25, text, CR LF) fits the 1024-character line.
        EXPECT_LE(25 + record.size() + 2, 1023u);
        if (record[0] == L'S') {
            EXPECT_EQ(20u, record.size());
        }
    }
    EXPECT_EQ(300u, counts[L'L']);
    EXPECT_EQ(300u, counts[L'M']);
    EXPECT_EQ(300u, counts[L'S']);
}

// A modern and a legacy agent (other event names, so both run) flooded with
// signals write to the one log; every record stays whole.
TEST_F(AgentLogTest, TwoAgentsFloodedWithSignalsKeepTheLogWhole)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    SetLegacyNaming(true);  // for programs named orsanto-agent.exe
    std::wstring legacyFolder = MakeAgentFolder(L"log-flood-legacy");
    std::wstring modernFolder = MakeTestFolder(L"log-flood-modern");
    CopyProgram(modernFolder, L"orsanto-agent.exe", L"orsanto-modern-agent.exe");

    AgentProcess legacy = StartReadyAgent(legacyFolder, true);
    agents_.push_back(legacy);
    AgentProcess modern = StartAgent(modernFolder, L"orsanto-modern-agent.exe");
    agents_.push_back(modern);
    ASSERT_TRUE(WaitUntil([] { return EventExists(PersonalEventName()); }, 15000));
    ASSERT_TRUE(IsRunning(legacy));
    ASSERT_TRUE(IsRunning(modern));

    for (int i = 0; i < 300; ++i) {
        SignalEvent(kLegacyPrintEvent);
        SignalEvent(PersonalEventName());
        if (i % 50 == 0)
            Sleep(10);
    }
    Sleep(2000);
    StopAgent(&agents_[0], 5000);
    StopAgent(&agents_[1], 5000);

    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end()).substr(0, 120);
    std::set<std::wstring> known = {L"Agent started.",
                                    L"Waiting for events.",
                                    L"New print job received. Start processing thread.",
                                    L"Processing thread started.",
                                    ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND),
                                    L"Suicide.",
                                    L"Agent exits."};
    size_t jobs = 0;
    for (const std::wstring& record : ReadLogRecords()) {
        EXPECT_TRUE(known.count(record)) << std::string(record.begin(), record.end()).substr(0, 120);
        jobs += record == L"New print job received. Start processing thread.";
    }
    EXPECT_GE(jobs, 2u);
    EXPECT_EQ(0u, CountOf(ReadLogText(), L'\xFEFF'));
}

TEST_F(AgentLogTest, AReadOnlyLogIsReportedAndTheAgentEnds)
{
    SetMainDword(L"Log", 1);
    WriteFileText(kTestLogPath, L"");
    ASSERT_TRUE(SetFileAttributesW(kTestLogPath, FILE_ATTRIBUTE_READONLY));
    // Wine running as root opens a read-only file for writing all the same.
    HANDLE probe = CreateFileW(kTestLogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe != INVALID_HANDLE_VALUE) {
        CloseHandle(probe);
        GTEST_SKIP() << "this system lets a read-only file be opened for writing (Wine as root)";
    }
    AgentProcess agent = Start(MakeAgentFolder(L"log-readonly"), false);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(kLogOpenFailedText, text);
    EXPECT_TRUE(WaitForExit(agent, 5000));
    EXPECT_EQ(0u, ExitCodeOf(agent));
    EXPECT_FALSE(EventExists(PersonalEventName()));
    EXPECT_EQ(2u, ReadFileBytes(kTestLogPath).size());  // only the mark written above
}

TEST_F(AgentLogTest, AFolderInPlaceOfTheLogIsReportedAndTheAgentEnds)
{
    SetMainDword(L"Log", 1);
    ASSERT_TRUE(CreateDirectoryW(kTestLogPath, nullptr));
    AgentProcess agent = Start(MakeAgentFolder(L"log-folder"), false);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(kLogOpenFailedText, text);
    EXPECT_TRUE(WaitForExit(agent, 5000));
    EXPECT_EQ(0u, ExitCodeOf(agent));
    EXPECT_FALSE(EventExists(PersonalEventName()));
}

TEST_F(AgentLogTest, ALogThatCannotBeOpenedIsBroadcastInMessageMode)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    ASSERT_TRUE(CreateDirectoryW(kTestLogPath, nullptr));
    NotificationListener listener;
    AgentProcess agent = Start(MakeAgentFolder(L"log-folder-broadcast"), false);
    Notification report;
    ASSERT_TRUE(listener.WaitFor(0xF001, 10000, &report));
    EXPECT_EQ(0, report.code);
    EXPECT_TRUE(WaitForExit(agent, 5000));
    EXPECT_EQ(nullptr, FindMessageBox());
}
