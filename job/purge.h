// Removes jobs the spooler marks as printed from the printer's queue.
#pragma once

#include <windows.h>
#include <winspool.h>

// The four spooler calls the purge makes. The product binds them to
// winspool; tests bind an in-memory queue.
struct SpoolerApi {
    BOOL(WINAPI* openPrinter)(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    BOOL(WINAPI* enumJobs)(HANDLE printer, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE jobs, DWORD size,
                           LPDWORD needed, LPDWORD returned);
    BOOL(WINAPI* setJob)(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    BOOL(WINAPI* closePrinter)(HANDLE printer);
};

extern SpoolerApi g_spooler;

constexpr DWORD kPurgePassJobs = 256;

// Every failure is silent.
void PurgePrintedJobs();
