// "Log" and "Message Mode" as stored by anyone: any type, any length.
// Up to four bytes are read whatever the type; longer data
// cannot be read and leaves the setting off.
#include "agent_test_util.h"

using SettingsTest = AgentCoreTest;

namespace {

struct StoredValue {
    const char* name;
    DWORD type;
    std::string bytes;
    bool on;  // non-zero for "Log"
};

const StoredValue kValues[] = {
    {"dword 1", REG_DWORD, std::string("\x01\0\0\0", 4), true},
    {"dword 0", REG_DWORD, std::string("\0\0\0\0", 4), false},
    {"dword 2", REG_DWORD, std::string("\x02\0\0\0", 4), true},
    {"string 1 (31 00 00 00)", REG_SZ, std::string("1\0\0\0", 4), true},
    {"string 0 (30 00 00 00)", REG_SZ, std::string("0\0\0\0", 4), true},
    {"empty string", REG_SZ, std::string("\0\0", 2), false},
    {"string 12 (6 bytes)", REG_SZ, std::string("1\0" "2\0\0\0", 6), false},
    {"binary 01", REG_BINARY, std::string("\x01", 1), true},
    {"binary 00 01", REG_BINARY, std::string("\0\x01", 2), true},
    {"binary 00 00 00 00", REG_BINARY, std::string("\0\0\0\0", 4), false},
    {"binary of 5 bytes", REG_BINARY, std::string("\x01\0\0\0\0", 5), false},
    {"no data", REG_BINARY, std::string(), false},
    {"qword 1", REG_QWORD, std::string("\x01\0\0\0\0\0\0\0", 8), false},
    {"big-endian dword 1", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\x01", 4), true},
    {"multi-string", REG_MULTI_SZ, std::string("1\0\0\0", 4), true},
    {"long multi-string", REG_MULTI_SZ, std::string("1\0\0\0\0\0", 6), false},
};

bool IsMessageModeOne(const StoredValue& v)
{
    return v.bytes.size() <= 4 && v.bytes.size() >= 1 && v.bytes[0] == 1
        && v.bytes.find_first_not_of('\0', 1) == std::string::npos;
}

}  // namespace

TEST_F(SettingsTest, LogIsOnForAnyNonZeroReadableValue)
{
    std::wstring folder = MakeAgentFolder(L"settings-log");
    for (const StoredValue& v : kValues) {
        SCOPED_TRACE(v.name);
        ResetMainKey();
        DeleteLog();
        SetMainRaw(L"Log", v.type, v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
        AgentProcess agent = Start(folder);
        ASSERT_TRUE(IsRunning(agent));
        EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
        agents_.pop_back();
        EXPECT_EQ(v.on, FileExists(kTestLogPath));
        if (v.on) {
            std::vector<std::wstring> expected = {L"Agent started.", L"Waiting for events.", L"Suicide.",
                                                  L"Agent exits."};
            EXPECT_EQ(expected, ReadLogRecords());
        }
    }
}

TEST_F(SettingsTest, MessageModeIsOnOnlyForTheNumberOne)
{
    std::wstring folder = MakeAgentFolder(L"settings-message-mode");
    for (const StoredValue& v : kValues) {
        SCOPED_TRACE(v.name);
        ResetMainKey();
        SetMainRaw(L"Message Mode", v.type, v.bytes.data(), static_cast<DWORD>(v.bytes.size()));
        NotificationListener listener;
        AgentProcess agent = Start(folder);
        ASSERT_TRUE(IsRunning(agent));
        SignalPersonalJob();
        if (IsMessageModeOne(v)) {
            EXPECT_TRUE(listener.WaitFor(0xF005));
            Sleep(200);
            EXPECT_EQ(nullptr, FindMessageBox());
        } else {
            std::wstring text;
            EXPECT_TRUE(TakeMessageBox(&text));
            EXPECT_TRUE(listener.Received().empty());
            Sleep(200);  // the job thread ends before the kill
        }
        EXPECT_TRUE(StopAgent(&agents_.back(), 3000));
        agents_.pop_back();
        CloseAllMessageBoxes();
    }
}

// The string "1" is the number 0x31: logging on, message mode off.
TEST_F(SettingsTest, StringOneMeansLogOnButMessageModeOff)
{
    SetMainString(L"Log", L"1");
    SetMainString(L"Message Mode", L"1");
    NotificationListener listener;
    Start(MakeAgentFolder(L"settings-string-one"));
    ASSERT_TRUE(WaitForLog(L"Waiting for events."));
    SignalPersonalJob();
    std::wstring text;
    ASSERT_TRUE(TakeMessageBox(&text));
    EXPECT_EQ(ErrorReportText(kJobInfoFailedText, ERROR_FILE_NOT_FOUND), text);
    EXPECT_TRUE(listener.Received().empty());
}

// The names the agent shares with the outside world are fixed.
TEST_F(SettingsTest, NotificationMessageIsRegisteredUnderItsName)
{
    SetMainDword(L"Message Mode", 1);
    UINT expected = RegisterWindowMessageW(L"Orsanto_notify_message");
    ASSERT_NE(0u, expected);
    NotificationListener listener;  // listens to exactly that number
    Start(MakeAgentFolder(L"settings-notify"));
    SignalPersonalJob();
    EXPECT_TRUE(listener.WaitFor(0xF005));
}
