// The activity log's record format.
#include <gtest/gtest.h>

#include <string>

#include "agent/activity_log.h"

namespace {

SYSTEMTIME SampleTime()
{
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 3;
    t.wDay = 7;
    t.wHour = 4;
    t.wMinute = 5;
    t.wSecond = 6;
    t.wMilliseconds = 7;
    return t;
}

}  // namespace

TEST(FormatLogRecord, StampsTheText)
{
    wchar_t line[1024];
    size_t chars = FormatLogRecord(SampleTime(), L"Agent started.", line, 1024);
    EXPECT_STREQ(L"2026-03-07 04:05:06.007:\tAgent started.\r\n", line);
    EXPECT_EQ(wcslen(line), chars);
}

TEST(FormatLogRecord, KeepsLineBreaksOfTheText)
{
    wchar_t line[1024];
    FormatLogRecord(SampleTime(), L"a\nError # 2: b\r\n", line, 1024);
    EXPECT_STREQ(L"2026-03-07 04:05:06.007:\ta\nError # 2: b\r\n\r\n", line);
}

TEST(FormatLogRecord, CutsALongTextButNeverTheLineEnd)
{
    for (size_t length : {990u, 1000u, 1010u, 1024u, 5000u}) {
        std::wstring text(length, L'x');
        wchar_t line[1024];
        size_t chars = FormatLogRecord(SampleTime(), text.c_str(), line, 1024);
        ASSERT_LE(chars, 1023u);
        EXPECT_EQ(std::wstring(L"\r\n"), std::wstring(line + chars - 2)) << length;
        EXPECT_EQ(L'\0', line[chars]);
    }
}
