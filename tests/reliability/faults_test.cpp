// Faults around the real agent: a client that hangs in WM_COPYDATA, a
// preprocessor or converter that never exits or crashes, the log pulled away
// or locked, the main key deleted mid-job, and the kill event while twenty
// jobs run. A stuck job must hold only itself, and the agent must still end.
#include "reliability_fixture.h"

#include <algorithm>

namespace {

const wchar_t kOkClass[] = L"OrsantoFaultClient";
const wchar_t kHungClass[] = L"OrsantoHungClient";
const wchar_t kNobodyClass[] = L"OrsantoFaultNobody";
const wchar_t kFormat[] = L"Orsanto fault job path";
const DWORD kClipboardMessage = 0x8101;

// The identifiers broadcast so far, for a failure message.
std::string Reports(NotificationListener& listener)
{
    std::string text;
    for (const Notification& n : listener.Received())
        text += std::to_string(n.identifier) + "/" + std::to_string(n.code) + " ";
    return text;
}

class FaultTest : public ReliabilityTest {
protected:
    // An agent folder with the stand-ins, whose preprocessor holds a job as
    // long as "<job path>.hold" exists.
    std::wstring HoldFolder(const std::wstring& name)
    {
        std::wstring folder = MakeFolder(name, {L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe",
                                                L"orsanto-sample-client.exe"});
        WriteFileText(folder + L"\\stand-ins.ini", L"[CustomRoutine]\r\nHoldSuffix=.hold\r\n");
        SetMainDword(L"Log", 1);
        SetMainDword(L"Message Mode", 1);
        return folder;
    }
    std::wstring Client(const std::wstring& folder) const
    {
        return L"\"" + folder + L"\\orsanto-sample-client.exe\"";
    }
    // The client that takes copy-data and clipboard jobs; records to ok.txt.
    bool StartOkClient(const std::wstring& folder)
    {
        return StartSampleClient(folder,
                                 L"--class " + std::wstring(kOkClass) + L" --record " + folder + L"\\ok.txt"
                                     + L" --clipboard-format \"" + kFormat + L"\" --message "
                                     + std::to_wstring(kClipboardMessage),
                                 kOkClass);
    }
    void UseCopyData(const std::wstring& folder, const wchar_t* windowClass)
    {
        ConfigureDelivery(kCopyDataMode, folder + L"\\no-such-client.exe", windowClass, L"", 5);
    }
    void UseClipboard(const std::wstring& folder)
    {
        ConfigureDelivery(kClipboardMode, folder + L"\\no-such-client.exe", kOkClass, kFormat, kClipboardMessage);
    }
    void UseCommandLine(const std::wstring& folder)
    {
        ConfigureDelivery(kCommandLineMode,
                          Client(folder) + L" --record " + folder + L"\\cl.txt --no-window --exit-after-ms 300", L"");
    }
    std::wstring Job(const std::wstring& folder, int id)
    {
        std::wstring name = L"job" + std::to_wstring(id);
        return WriteJobFile(folder, name + L".ini", id, {folder + L"\\" + name + L".emf"});
    }
    bool Received(const std::wstring& folder, const wchar_t* record, int id, DWORD timeoutMs = 20000)
    {
        return WaitUntil(
            [&] {
                std::vector<int> ids = ReceivedJobIds(folder + L"\\" + record);
                return std::count(ids.begin(), ids.end(), id) > 0;
            },
            timeoutMs);
    }
    // The kill event ends the agent within two seconds, with its last words logged.
    void ExpectQuickKill(const AgentProcess& agent)
    {
        ULONGLONG start = GetTickCount64();
        ASSERT_TRUE(SignalEvent(kKillEvent));
        EXPECT_TRUE(WaitForExit(agent, 2000)) << "the agent waits for a stuck job";
        EXPECT_LE(GetTickCount64() - start, 2000u);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(agent.process, &code);
        EXPECT_EQ(0u, code);
        std::vector<std::wstring> records = ReadLogRecords();
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(L"Suicide.", records[records.size() - 2]);
        EXPECT_EQ(L"Agent exits.", records.back());
    }
    // Jobs 2, 3 and 4 reach the client by copy-data, clipboard and command line.
    void ExpectOtherJobsDelivered(const std::wstring& folder)
    {
        UseCopyData(folder, kOkClass);
        HandOff(L"root", Job(folder, 2), PersonalEventName());
        EXPECT_TRUE(Received(folder, L"ok.txt", 2)) << "copy-data to another window";
        UseClipboard(folder);
        HandOff(L"Shared", Job(folder, 3), kSharedEvent);
        EXPECT_TRUE(Received(folder, L"ok.txt", 3)) << "clipboard";
        UseCommandLine(folder);
        HandOff(L"root", Job(folder, 4), PersonalEventName());
        EXPECT_TRUE(Received(folder, L"cl.txt", 4)) << "command line";
    }
};

TEST_F(FaultTest, ClientHangingInCopyDataHoldsOnlyItsJobAndTheKillStillEndsTheAgent)
{
    std::wstring folder = FaultFolder(L"fault-hung-client");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    ASSERT_TRUE(StartSampleClient(
        folder, L"--class " + std::wstring(kHungClass) + L" --record " + folder + L"\\hung.txt --delay-ms 600000",
        kHungClass));
    ASSERT_TRUE(StartOkClient(folder));

    UseCopyData(folder, kHungClass);
    std::wstring stuck = Job(folder, 1);
    HandOff(L"root", stuck, PersonalEventName());
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& line : ReadLines(folder + L"\\hung.txt")) {
                if (line.rfind("copydata ", 0) == 0)
                    return true;
            }
            return false;
        },
        20000));
    // The client got the record and now never returns from it.
    ASSERT_EQ(0u, ReceivedJobIds(folder + L"\\hung.txt").size());

    ExpectOtherJobsDelivered(folder);
    EXPECT_TRUE(FileExists(stuck));
    EXPECT_TRUE(FileExists(folder + L"\\job1.emf"));
    EXPECT_EQ("", Reports(listener));
    ExpectQuickKill(agent);
}

