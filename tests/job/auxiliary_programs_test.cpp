// The preprocessor, progress indicator and converter as the real agent runs
// them: cancellation, a missing converter, the progress window of each job,
// an agent folder with spaces and command lines that do not fit.
#include "job_fixture.h"

#include <algorithm>

namespace {

class AuxiliaryProgramsTest : public JobTest {
protected:
    std::wstring StartAgentWithStandIns(const std::wstring& name, DWORD messageMode,
                                        std::initializer_list<const wchar_t*> programs = {
                                            L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe"})
    {
        std::wstring folder = MakeFolder(name, programs);
        UseCommandLineClient(folder);
        SetMainDword(L"Log", 1);
        SetMainDword(L"Message Mode", messageMode);
        Start(folder);
        return folder;
    }
};

size_t CountLog(const std::wstring& text)
{
    std::vector<std::wstring> records = ReadLogRecords();
    return static_cast<size_t>(std::count(records.begin(), records.end(), text));
}

TEST_F(AuxiliaryProgramsTest, PreprocessorCancelInAnyCaseStopsTheJob)
{
    std::wstring folder = StartAgentWithStandIns(L"aux-cancel", 1);
    NotificationListener listener;
    std::vector<std::wstring> cancelled;
    for (const wchar_t* verdict : {L"Cancel", L"cancel", L"CANCEL"}) {
        SCOPED_TRACE(testing::Message() << verdict);
        WriteStandInSettings(folder, std::wstring(L"[CustomRoutine]\r\nPreprocessingResult=") + verdict + L"\r\n");
        std::wstring jobPath = WriteJobFile(folder, std::wstring(L"cancel-") + verdict + L".ini", 1);
        HandOff(L"root", jobPath, PersonalEventName());
        ASSERT_TRUE(WaitForRecord(folder, L"CustomRoutine.exe", L"started", jobPath));
        ASSERT_TRUE(WaitUntil([&] { return CountLog(L"Preprocessing finished.") == cancelled.size() + 1; }, 10000));
        cancelled.push_back(jobPath);
    }
    // A job that goes through afterwards shows the cancelled ones are over.
    WriteStandInSettings(folder, L"[CustomRoutine]\r\nPreprocessingResult=Checked\r\n");
    std::wstring passed = WriteJobFile(folder, L"passed.ini", 2);
    HandOff(L"root", passed, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, passed));

    for (const std::wstring& jobPath : cancelled) {
        EXPECT_TRUE(FileExists(jobPath)) << "the job description file stays";
        EXPECT_TRUE(RecordsOf(folder, L"progress.exe", L"started", &jobPath).empty());
        EXPECT_TRUE(RecordsOf(folder, L"orstdisp.exe", L"started", &jobPath).empty());
        EXPECT_TRUE(RecordsOf(folder, L"client.exe", L"started", &jobPath).empty());
    }
    EXPECT_EQ(1u, CountLog(L"Starting converter."));
    EXPECT_EQ(1u, RecordsOf(folder, L"client.exe", L"started").size());
    EXPECT_TRUE(listener.Received().empty()) << "a cancellation is not reported";
}

TEST_F(AuxiliaryProgramsTest, MissingConverterIsReportedAndTheJobGoesOn)
{
    for (DWORD messageMode : {1u, 0u}) {
        SCOPED_TRACE(messageMode ? "message mode" : "message box");
        std::wstring folder = StartAgentWithStandIns(messageMode ? L"aux-no-converter-1" : L"aux-no-converter-0",
                                                     messageMode,
                                                     {L"CustomRoutine.exe", L"progress.exe"});
        NotificationListener listener;
        std::wstring jobPath = WriteJobFile(folder, L"job.ini", 3);
        HandOff(L"root", jobPath, PersonalEventName());
        if (messageMode) {
            ASSERT_TRUE(listener.WaitFor(61456));
        } else {
            std::wstring text;
            ASSERT_TRUE(TakeMessageBox(&text));
            EXPECT_EQ(L"Cannot find converter executable.", text);
        }
        // The client still receives the path of the now deleted file.
        ASSERT_TRUE(WaitForClient(folder, jobPath));
        EXPECT_FALSE(FileExists(jobPath));
        EXPECT_TRUE(WaitForLog(L"Cannot find converter executable."));
        EXPECT_FALSE(LogContains(L"Converter finished."));
        EXPECT_TRUE(WaitForRecord(folder, L"progress.exe", L"closed", jobPath));
        StopAgent(&agents_.back());
        agents_.pop_back();
        DeleteLog();
    }
}

TEST_F(AuxiliaryProgramsTest, ProgressWindowIsOpenedAndClosed)
{
    std::wstring folder = StartAgentWithStandIns(L"aux-progress", 1);
    std::wstring jobPath = WriteJobFile(folder, L"job.ini", 4);
    HandOff(L"root", jobPath, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, jobPath));
    ASSERT_TRUE(WaitForRecord(folder, L"progress.exe", L"closed", jobPath));
    std::vector<StandInRecord> runs = RecordsOf(folder, L"progress.exe", L"started", &jobPath);
    ASSERT_EQ(1u, runs.size());
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(runs[0].processId); }, 10000));
    EXPECT_EQ(1u, RecordsOf(folder, L"CustomRoutine.exe", L"started", &jobPath).size());
    EXPECT_EQ(1u, RecordsOf(folder, L"orstdisp.exe", L"finished", &jobPath).size());
    std::vector<std::wstring> expected = {L"Preprocessing finished.", L"Progress indicator started.",
                                          L"Starting converter.", L"Converter finished.",
                                          L"Progress indicator process terminated.", L"Run client application."};
    std::vector<std::wstring> records = ReadLogRecords();
    auto at = records.begin();
    for (const std::wstring& step : expected) {
        at = std::find(at, records.end(), step);
        EXPECT_NE(records.end(), at) << "missing or out of order: " << std::string(step.begin(), step.end());
    }
}

