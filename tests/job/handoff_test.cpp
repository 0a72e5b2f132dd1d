// Job take-over by the real agent: which hand-off value it reads, that it
// deletes it, what it logs and what it reports when there is no job.
#include "job_fixture.h"

namespace {

std::wstring UserName()
{
    wchar_t user[64];
    DWORD size = ARRAYSIZE(user);
    return GetUserNameW(user, &size) ? user : L"";
}

std::wstring JobInfoLine(int jobId)
{
    return L"Print job info successfully retrieved. JobID=" + std::to_wstring(jobId);
}

class HandOffTest : public JobTest {
protected:
    // An agent whose jobs go to client.exe on the command line.
    std::wstring StartDeliveringAgent(const std::wstring& name, DWORD messageMode, bool legacy = false)
    {
        std::wstring folder = MakeFolder(name, {});
        UseCommandLineClient(folder);
        SetMainDword(L"Log", 1);
        SetMainDword(L"Message Mode", messageMode);
        if (legacy) {
            SetLegacyNaming(true);
            agents_.push_back(StartReadyAgent(folder, true));
        } else {
            Start(folder);
        }
        return folder;
    }
};

TEST_F(HandOffTest, ReadsTheValueOfItsKindDeletesItAndLogsTheJob)
{
    const std::wstring user = UserName();
    ASSERT_EQ(L"root", user);
    std::wstring folder = StartDeliveringAgent(L"handoff-kinds", 1);
    struct Case {
        const char* what;
        std::vector<std::wstring> values;  // written before the signal
        std::wstring event;
        std::wstring taken;                // the value that must be read and deleted
    } cases[] = {
        {"personal", {user}, PersonalEventName(), user},
        {"shared", {L"Shared"}, kSharedEvent, L"Shared"},
        {"personal falls back to SYSTEM", {L"SYSTEM"}, PersonalEventName(), L"SYSTEM"},
        {"shared falls back to SYSTEM", {L"SYSTEM"}, kSharedEvent, L"SYSTEM"},
        {"personal before SYSTEM", {user, L"SYSTEM"}, PersonalEventName(), user},
        {"shared ignores the personal value", {user, L"Shared"}, kSharedEvent, L"Shared"},
    };
    int jobId = 100;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ++jobId;
        std::wstring jobPath = WriteJobFile(folder, L"job" + std::to_wstring(jobId) + L".ini", jobId);
        std::wstring decoy = WriteJobFile(folder, L"other" + std::to_wstring(jobId) + L".ini", 1);
        for (const std::wstring& value : c.values)
            SetMainString(value.c_str(), value == c.taken ? jobPath : decoy);
        ASSERT_TRUE(SignalEvent(c.event));
        ASSERT_TRUE(WaitForClient(folder, jobPath));
        EXPECT_TRUE(WaitForLog(JobInfoLine(jobId)));
        EXPECT_FALSE(MainValueExists(c.taken.c_str()));
        for (const std::wstring& value : c.values) {
            if (value != c.taken) {
                EXPECT_TRUE(MainValueExists(value.c_str())) << "left alone";
                RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kTestMainKey, value.c_str());
            }
        }
    }
    EXPECT_TRUE(RecordsOf(folder, L"client.exe", L"started").size() == std::size(cases));
}

TEST_F(HandOffTest, LegacyNamingReadsPrintJobForEveryKind)
{
    std::wstring folder = StartDeliveringAgent(L"handoff-legacy", 1, true);
    ASSERT_TRUE(IsRunning(agents_.back()));
    struct Case {
        const char* what;
        std::wstring event;
        std::wstring value;
    } cases[] = {
        {"personal", kLegacyPrintEvent, L"Print Job"},
        {"shared", kLegacySharedEvent, L"Print Job"},
        {"falls back to SYSTEM", kLegacyPrintEvent, L"SYSTEM"},
    };
    int jobId = 200;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ++jobId;
        std::wstring jobPath = WriteJobFile(folder, L"job" + std::to_wstring(jobId) + L".ini", jobId);
        std::wstring decoy = WriteJobFile(folder, L"other" + std::to_wstring(jobId) + L".ini", 1);
        SetMainString(L"root", decoy);
        SetMainString(L"Shared", decoy);
        SetMainString(c.value.c_str(), jobPath);
        ASSERT_TRUE(SignalEvent(c.event));
        ASSERT_TRUE(WaitForClient(folder, jobPath));
        EXPECT_TRUE(WaitForLog(JobInfoLine(jobId)));
        EXPECT_FALSE(MainValueExists(c.value.c_str()));
        EXPECT_TRUE(MainValueExists(L"root"));
        EXPECT_TRUE(MainValueExists(L"Shared"));
    }
}

// 61445 without any value, 61446 when the main key is gone; broadcast in
// message mode, a box otherwise. Nothing is delivered either way.
TEST_F(HandOffTest, MissingJobOrKeyIsReported)
{
    for (DWORD messageMode : {1u, 0u}) {
        SCOPED_TRACE(messageMode ? "message mode" : "message box");
        std::wstring folder =
            StartDeliveringAgent(messageMode ? L"handoff-missing-1" : L"handoff-missing-0", messageMode);
        NotificationListener listener;

        ASSERT_TRUE(SignalEvent(PersonalEventName()));
        std::wstring expected61445 = L"Failed to get print job info.\nError # 2: " + SystemErrorText(2);
        if (messageMode) {
            Notification n = {};
            ASSERT_TRUE(listener.WaitFor(61445, 10000, &n));
            EXPECT_EQ(2, n.code);
        } else {
            std::wstring text;
            ASSERT_TRUE(TakeMessageBox(&text));
            EXPECT_EQ(expected61445, text);
        }
        EXPECT_TRUE(WaitForLog(expected61445));

        DeleteMainKey();
        ASSERT_TRUE(SignalEvent(kSharedEvent));
        std::wstring expected61446 =
            L"Failed to open registry key\nHKLM\\Software\\Orsanto\nError # 2: " + SystemErrorText(2);
        if (messageMode) {
            Notification n = {};
            ASSERT_TRUE(listener.WaitFor(61446, 10000, &n));
            EXPECT_EQ(2, n.code);
        } else {
            std::wstring text;
            ASSERT_TRUE(TakeMessageBox(&text));
            EXPECT_EQ(expected61446, text);
        }
        EXPECT_TRUE(WaitForLog(expected61446));
        EXPECT_TRUE(RecordsOf(folder, L"client.exe", L"started").empty());
        EXPECT_TRUE(IsRunning(agents_.back()));
        if (messageMode) {
            EXPECT_EQ(nullptr, FindMessageBox());
        }

        StopAgent(&agents_.back());
        agents_.pop_back();
        ResetMainKey();
        DeleteLog();
    }
}

}  // namespace
