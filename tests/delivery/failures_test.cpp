// Jobs that are not delivered: cancelled, badly configured, no window, no
// clipboard, no client. What is reported, which files stay, what the client
// and the user's clipboard see.
#include "delivery_fixture.h"

namespace {

const std::wstring kWindowOptions =
    std::wstring(L"--class ") + kClientClass + L" --title \"" + kClientTitle + L"\"";
const std::wstring kClipboardOptions =
    kWindowOptions + L" --clipboard-format \"" + kClientFormat + L"\" --message 0x8000";
const wchar_t kUserText[] = L"the user's own clipboard text";

size_t CountNotifications(NotificationListener& listener, WPARAM identifier)
{
    size_t count = 0;
    for (const Notification& n : listener.Received())
        count += n.identifier == identifier ? 1 : 0;
    return count;
}

bool WaitForNotifications(NotificationListener& listener, WPARAM identifier, size_t count, DWORD timeoutMs = 15000)
{
    return WaitUntil([&] { return CountNotifications(listener, identifier) >= count; }, timeoutMs);
}

bool WaitForDeletion(const std::wstring& path)
{
    return WaitUntil([&] { return !FileExists(path); }, 10000);
}

}  // namespace

using UndeliveredTest = DeliveryTest;

// The preprocessor cancels silently: nothing reported, logged or deleted,
// nothing delivered; the next job goes through.
TEST_F(UndeliveredTest, CancelledByThePreprocessorLeavesEverythingInPlace)
{
    Install(L"cancelled", true, true);
    ConfigureClient(kCopyData, kWindowOptions);
    ConfigureWindow(kClientClass, L"");
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions));

    std::wstring cancelled = MakeJob(L"cancelled", 1, L"[Test]\r\nPreprocessingResult=cancel\r\n");
    HandOffJob(cancelled);
    ASSERT_TRUE(WaitForLog(L"Preprocessing finished."));
    std::wstring next = MakeJob(L"next", 2);
    HandOffJob(next);
    ASSERT_TRUE(WaitForRecord("copydata"));

    std::vector<std::string> received = Records("copydata");
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(ExpectedBlockHex(AnsiPath(next)), Field(received[0], "bytes"));
    EXPECT_TRUE(FileExists(cancelled));
    for (const std::wstring& emf : EmfFiles(L"cancelled"))
        EXPECT_TRUE(FileExists(emf));
    EXPECT_EQ(1u, CountLog(L"Starting converter."));
    EXPECT_EQ(1u, CountLog(L"Sending WM_COPYDATA."));
    EXPECT_TRUE(listener.Received().empty());
}

// No client application: 112 in every mode, even with the window open; the
// job description file is deleted, the EMF files stay, nothing is delivered.
TEST_F(UndeliveredTest, NoClientApplicationReports112AndDeletesTheJobFile)
{
    Install(L"no-client");
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));

    const DWORD modes[] = {kCopyData, kClipboard, kCommandLine};
    size_t n = 0;
    for (DWORD mode : modes) {
        ++n;
        SCOPED_TRACE(mode);
        SetMainString(L"Client Application", L"");
        SetMainDword(L"Transfer Mode", mode);
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), static_cast<int>(n));
        HandOffJob(job);
        ASSERT_TRUE(WaitForNotifications(listener, 112, n));
        EXPECT_TRUE(WaitForDeletion(job));
        for (const std::wstring& emf : EmfFiles(L"job" + std::to_wstring(n)))
            EXPECT_TRUE(FileExists(emf));
    }
    EXPECT_EQ(1u, Records("start").size());
    for (const char* kind : {"copydata", "clipboard", "commandline"})
        EXPECT_TRUE(Records(kind).empty()) << kind;
    EXPECT_EQ(0u, CountLog(L"Sending WM_COPYDATA."));
    EXPECT_EQ(0u, CountLog(L"Run client application."));
}

// Copy-data and clipboard mode need a class or a title: 111 by message box,
// job description file deleted, EMF files left, no client started.
TEST_F(UndeliveredTest, NoWindowClassAndNoTitleReports111AndDeletesTheJobFile)
{
    Install(L"no-window-name");
    StartAgentHere(false);
    const DWORD modes[] = {kCopyData, kClipboard};
    int n = 0;
    for (DWORD mode : modes) {
        ++n;
        SCOPED_TRACE(mode);
        ConfigureClient(mode, kClipboardOptions);
        ConfigureWindow(L"", L"");
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), n);
        HandOffJob(job);
        std::wstring text;
        ASSERT_TRUE(TakeMessageBox(&text));
        EXPECT_EQ(L"The Orsanto printer has not been properly configured. Please re-install the Orsanto software.",
                  text);
        EXPECT_TRUE(WaitForDeletion(job));
        for (const std::wstring& emf : EmfFiles(L"job" + std::to_wstring(n)))
            EXPECT_TRUE(FileExists(emf));
    }
    EXPECT_TRUE(Records().empty()) << "no client may be started";
    EXPECT_EQ(0u, CountLog(L"Starting converter."));
}