// Two jobs at once, each held in its converter: the first to finish closes
// its own progress window, not the other job's.
TEST_F(AuxiliaryProgramsTest, EachJobClosesItsOwnProgressWindow)
{
    std::wstring folder = StartAgentWithStandIns(L"aux-two-progress", 1);
    WriteStandInSettings(folder, L"[orstdisp]\r\nHoldSuffix=.hold\r\n");
    std::wstring first = WriteJobFile(folder, L"first.ini", 5);
    std::wstring second = WriteJobFile(folder, L"second.ini", 6);
    WriteFileBytes(first + L".hold", "");
    WriteFileBytes(second + L".hold", "");

    HandOff(L"root", first, PersonalEventName());
    ASSERT_TRUE(WaitForRecord(folder, L"progress.exe", L"window", first));
    ASSERT_TRUE(WaitForRecord(folder, L"orstdisp.exe", L"started", first));
    HandOff(L"Shared", second, kSharedEvent);
    ASSERT_TRUE(WaitForRecord(folder, L"progress.exe", L"window", second));
    ASSERT_TRUE(WaitForRecord(folder, L"orstdisp.exe", L"started", second));
    DWORD firstProgress = RecordsOf(folder, L"progress.exe", L"window", &first)[0].processId;
    DWORD secondProgress = RecordsOf(folder, L"progress.exe", L"window", &second)[0].processId;

    DeleteFileW((first + L".hold").c_str());
    ASSERT_TRUE(WaitForClient(folder, first));
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(firstProgress); }, 10000)) << "first job's window left open";
    EXPECT_FALSE(ProcessEnded(secondProgress)) << "second job's window closed by the first job";
    EXPECT_TRUE(RecordsOf(folder, L"progress.exe", L"closed", &second).empty());

    DeleteFileW((second + L".hold").c_str());
    ASSERT_TRUE(WaitForClient(folder, second));
    EXPECT_TRUE(WaitUntil([&] { return ProcessEnded(secondProgress); }, 10000));
    EXPECT_EQ(1u, RecordsOf(folder, L"progress.exe", L"closed", &first).size());
    EXPECT_EQ(1u, RecordsOf(folder, L"progress.exe", L"closed", &second).size());
}

