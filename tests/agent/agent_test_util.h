// Helpers of the agent core's end-to-end tests, on top of the harness.
#pragma once

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

// English texts of the messages the tests provoke.
extern const wchar_t kNotConfiguredText[];  // 111, placeholders unreplaced
extern const wchar_t kFileMissingText[];    // 112, placeholders unreplaced
extern const wchar_t kJobInfoFailedText[];  // 61445
extern const wchar_t kLogOpenFailedText[];  // 61441, path filled in

std::wstring CurrentUserName();

// "<text>\nError # <code>: <system text>", as ReportError composes it.
std::wstring ErrorReportText(const std::wstring& text, DWORD code);

// The English text of 111 and 112 as shown: placeholders replaced.
std::wstring Shown(const std::wstring& text);

// Message boxes of the agent ("Orsanto agent") now on the screen.
std::vector<HWND> MessageBoxes();
// Waits until count boxes are shown at once.
bool WaitForMessageBoxes(size_t count, DWORD timeoutMs = 10000);

// Signals the personal event (modern naming) with no hand-off value: the job
// thread reports 61445 with error 2.
void SignalPersonalJob();

// Hands a job to the agent whose delivery settings lack a target window:
// the job thread reports 111 (not configured).
void HandOffUnconfiguredJob(const std::wstring& folder);
// Hands a job to the agent without a client application: 112.
void HandOffJobWithoutClient(const std::wstring& folder);

// Writes "orst.lng" (bytes as given) into folder.
void WriteLanguageFile(const std::wstring& folder, const std::string& bytes);

// Sets or removes "Language" under HKCU\Software\Orsanto and
// HKLM\Software\Orsanto\Defaults; the keys themselves too.
void SetUserLanguage(const std::wstring& language);
void SetDefaultLanguage(const std::wstring& language);
void SetLanguageRaw(HKEY root, const wchar_t* path, DWORD type, const void* data, DWORD size);
void DeleteLanguageKeys();  // HKCU\Software\Orsanto and ...\Defaults

DWORD ExitCodeOf(const AgentProcess& agent);

// Fixture: also clears the language keys before and after each test.
class AgentCoreTest : public AgentTest {
protected:
    void SetUp() override;
    void TearDown() override;
};
