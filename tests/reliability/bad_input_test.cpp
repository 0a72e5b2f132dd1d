// Bad input through the real agent: hostile "File%d" entries, job description
// files in other encodings or of megabytes, hand-off values around their read
// size and paths outside the ANSI code page. No crash, no hang, and no file
// deleted but on the documented paths.
#include "reliability_fixture.h"

#include <algorithm>

namespace {

const wchar_t kOkClass[] = L"OrsantoBadInputClient";
const wchar_t kNobodyClass[] = L"OrsantoBadInputNobody";
const wchar_t kFormat[] = L"Orsanto bad input job path";

std::string Utf16Bytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
}

class HostileInputTest : public ReliabilityTest {
protected:
    std::wstring Client(const std::wstring& folder) const
    {
        return L"\"" + folder + L"\\orsanto-sample-client.exe\"";
    }
    void UseCommandLine(const std::wstring& folder)
    {
        ConfigureDelivery(kCommandLineMode,
                          Client(folder) + L" --record " + folder + L"\\cl.txt --no-window --exit-after-ms 300", L"");
    }
    // The command-line client has been started with exactly this path.
    bool ClientGot(const std::wstring& folder, const std::wstring& jobPath, DWORD timeoutMs = 20000)
    {
        std::string expected = Hex(Utf8(jobPath));
        return WaitUntil(
            [&] {
                for (const std::string& line : ReadLines(folder + L"\\cl.txt")) {
                    if (line.rfind("commandline ", 0) == 0 && Field(line, "path") == expected)
                        return true;
                }
                return false;
            },
            timeoutMs);
    }
};

