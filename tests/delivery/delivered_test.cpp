// Jobs delivered end to end to the real sample client in each transfer mode:
// what the client receives byte for byte, which files stay, the foreground.
#include "delivery_fixture.h"

#include <filesystem>

namespace {

const std::wstring kWindowOptions =
    std::wstring(L"--class ") + kClientClass + L" --title \"" + kClientTitle + L"\"";
const std::wstring kClipboardOptions =
    kWindowOptions + L" --clipboard-format \"" + kClientFormat + L"\" --message 0x8000";

// A folder inside base whose path has dirChars characters, created.
std::wstring DeepFolder(const std::wstring& base, size_t dirChars, wchar_t fill)
{
    std::wstring folder = base + L"\\" + std::wstring(dirChars - base.size() - 1, fill);
    std::filesystem::create_directories(folder);
    return folder;
}

// A job file name that makes folder\name.ini exactly totalChars long.
std::wstring NameForLength(const std::wstring& folder, size_t totalChars)
{
    return std::wstring(totalChars - folder.size() - 1 - 4, L'j');
}

}  // namespace

using DeliveredTest = DeliveryTest;

TEST_F(DeliveredTest, CopyDataReachesAnOpenWindowFoundByClassTitleOrBoth)
{
    Install(L"copydata-open");
    ConfigureClient(kCopyData, kWindowOptions);
    SetMainDword(L"Message ID", 0xCAFE1234);
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions));
    ForegroundWindow other;

    struct Row {
        const wchar_t* windowClass;
        const wchar_t* title;
    };
    const Row rows[] = {{kClientClass, L""}, {L"", kClientTitle}, {kClientClass, kClientTitle}};
    int n = 0;
    for (const Row& row : rows) {
        ++n;
        SCOPED_TRACE(n);
        ConfigureWindow(row.windowClass, row.title);
        ASSERT_TRUE(other.TakeForeground());
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), 100 + n);
        HandOffJob(job);

        ASSERT_TRUE(WaitForRecord("copydata", n));
        std::string line = Records("copydata")[n - 1];
        EXPECT_EQ("0xcafe1234", Field(line, "dwData"));  // "Message ID" unchanged
        EXPECT_EQ("260", Field(line, "cbData"));
        EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), Field(line, "bytes"));
        ASSERT_TRUE(WaitForRecord("job", n));
        EXPECT_EQ(std::to_string(100 + n), Field(Records("job")[n - 1], "jobid"));
        EXPECT_EQ("foreground", ForegroundAfter(n));
        // Delivered: the files belong to the client now.
        EXPECT_TRUE(FileExists(job));
        for (const std::wstring& emf : EmfFiles(L"job" + std::to_wstring(n)))
            EXPECT_TRUE(FileExists(emf));
    }
    EXPECT_EQ(1u, Records("start").size()) << "a window was open: no client may be started";
    EXPECT_EQ(3u, CountLog(L"Sending WM_COPYDATA."));
    EXPECT_TRUE(listener.Received().empty());
}

TEST_F(DeliveredTest, CopyDataLaunchesTheClientAndWaitsForItsWindow)
{
    Install(L"copydata-launch");
    ConfigureWindow(kClientClass, L"");
    SetMainDword(L"Message ID", 7);
    StartAgentHere();
    // The second client opens its window only well after it is ready for
    // input: the agent must keep looking.
    const wchar_t* rows[] = {L"", L"--window-delay-ms 1500"};
    int n = 0;
    for (const wchar_t* delay : rows) {
        ++n;
        SCOPED_TRACE(n);
        ConfigureClient(kCopyData, kWindowOptions + L" " + delay);
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), n);
        HandOffJob(job);
        ASSERT_TRUE(WaitForRecord("copydata", n, 30000));
        EXPECT_EQ(static_cast<size_t>(n), Records("start").size());
        std::string line = Records("copydata")[n - 1];
        EXPECT_EQ("0x7", Field(line, "dwData"));
        EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), Field(line, "bytes"));
        EXPECT_TRUE(FileExists(job));
        EndClients();
    }
}

