// What tests and benchmarks both need around the real agent, with no test
// framework: the main registry key, files, the events, handle counts.
#pragma once

#include <windows.h>

#include <string>

// ---- Registry: HKLM\Software\Orsanto -------------------------------------

extern const wchar_t kTestMainKey[];  // Software\Orsanto

void DeleteMainKey();
bool ResetMainKey();  // deleted and created empty
bool SetMainRaw(const wchar_t* name, DWORD type, const void* data, DWORD size);
bool SetMainDword(const wchar_t* name, DWORD value);
bool SetMainString(const wchar_t* name, const std::wstring& value);
bool MainValueExists(const wchar_t* name);
bool SetRegistryString(HKEY root, const wchar_t* path, const wchar_t* name, const std::wstring& value);
void DeleteRegistryTree(HKEY root, const wchar_t* path);

// ---- Files ---------------------------------------------------------------

// The folder of the running program, where every built program lies.
std::wstring BinDir();
bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);

// ---- Events ----------------------------------------------------------------

std::wstring UserName();  // of this account
std::wstring PersonalEventName();  // Global\<user>_Orsanto_printevent_SESSION<n>
bool EventExists(const std::wstring& name);
// Opens (never creates), signals and closes the event.
bool SignalEvent(const std::wstring& name);

// ---- Processes -------------------------------------------------------------

// The process's handle count; counted in the system's handle list where
// GetProcessHandleCount gives 0 (as under Wine).
DWORD HandleCount(HANDLE process, DWORD processId);