// A preprocessor or converter that never exits holds its own job only.
TEST_F(FaultTest, AuxiliaryProgramThatNeverExitsHoldsOnlyItsJob)
{
    for (const wchar_t* program : {L"CustomRoutine.exe", L"orstdisp.exe"}) {
        SCOPED_TRACE(Utf8(program));
        std::wstring folder = FaultFolder(std::wstring(L"fault-never-exits-") + program);
        AgentProcess agent = Start(folder);
        NotificationListener listener;
        ASSERT_TRUE(StartOkClient(folder));

        UseCopyData(folder, kOkClass);
        std::wstring stuck = Job(folder, 1);
        std::wstring marker = stuck + L"." + std::wstring(program).substr(0, wcslen(program) - 4) + L".hang";
        WriteFileBytes(marker, "");
        const wchar_t* other = std::wstring(program) == L"orstdisp.exe" ? L"CustomRoutine.exe" : L"orstdisp.exe";
        HandOff(L"root", stuck, PersonalEventName());
        ASSERT_TRUE(WaitUntil([&] { return !HelperRecords(folder, program, "hang").empty(); }, 20000));
        DeleteFileW(marker.c_str());  // each later run of it finishes

        ExpectOtherJobsDelivered(folder);
        std::vector<int> received = ReceivedJobIds(folder + L"\\ok.txt");
        EXPECT_EQ(0, std::count(received.begin(), received.end(), 1));
        EXPECT_TRUE(FileExists(stuck));
        EXPECT_TRUE(FileExists(folder + L"\\job1.emf"));
        EXPECT_GE(HelperRecords(folder, other, "finished").size(), 3u);
        EXPECT_EQ("", Reports(listener));
        ExpectQuickKill(agent);
        EndProcessesIn(folder);
        CloseHandle(agent.process);
        agents_.clear();
        WaitUntil([] { return !EventExists(kKillEvent); }, 5000);
    }
}

