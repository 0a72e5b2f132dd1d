// Delivery settings read in-process from HKLM\Software\Orsanto of the test
// prefix, the client command line and the clipboard message clamp.
#include "harness.h"

#include <string>
#include <vector>

#include "agent/settings.h"
#include "job/auxiliary_programs.h"
#include "job/delivery_settings.h"

namespace {

std::wstring Repeat(wchar_t c, size_t n)
{
    return std::wstring(n, c);
}

// Reports raised in-process are broadcast, never shown in a box.
class DeliverySettingsTest : public testing::Test {
protected:
    void SetUp() override
    {
        saved_ = g_settings;
        g_settings.messageMode = 1;
        g_settings.logEnabled = 0;
        g_settings.notificationMessage = RegisterWindowMessageW(L"Orsanto_notify_message");
        ResetMainKey();
    }
    void TearDown() override
    {
        g_settings = saved_;
        DeleteMainKey();
    }
    DeliverySettings Read()
    {
        DeliverySettings settings;
        memset(&settings, 0xCC, sizeof(settings));  // every field must be set by the read
        EXPECT_TRUE(ReadDeliverySettings(&settings));
        return settings;
    }
    AgentSettings saved_;
};

TEST(QuoteClientApplicationTest, QuotesWholeValueWithSpaceAndNoLeadingQuote)
{
    const std::wstring path258 = L"C:\\" + Repeat(L'a', 100) + L" " + Repeat(L'b', 150) + L".exe";
    const std::wstring path259 = path258 + L"x";
    ASSERT_EQ(258u, path258.size());
    struct Case {
        std::wstring stored;
        std::wstring expected;
    } cases[] = {
        {L"C:\\Apps\\Viewer.exe", L"C:\\Apps\\Viewer.exe"},
        {L"C:\\Program Files\\Client\\client.exe", L"\"C:\\Program Files\\Client\\client.exe\""},
        {L"client.exe /x", L"\"client.exe /x\""},
        {L"\"C:\\Program Files\\Client\\client.exe\" /x", L"\"C:\\Program Files\\Client\\client.exe\" /x"},
        {L"\"unbalanced path with space", L"\"unbalanced path with space"},
        {L"tab\tonly.exe", L"tab\tonly.exe"},
        {L" leading-space.exe", L"\" leading-space.exe\""},
        {path258, L"\"" + path258 + L"\""},
        {path259, L"\"" + path259 + L"\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "length " << c.stored.size());
        ClientCommandLine commandLine;
        ASSERT_TRUE(QuoteClientApplication(c.stored.c_str(), &commandLine));
        EXPECT_EQ(c.expected, std::wstring(commandLine.text));
    }
}

TEST(ClampClipboardMessageTest, OnlyApplicationPrivateMessagesPass)
{
    struct Case {
        DWORD stored;
        UINT posted;
    } cases[] = {{0x0400, 0x8000}, {0x7FFF, 0x8000}, {0x8000, 0x8000}, {0x8001, 0x8001}, {0xBFFF, 0xBFFF},
                 {0xC000, 0x8000}, {5, 0x8000},      {0, 0x8000},      {0xFFFFFFFF, 0x8000}};
    for (const Case& c : cases)
        EXPECT_EQ(c.posted, ClampClipboardMessage(c.stored)) << std::hex << c.stored;
}

TEST_F(DeliverySettingsTest, ReadsEverySetting)
{
    SetMainString(L"Client Application", L"C:\\Apps\\Viewer.exe");
    SetMainDword(L"Transfer Mode", 2);
    SetMainString(L"Target Window Class", L"ViewerClass");
    SetMainString(L"Target Window Title", L"Viewer");
    SetMainString(L"Clipboard Format", L"Orsanto Job");
    SetMainDword(L"Message ID", 0x8123);
    DeliverySettings s = Read();
    EXPECT_STREQ(L"C:\\Apps\\Viewer.exe", s.clientApplication);
    EXPECT_EQ(2u, s.transferMode);
    EXPECT_STREQ(L"ViewerClass", s.targetWindowClass);
    EXPECT_STREQ(L"Viewer", s.targetWindowTitle);
    EXPECT_STREQ(L"Orsanto Job", s.clipboardFormat);
    EXPECT_EQ(0x8123u, s.messageId);
}

TEST_F(DeliverySettingsTest, MissingValuesAreEmptyOrZero)
{
    DeliverySettings s = Read();
    EXPECT_STREQ(L"", s.clientApplication);
    EXPECT_EQ(0u, s.transferMode);
    EXPECT_STREQ(L"", s.targetWindowClass);
    EXPECT_STREQ(L"", s.targetWindowTitle);
    EXPECT_STREQ(L"", s.clipboardFormat);
    EXPECT_EQ(0u, s.messageId);
}

TEST_F(DeliverySettingsTest, NumbersAreReadWhateverTheirType)
{
    const BYTE one[] = {'1', 0, 0, 0};      // REG_SZ "1" with its terminator
    const BYTE two[] = {2};                 // a single byte
    const BYTE five[] = {1, 0, 0, 0, 0};    // one byte too many
    const ULONGLONG qword = 1;
    struct Case {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
        DWORD expected;
    } cases[] = {
        {"string \"1\"", REG_SZ, one, sizeof(one), 0x31},
        {"one byte of binary", REG_BINARY, two, sizeof(two), 2},
        {"five bytes", REG_BINARY, five, sizeof(five), 0},
        {"qword", REG_QWORD, &qword, sizeof(qword), 0},
        {"empty binary", REG_BINARY, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetMainRaw(L"Transfer Mode", c.type, c.data, c.size);
        SetMainRaw(L"Message ID", c.type, c.data, c.size);
        DeliverySettings s = Read();
        EXPECT_EQ(c.expected, s.transferMode);
        EXPECT_EQ(c.expected, s.messageId);
    }
}

TEST_F(DeliverySettingsTest, StringsAreTakenAsStoredOrNotAtAll)
{
    const std::wstring s259 = Repeat(L'c', 259);
    const std::wstring s260 = Repeat(L'd', 260);
    const std::wstring abc = L"abc";
    const DWORD dwordA = 0x00000041;  // the bytes 41 00 00 00 read as text: "A"
    struct Case {
        const char* what;
        DWORD type;
        const void* data;
        DWORD size;
        std::wstring expected;
    } cases[] = {
        {"259 characters and terminator fill 520 bytes", REG_SZ, s259.c_str(), 520, s259},
        {"260 characters without terminator fill 520 bytes", REG_SZ, s260.c_str(), 520, L""},
        {"260 characters and terminator", REG_SZ, s260.c_str(), 522, L""},
        {"unterminated short string", REG_SZ, abc.c_str(), 6, abc},
        {"odd byte count", REG_BINARY, abc.c_str(), 5, L"ab"},
        {"number", REG_DWORD, &dwordA, 4, L"A"},
        {"environment reference kept", REG_EXPAND_SZ, L"%WINDIR%\\x.exe", 30, L"%WINDIR%\\x.exe"},
    };
    const wchar_t* names[] = {L"Client Application", L"Target Window Class", L"Target Window Title",
                              L"Clipboard Format"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (const wchar_t* name : names)
            SetMainRaw(name, c.type, c.data, c.size);
        DeliverySettings s = Read();
        EXPECT_EQ(c.expected, std::wstring(s.clientApplication));
        EXPECT_EQ(c.expected, std::wstring(s.targetWindowClass));
        EXPECT_EQ(c.expected, std::wstring(s.targetWindowTitle));
        EXPECT_EQ(c.expected, std::wstring(s.clipboardFormat));
    }
}

TEST_F(DeliverySettingsTest, MissingKeyReports111AndKeepsTheJobFile)
{
    std::wstring folder = MakeTestFolder(L"settings-missing-key");
    std::wstring jobPath = WriteJobFile(folder, L"job.ini", 7);
    DeleteMainKey();
    NotificationListener listener;
    DeliverySettings settings;
    EXPECT_FALSE(ReadDeliverySettings(&settings));
    Notification n = {};
    ASSERT_TRUE(listener.WaitFor(111, 10000, &n));
    EXPECT_EQ(0, n.code);
    EXPECT_TRUE(FileExists(jobPath));
}

TEST_F(DeliverySettingsTest, EmptyClientApplicationReports112AndDeletesTheJobFile)
{
    std::wstring folder = MakeTestFolder(L"settings-no-client");
    std::wstring jobPath = WriteJobFile(folder, L"job.ini", 8);
    NotificationListener listener;
    DeliverySettings settings = Read();
    ClientCommandLine commandLine;
    EXPECT_FALSE(PrepareClientCommandLine(settings, jobPath.c_str(), &commandLine));
    EXPECT_TRUE(listener.WaitFor(112));
    EXPECT_FALSE(FileExists(jobPath));
}

TEST(IsJobCancelledTest, OnlyCancelInAnyCaseCancels)
{
    std::wstring folder = MakeTestFolder(L"cancel-verdicts");
    struct Case {
        std::wstring line;
        bool cancelled;
    } cases[] = {
        {L"PreprocessingResult=Cancel", true},
        {L"PreprocessingResult=cancel", true},
        {L"PreprocessingResult=CANCEL", true},
        {L"PreprocessingResult=cAnCeL", true},
        {L"PreprocessingResult=Cancelled", false},
        {L"PreprocessingResult=Continue", false},
        {L"PreprocessingResult=", false},
        {L"PreprocessingResult=Cancel" + Repeat(L' ', 10) + L"x", false},
        {L"PreprocessingResult=Cancel" + Repeat(L'l', 300), false},
        {L"PreprocessingResult=" + Repeat(L'x', 250) + L"Cancel", false},
        {L"JobID=3", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.line.substr(0, 40));
        std::wstring path = folder + L"\\job" + std::to_wstring(n++) + L".ini";
        WriteFileText(path, L"[Document]\r\n" + c.line + L"\r\n");
        EXPECT_EQ(c.cancelled, IsJobCancelled(path.c_str()));
    }
    std::wstring garbage = folder + L"\\garbage.ini";
    const char garbageBytes[] = "\x00\xFF\x13[Document\x00PreprocessingResult=Cancel";
    WriteFileBytes(garbage, std::string(garbageBytes, sizeof(garbageBytes) - 1));
    EXPECT_FALSE(IsJobCancelled((folder + L"\\missing.ini").c_str()));
    IsJobCancelled(garbage.c_str());  // whatever it decides, it must not fail
}

}  // namespace
