// orsanto-print as the printer side: jobs with real EMF pages reach a running
// agent one hand-off at a time, and bad usage or a missing agent gives a
// clear message, a non-zero exit and nothing half-written.
#include "harness.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::wstring PrintCommand(const std::wstring& arguments)
{
    return L"\"" + BinDir() + L"\\orsanto-print.exe\" " + arguments;
}

size_t FilesIn(const std::wstring& folder)
{
    std::error_code ec;
    size_t count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec))
        ++count;
    return count;
}

// Lines of client.exe.log: a copy of the converter stand-in serves as the
// command-line client and records each job path it is given.
std::vector<std::wstring> ClientJobs(const std::wstring& folder)
{
    std::string bytes = ReadFileBytes(folder + L"\\client.exe.log");
    std::vector<std::wstring> jobs;
    size_t at = 0;
    while (at < bytes.size()) {
        size_t end = bytes.find('\n', at);
        std::string line = bytes.substr(at, end == std::string::npos ? std::string::npos : end - at);
        // what \t module \t argument \t pid
        size_t a = line.find('\t');
        size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
        if (c != std::string::npos && line.compare(0, a, "started") == 0)
            jobs.push_back(std::wstring(line.begin() + b + 1, line.begin() + c));
        at = end == std::string::npos ? bytes.size() : end + 1;
    }
    return jobs;
}

std::wstring ProfileString(const std::wstring& file, const wchar_t* section, const wchar_t* key)
{
    wchar_t value[MAX_PATH] = L"";
    GetPrivateProfileStringW(section, key, L"", value, MAX_PATH, file.c_str());
    return value;
}

}  // namespace

using PrintTest = AgentTest;

TEST_F(PrintTest, PrintsJobsWithRealPagesOneHandOffAtATime)
{
    std::wstring folder = MakeAgentFolder(L"print", {L"orstdisp.exe"});
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    SetMainString(L"Client Application", folder + L"\\client.exe");
    std::wstring jobs = MakeTestFolder(L"print-jobs");
    Start(folder);

    std::string output;
    ASSERT_EQ(0, RunProgram(PrintCommand(L"--jobs 3 --pages 2 --job-id 40 --folder " + jobs), &output)) << output;
    ASSERT_TRUE(WaitUntil([&] { return ClientJobs(folder).size() == 3; }, 20000));
    EXPECT_FALSE(MainValueExists(L"root"));

    // Jobs run side by side once taken: their clients may record in any order.
    std::vector<std::wstring> jobIds;
    for (const std::wstring& job : ClientJobs(folder)) {
        jobIds.push_back(ProfileString(job, L"Document", L"JobID"));
        ASSERT_EQ(L"2", ProfileString(job, L"EMF", L"Count"));
        for (const wchar_t* key : {L"File0", L"File1"}) {
            HENHMETAFILE page = GetEnhMetaFileW(ProfileString(job, L"EMF", key).c_str());
            EXPECT_NE(nullptr, page) << "not an EMF file: " << std::string(job.begin(), job.end());
            if (page)
                DeleteEnhMetaFile(page);
        }
    }
    std::sort(jobIds.begin(), jobIds.end());
    EXPECT_EQ((std::vector<std::wstring>{L"40", L"41", L"42"}), jobIds);
}

TEST_F(PrintTest, HandsOverSharedAndLegacyJobs)
{
    std::wstring jobs = MakeTestFolder(L"print-kinds");
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);  // the empty client application is broadcast, not shown
    std::wstring folder = MakeAgentFolder(L"print-kinds-agent");
    Start(folder);
    std::string output;
    EXPECT_EQ(0, RunProgram(PrintCommand(L"--kind shared --folder " + jobs), &output)) << output;
    EXPECT_TRUE(WaitForLog(L"Shared print job received. Start processing thread."));
    EXPECT_EQ(0, RunProgram(PrintCommand(L"--kind system --job-id 9 --folder " + jobs), &output)) << output;
    EXPECT_TRUE(WaitForLog(L"Print job info successfully retrieved. JobID=9"));
    TearDown();

    SetLegacyNaming(true);
    DeleteLog();
    AgentProcess legacy = StartReadyAgent(folder, true);
    agents_.push_back(legacy);
    EXPECT_EQ(0, RunProgram(PrintCommand(L"--legacy --job-id 5 --folder " + jobs), &output)) << output;
    EXPECT_TRUE(WaitForLog(L"Print job info successfully retrieved. JobID=5"));
    EXPECT_FALSE(MainValueExists(L"Print Job"));
}