// A converter that dies of an access violation: the job goes on to its
// client, as after any converter that has ended.
TEST_F(FaultTest, ConverterThatCrashesStillLetsItsJobBeDelivered)
{
    std::wstring folder = FaultFolder(L"fault-converter-crash");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    ASSERT_TRUE(StartOkClient(folder));
    UseCopyData(folder, kOkClass);

    std::wstring crashing = Job(folder, 1);
    WriteFileBytes(crashing + L".orstdisp.crash", "");
    HandOff(L"root", crashing, PersonalEventName());
    ASSERT_TRUE(Received(folder, L"ok.txt", 1));
    EXPECT_EQ(1u, HelperRecords(folder, L"orstdisp.exe", "crash").size());
    EXPECT_TRUE(HelperRecords(folder, L"orstdisp.exe", "finished").empty());
    EXPECT_TRUE(FileExists(crashing));

    HandOff(L"root", Job(folder, 2), PersonalEventName());
    ASSERT_TRUE(Received(folder, L"ok.txt", 2));
    EXPECT_EQ(2u, CountLog(L"Converter finished."));
    EXPECT_EQ("", Reports(listener));
    EXPECT_TRUE(IsRunning(agent));
}

// Another process deletes, renames, locks or opens the log while the agent
// runs: records may be dropped, but every job is delivered, the agent keeps
// running and what reaches a file is whole records.
TEST_F(FaultTest, LogDeletedRenamedOrLockedByAnotherProcess)
{
    std::wstring folder = FaultFolder(L"fault-log");
    const std::wstring renamed = std::wstring(kTestLogPath) + L".old";
    DeleteFileW(renamed.c_str());
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    ASSERT_TRUE(StartOkClient(folder));
    UseCopyData(folder, kOkClass);
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));

    struct Disturbance {
        const char* what;
        HANDLE (*apply)(const std::wstring& renamed);  // returns a handle to close afterwards, or null
    } disturbances[] = {
        {"deleted", [](const std::wstring&) -> HANDLE {
             DeleteFileW(kTestLogPath);
             return nullptr;
         }},
        {"renamed", [](const std::wstring& to) -> HANDLE {
             MoveFileW(kTestLogPath, to.c_str());
             return nullptr;
         }},
        {"opened without sharing", [](const std::wstring&) -> HANDLE {
             HANDLE file = CreateFileW(kTestLogPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
             return file == INVALID_HANDLE_VALUE ? nullptr : file;
         }},
        {"locked", [](const std::wstring&) -> HANDLE {
             HANDLE file = CreateFileW(kTestLogPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
             if (file == INVALID_HANDLE_VALUE)
                 return nullptr;
             OVERLAPPED whole = {};
             LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole);
             return file;  // closing it releases the lock
         }},
    };
    int id = 1;
    for (const Disturbance& d : disturbances) {
        SCOPED_TRACE(d.what);
        HANDLE held = d.apply(renamed);
        HandOff(L"root", Job(folder, id), PersonalEventName());
        EXPECT_TRUE(Received(folder, L"ok.txt", id));
        ++id;
        HandOff(L"Shared", Job(folder, id), kSharedEvent);
        EXPECT_TRUE(Received(folder, L"ok.txt", id));
        ++id;
        if (held != nullptr)
            CloseHandle(held);
        EXPECT_TRUE(IsRunning(agent));
    }
    HandOff(L"root", Job(folder, id), PersonalEventName());
    EXPECT_TRUE(Received(folder, L"ok.txt", id));

    std::vector<int> ids = ReceivedJobIds(folder + L"\\ok.txt");
    EXPECT_EQ(static_cast<size_t>(id), ids.size()) << "a job was delivered twice or lost";
    EXPECT_EQ("", Reports(listener));
    EXPECT_TRUE(StopAgent(&agents_.back(), 5000));

    // Whatever file the records went to holds whole records only.
    std::wstring bad;
    EXPECT_TRUE(LogRecordsWellFormed(&bad)) << Utf8(bad.substr(0, 200));
    if (FileExists(renamed)) {
        DeleteLog();
        ASSERT_TRUE(MoveFileW(renamed.c_str(), kTestLogPath));
        EXPECT_TRUE(LogRecordsWellFormed(&bad)) << "renamed log: " << Utf8(bad.substr(0, 200));
    }
}

