// The activity log: one UTF-16LE record per event, appended to a file that
// the agents of all Windows sessions share.
#include "agent/activity_log.h"

#include <stdarg.h>
#include <wchar.h>

#include <atomic>

#include <strsafe.h>

#include "agent/constants.h"
#include "agent/open_security.h"
#include "agent/text.h"

namespace {

// The handle and the lock that keeps a record's write and the close apart.
SRWLOCK g_logLock = SRWLOCK_INIT;
HANDLE g_logHandle = INVALID_HANDLE_VALUE;
// Lets callers skip formatting while no log is open, without the lock.
std::atomic<bool> g_logOpen{false};

// Every process that writes the log (the agents of all sessions) takes this
// mutex for the creation of the file with its byte-order mark and for each
// record, so records never overlap: append-only access alone does not keep
// them apart everywhere (Wine loses and cuts records of concurrent writers).
// A writer that holds the mutex longer than this (hung, or holding it on
// purpose: it is open to every account) is not waited for again; records are
// then only appended.
const DWORD kLogMutexTimeout = 2000;
std::atomic<bool> g_waitForMutex{true};
HANDLE g_logMutex = nullptr;

const wchar_t kRecordEnd[] = L"\r\n";
const BYTE kByteOrderMark[] = {0xFF, 0xFE};

// Creates or opens the mutex, open to every account like the events.
HANDLE OpenLogMutex()
{
    OpenSecurity security;
    BuildOpenSecurity(&security);
    HANDLE mutex = CreateMutexW(&security.attributes, FALSE, kLogMutexName);
    if (mutex == nullptr)
        mutex = OpenMutexW(SYNCHRONIZE, FALSE, kLogMutexName);
    if (mutex == nullptr)
        mutex = CreateMutexW(&security.attributes, FALSE, kLocalLogMutexName);
    return mutex;
}

// True when the mutex is now held and must be released.
bool LockLogAcrossProcesses()
{
    if (g_logMutex == nullptr || !g_waitForMutex)
        return false;
    DWORD result = WaitForSingleObject(g_logMutex, kLogMutexTimeout);
    if (result == WAIT_TIMEOUT)
        g_waitForMutex = false;
    return result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
}

void UnlockLogAcrossProcesses(bool locked)
{
    if (locked)
        ReleaseMutex(g_logMutex);
}

}  // namespace

bool OpenActivityLog()
{
    AcquireSRWLockExclusive(&g_logLock);
    if (g_logMutex == nullptr)
        g_logMutex = OpenLogMutex();
    ReleaseSRWLockExclusive(&g_logLock);

    // Append-only access: each record goes to the end of the file in one
    // write; the mutex keeps the writes of several processes apart.
    bool locked = LockLogAcrossProcesses();
    HANDLE file = CreateFileW(kLogFilePath,
                              FILE_APPEND_DATA | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr,                   // security attributes
                              OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH,
                              nullptr);                  // template file
    if (file == INVALID_HANDLE_VALUE) {
        UnlockLogAcrossProcesses(locked);
        return false;
    }
    if (GetLastError() == 0) {  // the file is new
        DWORD written = 0;
        WriteFile(file, kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr);
    }
    UnlockLogAcrossProcesses(locked);
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
        bool locked = LockLogAcrossProcesses();
        DWORD written = 0;
        WriteFile(g_logHandle, line, static_cast<DWORD>(chars * sizeof(wchar_t)), &written, nullptr);
        UnlockLogAcrossProcesses(locked);
    }
    ReleaseSRWLockExclusive(&g_logLock);
}

// A printf-style front for the bounded platform formatter, which takes a va_list.
void WriteLogLineF(const wchar_t* format, ...)  // NOLINT(cert-dcl50-cpp)
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