// Without the converter: 61456, the job description file is deleted, and
// the client still receives the (now dangling) path.
TEST_F(UndeliveredTest, ConverterMissingReports61456AndStillDeliversThePath)
{
    Install(L"no-converter", false);
    ConfigureClient(kCopyData, kWindowOptions);
    ConfigureWindow(kClientClass, L"");
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kWindowOptions));

    std::wstring job = MakeJob(L"job", 5);
    HandOffJob(job);
    ASSERT_TRUE(listener.WaitFor(61456));
    ASSERT_TRUE(WaitForRecord("copydata"));
    EXPECT_EQ(ExpectedBlockHex(AnsiPath(job)), Field(Records("copydata")[0], "bytes"));
    ASSERT_TRUE(WaitForRecord("job"));
    EXPECT_EQ("0", Field(Records("job")[0], "exists"));
    EXPECT_FALSE(FileExists(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(FileExists(emf));
    EXPECT_EQ(1u, listener.Received().size());
}

// The EMF list went with the job description file, so a later clipboard
// failure has nothing to delete.
TEST_F(UndeliveredTest, ConverterMissingThenClipboardFailureDeletesNoEmfFiles)
{
    Install(L"no-converter-clipboard", false);
    ConfigureClient(kClipboard, kClipboardOptions);
    ConfigureWindow(kClientClass, L"");
    SetMainString(L"Clipboard Format", L"");
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));

    std::wstring job = MakeJob(L"job", 6);
    HandOffJob(job);
    ASSERT_TRUE(listener.WaitFor(61456));
    ASSERT_TRUE(listener.WaitFor(61448));
    EXPECT_FALSE(FileExists(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(FileExists(emf));
}

// Copy-data mode without a window to send to: 61447, every file left. A
// client that runs but never opens its window ends the wait when it exits.
TEST_F(UndeliveredTest, CopyDataWithoutWindowReports61447AndLeavesTheFiles)
{
    Install(L"copydata-no-window");
    ConfigureWindow(kClientClass, L"");
    NotificationListener listener;
    StartAgentHere();

    struct Row {
        const char* what;
        std::wstring clientApplication;
    };
    const Row rows[] = {
        {"client never opens its window", ClientCommand(kWindowOptions + L" --no-window --exit-after-ms 1500")},
        {"client exits at once", ClientCommand(kWindowOptions + L" --exit-at-once")},
        {"client cannot start", folder_ + L"\\no-such-client.exe"},
    };
    size_t n = 0;
    for (const Row& row : rows) {
        ++n;
        SCOPED_TRACE(row.what);
        SetMainString(L"Client Application", row.clientApplication);
        SetMainDword(L"Transfer Mode", kCopyData);
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), static_cast<int>(n));
        HandOffJob(job);
        // Well below the poll's one-minute bound.
        ASSERT_TRUE(WaitForNotifications(listener, 61447, n, 30000));
        EXPECT_TRUE(FileExists(job));
        for (const std::wstring& emf : EmfFiles(L"job" + std::to_wstring(n)))
            EXPECT_TRUE(FileExists(emf));
    }
    EXPECT_EQ(3u, CountLog(L"Sending WM_COPYDATA."));
    EXPECT_TRUE(Records("copydata").empty());
}

// A class or title that matches nothing: the client the agent starts opens
// a window, but not the one looked for; nothing is delivered.
TEST_F(UndeliveredTest, TargetWindowThatMatchesNothingReports61447)
{
    Install(L"no-match");
    ConfigureClient(kCopyData, kWindowOptions + L" --exit-after-ms 1500");
    NotificationListener listener;
    StartAgentHere();

    struct Row {
        const wchar_t* windowClass;
        const wchar_t* title;
    };
    const Row rows[] = {{L"NoSuchClass", L""}, {kClientClass, L"No such title"}};
    size_t n = 0;
    for (const Row& row : rows) {
        ++n;
        SCOPED_TRACE(n);
        ConfigureWindow(row.windowClass, row.title);
        std::wstring job = MakeJob(L"job" + std::to_wstring(n), static_cast<int>(n));
        HandOffJob(job);
        ASSERT_TRUE(WaitForNotifications(listener, 61447, n, 30000));
        EXPECT_EQ(n, Records("window").size()) << "the client ran and opened its own window";
        EXPECT_TRUE(FileExists(job));
    }
    EXPECT_TRUE(Records("copydata").empty());
}