// The main key vanishes while a preprocessor holds a job: that job was set up
// before and is delivered; the next signal finds no key (61446), a hand-off
// into a key without delivery settings is reported (112), and once the
// settings are back jobs flow again.
TEST_F(FaultTest, MainKeyDeletedWhileAPreprocessorHolds)
{
    std::wstring folder = HoldFolder(L"fault-key-deleted");
    AgentProcess agent = Start(folder);
    NotificationListener listener;
    UseCommandLine(folder);

    std::wstring held = Job(folder, 1);
    WriteFileBytes(held + L".hold", "");
    HandOff(L"root", held, PersonalEventName());
    ASSERT_TRUE(WaitUntil(
        [&] {
            for (const std::string& line : ReadLines(folder + L"\\CustomRoutine.exe.log")) {
                if (line.rfind("started\t", 0) == 0 && line.find(Utf8(held)) != std::string::npos)
                    return true;
            }
            return false;
        },
        20000));
    DeleteMainKey();
    DeleteFileW((held + L".hold").c_str());
    EXPECT_TRUE(Received(folder, L"cl.txt", 1));
    EXPECT_TRUE(FileExists(held));

    ASSERT_TRUE(SignalEvent(PersonalEventName()));
    Notification n = {};
    ASSERT_TRUE(listener.WaitFor(61446, 10000, &n));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, static_cast<DWORD>(n.code));

    std::wstring unconfigured = Job(folder, 2);
    HandOff(L"root", unconfigured, PersonalEventName());  // creates the key with the value alone
    ASSERT_TRUE(listener.WaitFor(112));
    EXPECT_TRUE(WaitUntil([&] { return !FileExists(unconfigured); }, 10000));
    EXPECT_TRUE(FileExists(folder + L"\\job2.emf"));

    UseCommandLine(folder);
    HandOff(L"root", Job(folder, 3), PersonalEventName());
    EXPECT_TRUE(Received(folder, L"cl.txt", 3));
    EXPECT_EQ(2u, ReceivedJobIds(folder + L"\\cl.txt").size());
    EXPECT_TRUE(IsRunning(agent));
}

TEST_F(FaultTest, KillWhileTwentyJobsRunEndsTheAgentAndLeavesTheirFiles)
{
    std::wstring folder = HoldFolder(L"fault-kill-twenty");
    AgentProcess agent = Start(folder);
    UseCommandLine(folder);

    std::vector<std::wstring> jobs;
    for (int id = 1; id <= 20; ++id) {
        jobs.push_back(Job(folder, id));
        WriteFileBytes(jobs.back() + L".hold", "");
        // As the printer side does: one hand-off value at a time.
        HandOff(id % 2 ? L"root" : L"Shared", jobs.back(), id % 2 ? PersonalEventName() : kSharedEvent);
        ASSERT_TRUE(WaitUntil([&] { return !MainValueExists(L"root") && !MainValueExists(L"Shared"); }, 10000));
    }
    ASSERT_TRUE(WaitUntil(
        [&] {
            size_t started = 0;
            for (const std::string& line : ReadLines(folder + L"\\CustomRoutine.exe.log"))
                started += line.rfind("started\t", 0) == 0;
            return started == jobs.size();
        },
        60000));

    ExpectQuickKill(agent);
    for (int id = 1; id <= 20; ++id) {
        EXPECT_TRUE(FileExists(jobs[id - 1])) << id;
        EXPECT_TRUE(FileExists(folder + L"\\job" + std::to_wstring(id) + L".emf")) << id;
    }
    EXPECT_TRUE(ReadLines(folder + L"\\cl.txt").empty());
}

}  // namespace
