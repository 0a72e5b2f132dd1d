// Helpers of the agent core's end-to-end tests.
#include "agent_test_util.h"

const wchar_t kNotConfiguredText[] =
    L"The %PRINTER_NAME% printer has not been properly configured. Please re-install the %PRINTER_NAME% software.";
const wchar_t kFileMissingText[] =
    L"The %PRINTER_NAME% printer has not been properly configured. A required file could not be located. "
    L"Please contact support.";
const wchar_t kJobInfoFailedText[] = L"Failed to get print job info.";
const wchar_t kLogOpenFailedText[] = L"Failed to open the log file:\nC:\\vp_log.txt";

namespace {

const wchar_t kUserKey[] = L"Software\\Orsanto";
const wchar_t kDefaultsKey[] = L"Software\\Orsanto\\Defaults";

BOOL CALLBACK CollectBox(HWND window, LPARAM parameter)
{
    wchar_t className[32] = L"";
    wchar_t title[64] = L"";
    GetClassNameW(window, className, ARRAYSIZE(className));
    GetWindowTextW(window, title, ARRAYSIZE(title));
    if (wcscmp(className, L"#32770") == 0 && wcscmp(title, L"Orsanto agent") == 0)
        reinterpret_cast<std::vector<HWND>*>(parameter)->push_back(window);
    return TRUE;
}

void HandOffJob(const std::wstring& folder)
{
    std::wstring job = WriteJobFile(folder, L"job.ini", 42);
    HandOff(CurrentUserName().c_str(), job, PersonalEventName());
}

}  // namespace

std::wstring CurrentUserName()
{
    wchar_t user[64];
    DWORD size = ARRAYSIZE(user);
    if (!GetUserNameW(user, &size))
        return L"";
    return user;
}

std::wstring ErrorReportText(const std::wstring& text, DWORD code)
{
    wchar_t system[512] = L"";
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, system, ARRAYSIZE(system), nullptr) == 0)
        system[0] = L'\0';
    return text + L"\nError # " + std::to_wstring(static_cast<int>(code)) + L": " + system;
}

std::wstring Shown(const std::wstring& text)
{
    std::wstring out = text;
    const std::wstring placeholder = L"%PRINTER_NAME%";
    for (size_t at; (at = out.find(placeholder)) != std::wstring::npos;)
        out.replace(at, placeholder.size(), L"Orsanto");
    return out;
}

std::vector<HWND> MessageBoxes()
{
    std::vector<HWND> boxes;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

bool WaitForMessageBoxes(size_t count, DWORD timeoutMs)
{
    return WaitUntil([&] { return MessageBoxes().size() >= count; }, timeoutMs);
}

void SignalPersonalJob()
{
    EXPECT_TRUE(SignalEvent(PersonalEventName())) << "no agent waits on the personal event";
}

void HandOffUnconfiguredJob(const std::wstring& folder)
{
    SetMainString(L"Client Application", L"C:\\no-such-client.exe");
    SetMainDword(L"Transfer Mode", 1);
    HandOffJob(folder);
}

void HandOffJobWithoutClient(const std::wstring& folder)
{
    HandOffJob(folder);
}

void WriteLanguageFile(const std::wstring& folder, const std::string& bytes)
{
    WriteFileBytes(folder + L"\\orst.lng", bytes);
}

void SetLanguageRaw(HKEY root, const wchar_t* path, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExW(key, L"Language", 0, type, static_cast<const BYTE*>(data), size));
    RegCloseKey(key);
}

void SetUserLanguage(const std::wstring& language)
{
    SetRegistryString(HKEY_CURRENT_USER, kUserKey, L"Language", language);
}

void SetDefaultLanguage(const std::wstring& language)
{
    SetRegistryString(HKEY_LOCAL_MACHINE, kDefaultsKey, L"Language", language);
}

void DeleteLanguageKeys()
{
    DeleteRegistryTree(HKEY_CURRENT_USER, kUserKey);
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kDefaultsKey);
}

DWORD ExitCodeOf(const AgentProcess& agent)
{
    DWORD code = 0xDEADBEEF;
    GetExitCodeProcess(agent.process, &code);
    return code;
}

void AgentCoreTest::SetUp()
{
    AgentTest::SetUp();
    DeleteLanguageKeys();
}

void AgentCoreTest::TearDown()
{
    AgentTest::TearDown();
    DeleteLanguageKeys();
    DeleteLog();
}
