// What the stand-in auxiliary programs share: the job path argument, their
// record file and their settings file beside them.
#pragma once

#include <windows.h>

constexpr size_t kStandInPathChars = 1024;

// Everything after the program name on the command line, as the agent
// passes it (the job path, unquoted, may hold spaces).
const wchar_t* JobPathArgument();

// Appends "<what>\t<own path>\t<argument>\t<process id>" as one UTF-8 line
// to "<own file name>.log" beside the program.
void AppendRecord(const wchar_t* what);

// A value of this program's section (its file name without extension) in
// "stand-ins.ini" beside it; empty when absent.
void ReadSetting(const wchar_t* key, wchar_t* value, DWORD valueChars);
int ReadIntSetting(const wchar_t* key, int fallback);

// "Delay" (milliseconds), then as long as "<job path><HoldSuffix>" exists
// (at most ten minutes), so a test can keep a job at this step.
void WaitAsConfigured();
