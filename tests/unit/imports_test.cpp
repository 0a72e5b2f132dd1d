// What the agent's executable loads at start: user32 must not be among it
// (it loads on first use, after the events exist; see the delay-load list).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "agent_support.h"

namespace {

std::wstring AgentPath()
{
    return BinDir() + L"\\orsanto-agent.exe";
}

// Names of the libraries in the import table, lower case; the table is read
// from the executable mapped as an image without loading what it imports.
std::vector<std::string> StartImports(const std::wstring& path)
{
    std::vector<std::string> names;
    HMODULE image = LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (image == nullptr)
        return names;
    const BYTE* base = reinterpret_cast<const BYTE*>(image);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress != 0) {
        const auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
        for (; entry->Name != 0; ++entry) {
            std::string name = reinterpret_cast<const char*>(base + entry->Name);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            names.push_back(name);
        }
    }
    FreeLibrary(image);
    return names;
}

}  // namespace

TEST(AgentImportsTest, User32IsNotLoadedAtStart)
{
    std::vector<std::string> imports = StartImports(AgentPath());
    ASSERT_FALSE(imports.empty()) << "the import table could not be read";
    EXPECT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll"), imports.end());
    EXPECT_EQ(std::find(imports.begin(), imports.end(), "user32.dll"), imports.end())
        << "a user32 function the agent calls is missing from cmake/user32-delayed.def";
}