// A failed clipboard delivery deletes the files its job description file
// lists, wherever they are: that is its documented clean-up. Every other
// outcome leaves them alone, and no outcome deletes a file that is not
// listed: not one whose path is the first 259 characters of a longer entry,
// not a folder, not what a wildcard would match.
TEST_F(HostileInputTest, HostileEmfEntriesAreDeletedOnlyOnTheClipboardFailurePath)
{
    std::wstring folder = FaultFolder(L"bad-emf-entries");
    std::wstring victims = MakeTestFolder(L"bad-emf-victims");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    ASSERT_TRUE(StartSampleClient(folder, L"--class " + std::wstring(kOkClass) + L" --record " + folder + L"\\ok.txt",
                                  kOkClass));
    const std::wstring nobody = folder + L"\\no-such-client.exe";

    struct Outcome {
        const char* what;
        DWORD mode;
        bool emptyClient;    // "Client Application" empty, else a program that does not exist
        const wchar_t* windowClass;
        UINT report;         // 0: none
        bool cancelled;      // "PreprocessingResult=Cancel" in the job file
        bool jobFileDeleted;
        bool listedDeleted;  // the documented clean-up of a failed clipboard delivery
    } outcomes[] = {
        {"delivered by copy-data", kCopyDataMode, false, kOkClass, 0, false, false, false},
        {"cancelled by the preprocessor", kCopyDataMode, false, kOkClass, 0, true, false, false},
        {"copy-data without a window (61447)", kCopyDataMode, false, kNobodyClass, 61447, false, false, false},
        {"no client application (112)", kCopyDataMode, true, kOkClass, 112, false, true, false},
        {"command-line client that cannot start (113)", kCommandLineMode, false, L"", 113, false, true, false},
        {"clipboard without a window (61447)", kClipboardMode, false, kNobodyClass, 61447, false, true, true},
    };
    struct Case {
        std::wstring jobPath;
        std::wstring listed;     // a listed file outside the job folder
        std::wstring longest;    // a listed file whose path has 259 characters
        std::wstring truncated;  // the first 259 characters of a longer entry
        std::wstring ownEmf;
        const Outcome* outcome;
    };
    std::vector<Case> cases;
    int id = 1;
    for (const Outcome& o : outcomes) {
        SCOPED_TRACE(o.what);
        Case c;
        c.outcome = &o;
        std::wstring n = std::to_wstring(id);
        c.listed = victims + L"\\listed" + n + L".txt";
        std::wstring tooLong = victims + L"\\t" + n + L"-" + std::wstring(300, L'x') + L".emf";
        c.truncated = tooLong.substr(0, 259);
        std::wstring start = victims + L"\\f" + n + L"-";
        c.longest = start + std::wstring(259 - start.size() - 4, L'y') + L".emf";
        c.ownEmf = folder + L"\\job" + n + L".emf";
        for (const std::wstring& file : {c.listed, c.longest, c.truncated, c.ownEmf})
            WriteFileBytes(file, "keep me");
        WriteFileBytes(victims + L"\\wild" + n + L".txt", "keep me");
        std::wstring text = L"[Document]\r\nJobID=" + n + L"\r\n";
        if (o.cancelled)
            text += L"PreprocessingResult=Cancel\r\n";
        text += L"[EMF]\r\nCount=6\r\nFile0=" + c.listed + L"\r\nFile1=" + tooLong + L"\r\nFile2=" + victims
            + L"\\*\r\nFile3=" + victims + L"\r\nFile4=" + c.ownEmf + L"\r\nFile5=" + c.longest + L"\r\n";
        c.jobPath = folder + L"\\job" + n + L".ini";
        WriteFileText(c.jobPath, text);

        ConfigureDelivery(o.mode, o.emptyClient ? L"" : nobody, o.windowClass, kFormat, 0x8000);
        size_t before = listener.Received().size();
        HandOff(L"root", c.jobPath, PersonalEventName());
        if (o.report != 0) {
            ASSERT_TRUE(WaitUntil([&] { return listener.Received().size() > before; }, 20000));
            EXPECT_EQ(o.report, listener.Received().back().identifier);
        } else if (o.cancelled) {
            ASSERT_TRUE(WaitUntil([&] { return CountLog(L"Preprocessing finished.") == static_cast<size_t>(id); },
                                  20000));
        } else {
            ASSERT_TRUE(WaitUntil(
                [&] {
                    std::vector<int> ids = ReceivedJobIds(folder + L"\\ok.txt");
                    return std::count(ids.begin(), ids.end(), id) == 1;
                },
                20000));
        }
        cases.push_back(c);
        ++id;
    }
    // One more job after them all, so that every earlier job has ended.
    ConfigureDelivery(kCopyDataMode, nobody, kOkClass, L"", 1);
    HandOff(L"root", WriteJobFile(folder, L"last.ini", 99), PersonalEventName());
    ASSERT_TRUE(WaitUntil(
        [&] {
            std::vector<int> ids = ReceivedJobIds(folder + L"\\ok.txt");
            return std::count(ids.begin(), ids.end(), 99) == 1;
        },
        20000));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.outcome->what);
        EXPECT_EQ(!c.outcome->jobFileDeleted, FileExists(c.jobPath));
        EXPECT_EQ(!c.outcome->listedDeleted, FileExists(c.listed));
        EXPECT_EQ(!c.outcome->listedDeleted, FileExists(c.ownEmf));
        EXPECT_EQ(!c.outcome->listedDeleted, FileExists(c.longest));
        EXPECT_TRUE(FileExists(c.truncated)) << "a file that no entry names was deleted";
    }
    for (int n = 1; n < id; ++n)
        EXPECT_TRUE(FileExists(victims + L"\\wild" + std::to_wstring(n) + L".txt"));
    EXPECT_TRUE(IsRunning(agent));
}

