// User messages: logged, then shown in a message box (translated through the
// language file) or, in message mode, broadcast to all top-level windows.
#pragma once

#include <windows.h>

#include "agent/constants.h"

// Reports a fixed, translatable text. Returns the message box result, or 1
// when the message was broadcast.
int ReportMessage(const wchar_t* text, UINT identifier, HWND owner = nullptr, UINT style = kMessageBoxStyle);

// Reports a failed system call with the system's text for errorCode (the
// thread's last error when errorCode is 0). Returns 0, reporting nothing,
// when there is no error at all.
int ReportError(const wchar_t* text, UINT identifier, DWORD errorCode, HWND owner = nullptr,
                UINT style = kMessageBoxStyle);

// The translation of identifier in the selected language of "orst.lng"
// beside the agent, with no substitutions applied; false when there is none.
bool LookUpLocalizedText(UINT identifier, wchar_t* text, size_t textChars);

// The language name: "Language" of the per-user key if that key exists, else
// of the machine's default key, else "English". language holds
// kLanguageNameChars characters.
void SelectLanguage(wchar_t* language);

// Recovers the UTF-8 text of a value that the profile reader decoded with
// the ANSI code page. A value the reader already decoded (it holds
// characters the ANSI code page cannot carry) is taken as it is.
bool DecodeProfileText(const wchar_t* read, wchar_t* text, size_t textChars);
