// Shared set-up of the reliability tests: agent folders whose every process
// is ended afterwards, the sample client as a separate process, and the
// records the clients and the fault helper leave behind.
#pragma once

#include "harness.h"

#include <string>
#include <vector>

// "Transfer Mode" values.
constexpr DWORD kCopyDataMode = 1;
constexpr DWORD kClipboardMode = 2;
constexpr DWORD kCommandLineMode = 0;

// The lines of a text file (UTF-8 or ANSI), without their CR LF.
std::vector<std::string> ReadLines(const std::wstring& path);
// The JobIDs the sample client has recorded as received ("job jobid=N ...").
std::vector<int> ReceivedJobIds(const std::wstring& recordFile);
// Lines "<what>\t<job path>\t<pid>" of the fault helper installed as program.
std::vector<std::string> HelperRecords(const std::wstring& folder, const wchar_t* program, const std::string& what);

// How many broadcasts with this identifier the listener has seen.
size_t CountNotifications(NotificationListener& listener, WPARAM identifier);
// How many log records have exactly this text.
size_t CountLog(const std::wstring& text);

// Ends every process whose program lies in folder.
void EndProcessesIn(const std::wstring& folder);
// The agent's private bytes (0 if the system does not say).
SIZE_T PrivateBytes(const AgentProcess& agent);

class ReliabilityTest : public AgentTest {
protected:
    void TearDown() override;

    // A fresh agent folder with the given programs; its processes are ended
    // after the test.
    std::wstring MakeFolder(const std::wstring& name, std::initializer_list<const wchar_t*> programs);
    // An agent folder whose preprocessor and converter are the fault helper,
    // with the progress indicator and the sample client; log and message mode on.
    std::wstring FaultFolder(const std::wstring& name);
    // Starts the sample client of folder with these options and waits for
    // the window of windowClass (unless empty).
    bool StartSampleClient(const std::wstring& folder, const std::wstring& options,
                           const std::wstring& windowClass);
    // Copy-data, clipboard or command-line delivery to the sample client.
    void ConfigureDelivery(DWORD mode, const std::wstring& clientApplication, const std::wstring& windowClass,
                           const std::wstring& clipboardFormat = L"", DWORD messageId = 0);

    std::vector<std::wstring> folders_;
};
