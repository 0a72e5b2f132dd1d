// Shared set-up of the delivery tests: an agent folder with a converter, the
// real sample client as a separate process, what it recorded, the delivery
// settings, the clipboard and the foreground.
#pragma once

#include "harness.h"

#include <string>
#include <vector>

// "Transfer Mode" values.
constexpr DWORD kCopyData = 1;
constexpr DWORD kClipboard = 2;
constexpr DWORD kCommandLine = 0;

// The sample client's window class and title used by the tests.
extern const wchar_t kClientClass[];
extern const wchar_t kClientTitle[];
extern const wchar_t kClientFormat[];  // clipboard format name

// The 260-byte block a client must receive for jobPath, as lower-case hex:
// the ANSI path, its NUL, then zeros.
std::string ExpectedBlockHex(const std::string& ansiPath);
std::string AnsiPath(const std::wstring& path);  // exact ANSI form, or "" when there is none
std::string Utf8Hex(const std::wstring& text);

// A window on a thread of its own that the test can put in the foreground,
// so that a client coming to the front afterwards shows the agent's work.
class ForegroundWindow {
public:
    ForegroundWindow();
    ~ForegroundWindow();
    bool TakeForeground();
    HWND Handle() const { return window_; }

private:
    static DWORD WINAPI Run(LPVOID self);
    HANDLE thread_ = nullptr;
    HANDLE ready_ = nullptr;
    DWORD threadId_ = 0;
    HWND window_ = nullptr;
};

// Text the user had on the clipboard, to show it survived a failed delivery.
void PutUserTextOnClipboard(const std::wstring& text);
std::wstring UserTextOnClipboard();

// How many log records have exactly this text.
size_t CountLog(const std::wstring& text);

class DeliveryTest : public AgentTest {
protected:
    void TearDown() override;

    // A fresh agent folder (the converter stand-in included unless told
    // otherwise) with the sample client; Log on, message mode as asked.
    void Install(const std::wstring& name, bool converter = true, bool preprocessor = false);
    AgentProcess StartAgentHere(bool messageMode = true);

    std::wstring ClientPath() const { return folder_ + L"\\orsanto-sample-client.exe"; }
    // The quoted client path, --record and the given options.
    std::wstring ClientCommand(const std::wstring& options) const;
    // Starts the client as the user would; waits for its window unless
    // options say it opens none.
    bool StartClient(const std::wstring& options, bool waitForWindow = true);

    // Delivery settings.
    void ConfigureClient(DWORD mode, const std::wstring& clientOptions);
    void ConfigureWindow(const std::wstring& windowClass, const std::wstring& title);

    // A job in the agent folder with two EMF files; its path.
    // in folder (the agent folder by default); its EMF files are always in
    // the agent folder.
    std::wstring MakeJob(const std::wstring& name, int jobId, const std::wstring& extra = L"",
                         const std::wstring& folder = L"");
    std::vector<std::wstring> EmfFiles(const std::wstring& jobName) const;
    void HandOffJob(const std::wstring& jobPath);

    // The client's record file.
    std::vector<std::string> Records() const;
    std::vector<std::string> Records(const std::string& kind) const;  // lines starting with kind + " "
    bool WaitForRecord(const std::string& kind, size_t count = 1, DWORD timeoutMs = 15000) const;
    // "foreground" or "not-foreground": whether the client's window came to
    // the front after its delivery-th delivery ("" if it never said).
    std::string ForegroundAfter(int delivery) const;
    // Ends every sample client this test has seen start.
    void EndClients();

    std::wstring folder_;
    std::wstring record_;
};
