// orsanto-check against real settings: each misconfiguration the agent would
// trip over is named in one line, and the exit code says whether the agent
// can deliver.
#include "harness.h"

#include <string>

namespace {

const wchar_t kWindowClass[] = L"OrsantoCheckTestWindow";

LRESULT CALLBACK PlainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(window, message, wParam, lParam);
}

// A window of the target class, open while the test runs.
HWND OpenTargetWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    return CreateWindowExW(0, kWindowClass, L"check target", WS_OVERLAPPED, 0, 0, 50, 50, nullptr, nullptr,
                           windowClass.hInstance, nullptr);
}

class CheckTest : public AgentTest {
protected:
    // A working installation: agent running, converter beside it, the client
    // application present, copy-data mode with a class.
    void SetUp() override
    {
        AgentTest::SetUp();
        folder_ = MakeAgentFolder(L"check", {L"orstdisp.exe", L"orsanto-check.exe"});
        client_ = CopyProgram(folder_, L"orsanto-sample-client.exe");
        SetMainDword(L"Transfer Mode", 1);
        SetMainString(L"Client Application", client_);
        SetMainString(L"Target Window Class", kWindowClass);
        SetMainDword(L"Message ID", 7);
    }

    int RunCheck(std::string* output)
    {
        return RunProgram(L"\"" + folder_ + L"\\orsanto-check.exe\"", output);
    }

    std::wstring folder_;
    std::wstring client_;
};

int ProblemLines(const std::string& output)
{
    int count = 0;
    for (size_t at = output.find("PROBLEM"); at != std::string::npos; at = output.find("PROBLEM", at + 1))
        ++count;
    return count;
}

}  // namespace

TEST_F(CheckTest, AWorkingInstallationPasses)
{
    HWND window = OpenTargetWindow();
    Start(folder_);
    std::string output;
    EXPECT_EQ(0, RunCheck(&output)) << output;
    EXPECT_NE(std::string::npos, output.find("The agent can deliver jobs.")) << output;
    EXPECT_NE(std::string::npos, output.find("a target window is open now")) << output;
    EXPECT_EQ(std::string::npos, output.find("PROBLEM")) << output;
    DestroyWindow(window);
}

TEST_F(CheckTest, NamesEachMisconfigurationInOneLine)
{
    struct Case {
        const char* name;
        void (*configure)(const std::wstring& folder);
        const char* line;
    } cases[] = {
        {"missing key", [](const std::wstring&) { DeleteMainKey(); },
         "PROBLEM  HKLM\\Software\\Orsanto cannot be opened (error 2)"},
        {"empty client application", [](const std::wstring&) { SetMainString(L"Client Application", L""); },
         "PROBLEM  \"Client Application\" is empty"},
        {"client application not found",
         [](const std::wstring&) { SetMainString(L"Client Application", L"C:\\nowhere\\client.exe"); },
         "program \"C:\\nowhere\\client.exe\" not found"},
        {"no class and title, copy-data", [](const std::wstring&) { SetMainString(L"Target Window Class", L""); },
         "PROBLEM  neither a target window class nor a title"},
        {"no class and title, clipboard",
         [](const std::wstring&) {
             SetMainDword(L"Transfer Mode", 2);
             SetMainString(L"Clipboard Format", L"Orsanto job");
             SetMainString(L"Target Window Class", L"");
         },
         "PROBLEM  neither a target window class nor a title"},
        {"missing converter",
         [](const std::wstring& folder) { DeleteFileW((folder + L"\\orstdisp.exe").c_str()); },
         "PROBLEM  orstdisp.exe not found beside the agent"},
        {"number stored as a string",
         [](const std::wstring&) { SetMainString(L"Transfer Mode", L"1"); },
         "PROBLEM  \"Transfer Mode\" is REG_SZ, not REG_DWORD: the agent reads its bytes as the number 49"},
    };
    for (const Case& c : cases) {
        SetUp();  // a fresh working configuration for each case
        Start(folder_);
        c.configure(folder_);
        std::string output;
        EXPECT_EQ(1, RunCheck(&output)) << c.name << "\n" << output;
        EXPECT_NE(std::string::npos, output.find(c.line)) << c.name << "\n" << output;
        EXPECT_EQ(1, ProblemLines(output)) << c.name << "\n" << output;
        TearDown();
    }
}

TEST_F(CheckTest, SaysWhenNoWindowIsOpenAndNoAgentRuns)
{
    std::string output;
    EXPECT_EQ(1, RunCheck(&output)) << output;
    EXPECT_NE(std::string::npos,
              output.find("note     no target window is open now: the agent starts the client"))
        << output;
    EXPECT_NE(std::string::npos, output.find("PROBLEM  no agent is running for root in this session")) << output;
}
