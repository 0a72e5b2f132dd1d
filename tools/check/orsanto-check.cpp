// orsanto-check: tells an administrator, line by line, what the Orsanto agent
// will do with the settings it finds and what is wrong with them. It reads
// the settings with the agent's own code.
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include <string>

#include "agent/constants.h"
#include "agent/messages.h"
#include "agent/registry.h"
#include "agent/settings.h"
#include "agent/text.h"
#include "job/delivery_settings.h"
#include "job/target_window.h"

namespace {

enum Verdict { kOk, kNote, kProblem };

struct Check {
    std::wstring folder;  // where the agent is installed
    HKEY key = nullptr;
    AgentSettings agent = {};
    DeliverySettings delivery = {};
    int problems = 0;
};

void Say(Check* check, Verdict verdict, const wchar_t* format, ...)
{
    static const wchar_t* const kTags[] = {L"ok     ", L"note   ", L"PROBLEM"};
    if (verdict == kProblem)
        ++check->problems;
    wchar_t text[2048];
    va_list args;
    va_start(args, format);
    _vsnwprintf(text, ARRAYSIZE(text) - 1, format, args);
    text[ARRAYSIZE(text) - 1] = L'\0';
    va_end(args);
    wprintf(L"%ls  %ls\n", kTags[verdict], text);
}

const wchar_t* TypeName(DWORD type)
{
    switch (type) {
    case REG_SZ: return L"REG_SZ";
    case REG_EXPAND_SZ: return L"REG_EXPAND_SZ";
    case REG_MULTI_SZ: return L"REG_MULTI_SZ";
    case REG_DWORD: return L"REG_DWORD";
    case REG_QWORD: return L"REG_QWORD";
    case REG_BINARY: return L"REG_BINARY";
    case REG_NONE: return L"REG_NONE";
    default: return L"another type";
    }
}

// Whether the value exists, and its stored type and size.
bool Describe(HKEY key, const wchar_t* name, DWORD* type, DWORD* size)
{
    *type = REG_NONE;
    *size = 0;
    return RegQueryValueExW(key, name, nullptr, type, nullptr, size) == ERROR_SUCCESS;
}

// A number setting: flags what the agent will misread.
void CheckNumber(Check* check, const wchar_t* name, DWORD value, const wchar_t* meaning, bool required)
{
    DWORD type, size;
    if (!Describe(check->key, name, &type, &size)) {
        Say(check, required ? kProblem : kNote, L"\"%ls\" is not set: %ls", name, meaning);
        return;
    }
    if (size > 4)
        Say(check, kProblem, L"\"%ls\" is %ls of %lu bytes: the agent reads at most 4 bytes and takes 0: %ls", name,
            TypeName(type), size, meaning);
    else if (type != REG_DWORD)
        Say(check, kProblem, L"\"%ls\" is %ls, not REG_DWORD: the agent reads its bytes as the number %lu (0x%lX): %ls",
            name, TypeName(type), value, value, meaning);
    else
        Say(check, kOk, L"\"%ls\" = %lu: %ls", name, value, meaning);
}

// A string setting: flags what the agent will misread. Returns whether it
// holds text the agent will use.
bool CheckString(Check* check, const wchar_t* name, const wchar_t* value, Verdict ifMissing, const wchar_t* purpose)
{
    DWORD type, size;
    if (!Describe(check->key, name, &type, &size)) {
        Say(check, ifMissing, L"\"%ls\" is not set (%ls)", name, purpose);
        return false;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        Say(check, kProblem, L"\"%ls\" is %ls, not REG_SZ: the agent reads its bytes as text (\"%ls\")", name,
            TypeName(type), value);
    else if (size > kPathChars * sizeof(wchar_t))
        Say(check, kProblem, L"\"%ls\" is %lu bytes long: the agent reads at most %u bytes and takes it as empty",
            name, size, static_cast<unsigned>(kPathChars * sizeof(wchar_t)));
    else if (IsEmptyText(value))
        Say(check, ifMissing, L"\"%ls\" is empty (%ls)", name, purpose);
    else
        Say(check, type == REG_EXPAND_SZ ? kNote : kOk, L"\"%ls\" = \"%ls\"%ls", name, value,
            type == REG_EXPAND_SZ ? L" (environment references are not expanded)" : L"");
    return !IsEmptyText(value);
}

const wchar_t* ModeName(DWORD mode)
{
    switch (mode) {
    case kCopyDataMode: return L"copy-data mode: WM_COPYDATA to the target window";
    case kClipboardMode: return L"clipboard mode: the clipboard plus a posted message";
    default: return L"command-line mode: the client is started with the job path";
    }
}

// The program a command line starts, found as the system would find it.
bool FindProgram(const wchar_t* commandLine, std::wstring* program)
{
    std::wstring line = commandLine;
    std::wstring first;
    if (!line.empty() && line[0] == L'"') {
        size_t end = line.find(L'"', 1);
        first = line.substr(1, end == std::wstring::npos ? std::wstring::npos : end - 1);
    } else {
        first = line.substr(0, line.find(L' '));
    }
    wchar_t found[MAX_PATH];
    if (SearchPathW(nullptr, first.c_str(), L".exe", ARRAYSIZE(found), found, nullptr) == 0) {
        *program = first;
        return false;
    }
    *program = found;
    return true;
}

void CheckMainKey(Check* check)
{
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, kReadAccess, &check->key);
    if (status != ERROR_SUCCESS) {
        check->key = nullptr;
        Say(check, kProblem, L"HKLM\\%ls cannot be opened (error %ld): no job can be handed over or delivered",
            kMainKeyPath, status);
        return;
    }
    Say(check, kOk, L"HKLM\\%ls exists", kMainKeyPath);
    ReadDeliveryValues(check->key, &check->delivery);
}

void CheckAgentSettings(Check* check)
{
    CheckNumber(check, kLogValue, check->agent.logEnabled,
                check->agent.logEnabled ? L"the activity log is written" : L"no activity log", false);
    CheckNumber(check, kMessageModeValue, check->agent.messageMode,
                IsMessageMode(check->agent) ? L"reports are broadcast, no message boxes"
                                            : L"reports are shown in message boxes",
                false);
}

void CheckDelivery(Check* check)
{
    const DeliverySettings& d = check->delivery;
    CheckNumber(check, kTransferModeValue, d.transferMode, ModeName(d.transferMode), false);

    if (CheckString(check, kClientApplicationValue, d.clientApplication, kProblem,
                    L"every job reports 112 and its job description file is deleted")) {
        ClientCommandLine commandLine;
        QuoteClientApplication(d.clientApplication, &commandLine);
        std::wstring program;
        if (FindProgram(commandLine.text, &program))
            Say(check, kOk, L"client command line: %ls (starts %ls)", commandLine.text, program.c_str());
        else
            Say(check, kProblem, L"client command line: %ls: program \"%ls\" not found%ls", commandLine.text,
                program.c_str(),
                wcschr(d.clientApplication, L' ') && d.clientApplication[0] != L'"'
                    ? L" (a value with a space and no leading quote is quoted as a whole, arguments included)"
                    : L"");
    }

    bool windowMode = d.transferMode == kCopyDataMode || d.transferMode == kClipboardMode;
    if (!windowMode)
        return;
    bool hasClass = CheckString(check, kTargetWindowClassValue, d.targetWindowClass, kNote, L"any class");
    bool hasTitle = CheckString(check, kTargetWindowTitleValue, d.targetWindowTitle, kNote, L"any title");
    if (!hasClass && !hasTitle) {
        Say(check, kProblem, L"neither a target window class nor a title: every job reports 111 and its job "
                             L"description file is deleted");
    } else if (FindTargetWindow(d.targetWindowClass, d.targetWindowTitle) != nullptr) {
        Say(check, kOk, L"a target window is open now");
    } else {
        Say(check, kNote, L"no target window is open now: the agent starts the client and waits for its window");
    }
    if (d.transferMode == kClipboardMode) {
        CheckString(check, kClipboardFormatValue, d.clipboardFormat, kProblem,
                    L"every job reports 61448 and its files are deleted");
        wchar_t meaning[64];
        FormatText(meaning, ARRAYSIZE(meaning), L"the message posted is 0x%X", ClampClipboardMessage(d.messageId));
        CheckNumber(check, kMessageIdValue, d.messageId, meaning, false);
    } else {
        CheckNumber(check, kMessageIdValue, d.messageId, L"passed as the record's dwData", false);
    }
}

void CheckAuxiliaryPrograms(Check* check)
{
    struct Program {
        const wchar_t* name;
        const wchar_t* role;
        Verdict ifMissing;
    } programs[] = {
        {kPreprocessorFileName, L"preprocessor (optional)", kNote},
        {kProgressIndicatorFileName, L"progress indicator (optional)", kNote},
        {kConverterFileName, L"converter: without it every job reports 61456 and loses its job description file",
         kProblem},
    };
    for (const Program& program : programs) {
        std::wstring path = check->folder + L"\\" + program.name;
        if (GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES)
            Say(check, kOk, L"%ls found beside the agent", program.name);
        else
            Say(check, program.ifMissing, L"%ls not found beside the agent: %ls", program.name, program.role);
    }
}

void CheckLanguageFile(Check* check)
{
    wchar_t language[kLanguageNameChars];
    SelectLanguage(language);
    std::wstring path = check->folder + L"\\" + kLanguageFileName;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say(check, kNote, L"%ls not found: messages are shown in English", kLanguageFileName);
        return;
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    bool utf8 = bytes.empty()
        || MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0) > 0;
    bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    if (!utf8)
        Say(check, kProblem, L"%ls is not valid UTF-8: translations show replacement characters", kLanguageFileName);
    else if (bom)
        Say(check, kNote, L"%ls begins with a byte-order mark; it is meant to be plain UTF-8", kLanguageFileName);
    else
        Say(check, kOk, L"%ls is UTF-8", kLanguageFileName);
    wchar_t keys[64];
    if (GetPrivateProfileSectionW(language, keys, ARRAYSIZE(keys), path.c_str()) > 0)
        Say(check, kOk, L"language \"%ls\" has a section in %ls", language, kLanguageFileName);
    else
        Say(check, wcscmp(language, L"English") == 0 ? kNote : kProblem,
            L"language \"%ls\" has no section in %ls: messages are shown in English", language, kLanguageFileName);
}

