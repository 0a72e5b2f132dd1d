// The activity log written from many threads at once, in process: records
// never mix, and CloseActivityLog never closes the file under a write.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/activity_log.h"
#include "harness.h"

namespace {

class LogThreadsTest : public testing::Test {
protected:
    void SetUp() override
    {
        CloseActivityLog();
        DeleteLog();
    }
    void TearDown() override
    {
        CloseActivityLog();
        DeleteLog();
    }
};

// "T<thread> R<record> " and then 'x' up to length.
std::wstring RecordText(int thread, int record, size_t length)
{
    wchar_t head[32];
    wsprintfW(head, L"T%02d R%05d ", thread, record);
    std::wstring text = head;
    if (text.size() < length)
        text.append(length - text.size(), L'x');
    return text;
}

size_t LengthFor(int thread)
{
    static const size_t kLengths[] = {11, 40, 200, 700, 990, 995, 1000, 2000};
    return kLengths[thread % 8];
}

}  // namespace

TEST_F(LogThreadsTest, RecordsOfManyThreadsNeverMix)
{
    ASSERT_TRUE(OpenActivityLog());
    const int kThreads = 16;
    const int kRecords = 400;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int r = 0; r < kRecords; ++r)
                WriteLogLine(RecordText(t, r, LengthFor(t)).c_str());
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    CloseActivityLog();

    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end()).substr(0, 100);
    EXPECT_TRUE(LogHasByteOrderMark());
    std::map<int, std::set<int>> seen;
    for (const std::wstring& record : ReadLogRecords()) {
        ASSERT_GE(record.size(), 11u);
        int t = std::stoi(record.substr(1, 2));
        int r = std::stoi(record.substr(5, 5));
        std::wstring expected = RecordText(t, r, LengthFor(t));
        // A text too long for the line is cut, the line end kept.
        if (25 + expected.size() + 2 > 1023)
            expected.resize(1023 - 25 - 2);
        EXPECT_EQ(expected, record);
        EXPECT_TRUE(seen[t].insert(r).second);
    }
    for (int t = 0; t < kThreads; ++t)
        EXPECT_EQ(static_cast<size_t>(kRecords), seen[t].size()) << "thread " << t;
}

TEST_F(LogThreadsTest, TheLongestRecordFillsTheLineAndEndsInCrLf)
{
    ASSERT_TRUE(OpenActivityLog());
    for (size_t length : {994u, 995u, 996u, 997u, 1020u, 5000u})
        WriteLogLine(std::wstring(length, L'q').c_str());
    CloseActivityLog();
    std::wstring text = ReadLogText();
    std::vector<std::wstring> records = ReadLogRecords();
    ASSERT_EQ(6u, records.size());
    EXPECT_EQ(994u, records[0].size());
    EXPECT_EQ(995u, records[1].size());
    EXPECT_EQ(996u, records[2].size());  // 25 + 996 + 2 = 1023: the most that fits
    EXPECT_EQ(996u, records[3].size());
    EXPECT_EQ(996u, records[5].size());
    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad));
}

TEST_F(LogThreadsTest, CloseWhileThreadsWriteNeverCutsARecord)
{
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE(round);
        DeleteLog();
        ASSERT_TRUE(OpenActivityLog());
        std::atomic<bool> stop{false};
        std::atomic<int> written{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 8; ++t) {
            threads.emplace_back([&, t] {
                for (int r = 0; !stop; ++r) {
                    WriteLogLine(RecordText(t, r % 100000, LengthFor(t)).c_str());
                    ++written;
                }
            });
        }
        WaitUntil([&] { return written > 200; }, 10000);
        CloseActivityLog();
        size_t sizeAtClose = ReadFileBytes(kTestLogPath).size();
        Sleep(100);  // the threads go on writing into a closed log
        stop = true;
        for (std::thread& thread : threads)
            thread.join();
        EXPECT_EQ(sizeAtClose, ReadFileBytes(kTestLogPath).size()) << "written after the close";
        std::wstring bad;
        EXPECT_TRUE(LogRecordsWellFormed(&bad)) << std::string(bad.begin(), bad.end()).substr(0, 100);
        for (const std::wstring& record : ReadLogRecords()) {
            int t = std::stoi(record.substr(1, 2));
            std::wstring expected = RecordText(t, std::stoi(record.substr(5, 5)), LengthFor(t));
            if (25 + expected.size() + 2 > 1023)
                expected.resize(1023 - 25 - 2);
            ASSERT_EQ(expected, record);
        }
    }
}

TEST_F(LogThreadsTest, NothingIsWrittenWhileNoLogIsOpen)
{
    WriteLogLine(L"before");
    EXPECT_FALSE(FileExists(kTestLogPath));
    ASSERT_TRUE(OpenActivityLog());
    WriteLogLine(L"while open");
    CloseActivityLog();
    WriteLogLine(L"after");
    CloseActivityLog();  // twice is harmless
    std::vector<std::wstring> expected = {L"while open"};
    EXPECT_EQ(expected, ReadLogRecords());
}
