// Soak: many jobs through all three transfer modes against the real agent,
// with orsanto-print as the printer side, four sample clients (two of them
// slow) and the auxiliary programs. Afterwards nothing may be lost, deleted
// out of turn, cut in the log or leaked. ORSANTO_SOAK_JOBS sets the number of
// jobs (default 60; scripts/soak.sh runs 2,000).
#include "reliability_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace {

enum class Batch { CopyDataFast, CopyDataSlow, Clipboard, CommandLine, CopyDataNoClient, ClipboardNoWindow };

struct BatchPlan {
    Batch batch;
    int jobs;
    bool shared;  // handed off as shared jobs ("Shared", shared event)
};

// One round of 30 jobs. The delivery settings are read per job, so they are
// switched only between batches, once every job of a batch has ended.
const BatchPlan kRound[] = {
    {Batch::CopyDataFast, 7, false},
    {Batch::CopyDataSlow, 5, true},
    {Batch::Clipboard, 5, false},
    {Batch::CommandLine, 7, true},
    {Batch::CopyDataNoClient, 3, false},
    {Batch::ClipboardNoWindow, 3, true},
};
constexpr int kRoundJobs = 30;

bool Delivers(Batch batch)
{
    return batch != Batch::CopyDataNoClient && batch != Batch::ClipboardNoWindow;
}

struct Job {
    int id;
    Batch batch;
    std::wstring path;
    std::wstring emf;
};

const wchar_t kFastClass[] = L"OrsantoSoakFast";
const wchar_t kSlowClass[] = L"OrsantoSoakSlow";
const wchar_t kClipboardClass[] = L"OrsantoSoakClipboard";
const wchar_t kNobodyClass[] = L"OrsantoSoakNobody";
const wchar_t kFormat[] = L"Orsanto soak job path";
const DWORD kClipboardMessage = 0x8123;

int SoakJobs()
{
    const char* text = std::getenv("ORSANTO_SOAK_JOBS");
    int jobs = text != nullptr ? std::atoi(text) : 0;
    return jobs > 0 ? jobs : 60;
}

// Texts the agent logs on the paths the soak takes.
bool IsKnownRecord(const std::wstring& record)
{
    static const std::set<std::wstring> known = {
        L"Agent started.",
        L"Waiting for events.",
        L"New print job received. Start processing thread.",
        L"Shared print job received. Start processing thread.",
        L"Processing thread started.",
        L"Preprocessing finished.",
        L"Progress indicator started.",
        L"Starting converter.",
        L"Converter finished.",
        L"Progress indicator process terminated.",
        L"Sending WM_COPYDATA.",
        L"Run client application.",
        L"Target application is inaccessible.",
        L"Failed to open clipboard.",
        L"Cannot find converter executable.",
        L"Suicide.",
        L"Agent exits.",
    };
    static const std::wstring jobInfo = L"Print job info successfully retrieved. JobID=";
    if (known.count(record))
        return true;
    return record.rfind(jobInfo, 0) == 0 && record.size() > jobInfo.size()
        && record.find_first_not_of(L"0123456789", jobInfo.size()) == std::wstring::npos;
}

class SoakTest : public ReliabilityTest {
protected:
    void SetUp() override
    {
        ReliabilityTest::SetUp();
        folder_ = MakeFolder(L"soak", {L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe",
                                       L"orsanto-sample-client.exe", L"orsanto-print.exe"});
        jobs_ = folder_ + L"\\jobs";
        CreateDirectoryW(jobs_.c_str(), nullptr);
        for (const wchar_t* name : {L"fast", L"slow", L"clipboard", L"commandline"})
            records_.push_back(folder_ + L"\\" + name + L".txt");
    }

    std::wstring Client() const { return L"\"" + folder_ + L"\\orsanto-sample-client.exe\""; }

    void Configure(Batch batch)
    {
        std::wstring nobody = folder_ + L"\\no-such-client.exe";
        switch (batch) {
        case Batch::CopyDataFast:
            ConfigureDelivery(kCopyDataMode, nobody, kFastClass, L"", 7);
            break;
        case Batch::CopyDataSlow:
            ConfigureDelivery(kCopyDataMode, nobody, kSlowClass, L"", 8);
            break;
        case Batch::Clipboard:
            ConfigureDelivery(kClipboardMode, nobody, kClipboardClass, kFormat, kClipboardMessage);
            break;
        case Batch::CommandLine:
            ConfigureDelivery(kCommandLineMode,
                              Client() + L" --record " + records_[3] + L" --no-window --exit-after-ms 300", L"");
            break;
        case Batch::CopyDataNoClient:
            ConfigureDelivery(kCopyDataMode, nobody, kNobodyClass, L"", 7);
            break;
        case Batch::ClipboardNoWindow:
            ConfigureDelivery(kClipboardMode, nobody, kNobodyClass, kFormat, kClipboardMessage);
            break;
        }
    }