TEST_F(DeliveredTest, ClipboardReachesAnOpenWindowWithTheMessageClampedToThePrivateRange)
{
    Install(L"clipboard-open");
    ConfigureClient(kClipboard, kClipboardOptions);
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 5);  // below 0x8000: posted as 0x8000
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));
    ForegroundWindow other;
    ASSERT_TRUE(other.TakeForeground());

    std::wstring job = MakeJob(L"job", 42);
    HandOffJob(job);
    ASSERT_TRUE(WaitForRecord("clipboard"));
    std::string line = Records("clipboard")[0];
    EXPECT_EQ("0x8000", Field(line, "message"));
    EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), Field(line, "bytes"));
    EXPECT_EQ(std::string::npos, line.find("unreadable"));
    ASSERT_TRUE(WaitForRecord("job"));
    EXPECT_EQ("42", Field(Records("job")[0], "jobid"));
    EXPECT_EQ("foreground", ForegroundAfter(1));
    EXPECT_TRUE(FileExists(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(FileExists(emf));
    EXPECT_EQ(1u, Records("start").size());
    EXPECT_TRUE(listener.Received().empty());
}

TEST_F(DeliveredTest, ClipboardLaunchesTheClient)
{
    Install(L"clipboard-launch");
    ConfigureClient(kClipboard, kClipboardOptions);
    ConfigureWindow(L"", kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    StartAgentHere();

    std::wstring job = MakeJob(L"job", 9);
    HandOffJob(job);
    ASSERT_TRUE(WaitForRecord("clipboard", 1, 30000));
    EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), Field(Records("clipboard")[0], "bytes"));
    EXPECT_EQ(1u, Records("start").size());
    EXPECT_TRUE(FileExists(job));
}

// The client's whole command line is its configured command line, one
// space and the job path, however long: nothing cut.
TEST_F(DeliveredTest, CommandLineModeStartsTheClientWithTheWholeCommandLine)
{
    Install(L"commandline");
    NotificationListener listener;
    StartAgentHere();

    std::wstring deepClient = DeepFolder(folder_, 150, L'c') + L"\\orsanto-sample-client.exe";
    ASSERT_TRUE(CopyFileW(ClientPath().c_str(), deepClient.c_str(), FALSE));
    std::wstring deepJobs = DeepFolder(folder_, 230, L'd');

    struct Row {
        std::wstring clientApplication;
        std::wstring jobFolder;
        std::wstring jobName;
    };
    const Row rows[] = {
        {ClientCommand(L""), folder_, L"job1"},
        {L"\"" + deepClient + L"\" --record " + record_, deepJobs, NameForLength(deepJobs, 259)},
    };
    int n = 0;
    for (const Row& row : rows) {
        ++n;
        SCOPED_TRACE(n);
        SetMainString(L"Client Application", row.clientApplication);
        SetMainDword(L"Transfer Mode", kCommandLine);
        std::wstring job = MakeJob(row.jobName, n, L"", row.jobFolder);
        ASSERT_EQ(n == 2 ? 259u : job.size(), job.size());
        HandOffJob(job);

        ASSERT_TRUE(WaitForRecord("commandline", n, 30000));
        std::string line = Records("commandline")[n - 1];
        EXPECT_EQ(Utf8Hex(job), Field(line, "path"));
        EXPECT_EQ(Utf8Hex(row.clientApplication + L" " + job), Field(line, "line"));
        ASSERT_TRUE(WaitForRecord("job", n));
        EXPECT_EQ("1", Field(Records("job")[n - 1], "exists"));
        EXPECT_EQ(std::to_string(n), Field(Records("job")[n - 1], "jobid"));
        EXPECT_TRUE(FileExists(job));
    }
    EXPECT_EQ(2u, CountLog(L"Run client application."));
    EXPECT_TRUE(listener.Received().empty());
}

// A job path of 259 characters fills the 260-byte block with its NUL.
TEST_F(DeliveredTest, PathOf259CharactersFillsTheBlockInCopyDataAndClipboardMode)
{
    Install(L"longpath");
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));
    std::wstring jobs = DeepFolder(folder_, 230, L'd');

    struct Row {
        DWORD mode;
        const char* kind;
    };
    const Row rows[] = {{kCopyData, "copydata"}, {kClipboard, "clipboard"}};
    int n = 0;
    for (const Row& row : rows) {
        ++n;
        SCOPED_TRACE(row.kind);
        ConfigureClient(row.mode, kClipboardOptions);
        std::wstring job = MakeJob(NameForLength(jobs, 259).substr(1) + std::to_wstring(n), n, L"", jobs);
        ASSERT_EQ(259u, job.size());
        HandOffJob(job);
        ASSERT_TRUE(WaitForRecord(row.kind));
        std::string bytes = Field(Records(row.kind)[0], "bytes");
        EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), bytes);
        EXPECT_EQ("00", bytes.substr(bytes.size() - 2));
        ASSERT_TRUE(WaitForRecord("job", n));
        EXPECT_EQ("1", Field(Records("job")[n - 1], "exists"));
    }
}