// The clipboard is held by someone else: 61449, nothing deleted, the user's
// clipboard content untouched, nothing posted.
TEST_F(UndeliveredTest, ClipboardThatCannotBeOpenedReports61449)
{
    Install(L"clipboard-busy");
    ConfigureClient(kClipboard, kClipboardOptions);
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));
    PutUserTextOnClipboard(kUserText);

    std::wstring job = MakeJob(L"job", 3);
    // Held through a window: an open without one may be shared.
    ForegroundWindow holder;
    ASSERT_TRUE(OpenClipboard(holder.Handle()));
    HandOffJob(job);
    bool reported = listener.WaitFor(61449);
    CloseClipboard();
    ASSERT_TRUE(reported);

    EXPECT_EQ(kUserText, UserTextOnClipboard());
    EXPECT_TRUE(FileExists(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(FileExists(emf));
    EXPECT_TRUE(Records("clipboard").empty());
}

// An empty "Clipboard Format" cannot be set: 61448 by message box, job
// description file and EMF files deleted. The user's clipboard is neither
// emptied nor held while the box is up.
TEST_F(UndeliveredTest, ClipboardSetFailedReports61448AndDeletesTheJobButNotTheUsersClipboard)
{
    Install(L"clipboard-set-failed");
    ConfigureClient(kClipboard, kClipboardOptions);
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", L"");
    SetMainDword(L"Message ID", 0x8000);
    StartAgentHere(false);
    ASSERT_TRUE(StartClient(kClipboardOptions));
    PutUserTextOnClipboard(kUserText);

    std::wstring job = MakeJob(L"job", 4);
    HandOffJob(job);
    ASSERT_TRUE(WaitUntil([] { return FindMessageBox() != nullptr; }, 15000));
    EXPECT_EQ(kUserText, UserTextOnClipboard());  // opens it: the box does not hold it
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(L"Failed to set clipboard data.", text);

    EXPECT_TRUE(WaitForDeletion(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(WaitForDeletion(emf));
    EXPECT_EQ(kUserText, UserTextOnClipboard());
    EXPECT_TRUE(Records("clipboard").empty());
}

// Clipboard mode looks for the window once when the client is ready: a
// client without it gets 61447, the files are deleted, the user's
// clipboard is kept.
TEST_F(UndeliveredTest, ClipboardWithoutWindowReports61447AndDeletesTheJob)
{
    Install(L"clipboard-no-window");
    ConfigureClient(kClipboard, kWindowOptions + L" --no-window --exit-after-ms 5000");
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    NotificationListener listener;
    StartAgentHere();
    PutUserTextOnClipboard(kUserText);

    std::wstring job = MakeJob(L"job", 8);
    HandOffJob(job);
    ASSERT_TRUE(listener.WaitFor(61447, 30000));
    EXPECT_TRUE(WaitForDeletion(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(WaitForDeletion(emf));
    EXPECT_EQ(kUserText, UserTextOnClipboard());
    EXPECT_EQ(1u, Records("start").size());
}

// Command-line mode with a client that cannot start: 113, the job
// description file deleted, the EMF files left.
TEST_F(UndeliveredTest, CommandLineClientThatCannotStartReports113)
{
    Install(L"commandline-failed");
    SetMainString(L"Client Application", folder_ + L"\\no-such-client.exe");
    SetMainDword(L"Transfer Mode", kCommandLine);
    NotificationListener listener;
    StartAgentHere();

    std::wstring job = MakeJob(L"job", 10);
    HandOffJob(job);
    ASSERT_TRUE(listener.WaitFor(113));
    EXPECT_TRUE(WaitForDeletion(job));
    for (const std::wstring& emf : EmfFiles(L"job"))
        EXPECT_TRUE(FileExists(emf));
    EXPECT_TRUE(WaitForLog(L"Run client application."));
}

// A path the ANSI code page cannot carry and that has no short form (the
// missing converter took the file with it) is never handed over garbled:
// the agent logs it and reports 61447 instead; the user's clipboard stays.
TEST_F(UndeliveredTest, PathWithoutAnyAnsiFormIsReportedNotDeliveredWrong)
{
    Install(L"no-ansi-form", false);
    ConfigureWindow(kClientClass, kClientTitle);
    SetMainString(L"Clipboard Format", kClientFormat);
    SetMainDword(L"Message ID", 0x8000);
    NotificationListener listener;
    StartAgentHere();
    ASSERT_TRUE(StartClient(kClipboardOptions));
    PutUserTextOnClipboard(kUserText);

    const DWORD modes[] = {kCopyData, kClipboard};
    size_t n = 0;
    for (DWORD mode : modes) {
        ++n;
        SCOPED_TRACE(mode);
        ConfigureClient(mode, kClipboardOptions);
        std::wstring name = L"job" + std::to_wstring(n) + L"-\u2713\u4E2D\u6587";
        std::wstring job = MakeJob(name, static_cast<int>(n));
        if (!AnsiPath(job).empty())
            GTEST_SKIP() << "the ANSI code page carries every path here";
        HandOffJob(job);
        ASSERT_TRUE(WaitForNotifications(listener, 61447, n));
        EXPECT_EQ(n, CountNotifications(listener, 61456));
        EXPECT_TRUE(LogContains(L"The job path cannot be handed over in the ANSI code page: " + job));
        for (const std::wstring& emf : EmfFiles(name))
            EXPECT_TRUE(FileExists(emf));
    }
    EXPECT_EQ(kUserText, UserTextOnClipboard());
    EXPECT_TRUE(Records("copydata").empty());
    EXPECT_TRUE(Records("clipboard").empty());
}
