// Shared set-up of the job end-to-end tests: an agent folder with the
// stand-in auxiliary programs, a command-line client, and the records the
// stand-ins leave beside themselves.
#pragma once

#include "harness.h"

#include <string>
#include <vector>

// One line of "<program>.log" written by a stand-in.
struct StandInRecord {
    std::wstring what;      // started, window, closed, finished
    std::wstring module;    // the program's own full path
    std::wstring argument;  // its command line after the program name
    DWORD processId = 0;
};

std::vector<StandInRecord> ReadRecords(const std::wstring& folder, const std::wstring& program);
// Records of program with this "what" (and, when given, this argument).
std::vector<StandInRecord> RecordsOf(const std::wstring& folder, const std::wstring& program,
                                     const std::wstring& what, const std::wstring* argument = nullptr);
bool WaitForRecord(const std::wstring& folder, const std::wstring& program, const std::wstring& what,
                   const std::wstring& argument, DWORD timeoutMs = 20000);

bool ProcessEnded(DWORD processId);
std::wstring SystemErrorText(DWORD code);

// Writes "stand-ins.ini" beside the stand-ins.
void WriteStandInSettings(const std::wstring& folder, const std::wstring& text);

class JobTest : public AgentTest {
protected:
    void TearDown() override;

    // An agent folder with the agent, the given stand-ins and client.exe
    // (a copy of the converter stand-in); remembered for clean-up.
    std::wstring MakeFolder(const std::wstring& name,
                            std::initializer_list<const wchar_t*> programs = {L"CustomRoutine.exe", L"progress.exe",
                                                                               L"orstdisp.exe"});
    // Command-line mode with folder\client.exe as the client.
    void UseCommandLineClient(const std::wstring& folder);
    // Waits until client.exe has run with jobPath.
    bool WaitForClient(const std::wstring& folder, const std::wstring& jobPath, DWORD timeoutMs = 20000);
    // Remembers a folder whose stand-ins the clean-up ends.
    void Track(const std::wstring& folder) { folders_.push_back(folder); }

    std::vector<std::wstring> folders_;
};