TEST_F(PrintTest, RefusesBadUsageClearly)
{
    std::wstring jobs = MakeTestFolder(L"print-usage");
    WriteFileBytes(jobs + L"\\not-a-folder", "x");
    struct Case {
        const wchar_t* arguments;
        int exitCode;
        const char* message;
    } cases[] = {
        {L"--pages 0", 1, "bad option or value: --pages"},
        {L"--pages many", 1, "bad option or value: --pages"},
        {L"--jobs", 1, "bad option or value: --jobs"},
        {L"--kind everyone", 1, "--kind takes personal, shared or system"},
        {L"--frobnicate", 1, "bad option or value: --frobnicate"},
        {L"--pages 1001", 1, "bad option or value: --pages"},
        {L"--jobs 0", 1, "bad option or value: --jobs"},
        {L"--session -1", 1, "bad option or value: --session"},
        {L"--pace soon", 1, "bad option or value: --pace"},
        {L"--timeout -5", 1, "bad option or value: --timeout"},
        {L"--job-id x", 1, "bad option or value: --job-id"},
        {L"--user", 1, "bad option or value: --user"},
        {L"--folder", 1, "bad option or value: --folder"},
        {L"--kind", 1, "bad option or value: --kind"},
        {L"C:\\orsanto-tests\\missing.emf", 1, "EMF file not found"},
        {L"--folder C:\\orsanto-tests\\print-usage\\not-a-folder\\sub", 4, "job folder cannot be created"},
        {L"", 2, "no agent is waiting on Global\\root_Orsanto_printevent_SESSION1"},
    };
    for (const Case& c : cases) {
        std::string output;
        EXPECT_EQ(c.exitCode, RunProgram(PrintCommand(c.arguments), &output)) << output;
        EXPECT_NE(std::string::npos, output.find(c.message)) << output;
    }
    EXPECT_EQ(1u, FilesIn(jobs));
    EXPECT_FALSE(MainValueExists(L"root"));

    std::string usage;
    EXPECT_EQ(0, RunProgram(PrintCommand(L"--help"), &usage));
    EXPECT_NE(std::string::npos, usage.find("usage: orsanto-print")) << usage;
}

TEST_F(PrintTest, LeavesNothingBehindWhenThePathIsTooLongForTheAgent)
{
    std::wstring folder = MakeAgentFolder(L"print-long");
    Start(folder);
    // 248 characters of folder: the job file's path passes 259.
    std::wstring jobs = MakeTestFolder(L"print-long-jobs\\" + std::wstring(215, L'd'));
    std::string output;
    EXPECT_EQ(4, RunProgram(PrintCommand(L"--folder " + jobs), &output)) << output;
    EXPECT_NE(std::string::npos, output.find("job path too long for the agent")) << output;
    EXPECT_EQ(0u, FilesIn(jobs));
    EXPECT_FALSE(MainValueExists(L"root"));
}

TEST_F(PrintTest, CopiesGivenPagesIntoTheJob)
{
    std::wstring folder = MakeAgentFolder(L"print-given", {L"orstdisp.exe"});
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    SetMainString(L"Client Application", folder + L"\\client.exe");
    std::wstring jobs = MakeTestFolder(L"print-given-jobs");
    // A page of our own.
    std::wstring given = jobs + L"\\given.emf";
    HDC dc = CreateEnhMetaFileW(nullptr, given.c_str(), nullptr, nullptr);
    Rectangle(dc, 10, 10, 100, 100);
    DeleteEnhMetaFile(CloseEnhMetaFile(dc));
    Start(folder);

    std::string output;
    ASSERT_EQ(0, RunProgram(PrintCommand(L"--folder " + jobs + L" " + given), &output)) << output;
    ASSERT_TRUE(WaitUntil([&] { return ClientJobs(folder).size() == 1; }, 20000));
    std::wstring job = ClientJobs(folder)[0];
    EXPECT_EQ(L"1", ProfileString(job, L"EMF", L"Count"));
    std::wstring page = ProfileString(job, L"EMF", L"File0");
    EXPECT_NE(given, page);
    EXPECT_EQ(ReadFileBytes(given), ReadFileBytes(page));
}

// The printer side writes one value per name: by default it waits until the
// agent has taken each one, and says so when no agent does.
TEST_F(PrintTest, WaitsForTheAgentToTakeEachHandOff)
{
    std::wstring jobs = MakeTestFolder(L"print-wait");
    // An event of the agent's name that nobody serves.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, PersonalEventName().c_str());
    ASSERT_NE(nullptr, event);
    std::string output;
    EXPECT_EQ(5, RunProgram(PrintCommand(L"--timeout 300 --folder " + jobs), &output)) << output;
    EXPECT_NE(std::string::npos, output.find("the agent did not take job 1 within 300 ms")) << output;
    EXPECT_TRUE(MainValueExists(L"root"));
    // The next job is not written over the one still waiting.
    EXPECT_EQ(5, RunProgram(PrintCommand(L"--timeout 300 --job-id 2 --folder " + jobs), &output)) << output;
    EXPECT_NE(std::string::npos, output.find("has not taken the earlier hand-off value")) << output;

    ResetMainKey();
    EXPECT_EQ(0, RunProgram(PrintCommand(L"--no-wait --folder " + jobs), &output)) << output;
    EXPECT_TRUE(MainValueExists(L"root"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    CloseHandle(event);
}