// A path the ANSI code page cannot carry is delivered as its exact short
// form, which names the same file, never as a path with '?' in it.
TEST_F(DeliveredTest, PathTheAnsiCodePageCannotCarryArrivesInItsShortForm)
{
    Install(L"unicode-path");
    ConfigureClient(kCopyData, kWindowOptions);
    ConfigureWindow(kClientClass, L"");
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions));

    std::wstring job = MakeJob(L"job-\u2713-\u4E2D\u6587-long name", 77);
    std::string ansi = AnsiPath(job);
    if (ansi.empty()) {
        wchar_t shortPath[MAX_PATH];
        DWORD chars = GetShortPathNameW(job.c_str(), shortPath, MAX_PATH);
        ASSERT_TRUE(chars > 0 && chars < MAX_PATH);
        ansi = AnsiPath(shortPath);
        ASSERT_FALSE(ansi.empty()) << "this system gives the file no ANSI short name";
        EXPECT_EQ(std::string::npos, ansi.find('?'));
    }
    HandOffJob(job);
    ASSERT_TRUE(WaitForRecord("copydata"));
    EXPECT_EQ(ExpectedBlockHex(ansi), Field(Records("copydata")[0], "bytes"));
    // The client opened the job through the path it received.
    ASSERT_TRUE(WaitForRecord("job"));
    EXPECT_EQ("77", Field(Records("job")[0], "jobid"));
    EXPECT_EQ("1", Field(Records("job")[0], "exists"));
    EXPECT_TRUE(listener.Received().empty());
}

// A client that dies while handling WM_COPYDATA must not take the agent
// (or its job thread's send) with it: the next job is delivered.
TEST_F(DeliveredTest, ClientCrashingDuringCopyDataDoesNotStopTheAgent)
{
    Install(L"crash");
    ConfigureClient(kCopyData, kWindowOptions);
    ConfigureWindow(kClientClass, L"");
    AgentProcess agent = StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions + L" --crash-on-copydata"));

    HandOffJob(MakeJob(L"job1", 1));
    ASSERT_TRUE(WaitForRecord("crash"));
    DWORD crashed = static_cast<DWORD>(std::stoul(Field(Records("start")[0], "pid")));
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, crashed);
    if (process != nullptr) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(process, 15000));
        CloseHandle(process);
    }
    ASSERT_TRUE(WaitUntil([] { return FindWindowW(kClientClass, nullptr) == nullptr; }, 10000));

    ASSERT_TRUE(StartClient(kWindowOptions));
    std::wstring job2 = MakeJob(L"job2", 2);
    HandOffJob(job2);
    ASSERT_TRUE(WaitForRecord("copydata", 2));
    EXPECT_EQ(ExpectedBlockHex(AnsiPath(job2)), Field(Records("copydata")[1], "bytes"));
    EXPECT_TRUE(IsRunning(agent));
}

// While one job waits for a slow client to handle WM_COPYDATA, another job
// is delivered in full.
TEST_F(DeliveredTest, SlowCopyDataClientHoldsOnlyItsOwnJob)
{
    Install(L"slow-client");
    ConfigureWindow(kClientClass, L"");
    StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions + L" --delay-ms 20000"));

    ConfigureClient(kCopyData, kWindowOptions);
    HandOffJob(MakeJob(L"slow", 1));
    ASSERT_TRUE(WaitForRecord("copydata"));  // the client is now busy with it

    ConfigureClient(kCommandLine, L"");
    HandOffJob(MakeJob(L"quick", 2));
    ASSERT_TRUE(WaitForRecord("job"));
    std::vector<std::string> jobs = Records("job");
    EXPECT_EQ("2", Field(jobs[0], "jobid")) << "the quick job waited for the slow one";
    EXPECT_EQ(1u, Records("commandline").size());
}
