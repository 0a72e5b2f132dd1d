// Removes jobs the spooler marks as printed from the printer's queue.
#pragma once

#include <windows.h>
#include <winspool.h>

// The four spooler calls the purge makes. The agent binds them to winspool
// once its events exist (loading the spooler library is the largest part of
// a start-up otherwise); tests bind an in-memory queue. While nothing is
// bound the purge does nothing.
struct SpoolerApi {
    BOOL(WINAPI* openPrinter)(LPWSTR name, LPHANDLE printer, LPPRINTER_DEFAULTSW defaults);
    BOOL(WINAPI* enumJobs)(HANDLE printer, DWORD firstJob, DWORD jobCount, DWORD level, LPBYTE jobs, DWORD size,
                           LPDWORD needed, LPDWORD returned);
    BOOL(WINAPI* setJob)(HANDLE printer, DWORD jobId, DWORD level, LPBYTE job, DWORD command);
    BOOL(WINAPI* closePrinter)(HANDLE printer);
};

extern SpoolerApi g_spooler;

// Binds g_spooler to winspool; called by the main thread before the first
// job thread starts. False, leaving it unbound, if the library is missing.
bool BindSpooler();

constexpr DWORD kPurgePassJobs = 256;

// Every failure is silent.
void PurgePrintedJobs();
