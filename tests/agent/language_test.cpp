// The language file "orst.lng" and the language selection, end to end: the
// agent reports 111 ("not configured") in a box, translated when it can.
#include "agent_test_util.h"

using LanguageTest = AgentCoreTest;

namespace {

const char kThreeLanguages[] =
    "[English]\r\n111=english translation\r\n"
    "[German]\r\n111=Deutsch: %PRINTER_NAME% ist nicht eingerichtet.\\nBitte neu installieren.\r\n"
    "[French]\r\n111=fran\xC3\xA7" "ais\r\n";

const wchar_t kEnglishSection[] = L"english translation";
const wchar_t kGerman[] = L"Deutsch: Orsanto ist nicht eingerichtet.\nBitte neu installieren.";
const wchar_t kFrench[] = L"fran\u00E7ais";

// Starts an agent in a fresh folder with the language file and returns the
// text of the box the job thread shows for 111.
std::wstring ShownText(AgentTest* test, std::vector<AgentProcess>* agents, const std::wstring& name,
                       const std::string* languageFile)
{
    std::wstring folder = MakeAgentFolder(name);
    if (languageFile)
        WriteLanguageFile(folder, *languageFile);
    agents->push_back(StartReadyAgent(folder));
    HandOffUnconfiguredJob(folder);
    std::wstring text;
    EXPECT_TRUE(TakeMessageBox(&text)) << "no box";
    EXPECT_TRUE(IsRunning(agents->back())) << "the agent died";
    Sleep(200);  // the job thread ends before the kill
    StopAgent(&agents->back(), 3000);
    (void)test;
    return text;
}

std::wstring ShownWith(AgentTest* test, std::vector<AgentProcess>* agents, const std::wstring& name,
                       const std::string& languageFile)
{
    return ShownText(test, agents, name, &languageFile);
}

}  // namespace

TEST_F(LanguageTest, EnglishSectionByDefault)
{
    EXPECT_EQ(kEnglishSection, ShownWith(this, &agents_, L"lang-default", kThreeLanguages));
}

TEST_F(LanguageTest, PerUserLanguageWins)
{
    SetUserLanguage(L"German");
    SetDefaultLanguage(L"French");
    EXPECT_EQ(kGerman, ShownWith(this, &agents_, L"lang-user", kThreeLanguages));
}

TEST_F(LanguageTest, MachineDefaultWithoutAPerUserKey)
{
    SetDefaultLanguage(L"French");
    EXPECT_EQ(kFrench, ShownWith(this, &agents_, L"lang-defaults", kThreeLanguages));
}

TEST_F(LanguageTest, PerUserKeyWithoutTheValueMeansEnglish)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Orsanto", 0, nullptr, 0, KEY_WRITE,
                                             nullptr, &key, nullptr));
    RegCloseKey(key);
    SetDefaultLanguage(L"German");
    EXPECT_EQ(kEnglishSection, ShownWith(this, &agents_, L"lang-user-key-only", kThreeLanguages));
}

TEST_F(LanguageTest, ALanguageWithoutASectionShowsTheEnglishText)
{
    SetUserLanguage(L"Klingon");
    EXPECT_EQ(Shown(kNotConfiguredText), ShownWith(this, &agents_, L"lang-klingon", kThreeLanguages));
}

TEST_F(LanguageTest, ALanguageValueTooLongMeansEnglish)
{
    // 64 characters and the terminator: 130 bytes, more than the 128 read.
    std::wstring name = L"German" + std::wstring(58, L'x');
    SetUserLanguage(name);
    std::string file = kThreeLanguages;
    file += "[" + Utf8(name) + "]\r\n111=too long a name\r\n";
    EXPECT_EQ(kEnglishSection, ShownWith(this, &agents_, L"lang-too-long", file));
}

TEST_F(LanguageTest, ALanguageNameOf63CharactersIsUsed)
{
    std::wstring name = L"German" + std::wstring(57, L'y');  // 128 bytes with the terminator
    SetUserLanguage(name);
    std::string file = kThreeLanguages;
    file += "[" + Utf8(name) + "]\r\n111=longest name\r\n";
    EXPECT_EQ(L"longest name", ShownWith(this, &agents_, L"lang-63", file));
}

