// Shared set-up of the reliability tests; see reliability_fixture.h.
#include "reliability_fixture.h"

#include <psapi.h>
#include <tlhelp32.h>

std::vector<std::string> ReadLines(const std::wstring& path)
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(path);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            lines.push_back(line);
        at = end + 1;
    }
    return lines;
}

std::vector<int> ReceivedJobIds(const std::wstring& recordFile)
{
    std::vector<int> ids;
    for (const std::string& line : ReadLines(recordFile)) {
        if (line.rfind("job ", 0) == 0)
            ids.push_back(std::atoi(Field(line, "jobid").c_str()));
    }
    return ids;
}

std::vector<std::string> HelperRecords(const std::wstring& folder, const wchar_t* program, const std::string& what)
{
    std::vector<std::string> found;
    for (const std::string& line : ReadLines(folder + L"\\" + program + L".log")) {
        if (line.rfind(what + "\t", 0) == 0)
            found.push_back(line);
    }
    return found;
}

size_t CountNotifications(NotificationListener& listener, WPARAM identifier)
{
    size_t count = 0;
    for (const Notification& n : listener.Received())
        count += n.identifier == identifier;
    return count;
}

size_t CountLog(const std::wstring& text)
{
    size_t count = 0;
    for (const std::wstring& record : ReadLogRecords())
        count += record == text;
    return count;
}

void EndProcessesIn(const std::wstring& folder)
{
    std::wstring prefix = folder + L"\\";
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                     entry.th32ProcessID);
        if (process == nullptr)
            continue;
        wchar_t image[MAX_PATH * 2];
        DWORD chars = ARRAYSIZE(image);
        if (QueryFullProcessImageNameW(process, 0, image, &chars) && chars > prefix.size()
            && CompareStringOrdinal(image, static_cast<int>(prefix.size()), prefix.c_str(),
                                    static_cast<int>(prefix.size()), TRUE)
                   == CSTR_EQUAL) {
            TerminateProcess(process, 1);
            WaitForSingleObject(process, 5000);
        }
        CloseHandle(process);
    }
    CloseHandle(snapshot);
}

SIZE_T PrivateBytes(const AgentProcess& agent)
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (GetProcessMemoryInfo(agent.process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters))
        && counters.PrivateUsage != 0)
        return counters.PrivateUsage;
    // Wine answers 0 for another process: add up its committed private pages.
    SIZE_T total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const BYTE* at = nullptr;
         VirtualQueryEx(agent.process, at, &region, sizeof(region)) == sizeof(region);
         at = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE)
            total += region.RegionSize;
        if (region.RegionSize == 0)
            break;
    }
    return total;
}

void ReliabilityTest::TearDown()
{
    AgentTest::TearDown();
    for (const std::wstring& folder : folders_)
        EndProcessesIn(folder);
    folders_.clear();
}

std::wstring ReliabilityTest::MakeFolder(const std::wstring& name, std::initializer_list<const wchar_t*> programs)
{
    std::wstring folder = MakeAgentFolder(name, programs);
    folders_.push_back(folder);
    return folder;
}

bool ReliabilityTest::StartSampleClient(const std::wstring& folder, const std::wstring& options,
                                        const std::wstring& windowClass)
{
    std::wstring program = folder + L"\\orsanto-sample-client.exe";
    PROCESS_INFORMATION process;
    if (!StartProgram(L"\"" + program + L"\" " + options, &process, program))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return windowClass.empty()
        || WaitUntil([&] { return FindWindowW(windowClass.c_str(), nullptr) != nullptr; }, 15000);
}

void ReliabilityTest::ConfigureDelivery(DWORD mode, const std::wstring& clientApplication,
                                        const std::wstring& windowClass, const std::wstring& clipboardFormat,
                                        DWORD messageId)
{
    SetMainDword(L"Transfer Mode", mode);
    SetMainString(L"Client Application", clientApplication);
    SetMainString(L"Target Window Class", windowClass);
    SetMainString(L"Target Window Title", L"");
    SetMainString(L"Clipboard Format", clipboardFormat);
    SetMainDword(L"Message ID", messageId);
}

std::wstring ReliabilityTest::FaultFolder(const std::wstring& name)
{
    std::wstring folder = MakeFolder(name, {L"progress.exe", L"orsanto-sample-client.exe"});
    CopyProgram(folder, L"orsanto-fault-helper.exe", L"CustomRoutine.exe");
    CopyProgram(folder, L"orsanto-fault-helper.exe", L"orstdisp.exe");
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", 1);
    return folder;
}
