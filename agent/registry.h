// Registry reads that never trust the stored type or length.
#pragma once

#include <windows.h>

// Reads up to four bytes whatever their type (a string "1" stored as
// 31 00 00 00 gives 0x31). On any failure *value is left unchanged.
LSTATUS ReadRegistryNumber(HKEY key, const wchar_t* name, DWORD* value);

// Reads a string of at most bufferChars characters (bufferChars * 2 bytes)
// and terminates it. Stored data without a terminator that fills the whole
// buffer does not fit and fails with ERROR_MORE_DATA. On any failure the
// buffer holds an empty string.
// type, when given, receives the stored type.
LSTATUS ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, size_t bufferChars,
                           DWORD* type = nullptr);