// "Language" stored as another type: whatever it reads as, no German, no
// crash, and an English text.
TEST_F(LanguageTest, ALanguageValueOfAnotherTypeGivesEnglish)
{
    const DWORD number = 0x31;
    const BYTE binary[] = {0xFF, 0xD8, 0x00, 0xDC, 0x41};
    const std::wstring longBinary(200, L'G');
    struct Case {
        const wchar_t* name;
        DWORD type;
        const void* data;
        DWORD size;
    } cases[] = {
        {L"dword", REG_DWORD, &number, sizeof(number)},
        {L"binary", REG_BINARY, binary, sizeof(binary)},
        {L"empty-binary", REG_BINARY, binary, 0},
        {L"long-binary", REG_BINARY, longBinary.data(), static_cast<DWORD>(longBinary.size() * 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + wcslen(c.name)));
        DeleteLanguageKeys();
        SetLanguageRaw(HKEY_CURRENT_USER, L"Software\\Orsanto", c.type, c.data, c.size);
        SetDefaultLanguage(L"German");
        std::wstring text = ShownWith(this, &agents_, std::wstring(L"lang-type-") + c.name, kThreeLanguages);
        EXPECT_TRUE(text == kEnglishSection || text == Shown(kNotConfiguredText)) << "shown: "
            << Utf8(text);
    }
}

TEST_F(LanguageTest, BadLanguageFilesGiveASafeAnswer)
{
    struct Case {
        const wchar_t* name;
        std::string file;  // nullptr-like: "<none>" means no file
        std::wstring expected;
    } cases[] = {
        {L"missing", "<none>", Shown(kNotConfiguredText)},
        {L"empty", "", Shown(kNotConfiguredText)},
        {L"empty-value", "[English]\r\n111=\r\n", Shown(kNotConfiguredText)},
        {L"no-section", "111=no section\r\n", Shown(kNotConfiguredText)},
        {L"placeholder-at-end", "[English]\r\n111=printer %PRINTER_NAME%\r\n", L"printer Orsanto"},
        {L"break-at-end", "[English]\r\n111=line\\n\r\n", L"line\n"},
        {L"only-placeholder", "[English]\r\n111=%PRINTER_NAME%\r\n", L"Orsanto"},
        {L"half-placeholder-at-end", "[English]\r\n111=a %PRINTER_NAME\r\n", L"a %PRINTER_NAME"},
        {L"backslash-at-end", "[English]\r\n111=a\\\r\n", L"a\\"},
        {L"no-line-end", "[English]\r\n111=last %PRINTER_NAME%", L"last Orsanto"},
        {L"utf8", "[English]\r\n111=Gr\xC3\xB6\xC3\x9F" "e \xE2\x82\xAC \xC3\x81 \xE6\x97\xA5\r\n",
         L"Gr\u00F6\u00DFe \u20AC \u00C1 \u65E5"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Utf8(c.name));
        const std::string* file = c.file == "<none>" ? nullptr : &c.file;
        EXPECT_EQ(c.expected, ShownText(this, &agents_, std::wstring(L"lang-file-") + c.name, file));
    }
}

TEST_F(LanguageTest, AFileThatIsNotUtf8IsDecodedWithReplacementCharacters)
{
    // Latin-1 bytes: not UTF-8.
    std::wstring text =
        ShownWith(this, &agents_, L"lang-latin1", "[English]\r\n111=Gr\xF6\xDF" "e \xE9t\xE9 %PRINTER_NAME%\r\n");
    EXPECT_EQ(0u, text.find(L"Gr")) << Utf8(text);
    EXPECT_NE(std::wstring::npos, text.find(L'\xFFFD')) << Utf8(text);
    EXPECT_NE(std::wstring::npos, text.find(L"Orsanto")) << Utf8(text);
}

TEST_F(LanguageTest, VeryLongValuesAreCutSafely)
{
    for (size_t length : {1022u, 1023u, 1024u, 1025u, 4000u}) {
        SCOPED_TRACE(length);
        std::string value(length, 'v');
        value.replace(0, 5, "start");
        std::wstring text = ShownWith(this, &agents_, L"lang-long-" + std::to_wstring(length),
                                      "[English]\r\n111=" + value + "\r\n");
        EXPECT_EQ(0u, text.find(L"start"));
        EXPECT_LE(text.size(), 1023u);
        EXPECT_GE(text.size(), std::min<size_t>(length, 1000u));
        EXPECT_EQ(std::wstring::npos, text.find_first_not_of(L"startv"));
    }
}

TEST_F(LanguageTest, LongValuesWithMultiByteCharactersAndPlaceholders)
{
    std::string value;
    while (value.size() < 1500)
        value += "\xC3\xA4%PRINTER_NAME%\\n";
    std::wstring text = ShownWith(this, &agents_, L"lang-long-utf8", "[English]\r\n111=" + value + "\r\n");
    EXPECT_EQ(0u, text.find(L"\u00E4Orsanto\n\u00E4Orsanto\n")) << Utf8(text.substr(0, 40));
    EXPECT_LE(text.size(), 1023u);
}
