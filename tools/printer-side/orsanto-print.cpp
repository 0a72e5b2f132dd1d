// orsanto-print: does what the printer side of the Orsanto printer does for
// each job, so that the agent and client applications can be tried without
// the printer driver. It writes EMF pages and a job description file, stores
// the file's path in the hand-off value and signals the agent's event.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "agent/constants.h"

namespace {

enum ExitCode {
    kExitOk = 0,
    kExitUsage = 1,
    kExitNoAgent = 2,
    kExitRegistry = 3,
    kExitFile = 4,
    kExitNotTaken = 5,
};

enum class Kind { Personal, Shared, System };

struct Options {
    Kind kind = Kind::Personal;
    bool legacy = false;
    std::wstring user;
    DWORD session = 0;
    bool sessionGiven = false;
    int pages = 2;
    int jobs = 1;
    DWORD paceMs = 0;
    bool wait = true;
    bool stopAgent = false;
    DWORD timeoutMs = 10000;
    int firstJobId = 1;
    std::wstring folder;
    std::vector<std::wstring> emfFiles;  // given pages, used instead of drawn ones
};

const wchar_t kUsage[] =
    L"usage: orsanto-print [options] [page.emf ...]\n"
    L"\n"
    L"Prints to the Orsanto agent as the printer side does: writes the job's\n"
    L"EMF pages and job description file, stores the file's path under\n"
    L"HKLM\\Software\\Orsanto and signals the agent's event.\n"
    L"\n"
    L"  --kind personal|shared|system  hand-off value: the user's name (default),\n"
    L"                                 \"Shared\", or \"SYSTEM\" (signals the personal event)\n"
    L"  --legacy            legacy naming: value \"Print Job\", session-local events\n"
    L"  --user NAME         user of a personal job (default: this account)\n"
    L"  --session N         Windows session of the personal event (default: this one)\n"
    L"  --pages N           pages to draw when no EMF files are given (default 2)\n"
    L"  --jobs N            number of jobs (default 1)\n"
    L"  --pace MS           pause between jobs in milliseconds (default 0)\n"
    L"  --job-id N          JobID of the first job (default 1)\n"
    L"  --folder DIR        folder for the job files (default %TEMP%\\orsanto-jobs)\n"
    L"  --no-wait           do not wait until the agent has taken each hand-off value\n"
    L"  --timeout MS        how long to wait for that (default 10000)\n"
    L"  --stop-agent        signal the kill event instead: every agent ends\n"
    L"  --help              this text\n"
    L"\n"
    L"Given EMF files are copied into the job folder, so the job owns its pages.\n"
    L"Exit codes: 0 done, 1 bad usage, 2 no agent waits for this user and session,\n"
    L"3 the registry key cannot be written, 4 a file cannot be written or a path is\n"
    L"too long for the agent, 5 the agent did not take a hand-off value in time.\n";

int Fail(int code, const wchar_t* format, ...)
{
    va_list args;
    va_start(args, format);
    fwprintf(stderr, L"orsanto-print: ");
    vfwprintf(stderr, format, args);
    fwprintf(stderr, L"\n");
    va_end(args);
    return code;
}

bool ParseNumber(const wchar_t* text, long minimum, long* value)
{
    wchar_t* end = nullptr;
    long n = wcstol(text, &end, 10);
    if (end == text || *end != L'\0' || n < minimum)
        return false;
    *value = n;
    return true;
}

// Returns kExitOk or kExitUsage (with a message).
int ParseOptions(int argc, wchar_t** argv, Options* options)
{
    for (int i = 1; i < argc; ++i) {
        std::wstring arg = argv[i];
        auto next = [&](const wchar_t** value) {
            if (i + 1 >= argc)
                return false;
            *value = argv[++i];
            return true;
        };
        const wchar_t* value = nullptr;
        long n = 0;
        if (arg == L"--help" || arg == L"-h" || arg == L"/?") {
            fputws(kUsage, stdout);
            exit(kExitOk);
        } else if (arg == L"--kind" && next(&value)) {
            std::wstring kind = value;
            if (kind == L"personal")
                options->kind = Kind::Personal;
            else if (kind == L"shared")
                options->kind = Kind::Shared;
            else if (kind == L"system")
                options->kind = Kind::System;
            else
                return Fail(kExitUsage, L"--kind takes personal, shared or system, not \"%ls\"", value);
        } else if (arg == L"--legacy") {
            options->legacy = true;
        } else if (arg == L"--user" && next(&value)) {
            options->user = value;
        } else if (arg == L"--session" && next(&value) && ParseNumber(value, 0, &n)) {
            options->session = static_cast<DWORD>(n);
            options->sessionGiven = true;
        } else if (arg == L"--pages" && next(&value) && ParseNumber(value, 1, &n) && n <= 1000) {
            options->pages = static_cast<int>(n);
        } else if (arg == L"--jobs" && next(&value) && ParseNumber(value, 1, &n)) {
            options->jobs = static_cast<int>(n);
        } else if (arg == L"--pace" && next(&value) && ParseNumber(value, 0, &n)) {
            options->paceMs = static_cast<DWORD>(n);
        } else if (arg == L"--job-id" && next(&value) && ParseNumber(value, 0, &n)) {
            options->firstJobId = static_cast<int>(n);
        } else if (arg == L"--folder" && next(&value)) {
            options->folder = value;
        } else if (arg == L"--stop-agent") {
            options->stopAgent = true;
        } else if (arg == L"--no-wait") {
            options->wait = false;
        } else if (arg == L"--timeout" && next(&value) && ParseNumber(value, 0, &n)) {
            options->timeoutMs = static_cast<DWORD>(n);
        } else if (!arg.empty() && arg[0] != L'-') {
            if (GetFileAttributesW(arg.c_str()) == INVALID_FILE_ATTRIBUTES)
                return Fail(kExitUsage, L"EMF file not found: %ls", arg.c_str());
            options->emfFiles.push_back(arg);
        } else {
            return Fail(kExitUsage, L"bad option or value: %ls (see --help)", arg.c_str());
        }
    }
    return kExitOk;
}

std::wstring ThisUser()
{
    wchar_t user[kUserNameChars];
    DWORD size = ARRAYSIZE(user);
    return GetUserNameW(user, &size) ? user : L"";
}

std::wstring DefaultFolder()
{
    wchar_t temp[MAX_PATH];
    DWORD n = GetTempPathW(ARRAYSIZE(temp), temp);
    std::wstring folder = n > 0 && n < ARRAYSIZE(temp) ? temp : L"C:\\";
    return folder + L"orsanto-jobs";
}

std::wstring ValueName(const Options& options)
{
    if (options.kind == Kind::System)
        return kSystemJobValue;
    if (options.legacy)
        return kLegacyJobValue;
    return options.kind == Kind::Shared ? std::wstring(kSharedJobValue) : options.user;
}

std::wstring EventName(const Options& options)
{
    bool shared = options.kind == Kind::Shared;
    if (options.legacy)
        return shared ? kLegacySharedEventName : kLegacyPrintEventName;
    if (shared)
        return kSharedEventName;
    wchar_t name[kPathChars];
    swprintf(name, ARRAYSIZE(name), kPrintEventFormat, options.user.c_str(), static_cast<unsigned long>(options.session));
    return name;
}

// One page: a frame, a title, the page number and a few shapes.
bool DrawPage(const std::wstring& path, int jobId, int page, int pages)
{
    RECT a4 = {0, 0, 21000, 29700};  // in 0.01 mm
    HDC dc = CreateEnhMetaFileW(nullptr, path.c_str(), &a4, L"orsanto-print\0page\0");
    if (dc == nullptr)
        return false;
    // Logical units of 0.1 mm, y downwards.
    SetMapMode(dc, MM_ANISOTROPIC);
    SetWindowExtEx(dc, 2100, 2970, nullptr);
    HDC screen = GetDC(nullptr);
    int width = GetDeviceCaps(screen, HORZRES) * 2100 / (GetDeviceCaps(screen, HORZSIZE) * 10);
    int height = GetDeviceCaps(screen, VERTRES) * 2970 / (GetDeviceCaps(screen, VERTSIZE) * 10);
    ReleaseDC(nullptr, screen);
    SetViewportExtEx(dc, width, height, nullptr);

    Rectangle(dc, 100, 100, 2000, 2870);
    HFONT font = CreateFontW(-90, 0, 0, 0, FW_BOLD, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, L"Arial");
    HGDIOBJ oldFont = SelectObject(dc, font);
    wchar_t text[128];
    swprintf(text, ARRAYSIZE(text), L"Orsanto test job %d", jobId);
    TextOutW(dc, 200, 200, text, static_cast<int>(wcslen(text)));
    swprintf(text, ARRAYSIZE(text), L"Page %d of %d", page + 1, pages);
    TextOutW(dc, 200, 350, text, static_cast<int>(wcslen(text)));
    SelectObject(dc, oldFont);
    DeleteObject(font);

    HBRUSH blue = CreateSolidBrush(RGB(40, 90, 200));
    HBRUSH orange = CreateSolidBrush(RGB(240, 140, 30));
    HGDIOBJ oldBrush = SelectObject(dc, blue);
    Ellipse(dc, 300, 700, 1000, 1400);
    SelectObject(dc, orange);
    Rectangle(dc, 1100, 700, 1800, 1400 - page * 100 % 600);
    POINT triangle[] = {{300, 2400}, {1050, 1600}, {1800, 2400}};
    Polygon(dc, triangle, 3);
    SelectObject(dc, oldBrush);
    DeleteObject(blue);
    DeleteObject(orange);

    HENHMETAFILE emf = CloseEnhMetaFile(dc);
    if (emf == nullptr)
        return false;
    DeleteEnhMetaFile(emf);
    return true;
}

void DeleteFiles(const std::vector<std::wstring>& files)
{
    for (const std::wstring& file : files)
        DeleteFileW(file.c_str());
}

// Writes the pages and the job description file; on failure removes what it
// wrote. Returns the job file's path or an empty string.
std::wstring WriteJob(const Options& options, int jobId)
{
    std::wstring base = options.folder + L"\\job" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(jobId);
    std::wstring jobPath = base + L".ini";
    if (jobPath.size() >= kPathChars) {
        Fail(kExitFile, L"job path too long for the agent (over %u characters): %ls",
             static_cast<unsigned>(kPathChars - 1), jobPath.c_str());
        return L"";
    }
    std::vector<std::wstring> written;
    int pages = options.emfFiles.empty() ? options.pages : static_cast<int>(options.emfFiles.size());
    std::wstring ini = L"[Document]\r\nJobID=" + std::to_wstring(jobId) + L"\r\n[EMF]\r\nCount=" +
                       std::to_wstring(pages) + L"\r\n";
    for (int page = 0; page < pages; ++page) {
        std::wstring emf = base + L"-page" + std::to_wstring(page + 1) + L".emf";
        bool ok = options.emfFiles.empty() ? DrawPage(emf, jobId, page, pages)
                                           : CopyFileW(options.emfFiles[page].c_str(), emf.c_str(), FALSE) != FALSE;
        if (!ok) {
            DeleteFiles(written);
            Fail(kExitFile, L"cannot write %ls (error %lu)", emf.c_str(), GetLastError());
            return L"";
        }
        written.push_back(emf);
        ini += L"File" + std::to_wstring(page) + L"=" + emf + L"\r\n";
    }

    // UTF-16 with a byte-order mark: the profile functions read it as it is.
    HANDLE file = CreateFileW(jobPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written1 = 0, written2 = 0;
    const wchar_t bom = 0xFEFF;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, &bom, sizeof(bom), &written1, nullptr) &&
              WriteFile(file, ini.data(), static_cast<DWORD>(ini.size() * sizeof(wchar_t)), &written2, nullptr);
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (!ok) {
        DeleteFiles(written);
        DeleteFileW(jobPath.c_str());
        Fail(kExitFile, L"cannot write %ls (error %lu)", jobPath.c_str(), error);
        return L"";
    }
    return jobPath;
}

bool HandOffValueExists(const std::wstring& valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool exists = RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return exists;
}

bool WaitUntilTaken(const std::wstring& valueName, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (HandOffValueExists(valueName)) {
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
    return true;
}

int PrintJob(const Options& options, HKEY key, HANDLE event, int jobId)
{
    std::wstring valueName = ValueName(options);
    // One value per name: a value the agent has not taken yet is not overwritten.
    if (options.wait && !WaitUntilTaken(valueName, options.timeoutMs))
        return Fail(kExitNotTaken, L"the agent has not taken the earlier hand-off value \"%ls\"", valueName.c_str());

    std::wstring jobPath = WriteJob(options, jobId);
    if (jobPath.empty())
        return kExitFile;
    LSTATUS status = RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(jobPath.c_str()),
                                    static_cast<DWORD>((jobPath.size() + 1) * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS)
        return Fail(kExitRegistry, L"cannot write the hand-off value \"%ls\" (error %ld)", valueName.c_str(), status);
    SetEvent(event);
    wprintf(L"job %d: %ls\n", jobId, jobPath.c_str());
    if (options.wait && !WaitUntilTaken(valueName, options.timeoutMs))
        return Fail(kExitNotTaken, L"the agent did not take job %d within %lu ms", jobId, options.timeoutMs);
    return kExitOk;
}

int StopAgents(bool legacy)
{
    const wchar_t* name = legacy ? kLegacyKillEventName : kKillEventName;
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name);
    if (event == nullptr)
        return Fail(kExitNoAgent, L"no agent is running (no event %ls)", name);
    SetEvent(event);
    CloseHandle(event);
    return kExitOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    options.user = ThisUser();
    options.folder = DefaultFolder();
    if (int code = ParseOptions(argc, argv, &options))
        return code;
    if (options.stopAgent)
        return StopAgents(options.legacy);
    if (!options.sessionGiven && !ProcessIdToSessionId(GetCurrentProcessId(), &options.session))
        options.session = 0;
    CreateDirectoryW(options.folder.c_str(), nullptr);
    if (GetFileAttributesW(options.folder.c_str()) == INVALID_FILE_ATTRIBUTES)
        return Fail(kExitFile, L"job folder cannot be created: %ls", options.folder.c_str());

    // The printer side only opens the event: creating it would keep an agent
    // from starting.
    std::wstring eventName = EventName(options);
    HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str());
    if (event == nullptr)
        return Fail(kExitNoAgent, L"no agent is waiting on %ls", eventName.c_str());
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, nullptr, 0, KEY_SET_VALUE | KEY_QUERY_VALUE,
                                     nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        CloseHandle(event);
        return Fail(kExitRegistry, L"cannot open HKLM\\%ls for writing (error %ld)", kMainKeyPath, status);
    }

    int code = kExitOk;
    for (int job = 0; job < options.jobs && code == kExitOk; ++job) {
        if (job > 0 && options.paceMs > 0)
            Sleep(options.paceMs);
        code = PrintJob(options, key, event, options.firstJobId + job);
    }
    RegCloseKey(key);
    CloseHandle(event);
    return code;
}