void CheckLogFile(Check* check)
{
    if (check->agent.logEnabled == 0)
        return;
    DWORD attributes = GetFileAttributesW(kLogFilePath);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        Say(check, kOk, L"%ls does not exist yet; the agent creates it", kLogFilePath);
        return;
    }
    HANDLE file = (attributes & FILE_ATTRIBUTE_DIRECTORY)
        ? INVALID_HANDLE_VALUE
        : CreateFileW(kLogFilePath, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        Say(check, kProblem, L"%ls cannot be written: the agent reports 61441 and ends", kLogFilePath);
        return;
    }
    LARGE_INTEGER size = {};
    GetFileSizeEx(file, &size);
    CloseHandle(file);
    Say(check, kOk, L"%ls is writable (%lld bytes)", kLogFilePath, static_cast<long long>(size.QuadPart));
}

void CheckEvents(Check* check)
{
    DWORD session = 0;
    if (!check->agent.legacyNaming)
        ProcessIdToSessionId(GetCurrentProcessId(), &session);
    EventNames names;
    ComposeEventNames(check->agent.legacyNaming, check->agent.userName, session, &names);
    Say(check, kOk, L"events: %ls, %ls, %ls", names.print, names.shared, names.kill);
    HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, names.print);
    if (event != nullptr) {
        CloseHandle(event);
        Say(check, kOk, L"an agent is waiting for jobs of %ls in this session", check->agent.userName);
    } else {
        Say(check, kProblem, L"no agent is running for %ls in this session", check->agent.userName);
    }
}

