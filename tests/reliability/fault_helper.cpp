// An auxiliary program that misbehaves on request, installed beside the agent
// as "CustomRoutine.exe" or "orstdisp.exe": with "<job path>.<own name>.hang"
// present (say job.ini.orstdisp.hang) it never exits, with "....crash" it
// dies of an access violation.
#include <windows.h>

#include <string>

#include "record_file.h"
#include "stand_in.h"

namespace {

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Appends "<what>\t<job path>\t<process id>" to "<own path>.log"; the tests
// read it to know which step a job has reached and which processes to end.
void Record(const wchar_t* what, const std::wstring& jobPath)
{
    wchar_t own[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring logPath = std::wstring(own, chars) + L".log";
    std::wstring line = std::wstring(what) + L"\t" + jobPath + L"\t" + std::to_wstring(GetCurrentProcessId()) + L"\r\n";
    int size = WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, line.c_str(), -1, &bytes[0], size, nullptr, nullptr);
    AppendToRecordFile(logPath.c_str(), bytes.data(), static_cast<DWORD>(bytes.size() - 1));
}

// The fault is not handled: the process ends with its code, as a crash does,
// but without the debugger Wine would start and leave waiting for a user.
LONG WINAPI EndOnFault(EXCEPTION_POINTERS*)
{
    return EXCEPTION_EXECUTE_HANDLER;
}

}  // namespace

int wmain()
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(EndOnFault);
    std::wstring jobPath = JobPathArgument();
    wchar_t own[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, own, MAX_PATH);
    std::wstring name(own, chars);
    name = name.substr(name.find_last_of(L'\\') + 1);
    std::wstring marker = jobPath + L"." + name.substr(0, name.find_last_of(L'.'));
    Record(L"started", jobPath);
    if (Exists(marker + L".crash")) {
        Record(L"crash", jobPath);
        *static_cast<volatile int*>(nullptr) = 1;
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
    }
    if (Exists(marker + L".hang")) {
        Record(L"hang", jobPath);
        Sleep(INFINITE);
    }
    Record(L"finished", jobPath);
    return 0;
}
