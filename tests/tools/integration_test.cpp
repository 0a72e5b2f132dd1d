// The integration guide's walk-through: the registry settings it gives for
// each transfer mode, a job printed with orsanto-print, and the sample client
// and the minimal client each showing the job.
#include "harness.h"

#include <string>

namespace {

struct Walkthrough {
    const wchar_t* name;
    DWORD transferMode;
    const wchar_t* client;         // program in the agent folder
    const wchar_t* clientOptions;  // after the quoted program path
    const wchar_t* windowClass;
    DWORD messageId;
};

const Walkthrough kWalkthroughs[] = {
    {L"sample, copy-data", 1, L"orsanto-sample-client.exe", L" --class OrsantoSampleClient", L"OrsantoSampleClient", 1},
    {L"sample, clipboard", 2, L"orsanto-sample-client.exe",
     L" --class OrsantoSampleClient --clipboard-format \"Orsanto job\" --message 32769", L"OrsantoSampleClient",
     0x8001},
    {L"sample, command line", 0, L"orsanto-sample-client.exe", L"", L"", 0},
    {L"minimal, copy-data", 1, L"orsanto-minimal-client.exe", L"", L"MinimalOrsantoClient", 1},
    {L"minimal, clipboard", 2, L"orsanto-minimal-client.exe", L"", L"MinimalOrsantoClient", 0x8001},
    {L"minimal, command line", 0, L"orsanto-minimal-client.exe", L"", L"", 0},
};

void CloseClientWindows()
{
    for (const wchar_t* windowClass : {L"OrsantoSampleClient", L"MinimalOrsantoClient"}) {
        HWND window = nullptr;
        while ((window = FindWindowW(windowClass, nullptr)) != nullptr) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            WaitUntil([&] { return !IsWindow(window); }, 5000);
        }
    }
}

}  // namespace

class IntegrationTest : public AgentTest {
protected:
    void TearDown() override
    {
        CloseClientWindows();
        AgentTest::TearDown();
    }
};

TEST_F(IntegrationTest, EachTransferModeDeliversAPrintedJob)
{
    std::wstring folder = MakeAgentFolder(L"integration", {L"orstdisp.exe", L"orsanto-sample-client.exe",
                                                            L"orsanto-minimal-client.exe"});
    std::wstring jobs = MakeTestFolder(L"integration-jobs");
    std::wstring record = folder + L"\\client-record.txt";
    int jobId = 100;
    for (const Walkthrough& w : kWalkthroughs) {
        SCOPED_TRACE(Utf8(w.name));
        ResetMainKey();
        SetMainDword(L"Message Mode", 1);
        SetMainDword(L"Transfer Mode", w.transferMode);
        std::wstring options = w.clientOptions;
        if (wcscmp(w.client, L"orsanto-sample-client.exe") == 0)
            options += L" --record " + record;
        SetMainString(L"Client Application", L"\"" + folder + L"\\" + w.client + L"\"" + options);
        if (w.windowClass[0] != L'\0')
            SetMainString(L"Target Window Class", w.windowClass);
        if (w.transferMode == 2)
            SetMainString(L"Clipboard Format", L"Orsanto job");
        SetMainDword(L"Message ID", w.messageId);
        DeleteFileW(record.c_str());
        Start(folder);

        ++jobId;
        std::string output;
        ASSERT_EQ(0, RunProgram(L"\"" + BinDir() + L"\\orsanto-print.exe\" --pages 2 --job-id " +
                                    std::to_wstring(jobId) + L" --folder " + jobs,
                                &output))
            << output;
        if (wcscmp(w.client, L"orsanto-sample-client.exe") == 0) {
            std::string expected = "job jobid=" + std::to_string(jobId) + " emf=2";
            EXPECT_TRUE(WaitUntil([&] { return ReadFileBytes(record).find(expected) != std::string::npos; }, 20000))
                << ReadFileBytes(record);
        } else {
            std::wstring expected = L"Job " + std::to_wstring(jobId) + L": " + jobs + L"\\job";
            wchar_t title[512] = L"";
            EXPECT_TRUE(WaitUntil(
                [&] {
                    HWND window = FindWindowW(L"MinimalOrsantoClient", nullptr);
                    return window && GetWindowTextW(window, title, 512) > 0 && wcsncmp(title, expected.c_str(),
                                                                                       expected.size()) == 0;
                },
                20000))
                << Utf8(title);
        }
        CloseClientWindows();
        TearDown();
    }
}
