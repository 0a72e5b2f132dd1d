// orsanto-register.cmd: registers the agent to start in every session and
// removes that registration again.
#include "harness.h"

#include <string>

namespace {

const wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const wchar_t kRunValue[] = L"Orsanto agent";

std::wstring RunValue()
{
    wchar_t value[MAX_PATH] = L"";
    DWORD size = sizeof(value);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return L"";
    return value;
}

int Register(const std::wstring& script, const std::wstring& arguments, std::string* output)
{
    // The outer quotes are cmd's own: it strips them and keeps the inner ones.
    return RunProgram(L"cmd.exe /c \"\"" + script + L"\" " + arguments + L"\"", output);
}

}  // namespace

class RegisterTest : public AgentTest {
protected:
    void TearDown() override
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kRunKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueW(key, kRunValue);
            RegCloseKey(key);
        }
        AgentTest::TearDown();
    }
};

TEST_F(RegisterTest, RegistersTheAgentBesideItAndRemovesItAgain)
{
    std::wstring folder = MakeAgentFolder(L"register folder");
    std::wstring script = CopyProgram(folder, L"orsanto-register.cmd");
    std::string output;

    EXPECT_EQ(0, Register(script, L"register", &output)) << output;
    EXPECT_EQ(L"\"" + folder + L"\\orsanto-agent.exe\"", RunValue());

    EXPECT_EQ(0, Register(script, L"unregister", &output)) << output;
    EXPECT_EQ(L"", RunValue());
    EXPECT_EQ(0, Register(script, L"unregister", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("was not registered")) << output;
}

TEST_F(RegisterTest, RefusesAFolderWithoutTheAgentAndBadUsage)
{
    std::wstring folder = MakeTestFolder(L"register-empty");
    std::wstring script = CopyProgram(folder, L"orsanto-register.cmd");
    std::string output;
    EXPECT_EQ(2, Register(script, L"register", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("not found")) << output;
    EXPECT_EQ(L"", RunValue());
    EXPECT_EQ(1, Register(script, L"frobnicate", &output)) << output;
    EXPECT_NE(std::string::npos, output.find("usage: orsanto-register")) << output;
}
