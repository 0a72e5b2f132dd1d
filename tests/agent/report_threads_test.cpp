// ReportMessage and ReportError from many threads at once, in process:
// every log record and every box carries its own caller's text.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "agent/activity_log.h"
#include "agent/messages.h"
#include "agent/settings.h"
#include "harness.h"

namespace {

std::wstring SystemText(DWORD code)
{
    wchar_t text[512] = L"";
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, 512, nullptr) == 0)
        text[0] = L'\0';
    return text;
}

std::wstring Composed(const std::wstring& text, DWORD code)
{
    return text + L"\nError # " + std::to_wstring(static_cast<int>(code)) + L": " + SystemText(code);
}

const DWORD kCodes[] = {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_PARAMETER, 1801, 0x20000001};

class MessageThreadsTest : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_settings;
        g_settings.logEnabled = 1;
        g_settings.notificationMessage = RegisterWindowMessageW(L"Orsanto_notify_message");
        CloseActivityLog();
        DeleteLog();
        ASSERT_TRUE(OpenActivityLog());
    }
    void TearDown() override
    {
        CloseActivityLog();
        DeleteLog();
        CloseAllMessageBoxes();
        g_settings = saved_;
    }
    AgentSettings saved_;
};

}  // namespace

TEST_F(MessageThreadsTest, ConcurrentReportsLogOnlyTheirOwnText)
{
    g_settings.messageMode = 1;  // broadcast: no boxes
    const int kThreads = 12;
    const int kReports = 150;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int r = 0; r < kReports; ++r) {
                std::wstring text = L"thread " + std::to_wstring(t) + L" report " + std::to_wstring(r) + L" "
                    + std::wstring(static_cast<size_t>(t * 37 % 300), L'p');
                if (r % 2 == 0)
                    EXPECT_EQ(1, ReportMessage(text.c_str(), 111));
                else
                    EXPECT_EQ(1, ReportError(text.c_str(), 0xF005, kCodes[(t + r) % 5]));
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    CloseActivityLog();

    std::set<std::wstring> expected;
    for (int t = 0; t < kThreads; ++t) {
        for (int r = 0; r < kReports; ++r) {
            std::wstring text = L"thread " + std::to_wstring(t) + L" report " + std::to_wstring(r) + L" "
                + std::wstring(static_cast<size_t>(t * 37 % 300), L'p');
            expected.insert(r % 2 == 0 ? text : Composed(text, kCodes[(t + r) % 5]));
        }
    }
    std::vector<std::wstring> records = ReadLogRecords();
    EXPECT_EQ(expected.size(), records.size());
    std::set<std::wstring> seen;
    for (const std::wstring& record : records) {
        EXPECT_TRUE(expected.count(record)) << std::string(record.begin(), record.end()).substr(0, 100);
        seen.insert(record);
    }
    EXPECT_EQ(expected, seen);
}

TEST_F(MessageThreadsTest, ConcurrentBoxesShowTheirOwnText)
{
    g_settings.messageMode = 0;
    const int kThreads = 8;
    std::vector<std::wstring> texts;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        std::wstring text = L"box " + std::to_wstring(t) + L" %PRINTER_NAME%";
        texts.push_back(t % 2 == 0 ? L"box " + std::to_wstring(t) + L" Orsanto" : Composed(text, kCodes[t % 5]));
        threads.emplace_back([t, text] {
            if (t % 2 == 0)
                ReportMessage(text.c_str(), 111);
            else
                ReportError(text.c_str(), 0xF005, kCodes[t % 5]);
        });
    }
    std::vector<std::wstring> shown;
    for (int i = 0; i < kThreads; ++i) {
        std::wstring text;
        ASSERT_TRUE(TakeMessageBox(&text)) << i;
        shown.push_back(text);
    }
    for (std::thread& thread : threads)
        thread.join();
    std::sort(texts.begin(), texts.end());
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(texts, shown);
}

TEST_F(MessageThreadsTest, ReportErrorWithoutAnErrorReportsNothing)
{
    g_settings.messageMode = 0;
    SetLastError(0);
    EXPECT_EQ(0, ReportError(L"nothing", 0xF005, 0));
    CloseActivityLog();
    EXPECT_TRUE(ReadLogRecords().empty());
    EXPECT_EQ(nullptr, FindMessageBox());
}

TEST_F(MessageThreadsTest, ReportErrorTakesTheLastErrorWhenGivenNoCode)
{
    g_settings.messageMode = 1;
    SetLastError(ERROR_ACCESS_DENIED);
    EXPECT_EQ(1, ReportError(L"last", 0xF005, 0));
    CloseActivityLog();
    std::vector<std::wstring> expected = {Composed(L"last", ERROR_ACCESS_DENIED)};
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(MessageThreadsTest, ACodeWithoutSystemTextLeavesTheLastPartEmpty)
{
    g_settings.messageMode = 1;
    EXPECT_EQ(1, ReportError(L"unknown", 0xF005, 0x20000001));
    CloseActivityLog();
    std::vector<std::wstring> expected = {L"unknown\nError # 536870913: "};
    EXPECT_EQ(expected, ReadLogRecords());
}

TEST_F(MessageThreadsTest, IdentifierZeroShowsTheBoxEvenInMessageMode)
{
    g_settings.messageMode = 1;
    std::thread reporter([] { ReportMessage(L"identifier zero", 0); });
    std::wstring text;
    EXPECT_TRUE(TakeMessageBox(&text));
    reporter.join();
    EXPECT_EQ(L"identifier zero", text);
}

TEST_F(MessageThreadsTest, AVeryLongErrorTextIsCutSafely)
{
    g_settings.messageMode = 1;
    std::wstring text(3000, L'e');
    EXPECT_EQ(1, ReportError(text.c_str(), 0xF005, ERROR_ACCESS_DENIED));
    CloseActivityLog();
    std::vector<std::wstring> records = ReadLogRecords();
    ASSERT_EQ(1u, records.size());
    EXPECT_EQ(0u, records[0].find(L"eeee"));
    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad));
}
