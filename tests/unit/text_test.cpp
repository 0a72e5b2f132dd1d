// Bounded text helpers and the placeholder substitution of user messages.
#include <gtest/gtest.h>

#include "agent/text.h"

TEST(SubstitutePlaceholders, ReplacesPrinterNameAndLineBreaks)
{
    struct Case {
        const wchar_t* in;
        const wchar_t* out;
    } cases[] = {
        {L"The %PRINTER_NAME% printer", L"The Orsanto printer"},
        {L"a\\nb", L"a\nb"},
        {L"%PRINTER_NAME%%PRINTER_NAME%", L"OrsantoOrsanto"},
        {L"ends in %PRINTER_NAME%", L"ends in Orsanto"},
        {L"ends in backslash-n\\n", L"ends in backslash-n\n"},
        {L"ends in backslash\\", L"ends in backslash\\"},
        {L"%PRINTER_NAME", L"%PRINTER_NAME"},
        {L"", L""},
    };
    for (const Case& c : cases) {
        wchar_t out[1024];
        SubstitutePlaceholders(c.in, out, 1024);
        EXPECT_STREQ(c.out, out) << c.in;
    }
}

TEST(SubstitutePlaceholders, StaysInsideASmallBuffer)
{
    wchar_t out[8];
    wmemset(out, L'x', 8);
    SubstitutePlaceholders(L"abcdefghijk", out, 6);
    EXPECT_STREQ(L"abcde", out);
    EXPECT_EQ(L'x', out[6]);
}

TEST(FormatText, ReportsATextThatDoesNotFit)
{
    wchar_t out[8];
    EXPECT_TRUE(FormatText(out, 8, L"%ls-%d", L"ab", 12));
    EXPECT_STREQ(L"ab-12", out);
    EXPECT_FALSE(FormatText(out, 8, L"%ls", L"abcdefghij"));
    EXPECT_EQ(7u, wcslen(out));
}

TEST(ReplaceFileName, KeepsTheDirectory)
{
    wchar_t out[260];
    ASSERT_TRUE(ReplaceFileName(L"C:\\Program Files\\Orsanto\\agent.exe", L"orst.lng", out, 260));
    EXPECT_STREQ(L"C:\\Program Files\\Orsanto\\orst.lng", out);
    EXPECT_FALSE(ReplaceFileName(L"C:\\dir\\agent.exe", L"a-long-name.exe", out, 12));
}