    // Prints jobs with orsanto-print, which hands each over only once the
    // agent has taken the one before; adds them to jobs.
    bool Print(int count, bool shared, Batch batch, std::vector<Job>* printed)
    {
        std::wstring program = folder_ + L"\\orsanto-print.exe";
        std::wstring command = L"\"" + program + L"\" --kind " + (shared ? L"shared" : L"personal") + L" --jobs "
            + std::to_wstring(count) + L" --job-id " + std::to_wstring(nextId_) + L" --pages 1 --timeout 60000"
            + L" --folder " + jobs_;
        std::string output;
        int code = RunProgram(command, &output, 300000);
        EXPECT_EQ(0, code) << output;
        size_t at = 0;
        int found = 0;
        while ((at = output.find("job ", at)) != std::string::npos) {
            size_t colon = output.find(": ", at);
            size_t end = output.find_first_of("\r\n", colon);
            if (colon == std::string::npos || end == std::string::npos)
                break;
            Job job;
            job.id = std::atoi(output.c_str() + at + 4);
            std::string path = output.substr(colon + 2, end - colon - 2);
            job.path.assign(path.begin(), path.end());
            job.emf = job.path.substr(0, job.path.size() - 4) + L"-page1.emf";
            job.batch = batch;
            printed->push_back(job);
            ++found;
            at = end;
        }
        nextId_ += count;
        return code == 0 && found == count;
    }

    std::multiset<int> Delivered() const
    {
        std::multiset<int> ids;
        for (const std::wstring& file : records_) {
            for (int id : ReceivedJobIds(file))
                ids.insert(id);
        }
        return ids;
    }

    bool AllDelivered(const std::vector<Job>& jobs, size_t from, DWORD timeoutMs)
    {
        return WaitUntil(
            [&] {
                std::multiset<int> delivered = Delivered();
                for (size_t i = from; i < jobs.size(); ++i) {
                    if (delivered.count(jobs[i].id) == 0)
                        return false;
                }
                return true;
            },
            timeoutMs);
    }

    std::wstring folder_;
    std::wstring jobs_;
    std::vector<std::wstring> records_;  // fast, slow, clipboard, command line
    int nextId_ = 1000;
};

