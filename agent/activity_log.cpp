// The activity log: one UTF-16LE record per event, appended to a file that
// the agents of all Windows sessions share.
#include "agent/activity_log.h"

#include <stdarg.h>
#include <wchar.h>

#include <atomic>

#include <strsafe.h>

#include "agent/constants.h"
#include "agent/text.h"

namespace {

// The handle and the lock that keeps a record's write and the close apart.
SRWLOCK g_logLock = SRWLOCK_INIT;
HANDLE g_logHandle = INVALID_HANDLE_VALUE;
// Lets callers skip formatting while no log is open, without the lock.
std::atomic<bool> g_logOpen{false};

const wchar_t kRecordEnd[] = L"\r\n";
const BYTE kByteOrderMark[] = {0xFF, 0xFE};

}  // namespace

bool OpenActivityLog()
{
    // Append-only access: each record goes to the end of the file in one
    // write, so records of agents in other sessions never overlap.
    HANDLE file = CreateFileW(kLogFilePath,
                              FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr,                   // security attributes
                              OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                              nullptr);                  // template file
    if (file == INVALID_HANDLE_VALUE)
        return false;
    if (GetLastError() == 0) {  // the file is new
        DWORD written = 0;
        WriteFile(file, kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr);
    }
    AcquireSRWLockExclusive(&g_logLock);
    g_logHandle = file;
    g_logOpen = true;
    ReleaseSRWLockExclusive(&g_logLock);
    return true;
}

size_t FormatLogRecord(const SYSTEMTIME& time, const wchar_t* text, wchar_t* line, size_t lineChars)
{
    const size_t endChars = ARRAYSIZE(kRecordEnd) - 1;
    // Room for the CR LF is kept back, so a long text is cut before it.
    size_t bodyChars = lineChars - endChars;
    FormatText(line, bodyChars, L"%d-%02d-%02d %02d:%02d:%02d.%03d:\t%ls",
               time.wYear, time.wMonth, time.wDay,
               time.wHour, time.wMinute, time.wSecond, time.wMilliseconds, text);
    size_t chars = wcslen(line);
    wmemcpy(line + chars, kRecordEnd, endChars + 1);
    return chars + endChars;
}

void WriteLogLine(const wchar_t* text)
{
    if (!g_logOpen)
        return;
    wchar_t line[kTextChars];
    SYSTEMTIME now;
    GetSystemTime(&now);
    size_t chars = FormatLogRecord(now, text, line, ARRAYSIZE(line));

    AcquireSRWLockExclusive(&g_logLock);
    if (g_logHandle != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(g_logHandle, line, static_cast<DWORD>(chars * sizeof(wchar_t)), &written, nullptr);
    }
    ReleaseSRWLockExclusive(&g_logLock);
}

void WriteLogLineF(const wchar_t* format, ...)
{
    if (!g_logOpen)
        return;
    wchar_t text[kTextChars];
    va_list args;
    va_start(args, format);
    StringCchVPrintfW(text, ARRAYSIZE(text), format, args);
    va_end(args);
    WriteLogLine(text);
}

void CloseActivityLog()
{
    AcquireSRWLockExclusive(&g_logLock);
    if (g_logHandle != INVALID_HANDLE_VALUE) {
        CloseHandle(g_logHandle);
        g_logHandle = INVALID_HANDLE_VALUE;
        g_logOpen = false;
    }
    ReleaseSRWLockExclusive(&g_logLock);
}
