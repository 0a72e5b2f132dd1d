// ReadRegistryNumber and ReadRegistryString, which every setting and
// hand-off read goes through, on a scratch key: every type, sizes
// around the read size, unterminated strings.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "agent/registry.h"

namespace {

const wchar_t kScratchKey[] = L"Software\\OrsantoAgentRegistryTest";

class RegistryTest : public testing::Test {
protected:
    void SetUp() override
    {
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                                                 nullptr, &key_, nullptr));
    }
    void TearDown() override
    {
        RegCloseKey(key_);
        RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
        RegDeleteKeyW(HKEY_CURRENT_USER, kScratchKey);
    }
    void Set(DWORD type, const std::string& bytes)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key_, L"v", 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                                static_cast<DWORD>(bytes.size())));
    }
    void SetText(DWORD type, const std::wstring& chars)  // exactly these characters, no terminator added
    {
        Set(type, std::string(reinterpret_cast<const char*>(chars.data()), chars.size() * 2));
    }
    HKEY key_ = nullptr;
};

std::string Bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values)
        s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace

TEST_F(RegistryTest, NumberReadsUpToFourBytesOfAnyType)
{
    struct Case {
        const char* name;
        DWORD type;
        std::string bytes;
        LSTATUS status;
        DWORD value;  // 0xAAAAAAAA: left unchanged
    } cases[] = {
        {"dword", REG_DWORD, Bytes({0x78, 0x56, 0x34, 0x12}), ERROR_SUCCESS, 0x12345678},
        {"dword 0", REG_DWORD, Bytes({0, 0, 0, 0}), ERROR_SUCCESS, 0},
        {"string 1", REG_SZ, Bytes({'1', 0, 0, 0}), ERROR_SUCCESS, 0x31},
        {"string 12", REG_SZ, Bytes({'1', 0, '2', 0, 0, 0}), ERROR_MORE_DATA, 0xAAAAAAAA},
        {"expand string", REG_EXPAND_SZ, Bytes({'7', 0}), ERROR_SUCCESS, 0x37},
        {"binary 1 byte", REG_BINARY, Bytes({0x05}), ERROR_SUCCESS, 5},
        {"binary 2 bytes", REG_BINARY, Bytes({0x01, 0x02}), ERROR_SUCCESS, 0x0201},
        {"binary 3 bytes", REG_BINARY, Bytes({0x01, 0x02, 0x03}), ERROR_SUCCESS, 0x030201},
        {"binary 5 bytes", REG_BINARY, Bytes({1, 0, 0, 0, 0}), ERROR_MORE_DATA, 0xAAAAAAAA},
        {"no data", REG_BINARY, std::string(), ERROR_SUCCESS, 0},
        {"qword", REG_QWORD, Bytes({1, 0, 0, 0, 0, 0, 0, 0}), ERROR_MORE_DATA, 0xAAAAAAAA},
        {"big endian", REG_DWORD_BIG_ENDIAN, Bytes({0, 0, 0, 1}), ERROR_SUCCESS, 0x01000000},
        {"multi string", REG_MULTI_SZ, Bytes({'a', 0, 0, 0}), ERROR_SUCCESS, 0x61},
        {"none", REG_NONE, Bytes({9, 0, 0, 0}), ERROR_SUCCESS, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Set(c.type, c.bytes);
        DWORD value = 0xAAAAAAAA;
        EXPECT_EQ(c.status, ReadRegistryNumber(key_, L"v", &value));
        EXPECT_EQ(c.value, value);
    }
}

TEST_F(RegistryTest, NumberOfAMissingValueIsLeftUnchanged)
{
    DWORD value = 7;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRegistryNumber(key_, L"missing", &value));
    EXPECT_EQ(7u, value);
}

TEST_F(RegistryTest, StringsAroundTheBufferSize)
{
    const size_t kChars = 8;  // the buffer: 16 bytes
    struct Case {
        const char* name;
        DWORD type;
        std::wstring stored;  // stored exactly, terminator only if written here
        LSTATUS status;
        const wchar_t* value;
    } cases[] = {
        {"short", REG_SZ, std::wstring(L"abc", 4), ERROR_SUCCESS, L"abc"},
        {"7 and terminator: fills the buffer", REG_SZ, std::wstring(L"abcdefg", 8), ERROR_SUCCESS, L"abcdefg"},
        {"8 and terminator", REG_SZ, std::wstring(L"abcdefgh", 9), ERROR_MORE_DATA, L""},
        {"8 unterminated: fills the buffer", REG_SZ, L"abcdefgh", ERROR_MORE_DATA, L""},
        {"7 unterminated", REG_SZ, L"abcdefg", ERROR_SUCCESS, L"abcdefg"},
        {"1 unterminated", REG_SZ, L"a", ERROR_SUCCESS, L"a"},
        {"empty with terminator", REG_SZ, std::wstring(1, L'\0'), ERROR_SUCCESS, L""},
        {"no data", REG_SZ, L"", ERROR_SUCCESS, L""},
        {"long", REG_SZ, std::wstring(100, L'z'), ERROR_MORE_DATA, L""},
        {"expand string", REG_EXPAND_SZ, std::wstring(L"%x%", 4), ERROR_SUCCESS, L"%x%"},
        {"multi string", REG_MULTI_SZ, std::wstring(L"a\0b\0", 5), ERROR_SUCCESS, L"a"},
        {"binary text", REG_BINARY, L"bin", ERROR_SUCCESS, L"bin"},
        {"dword", REG_DWORD, std::wstring(L"BA"), ERROR_SUCCESS, L"BA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetText(c.type, c.stored);
        wchar_t buffer[kChars + 4];
        wmemset(buffer, L'#', ARRAYSIZE(buffer));
        EXPECT_EQ(c.status, ReadRegistryString(key_, L"v", buffer, kChars));
        EXPECT_STREQ(c.value, buffer);
        for (size_t i = kChars; i < ARRAYSIZE(buffer); ++i)
            EXPECT_EQ(L'#', buffer[i]) << "written past the buffer at " << i;
    }
}

TEST_F(RegistryTest, StringWithAnOddByteCount)
{
    Set(REG_SZ, Bytes({'a', 0, 'b', 0, 'c'}));
    wchar_t buffer[8];
    EXPECT_EQ(ERROR_SUCCESS, ReadRegistryString(key_, L"v", buffer, 8));
    EXPECT_STREQ(L"ab", buffer);
}

TEST_F(RegistryTest, StringOfAMissingValueIsEmpty)
{
    wchar_t buffer[8] = L"old";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, ReadRegistryString(key_, L"missing", buffer, 8));
    EXPECT_STREQ(L"", buffer);
}

TEST_F(RegistryTest, PathSizedStrings)
{
    // 259 characters and the terminator fill a 260-character buffer exactly.
    std::wstring longest(259, L'p');
    SetText(REG_SZ, longest + L'\0');
    wchar_t buffer[MAX_PATH];
    EXPECT_EQ(ERROR_SUCCESS, ReadRegistryString(key_, L"v", buffer, MAX_PATH));
    EXPECT_EQ(longest, buffer);
    SetText(REG_SZ, longest + L'p');  // 260 unterminated
    EXPECT_EQ(ERROR_MORE_DATA, ReadRegistryString(key_, L"v", buffer, MAX_PATH));
    EXPECT_STREQ(L"", buffer);
}