TEST_F(SoakTest, EveryJobIsDeliveredOnceOrReportedAndNothingLeaks)
{
    const int rounds = (SoakJobs() + kRoundJobs - 1) / kRoundJobs;
    const DWORD platformLeakPerWait = HandlesLeftPerInputIdleWait(folder_);
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);  // reports are broadcast, never boxes that hold a job
    AgentProcess agent = Start(folder_);
    ASSERT_TRUE(IsRunning(agent));
    NotificationListener listener;

    ASSERT_TRUE(StartSampleClient(folder_, L"--class " + std::wstring(kFastClass) + L" --record " + records_[0],
                                  kFastClass));
    ASSERT_TRUE(StartSampleClient(
        folder_, L"--class " + std::wstring(kSlowClass) + L" --record " + records_[1] + L" --delay-ms 150",
        kSlowClass));
    ASSERT_TRUE(StartSampleClient(folder_,
                                  L"--class " + std::wstring(kClipboardClass) + L" --record " + records_[2]
                                      + L" --clipboard-format \"" + kFormat + L"\" --message "
                                      + std::to_wstring(kClipboardMessage),
                                  kClipboardClass));

    std::vector<Job> jobs;
    DWORD baselineHandles = 0;
    SIZE_T baselineBytes = 0;
    size_t baselineWaits = 0;
    auto inputIdleWaits = [] {
        // Each closed progress indicator and each command-line client is
        // one WaitForInputIdle of the agent.
        return CountLog(L"Progress indicator process terminated.") + CountLog(L"Run client application.");
    };
    std::map<Batch, size_t> reportsSeen;

    for (int round = 0; round < rounds; ++round) {
        for (const BatchPlan& plan : kRound) {
            Configure(plan.batch);
            size_t first = jobs.size();
            size_t reportsBefore = CountNotifications(listener, 61447) + CountNotifications(listener, 61449);
            if (plan.batch == Batch::Clipboard) {
                // The clipboard holds one job at a time: the printer side's
                // pace is the client's, as with a user printing.
                for (int i = 0; i < plan.jobs; ++i) {
                    ASSERT_TRUE(Print(1, plan.shared, plan.batch, &jobs));
                    EXPECT_TRUE(AllDelivered(jobs, jobs.size() - 1, 60000)) << "clipboard job " << jobs.back().id;
                }
            } else {
                ASSERT_TRUE(Print(plan.jobs, plan.shared, plan.batch, &jobs));
            }
            if (Delivers(plan.batch)) {
                EXPECT_TRUE(AllDelivered(jobs, first, 120000)) << "round " << round;
            } else {
                EXPECT_TRUE(WaitUntil(
                    [&] {
                        return CountNotifications(listener, 61447) + CountNotifications(listener, 61449)
                            >= reportsBefore + plan.jobs;
                    },
                    60000))
                    << "round " << round;
                reportsSeen[plan.batch] += CountNotifications(listener, 61447)
                    + CountNotifications(listener, 61449) - reportsBefore;
            }
        }
        ASSERT_TRUE(IsRunning(agent)) << "after round " << round;
        if (round == 0) {
            baselineHandles = SettledHandleCount(agent);
            baselineBytes = PrivateBytes(agent);
            baselineWaits = inputIdleWaits();
        }
    }
    // The last command-line clients end on their own.
    Sleep(500);
    DWORD endHandles = SettledHandleCount(agent);
    SIZE_T endBytes = PrivateBytes(agent);
    size_t waits = inputIdleWaits() - baselineWaits;
    ASSERT_TRUE(IsRunning(agent));

    // Every job is delivered exactly once, or reported and its files left or
    // removed as its outcome says.
    std::multiset<int> delivered = Delivered();
    size_t deliveredJobs = 0, reportedJobs = 0, lost = 0, twice = 0, filesWrong = 0, converterFailed = 0;
    for (const Job& job : jobs) {
        size_t times = delivered.count(job.id);
        bool jobFile = FileExists(job.path);
        bool emf = FileExists(job.emf);
        if (Delivers(job.batch)) {
            deliveredJobs += times > 0;
            lost += times == 0;
            twice += times > 1;
            // They belong to the client now. Only a converter that could not
            // be started (Wine may fail a launch under load; the agent does
            // not retry) takes the job file with it, and the job goes on.
            if (!jobFile && emf)
                ++converterFailed;
            else
                filesWrong += !jobFile || !emf;
        } else {
            EXPECT_EQ(0u, times) << "job " << job.id << " had no client to go to";
            reportedJobs += 1;
            // A copy-data job without a window keeps its files; a failed
            // clipboard delivery deletes both (an unopened clipboard, 61449,
            // deletes nothing).
            if (job.batch == Batch::CopyDataNoClient)
                filesWrong += !jobFile || !emf;
            else
                filesWrong += jobFile != emf;
        }
    }
    size_t reportsExpected = 0;
    for (const BatchPlan& plan : kRound)
        reportsExpected += Delivers(plan.batch) ? 0 : static_cast<size_t>(plan.jobs * rounds);
    size_t reportsReceived = reportsSeen[Batch::CopyDataNoClient] + reportsSeen[Batch::ClipboardNoWindow];
    lost += reportsExpected > reportsReceived ? reportsExpected - reportsReceived : 0;

    // The agent ends on the kill event, and the log is whole.
    EXPECT_TRUE(StopAgent(&agents_.back(), 10000)) << "the agent did not end on the kill event";
    std::vector<std::wstring> records = ReadLogRecords();
    std::wstring firstBad;
    bool wellFormed = LogRecordsWellFormed(&firstBad);
    size_t badRecords = 0;
    for (const std::wstring& record : records) {
        if (!IsKnownRecord(record)) {
            if (badRecords++ == 0)
                ADD_FAILURE() << "unexpected log record: " << Utf8(record.substr(0, 200));
        }
    }

    long long handleGrowth = static_cast<long long>(endHandles) - baselineHandles;
    long long platformHandles = static_cast<long long>(platformLeakPerWait) * static_cast<long long>(waits);
    long long memoryGrowth = static_cast<long long>(endBytes) - static_cast<long long>(baselineBytes);
    std::printf("soak: jobs %zu, delivered %zu, reported %zu, lost %zu, delivered twice %zu, files out of turn %zu,"
                " converter not started %zu\n"
                "soak: log records %zu, bad records %zu\n"
                "soak: handles %lu -> %lu (growth %lld, of which Wine's WaitForInputIdle %lld), private bytes "
                "%zu -> %zu (growth %lld)\n",
                jobs.size(), deliveredJobs, reportedJobs, lost, twice, filesWrong, converterFailed, records.size(),
                badRecords,
                static_cast<unsigned long>(baselineHandles), static_cast<unsigned long>(endHandles), handleGrowth,
                platformHandles, static_cast<size_t>(baselineBytes), static_cast<size_t>(endBytes), memoryGrowth);
    std::fflush(stdout);

    EXPECT_EQ(static_cast<size_t>(rounds * kRoundJobs), jobs.size());
    EXPECT_EQ(0u, lost);
    EXPECT_EQ(0u, twice);
    EXPECT_EQ(0u, filesWrong);
    EXPECT_EQ(reportsExpected, reportsReceived);
    EXPECT_EQ(0u, CountNotifications(listener, 61448));
    EXPECT_EQ(converterFailed, CountNotifications(listener, 61456));
    EXPECT_TRUE(wellFormed) << Utf8(firstBad.substr(0, 200));
    EXPECT_EQ(0u, badRecords);
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(L"Agent exits.", records.back());
    // Per job, a leak shows as one handle or more; a few of Wine's own come and go.
    EXPECT_LE(handleGrowth, platformHandles + 16);
    // Private bytes: a leak per job shows as hundreds of kilobytes here.
    if (baselineBytes != 0) {
        EXPECT_LT(memoryGrowth, 2 * 1024 * 1024);
    }
}

}  // namespace
