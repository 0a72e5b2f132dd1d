// Bounded text helpers. Every result is terminated; a result that does not
// fit is reported by the return value, so callers never use a cut path.
#pragma once

#include <windows.h>

bool CopyText(wchar_t* dst, size_t dstChars, const wchar_t* src);
bool AppendText(wchar_t* dst, size_t dstChars, const wchar_t* src);
bool FormatText(wchar_t* dst, size_t dstChars, const wchar_t* format, ...);
bool IsEmptyText(const wchar_t* text);

// Replaces "%PRINTER_NAME%" with the printer name, then the two characters
// backslash-n with a newline. The result never grows, so it always fits a
// buffer as large as the input.
void SubstitutePlaceholders(const wchar_t* text, wchar_t* out, size_t outChars);

// The directory of path (up to and including its last backslash) followed by
// fileName.
bool ReplaceFileName(const wchar_t* path, const wchar_t* fileName, wchar_t* out, size_t outChars);

// The full path of fileName beside the agent's own executable; false when
// the executable path or the result does not fit outChars.
bool GetAgentSiblingPath(const wchar_t* fileName, wchar_t* out, size_t outChars);
