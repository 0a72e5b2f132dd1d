// Drives the real orsanto-agent.exe as a process: its folder, the registry,
// the log, the events, its message boxes and its notification broadcasts.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "agent_support.h"

#include <initializer_list>
#include <string>
#include <vector>

// ---- Files and folders ----------------------------------------------------

// A fresh, empty folder C:\orsanto-tests\<name> (removed first if present).
std::wstring MakeTestFolder(const std::wstring& name);

// Copies a built program (file name in BinDir) into folder, optionally
// under another name; returns the copy's path.
std::wstring CopyProgram(const std::wstring& folder, const std::wstring& fileName,
                         const std::wstring& asName = L"");

// A fresh folder with a copy of orsanto-agent.exe and of the given programs.
std::wstring MakeAgentFolder(const std::wstring& name, std::initializer_list<const wchar_t*> programs = {});

void WriteFileText(const std::wstring& path, const std::wstring& text);  // UTF-16LE with BOM

// Polls condition every 20 ms until it holds or timeoutMs passes.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(20);
    }
}

// ---- Text of records and traces --------------------------------------------

std::string Utf8(const std::wstring& text);
std::string Hex(const std::string& bytes);  // lower case, two digits a byte
// The value of "name=" in a record line of a test program, or "" when absent.
std::string Field(const std::string& line, const std::string& name);

// ---- Legacy naming ---------------------------------------------------------

// Makes Wine report Windows NT 4.0 to orsanto-agent.exe (legacy naming).
void SetLegacyNaming(bool on);

// ---- Activity log C:\vp_log.txt ------------------------------------------

extern const wchar_t kTestLogPath[];

void DeleteLog();
bool LogHasByteOrderMark();
// The log's text without the byte-order mark.
std::wstring ReadLogText();
// The texts of the records (time stamp and tab removed, CR LF removed). A
// record whose text spans lines stays one entry.
std::vector<std::wstring> ReadLogRecords();
bool LogContains(const std::wstring& text);  // a record with exactly this text
bool WaitForLog(const std::wstring& text, DWORD timeoutMs = 10000);
// True when every line of the log text begins with a well-formed time stamp
// or continues a multi-line record (no broken or interleaved records).
bool LogRecordsWellFormed(std::wstring* firstBad = nullptr);

// ---- Events --------------------------------------------------------------

extern const wchar_t kSharedEvent[];
extern const wchar_t kKillEvent[];
extern const wchar_t kLegacyPrintEvent[];
extern const wchar_t kLegacySharedEvent[];
extern const wchar_t kLegacyKillEvent[];


// ---- The agent process -----------------------------------------------------

struct AgentProcess {
    HANDLE process = nullptr;
    DWORD processId = 0;
};

// Starts a program with a command line (retrying a failed launch).
bool StartProgram(const std::wstring& commandLine, PROCESS_INFORMATION* process,
                  const std::wstring& applicationName = L"");

// Runs a console program to its end (at most timeoutMs), capturing its
// standard output and error as UTF-8/ANSI text. Returns its exit code, or
// -1 if it could not be started or did not end in time.
int RunProgram(const std::wstring& commandLine, std::string* output, DWORD timeoutMs = 60000);

// Starts <folder>\orsanto-agent.exe (or programName).
AgentProcess StartAgent(const std::wstring& folder, const wchar_t* programName = L"orsanto-agent.exe");
// Starts the agent and waits until its personal event exists.
AgentProcess StartReadyAgent(const std::wstring& folder, bool legacy = false);
bool WaitForExit(const AgentProcess& agent, DWORD timeoutMs);
bool IsRunning(const AgentProcess& agent);
// Signals the kill event (both namings), waits up to timeoutMs, then
// terminates the process. Returns true when the agent ended by itself.
bool StopAgent(AgentProcess* agent, DWORD timeoutMs = 5000);
DWORD HandleCount(const AgentProcess& agent);
// The handle count once it has stopped moving for a moment.
DWORD SettledHandleCount(const AgentProcess& agent);
// Handles Wine leaves in a process for each WaitForInputIdle it makes (it
// opens the other process's idle event and never closes it; 0 on Windows),
// measured with folder\progress.exe: the agent's count grows by this per
// wait, through no fault of its own.
DWORD HandlesLeftPerInputIdleWait(const std::wstring& folder);

// ---- Message boxes (caption "Orsanto agent") ------------------------------

HWND FindMessageBox();
// Waits for a box, returns its text, and closes it with OK.
bool TakeMessageBox(std::wstring* text, DWORD timeoutMs = 10000);
void CloseAllMessageBoxes();

// ---- Notification broadcasts ("Orsanto_notify_message") -------------------

struct Notification {
    WPARAM identifier;
    LPARAM code;
};

// A hidden top-level window on a thread of its own that records every
// broadcast of the notification message.
class NotificationListener {
public:
    NotificationListener();
    ~NotificationListener();
    std::vector<Notification> Received();
    bool WaitFor(WPARAM identifier, DWORD timeoutMs = 10000, Notification* found = nullptr);

private:
    static DWORD WINAPI Run(LPVOID self);
    static LRESULT CALLBACK WindowProc(HWND, UINT, WPARAM, LPARAM);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    DWORD threadId_ = 0;
    UINT message_ = 0;
    CRITICAL_SECTION lock_;
    std::vector<Notification> received_;
};

// ---- Jobs as the printer side hands them over -----------------------------

// Writes a job description file with "Document"/"JobID" and, for each EMF
// path, "EMF"/"Count" and "File%d" (the EMF files themselves are created
// with some bytes). Returns the job file's path.
std::wstring WriteJobFile(const std::wstring& folder, const std::wstring& name, int jobId,
                          const std::vector<std::wstring>& emfFiles = {});
// Writes the hand-off value and signals the event.
void HandOff(const wchar_t* valueName, const std::wstring& jobPath, const std::wstring& event);

// ---- Fixture -------------------------------------------------------------

// Every end-to-end test starts from an empty main key, no log, modern naming,
// and ends with every agent it started gone and every box closed.
class AgentTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Started agents are stopped in TearDown.
    AgentProcess Start(const std::wstring& folder, bool waitReady = true);
    std::vector<AgentProcess> agents_;
};
