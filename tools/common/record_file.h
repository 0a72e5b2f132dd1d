// Record files the test programs append to: several processes may write one
// file at once, and every line must arrive whole.
#pragma once

#include <windows.h>

// Appends bytes (one or more whole lines) at the end of path, creating the
// file if needed. Writers take turns on a named mutex: concurrent appends of
// separate processes can overwrite each other under Wine. False when the
// file could not be opened or written.
bool AppendToRecordFile(const wchar_t* path, const char* bytes, DWORD size);