// Job description files the profile functions may not read as written, and
// files of megabytes: the job is taken, logged and handed on, and the agent
// goes on.
TEST_F(HostileInputTest, JobFilesInOtherEncodingsOrOfMegabytesAreHandedOn)
{
    std::wstring folder = FaultFolder(L"bad-encodings");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    UseCommandLine(folder);

    const std::wstring body = L"[Document]\r\nJobID=71\r\n[EMF]\r\nCount=1\r\nFile0=C:\\none.emf\r\n";
    std::string utf16be;
    for (wchar_t c : body) {
        utf16be += static_cast<char>(c >> 8);
        utf16be += static_cast<char>(c & 0xFF);
    }
    std::string ascii(body.begin(), body.end());
    std::string padding;
    while (padding.size() < 4 * 1024 * 1024)
        padding += "; padding line of a job description file that grew far beyond its usual size\r\n";
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-16BE with byte-order mark", "\xFE\xFF" + utf16be},
        {"UTF-16LE without byte-order mark", Utf16Bytes(body)},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF" + ascii},
        {"4 MB before the sections", padding + ascii},
        {"a 2 MB line", "[Document]\r\nNote=" + std::string(2 * 1024 * 1024, 'n') + "\r\n" + ascii.substr(12)},
        {"UTF-16LE of 4 MB", "\xFF\xFE" + Utf16Bytes(std::wstring(padding.begin(), padding.end()) + body)},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::wstring jobPath = folder + L"\\enc" + std::to_wstring(n++) + L".ini";
        WriteFileBytes(jobPath, c.bytes);
        size_t logged = CountLog(L"Run client application.");
        HandOff(L"root", jobPath, PersonalEventName());
        EXPECT_TRUE(ClientGot(folder, jobPath, 60000));
        EXPECT_EQ(logged + 1, CountLog(L"Run client application."));
        EXPECT_TRUE(FileExists(jobPath));
        EXPECT_TRUE(IsRunning(agent));
    }
    EXPECT_TRUE(listener.Received().empty());
}

// Hand-off values around the 520 bytes the agent reads, and paths outside
// the ANSI code page: what fits reaches the preprocessor, the converter and
// the command-line client exactly; what does not is reported and left.
TEST_F(HostileInputTest, HandOffPathsAroundTheReadSizeAndOutsideTheAnsiCodePage)
{
    std::wstring folder = FaultFolder(L"bad-handoff-sizes");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    UseCommandLine(folder);

    auto pathOf = [&](size_t chars, const std::wstring& stem) {
        std::wstring start = folder + L"\\" + stem;
        return start + std::wstring(chars - start.size() - 4, L'p') + L".ini";
    };
    struct Case {
        const char* what;
        std::wstring path;
        DWORD bytes;      // stored bytes of the value
        bool delivered;   // else 61445
    } cases[] = {
        {"259 characters and terminator", pathOf(259, L"a"), 520, true},
        {"259 characters without terminator", pathOf(259, L"b"), 518, true},
        {"260 characters without terminator", pathOf(260, L"c"), 520, false},
        {"260 characters and terminator", pathOf(260, L"d"), 522, false},
        {"Greek and Japanese", folder + L"\\\x03A9\x03BC\x03AD\x03B3\x03B1-\x65E5\x672C.ini", 0, true},
        {"259 characters with Japanese", pathOf(259, L"\x65E5\x672C\x8A9E"), 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_LE(c.path.size(), 260u);
        WriteFileText(c.path, L"[Document]\r\nJobID=5\r\n");
        DWORD bytes = c.bytes != 0 ? c.bytes : static_cast<DWORD>((c.path.size() + 1) * sizeof(wchar_t));
        std::wstring stored = c.path + L'\0';
        size_t before = listener.Received().size();
        SetMainRaw(L"root", REG_SZ, stored.c_str(), bytes);
        ASSERT_TRUE(SignalEvent(PersonalEventName()));
        if (c.delivered) {
            EXPECT_TRUE(ClientGot(folder, c.path));
            EXPECT_FALSE(MainValueExists(L"root"));
            std::string started = "started\t" + Utf8(c.path) + "\t";
            for (const wchar_t* program : {L"CustomRoutine.exe", L"orstdisp.exe"}) {
                std::vector<std::string> runs = HelperRecords(folder, program, "started");
                EXPECT_TRUE(std::any_of(runs.begin(), runs.end(),
                                        [&](const std::string& r) { return r.rfind(started, 0) == 0; }))
                    << Utf8(program) << " did not get the path";
            }
        } else {
            ASSERT_TRUE(WaitUntil([&] { return listener.Received().size() > before; }, 10000));
            EXPECT_EQ(61445u, listener.Received().back().identifier);
            EXPECT_TRUE(MainValueExists(L"root")) << "an unreadable value is left alone";
            RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTestMainKey, L"root");
        }
    }
    EXPECT_TRUE(IsRunning(agent));
}

}  // namespace
