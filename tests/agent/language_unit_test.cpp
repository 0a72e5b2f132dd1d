// SelectLanguage and DecodeProfileText, in process.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "agent/messages.h"

namespace {

const wchar_t kUserKey[] = L"Software\\Orsanto";
const wchar_t kDefaultsKey[] = L"Software\\Orsanto\\Defaults";

void DeleteKey(HKEY root, const wchar_t* path)
{
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

void SetRaw(HKEY root, const wchar_t* path, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Language", 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void SetText(HKEY root, const wchar_t* path, const std::wstring& text)
{
    SetRaw(root, path, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}

void CreateKey(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
}

std::wstring Selected()
{
    wchar_t language[64];
    wmemset(language, L'#', 64);
    SelectLanguage(language);
    EXPECT_NE(nullptr, wmemchr(language, L'\0', 64)) << "not terminated";
    return language;
}

class LanguageSelectionTest : public testing::Test {
protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear()
    {
        DeleteKey(HKEY_CURRENT_USER, kUserKey);
        DeleteKey(HKEY_LOCAL_MACHINE, kDefaultsKey);
    }
};

// What the profile reader makes of the file's bytes: their decoding with
// the ANSI code page.
std::wstring AsProfileReaderSees(const std::string& bytes)
{
    int n = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

std::wstring Decoded(const std::wstring& read, size_t chars = 1024, bool* ok = nullptr)
{
    std::wstring text(chars + 8, L'#');
    bool result = DecodeProfileText(read.c_str(), &text[0], chars);
    if (ok)
        *ok = result;
    for (size_t i = chars; i < text.size(); ++i)
        EXPECT_EQ(L'#', text[i]) << "written past the buffer";
    EXPECT_NE(std::wstring::npos, text.find(L'\0')) << "not terminated";
    return text.c_str();
}

}  // namespace

TEST_F(LanguageSelectionTest, EnglishWithoutAnyKey)
{
    EXPECT_EQ(L"English", Selected());
}

TEST_F(LanguageSelectionTest, PerUserValueFirst)
{
    SetText(HKEY_CURRENT_USER, kUserKey, L"German");
    SetText(HKEY_LOCAL_MACHINE, kDefaultsKey, L"French");
    EXPECT_EQ(L"German", Selected());
}

TEST_F(LanguageSelectionTest, MachineDefaultOnlyWithoutThePerUserKey)
{
    SetText(HKEY_LOCAL_MACHINE, kDefaultsKey, L"French");
    EXPECT_EQ(L"French", Selected());
    CreateKey(HKEY_CURRENT_USER, kUserKey);
    EXPECT_EQ(L"English", Selected());
}

TEST_F(LanguageSelectionTest, EveryCallReadsTheRegistryAnew)
{
    SetText(HKEY_CURRENT_USER, kUserKey, L"German");
    EXPECT_EQ(L"German", Selected());
    SetText(HKEY_CURRENT_USER, kUserKey, L"Italian");
    EXPECT_EQ(L"Italian", Selected());
}

TEST_F(LanguageSelectionTest, ValuesAroundTheReadSize)
{
    struct Case {
        size_t chars;  // stored with a terminator
        bool used;
    } cases[] = {{1, true}, {62, true}, {63, true}, {64, false}, {65, false}, {300, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.chars);
        std::wstring name(c.chars, L'n');
        SetText(HKEY_CURRENT_USER, kUserKey, name);
        EXPECT_EQ(c.used ? name : std::wstring(L"English"), Selected());
    }
}

TEST_F(LanguageSelectionTest, UnterminatedValues)
{
    std::wstring name(63, L'u');
    SetRaw(HKEY_CURRENT_USER, kUserKey, REG_SZ, name.data(), 126);  // 126 bytes, no terminator
    EXPECT_EQ(name, Selected());
    name += L'u';
    SetRaw(HKEY_CURRENT_USER, kUserKey, REG_SZ, name.data(), 128);  // 128 bytes, no terminator
    EXPECT_EQ(L"English", Selected());
}

TEST_F(LanguageSelectionTest, EmptyValue)
{
    SetText(HKEY_CURRENT_USER, kUserKey, L"");
    std::wstring selected = Selected();
    EXPECT_TRUE(selected.empty() || selected == L"English");
}

TEST_F(LanguageSelectionTest, OtherTypesNeverOverrun)
{
    const DWORD number = 7;
    const std::wstring longBinary(100, L'b');
    SetRaw(HKEY_CURRENT_USER, kUserKey, REG_DWORD, &number, 4);
    EXPECT_LE(Selected().size(), 63u);
    SetRaw(HKEY_CURRENT_USER, kUserKey, REG_BINARY, longBinary.data(), 200);
    EXPECT_EQ(L"English", Selected());
    SetRaw(HKEY_CURRENT_USER, kUserKey, REG_QWORD, "\x01\0\0\0\0\0\0\0", 8);
    EXPECT_LE(Selected().size(), 63u);
}

TEST(LanguageDecodeTest, RecoversUtf8)
{
    std::wstring expected = L"Gr\u00F6\u00DFe \u20AC \u00C1\u00D0 \u65E5\u672C \u0416";
    int n = WideCharToMultiByte(CP_UTF8, 0, expected.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(n - 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, expected.c_str(), -1, &utf8[0], n, nullptr, nullptr);
    EXPECT_EQ(expected, Decoded(AsProfileReaderSees(utf8)));
}

TEST(LanguageDecodeTest, PlainAsciiStaysAsItIs)
{
    EXPECT_EQ(L"plain %PRINTER_NAME%\\n", Decoded(L"plain %PRINTER_NAME%\\n"));
    EXPECT_EQ(L"", Decoded(L""));
}

TEST(LanguageDecodeTest, BytesThatAreNotUtf8GetReplacementCharacters)
{
    std::wstring text = Decoded(AsProfileReaderSees("Gr\xF6\xDF" "e \xC3"));
    EXPECT_EQ(0u, text.find(L"Gr"));
    EXPECT_NE(std::wstring::npos, text.find(L'\xFFFD'));
    EXPECT_NE(std::wstring::npos, text.find(L"e "));
}

TEST(LanguageDecodeTest, TextTheAnsiCodePageCannotCarryIsTakenAsItIs)
{
    // What a reader that decoded the file itself (UTF-16 file, or a UTF-8
    // code page) gives.
    if (GetACP() == CP_UTF8)
        GTEST_SKIP() << "the ANSI code page is UTF-8";
    EXPECT_EQ(L"\u65E5\u672C\u8A9E", Decoded(L"\u65E5\u672C\u8A9E"));
}

TEST(LanguageDecodeTest, LongTextsStayInTheBuffer)
{
    for (size_t length : {1022u, 1023u}) {
        std::wstring read(length, L'a');
        bool ok = false;
        EXPECT_EQ(read, Decoded(read, 1024, &ok));
        EXPECT_TRUE(ok);
    }
    // A buffer smaller than the text: no overrun, a terminated (possibly
    // empty) result.
    for (size_t chars : {1u, 2u, 8u}) {
        std::wstring text = Decoded(std::wstring(20, L'b'), chars);
        EXPECT_LT(text.size(), chars);
    }
    std::wstring wide = Decoded(std::wstring(20, L'\u65E5'), 8);
    EXPECT_LT(wide.size(), 8u);
}
