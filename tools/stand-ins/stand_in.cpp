// Shared helpers of the stand-in auxiliary programs.
#include "stand_in.h"

#include <wchar.h>

#include "record_file.h"

namespace {

constexpr wchar_t kSettingsFileName[] = L"stand-ins.ini";
constexpr DWORD kHoldLimitMs = 10 * 60 * 1000;

void OwnPath(wchar_t* path)
{
    DWORD n = GetModuleFileNameW(nullptr, path, kStandInPathChars);
    if (n == 0 || n >= kStandInPathChars)
        path[0] = L'\0';
}

// The settings file beside the program and the program's section name.
void SettingsLocation(wchar_t* file, wchar_t* section)
{
    wchar_t own[kStandInPathChars];
    OwnPath(own);
    wchar_t* slash = wcsrchr(own, L'\\');
    const wchar_t* name = slash ? slash + 1 : own;
    lstrcpynW(section, name, MAX_PATH);
    if (wchar_t* dot = wcsrchr(section, L'.'))
        *dot = L'\0';
    if (slash)
        slash[1] = L'\0';
    else
        own[0] = L'\0';
    _snwprintf(file, kStandInPathChars, L"%ls%ls", own, kSettingsFileName);
    file[kStandInPathChars - 1] = L'\0';
}

}  // namespace

const wchar_t* JobPathArgument()
{
    const wchar_t* p = GetCommandLineW();
    if (*p == L'"') {
        for (++p; *p != L'\0' && *p != L'"'; ++p) {
        }
        if (*p == L'"')
            ++p;
    } else {
        while (*p != L'\0' && *p != L' ' && *p != L'\t')
            ++p;
    }
    while (*p == L' ' || *p == L'\t')
        ++p;
    return p;
}

void AppendRecord(const wchar_t* what)
{
    wchar_t own[kStandInPathChars];
    OwnPath(own);
    wchar_t logPath[kStandInPathChars + 8];
    _snwprintf(logPath, ARRAYSIZE(logPath), L"%ls.log", own);
    logPath[ARRAYSIZE(logPath) - 1] = L'\0';

    static wchar_t line[3 * kStandInPathChars];
    _snwprintf(line, ARRAYSIZE(line), L"%ls\t%ls\t%ls\t%lu\r\n", what, own, JobPathArgument(),
               GetCurrentProcessId());
    line[ARRAYSIZE(line) - 1] = L'\0';
    static char bytes[4 * ARRAYSIZE(line)];
    int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, sizeof(bytes), nullptr, nullptr);
    if (size <= 1)
        return;

    AppendToRecordFile(logPath, bytes, static_cast<DWORD>(size - 1));
}

void ReadSetting(const wchar_t* key, wchar_t* value, DWORD valueChars)
{
    wchar_t file[kStandInPathChars];
    wchar_t section[MAX_PATH];
    SettingsLocation(file, section);
    GetPrivateProfileStringW(section, key, L"", value, valueChars, file);
}

int ReadIntSetting(const wchar_t* key, int fallback)
{
    wchar_t file[kStandInPathChars];
    wchar_t section[MAX_PATH];
    SettingsLocation(file, section);
    return static_cast<int>(GetPrivateProfileIntW(section, key, fallback, file));
}

void WaitAsConfigured()
{
    int delay = ReadIntSetting(L"Delay", 0);
    if (delay > 0)
        Sleep(static_cast<DWORD>(delay));

    wchar_t suffix[MAX_PATH];
    ReadSetting(L"HoldSuffix", suffix, ARRAYSIZE(suffix));
    if (suffix[0] == L'\0')
        return;
    wchar_t holdPath[kStandInPathChars + MAX_PATH];
    _snwprintf(holdPath, ARRAYSIZE(holdPath), L"%ls%ls", JobPathArgument(), suffix);
    holdPath[ARRAYSIZE(holdPath) - 1] = L'\0';
    ULONGLONG deadline = GetTickCount64() + kHoldLimitMs;
    while (GetFileAttributesW(holdPath) != INVALID_FILE_ATTRIBUTES && GetTickCount64() < deadline)
        Sleep(50);
}
