// Delivery settings as the real agent reads them for a job: an empty client
// application, a transfer mode stored as text, and a client path with spaces.
#include "job_fixture.h"

namespace {

using DeliveryTest = JobTest;

const wchar_t kText112[] =
    L"The Orsanto printer has not been properly configured. A required file could not be located. "
    L"Please contact support.";

TEST_F(DeliveryTest, EmptyClientApplicationReports112AndDeletesTheJobFile)
{
    for (DWORD messageMode : {1u, 0u}) {
        SCOPED_TRACE(messageMode ? "message mode" : "message box");
        std::wstring folder = MakeFolder(messageMode ? L"delivery-no-client-1" : L"delivery-no-client-0");
        SetMainDword(L"Message Mode", messageMode);
        SetMainString(L"Client Application", L"");
        Start(folder);
        NotificationListener listener;

        std::wstring jobPath = WriteJobFile(folder, L"job.ini", 1);
        HandOff(L"root", jobPath, PersonalEventName());
        if (messageMode) {
            ASSERT_TRUE(listener.WaitFor(112));
        } else {
            std::wstring text;
            ASSERT_TRUE(TakeMessageBox(&text));
            EXPECT_EQ(kText112, text);
        }
        EXPECT_TRUE(WaitUntil([&] { return !FileExists(jobPath); }, 10000));
        // The settings are read before any auxiliary program runs.
        EXPECT_TRUE(ReadRecords(folder, L"CustomRoutine.exe").empty());
        EXPECT_TRUE(ReadRecords(folder, L"orstdisp.exe").empty());
        StopAgent(&agents_.back());
        agents_.pop_back();
    }
}

TEST_F(DeliveryTest, TransferModeStoredAsTextOneIsCommandLineMode)
{
    std::wstring folder = MakeFolder(L"delivery-mode-text");
    SetMainDword(L"Message Mode", 1);
    SetMainString(L"Client Application", folder + L"\\client.exe");
    // "1" with its terminator is 31 00 00 00: 0x31, not copy-data mode (which
    // would report 111 here, having no target window configured).
    SetMainString(L"Transfer Mode", L"1");
    Start(folder);
    NotificationListener listener;

    std::wstring jobPath = WriteJobFile(folder, L"job.ini", 2);
    HandOff(L"root", jobPath, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, jobPath));
    EXPECT_TRUE(FileExists(jobPath));
    EXPECT_TRUE(listener.Received().empty());
}

// The client application is quoted, so neither a decoy Program.exe nor any
// other file on the way starts instead of it.
TEST_F(DeliveryTest, ClientPathWithSpacesStartsExactlyTheClient)
{
    std::wstring root = MakeTestFolder(L"delivery-spaces");
    std::wstring folder = root + L"\\Program Files\\Client App";
    ASSERT_TRUE(CreateDirectoryW((root + L"\\Program Files").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    CopyProgram(folder, L"orsanto-agent.exe");
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    CopyProgram(root, L"orstdisp.exe", L"Program.exe");
    Track(folder);
    Track(root);
    SetMainDword(L"Message Mode", 1);
    SetMainString(L"Client Application", folder + L"\\client.exe");
    Start(folder);

    std::wstring jobPath = WriteJobFile(root, L"job with spaces.ini", 3);
    HandOff(L"root", jobPath, PersonalEventName());
    ASSERT_TRUE(WaitForClient(folder, jobPath));
    std::vector<StandInRecord> runs = ReadRecords(folder, L"client.exe");
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(folder + L"\\client.exe", runs[0].module);
    EXPECT_FALSE(FileExists(root + L"\\Program.exe.log"));
}

}  // namespace
