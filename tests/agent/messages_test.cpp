// User messages of the real agent: message mode, message boxes, broadcasts
// and what the log receives.
#include "agent_test_util.h"

using MessageTest = AgentCoreTest;

namespace {

// A language file that translates every message the tests provoke, so a
// test can tell a translated text from an English one.
const char kEverythingTranslated[] =
    "[English]\r\n"
    "111=EN111 %PRINTER_NAME%\\nsecond line\r\n"
    "112=EN112\r\n"
    "61441=EN61441\r\n"
    "61445=EN61445 must not be shown\r\n"
    "61446=EN61446 must not be shown\r\n";

}  // namespace

// "Message Mode" exactly 1 broadcasts; every other number shows the box.
TEST_F(MessageTest, OnlyMessageModeOneBroadcasts)
{
    struct Case {
        DWORD mode;
        bool broadcast;
    } cases[] = {{0, false}, {1, true}, {2, false}, {0x101, false}, {0xFFFFFFFF, false}};
    std::wstring folder = MakeAgentFolder(L"messages-mode");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        SetMainDword(L"Message Mode", c.mode);
        NotificationListener listener;
        Start(folder);
        SignalPersonalJob();
        if (c.broadcast) {
            Notification report;
            ASSERT_TRUE(listener.WaitFor(0xF005, 10000, &report));
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, report.code);
            Sleep(300);
            EXPECT_EQ(nullptr, FindMessageBox());
        } else {
            std::wstring text;
            ASSERT_TRUE(TakeMessageBox(&text));
            EXPECT_EQ(ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND), text);
            Sleep(300);  // also lets the job thread end before the kill
            EXPECT_TRUE(listener.Received().empty());
        }
        EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
        agents_.pop_back();
    }
}

TEST_F(MessageTest, ReportMessageIsBroadcastWithCodeZero)
{
    SetMainDword(L"Message Mode", 1);
    SetMainDword(L"Log", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"messages-broadcast-111", {});
    WriteLanguageFile(folder, kEverythingTranslated);
    Start(folder);
    HandOffUnconfiguredJob(folder);
    Notification report;
    ASSERT_TRUE(listener.WaitFor(111, 10000, &report));
    EXPECT_EQ(0, report.code);
    EXPECT_EQ(1u, listener.Received().size());
    EXPECT_EQ(nullptr, FindMessageBox());
    // The log has the English text, placeholders unreplaced.
    EXPECT_TRUE(WaitForLog(kNotConfiguredText));
}

TEST_F(MessageTest, ErrorReportsAreShownUntranslated)
{
    std::wstring folder = MakeAgentFolder(L"messages-error-box");
    WriteLanguageFile(folder, kEverythingTranslated);
    SetMainDword(L"Log", 1);
    Start(folder);
    SignalPersonalJob();
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    std::wstring expected = ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(expected, text);
    EXPECT_NE(std::wstring::npos, expected.find(L"\nError # 2: "));
    EXPECT_TRUE(WaitForLog(expected));
}

TEST_F(MessageTest, TranslatedTextIsShownAndTheEnglishOneLogged)
{
    std::wstring folder = MakeAgentFolder(L"messages-111-box");
    WriteLanguageFile(folder, kEverythingTranslated);
    SetMainDword(L"Log", 1);
    Start(folder);
    HandOffUnconfiguredJob(folder);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(L"EN111 Orsanto\nsecond line", text);
    ASSERT_TRUE(WaitForLog(kNotConfiguredText));
    for (const std::wstring& record : ReadLogRecords())
        EXPECT_EQ(std::wstring::npos, record.find(L"EN111"));
}

TEST_F(MessageTest, EnglishTextHasItsPlaceholdersReplacedInTheBoxOnly)
{
    std::wstring folder = MakeAgentFolder(L"messages-111-english");  // no language file
    SetMainDword(L"Log", 1);
    Start(folder);
    HandOffUnconfiguredJob(folder);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(Shown(kNotConfiguredText), text);
    EXPECT_TRUE(WaitForLog(kNotConfiguredText));
}

TEST_F(MessageTest, Message112IsLoggedInEnglishWithThePlaceholder)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    NotificationListener listener;
    std::wstring folder = MakeAgentFolder(L"messages-112-log");
    WriteLanguageFile(folder, kEverythingTranslated);
    Start(folder);
    HandOffJobWithoutClient(folder);
    ASSERT_TRUE(listener.WaitFor(112));
    EXPECT_TRUE(WaitForLog(kFileMissingText));
}

TEST_F(MessageTest, Message112BoxShowsTheTranslation)
{
    std::wstring folder = MakeAgentFolder(L"messages-112-box");
    WriteLanguageFile(folder, kEverythingTranslated);
    Start(folder);
    HandOffJobWithoutClient(folder);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(L"EN112", text);
}

// The translation of 61441 replaces the whole text, the path included.
TEST_F(MessageTest, TranslationOfTheLogFailureReplacesTheWholeText)
{
    SetMainDword(L"Log", 1);
    ASSERT_TRUE(CreateDirectoryW(kTestLogPath, nullptr));
    std::wstring folder = MakeAgentFolder(L"messages-61441");
    WriteLanguageFile(folder, kEverythingTranslated);
    AgentProcess agent = Start(folder, false);
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(L"EN61441", text);
    EXPECT_TRUE(WaitForExit(agent, 5000));
}

TEST_F(MessageTest, BoxesOfSeveralJobThreadsEachShowTheirOwnText)
{
    SetMainDword(L"Log", 1);
    std::wstring folder = MakeAgentFolder(L"messages-many-boxes");
    WriteLanguageFile(folder, kEverythingTranslated);
    Start(folder);
    // One job thread reports 111 (translated), the next 61445 (error report).
    HandOffUnconfiguredJob(folder);
    ASSERT_TRUE(WaitForMessageBoxes(1));
    SignalPersonalJob();
    ASSERT_TRUE(WaitForMessageBoxes(2));
    std::vector<std::wstring> texts;
    for (int i = 0; i < 2; ++i) {
        std::wstring text;
        ASSERT_TRUE(TakeMessageBox(&text));
        texts.push_back(text);
    }
    std::sort(texts.begin(), texts.end());
    std::vector<std::wstring> expected = {L"EN111 Orsanto\nsecond line",
                                          ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, texts);
}
