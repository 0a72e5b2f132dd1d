// What tests and benchmarks both need around the real agent; see
// agent_support.h.
#include "agent_support.h"

#include <vector>

const wchar_t kTestMainKey[] = L"Software\\Orsanto";

namespace {

HKEY OpenMainKey(REGSAM access)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, kTestMainKey, 0, nullptr, 0, access, nullptr, &key, nullptr)
        != ERROR_SUCCESS)
        return nullptr;
    return key;
}

// One entry of the system's handle list (information class 16).
struct SystemHandleEntry {
    USHORT processId;
    USHORT creatorBackTraceIndex;
    UCHAR objectType;
    UCHAR attributes;
    USHORT handle;
    PVOID object;
    ULONG grantedAccess;
};

// Counts the process's handles in the system's handle list; Wine answers
// GetProcessHandleCount with 0 but keeps that list.
DWORD CountHandlesInSystemList(DWORD processId)
{
    using QueryFunction = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<QueryFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr)
        return 0;
    std::vector<BYTE> buffer(1 << 16);
    for (int attempt = 0; attempt < 10; ++attempt) {
        ULONG needed = 0;
        LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // the list does not fit yet
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return 0;
        ULONG entries = *reinterpret_cast<ULONG*>(buffer.data());
        const auto* entry = reinterpret_cast<const SystemHandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
        DWORD count = 0;
        for (ULONG i = 0; i < entries; ++i)
            count += entry[i].processId == static_cast<USHORT>(processId);
        return count;
    }
    return 0;
}

}  // namespace

// ---- Registry --------------------------------------------------------------

void DeleteRegistryTree(HKEY root, const wchar_t* path)
{
    RegDeleteTreeW(root, path);
    RegDeleteKeyW(root, path);
}

void DeleteMainKey()
{
    DeleteRegistryTree(HKEY_LOCAL_MACHINE, kTestMainKey);
}

bool ResetMainKey()
{
    DeleteMainKey();
    HKEY key = OpenMainKey(KEY_ALL_ACCESS);
    if (key == nullptr)
        return false;
    RegCloseKey(key);
    return true;
}

bool SetMainRaw(const wchar_t* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = OpenMainKey(KEY_SET_VALUE);
    if (key == nullptr)
        return false;
    LSTATUS status = RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetMainDword(const wchar_t* name, DWORD value)
{
    return SetMainRaw(name, REG_DWORD, &value, sizeof(value));
}

bool SetMainString(const wchar_t* name, const std::wstring& value)
{
    return SetMainRaw(name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool MainValueExists(const wchar_t* name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kTestMainKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

bool SetRegistryString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& value)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LSTATUS status = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

// ---- Files -------------------------------------------------------------------

std::wstring BinDir()
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring s(path, n);
    return s.substr(0, s.find_last_of(L'\\'));
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::wstring& path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

bool FileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// ---- Events ------------------------------------------------------------------

std::wstring UserName()
{
    wchar_t user[64];
    DWORD size = 64;
    if (!GetUserNameW(user, &size))
        user[0] = L'\0';
    return user;
}

std::wstring PersonalEventName()
{
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    return L"Global\\" + UserName() + L"_Orsanto_printevent_SESSION" + std::to_wstring(session);
}

bool EventExists(const std::wstring& name)
{
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    CloseHandle(event);
    return true;
}

bool SignalEvent(const std::wstring& name)
{
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (event == nullptr)
        return false;
    BOOL ok = SetEvent(event);
    CloseHandle(event);
    return ok != FALSE;
}

// ---- Processes ---------------------------------------------------------------

DWORD HandleCount(HANDLE process, DWORD processId)
{
    DWORD count = 0;
    if (!GetProcessHandleCount(process, &count) || count == 0)
        count = CountHandlesInSystemList(processId);
    return count;
}