std::wstring AgentFolder(int argc, wchar_t** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (wcscmp(argv[i], L"--folder") == 0)
            return argv[i + 1];
    }
    // Beside this program, or one folder up (installations keep it in tools\).
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
    std::wstring folder(path, n);
    folder = folder.substr(0, folder.find_last_of(L'\\'));
    if (GetFileAttributesW((folder + L"\\orsanto-agent.exe").c_str()) == INVALID_FILE_ATTRIBUTES) {
        std::wstring parent = folder.substr(0, folder.find_last_of(L'\\'));
        if (GetFileAttributesW((parent + L"\\orsanto-agent.exe").c_str()) != INVALID_FILE_ATTRIBUTES)
            return parent;
    }
    return folder;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], L"--help") == 0 || wcscmp(argv[i], L"/?") == 0) {
            wprintf(L"usage: orsanto-check [--folder AGENT_FOLDER]\n"
                    L"Checks the Orsanto agent's settings and installation; exit code 0 when the\n"
                    L"agent can deliver jobs, 1 otherwise.\n");
            return 0;
        }
    }
    Check check;
    check.folder = AgentFolder(argc, argv);
    ReadAgentSettings(&check.agent);
    wprintf(L"Orsanto agent in %ls\n", check.folder.c_str());

    CheckMainKey(&check);
    if (check.key != nullptr) {
        CheckAgentSettings(&check);
        CheckDelivery(&check);
        RegCloseKey(check.key);
    }
    CheckAuxiliaryPrograms(&check);
    CheckLanguageFile(&check);
    CheckLogFile(&check);
    CheckEvents(&check);

    wprintf(check.problems == 0 ? L"The agent can deliver jobs.\n" : L"%d problem(s) found.\n", check.problems);
    return check.problems == 0 ? 0 : 1;
}