// Under C:\...\x\Program Files\Orsanto an unquoted program path would start
// C:\...\x\Program.exe; the agent starts exactly its own programs.
TEST_F(AuxiliaryProgramsTest, AgentFolderWithSpacesStartsItsOwnPrograms)
{
    std::wstring root = MakeTestFolder(L"x");
    std::wstring folder = root + L"\\Program Files\\Orsanto";
    ASSERT_TRUE(CreateDirectoryW((root + L"\\Program Files").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    for (const wchar_t* program :
         {L"orsanto-agent.exe", L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe"})
        CopyProgram(folder, program);
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    CopyProgram(root, L"orstdisp.exe", L"Program.exe");
    Track(folder);
    UseCommandLineClient(folder);
    SetMainDword(L"Message Mode", 1);
    Start(folder);

    std::wstring jobPath = WriteJobFile(root, L"job.ini", 7);
    HandOff(L"root", jobPath, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, jobPath));
    ASSERT_TRUE(WaitForRecord(folder, L"progress.exe", L"closed", jobPath));
    for (const wchar_t* program : {L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe"}) {
        std::vector<StandInRecord> runs = RecordsOf(folder, program, L"started");
        ASSERT_EQ(1u, runs.size()) << std::wstring(program).size();
        EXPECT_EQ(folder + L"\\" + program, runs[0].module);
        EXPECT_EQ(jobPath, runs[0].argument);
    }
    EXPECT_FALSE(FileExists(root + L"\\Program.exe.log")) << "the decoy ran";
}

// The progress indicator's command line (program path, space, job path) has
// 259 characters and a terminator; one more and it is not started at all,
// while the preprocessor and converter (1024) still get the whole path.
TEST_F(AuxiliaryProgramsTest, ProgressCommandLineThatDoesNotFitIsNotStarted)
{
    std::wstring base = MakeTestFolder(L"deep");
    std::wstring folder = base;
    for (int level = 0; level < 3; ++level) {
        folder += L"\\" + std::wstring(40, static_cast<wchar_t>(L'a' + level));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }
    for (const wchar_t* program :
         {L"orsanto-agent.exe", L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe"})
        CopyProgram(folder, program);
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    Track(folder);
    UseCommandLineClient(folder);
    SetMainDword(L"Message Mode", 1);
    SetMainDword(L"Log", 1);
    Start(folder);

    const size_t programChars = folder.size() + std::wstring(L"\\progress.exe").size();
    std::wstring jobFolder = MakeTestFolder(L"deep-jobs");
    auto jobPathOfLength = [&](size_t length, wchar_t fill) {
        size_t stem = length - jobFolder.size() - 1 - 4;
        return jobFolder + L"\\" + std::wstring(stem, fill) + L".ini";
    };
    std::wstring fits = jobPathOfLength(259 - programChars - 1, L'f');
    std::wstring tooLong = jobPathOfLength(260 - programChars - 1, L't');
    ASSERT_EQ(259u, programChars + 1 + fits.size());
    WriteJobFile(jobFolder, fits.substr(jobFolder.size() + 1), 8);
    WriteJobFile(jobFolder, tooLong.substr(jobFolder.size() + 1), 9);

    HandOff(L"root", fits, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, fits));
    HandOff(L"root", tooLong, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, tooLong));

    EXPECT_EQ(1u, RecordsOf(folder, L"progress.exe", L"started", &fits).size());
    EXPECT_TRUE(WaitForRecord(folder, L"progress.exe", L"closed", fits));
    EXPECT_EQ(1u, RecordsOf(folder, L"progress.exe", L"started").size()) << "started with a cut path";
    EXPECT_EQ(1u, CountLog(L"Progress indicator started."));
    for (const std::wstring& jobPath : {fits, tooLong}) {
        EXPECT_EQ(1u, RecordsOf(folder, L"CustomRoutine.exe", L"started", &jobPath).size());
        EXPECT_EQ(1u, RecordsOf(folder, L"orstdisp.exe", L"started", &jobPath).size());
    }
}

}  // namespace
