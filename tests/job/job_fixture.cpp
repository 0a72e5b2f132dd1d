// Shared set-up of the job end-to-end tests; see job_fixture.h.
#include "job_fixture.h"

namespace {

std::wstring FromUtf8(const std::string& bytes)
{
    if (bytes.empty())
        return L"";
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], n);
    return text;
}

std::vector<std::wstring> Split(const std::wstring& text, const std::wstring& separator)
{
    std::vector<std::wstring> parts;
    size_t at = 0;
    for (;;) {
        size_t next = text.find(separator, at);
        parts.push_back(text.substr(at, next == std::wstring::npos ? std::wstring::npos : next - at));
        if (next == std::wstring::npos)
            return parts;
        at = next + separator.size();
    }
}

}  // namespace

std::vector<StandInRecord> ReadRecords(const std::wstring& folder, const std::wstring& program)
{
    std::vector<StandInRecord> records;
    for (const std::wstring& line : Split(FromUtf8(ReadFileBytes(folder + L"\\" + program + L".log")), L"\r\n")) {
        std::vector<std::wstring> fields = Split(line, L"\t");
        if (fields.size() != 4)
            continue;  // the empty tail after the last line
        records.push_back({fields[0], fields[1], fields[2], static_cast<DWORD>(std::stoul(fields[3]))});
    }
    return records;
}

std::vector<StandInRecord> RecordsOf(const std::wstring& folder, const std::wstring& program,
                                     const std::wstring& what, const std::wstring* argument)
{
    std::vector<StandInRecord> found;
    for (const StandInRecord& record : ReadRecords(folder, program)) {
        if (record.what == what && (argument == nullptr || record.argument == *argument))
            found.push_back(record);
    }
    return found;
}

bool WaitForRecord(const std::wstring& folder, const std::wstring& program, const std::wstring& what,
                   const std::wstring& argument, DWORD timeoutMs)
{
    return WaitUntil([&] { return !RecordsOf(folder, program, what, &argument).empty(); }, timeoutMs);
}

bool ProcessEnded(DWORD processId)
{
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, processId);
    if (process == nullptr)
        return true;
    bool ended = WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
    CloseHandle(process);
    return ended;
}

std::wstring SystemErrorText(DWORD code)
{
    wchar_t text[512] = L"";
    FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, code, 0, text, ARRAYSIZE(text), nullptr);
    return text;
}

void WriteStandInSettings(const std::wstring& folder, const std::wstring& text)
{
    WriteFileText(folder + L"\\stand-ins.ini", text);
}

void JobTest::TearDown()
{
    AgentTest::TearDown();
    // Stand-ins still running (a progress window nobody closed, a held
    // converter) are ended here.
    for (const std::wstring& folder : folders_) {
        for (const wchar_t* program : {L"CustomRoutine.exe", L"progress.exe", L"orstdisp.exe", L"client.exe"}) {
            for (const StandInRecord& record : RecordsOf(folder, program, L"started")) {
                HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, record.processId);
                if (process == nullptr)
                    continue;
                if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
                    TerminateProcess(process, 1);
                    WaitForSingleObject(process, 5000);
                }
                CloseHandle(process);
            }
        }
    }
    folders_.clear();
}

std::wstring JobTest::MakeFolder(const std::wstring& name, std::initializer_list<const wchar_t*> programs)
{
    std::wstring folder = MakeAgentFolder(name, programs);
    CopyProgram(folder, L"orstdisp.exe", L"client.exe");
    Track(folder);
    return folder;
}

void JobTest::UseCommandLineClient(const std::wstring& folder)
{
    SetMainString(L"Client Application", folder + L"\\client.exe");
    SetMainDword(L"Transfer Mode", 0);
}

bool JobTest::WaitForClient(const std::wstring& folder, const std::wstring& jobPath, DWORD timeoutMs)
{
    return WaitForRecord(folder, L"client.exe", L"started", jobPath, timeoutMs);
}
