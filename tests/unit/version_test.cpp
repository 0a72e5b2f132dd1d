// The agent's version block and manifest, read from the built executable.
#include <windows.h>
#include <winver.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent_support.h"

namespace {

std::wstring AgentPath()
{
    return BinDir() + L"\\orsanto-agent.exe";
}

std::vector<BYTE> VersionInfo()
{
    DWORD size = GetFileVersionInfoSizeW(AgentPath().c_str(), nullptr);
    std::vector<BYTE> info(size);
    if (size == 0 || !GetFileVersionInfoW(AgentPath().c_str(), 0, size, info.data()))
        info.clear();
    return info;
}

std::wstring StringValue(std::vector<BYTE>& info, const wchar_t* name)
{
    wchar_t* value = nullptr;
    UINT length = 0;
    std::wstring query = std::wstring(L"\\StringFileInfo\\000004b0\\") + name;
    if (!VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
        return L"(missing)";
    return value;
}

}  // namespace

TEST(VersionBlock, IdentifiesTheAgent)
{
    std::vector<BYTE> info = VersionInfo();
    ASSERT_FALSE(info.empty());
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(4, 3), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, 10), fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(4, 3), fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, 10), fixed->dwProductVersionLS);

    // A language-neutral, Unicode string table.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    EXPECT_EQ(0, translation[0]);
    EXPECT_EQ(1200, translation[1]);
    EXPECT_EQ(L"Virtual Printer Agent", StringValue(info, L"FileDescription"));
    EXPECT_EQ(L"3.4.1", StringValue(info, L"FileVersion"));
    EXPECT_EQ(L"3.4.1", StringValue(info, L"ProductVersion"));
    EXPECT_EQ(L"Orsanto", StringValue(info, L"ProductName"));
}

TEST(VersionBlock, CarriesAManifestWithAnEmptyAssembly)
{
    HMODULE agent = LoadLibraryExW(AgentPath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, agent);
    HRSRC resource = FindResourceW(agent, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
    ASSERT_NE(nullptr, resource);
    const char* data = static_cast<const char*>(LockResource(LoadResource(agent, resource)));
    std::string manifest(data, SizeofResource(agent, resource));
    FreeLibrary(agent);
    size_t open = manifest.find("<assembly");
    ASSERT_NE(std::string::npos, open);
    size_t openEnd = manifest.find('>', open);
    size_t close = manifest.find("</assembly>");
    ASSERT_NE(std::string::npos, close);
    EXPECT_EQ(std::string::npos, manifest.substr(openEnd + 1, close - openEnd - 1).find('<')) << manifest;
}
