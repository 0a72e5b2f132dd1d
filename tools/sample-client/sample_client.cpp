// orsanto-sample-client: an example client application for the Orsanto
// virtual printer. It receives the path of a job description file in each of
// the agent's three transfer modes and shows the job: path, JobID, EMF files
// and the pages drawn from them.
//
// The agent's side of the bargain, in short:
//   copy-data mode   WM_COPYDATA to our window: dwData = the configured
//                    "Message ID", cbData = 260, lpData = ANSI path + NUL.
//   clipboard mode   a 260-byte block (ANSI path + NUL) on the clipboard in
//                    the registered format "Clipboard Format", then the
//                    message "Message ID" (0x8000..0xBFFF) posted to us.
//   command line     the path appended to our command line, unquoted.
// The agent finds our window by the class and title configured as "Target
// Window Class" and "Target Window Title".
//
// Usage: orsanto-sample-client [options] [job description file path]
//   --class NAME              window class (default OrsantoSampleClient)
//   --title TEXT              window title (default "Orsanto sample client")
//   --clipboard-format NAME   clipboard format of clipboard mode
//   --message N               message announcing a clipboard delivery
//   --record FILE             append one line per event to FILE (for tests)
// Options that imitate faulty clients, for tests:
//   --delay-ms N              take N ms to handle WM_COPYDATA
//   --window-delay-ms N       open the window only N ms after start-up
//   --no-window               be ready for input but never open the window
//   --exit-after-ms N         end N ms after start-up
//   --exit-at-once            end at once, before anything else
//   --crash-on-copydata       die while handling WM_COPYDATA
// Everything after the options is the job path (command-line mode).
#include <windows.h>

#include <stdio.h>

#include "orsanto/client.h"
#include "record_file.h"

#include <string>
#include <vector>

namespace {

constexpr size_t kPayloadBytes = ORSANTO_PAYLOAD_BYTES;  // the copy-data and clipboard blocks
constexpr size_t kMaxRecordedBytes = 4096;  // a hostile cbData does not flood the record
constexpr UINT_PTR kForegroundTimer = 1;
constexpr UINT kForegroundCheckMs = 50;
constexpr int kForegroundChecks = 200;      // watch for 10 s after a delivery
constexpr int kMargin = 8;

struct Options {
    std::wstring windowClass = L"OrsantoSampleClient";
    std::wstring windowTitle = L"Orsanto sample client";
    std::wstring clipboardFormat;
    UINT message = 0;
    std::wstring recordFile;
    DWORD delayMs = 0;
    DWORD windowDelayMs = 0;
    DWORD exitAfterMs = 0;
    bool noWindow = false;
    bool exitAtOnce = false;
    bool crashOnCopyData = false;
    std::wstring jobPath;
};

// The job on show. A page is null when its EMF file cannot be opened.
struct Job {
    std::wstring path;
    std::wstring way;
    int jobId = 0;
    std::vector<std::wstring> emfFiles;
    std::vector<HENHMETAFILE> pages;
};

Options g_options;
Job g_job;
std::wstring g_status = L"Waiting for a print job.";
HWND g_window = nullptr;
UINT g_clipboardFormat = 0;
int g_deliveries = 0;
int g_foregroundChecksLeft = 0;

// ---- Record file (tests read it) -------------------------------------------

std::string Hex(const void* data, size_t size)
{
    static const char kDigits[] = "0123456789abcdef";
    const BYTE* bytes = static_cast<const BYTE*>(data);
    std::string hex;
    for (size_t i = 0; i < size; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 15];
    }
    return hex;
}

std::string Utf8(const std::wstring& text)
{
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string utf8(size, '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0], size, nullptr,
                            nullptr);
    return utf8;
}

// Appends one line; the file is opened and closed each time so that nothing
// is lost if the client dies afterwards, and several clients may share it.
void Record(const std::string& line)
{
    if (g_options.recordFile.empty())
        return;
    std::string text = line + "\r\n";
    AppendToRecordFile(g_options.recordFile.c_str(), text.data(), static_cast<DWORD>(text.size()));
}

std::string Number(unsigned long long value, const char* format)
{
    char text[32];
    snprintf(text, sizeof(text), format, value);
    return text;
}

// ---- Command line ------------------------------------------------------------

const wchar_t* SkipBlanks(const wchar_t* at)
{
    while (*at == L' ' || *at == L'\t')
        ++at;
    return at;
}

// The next blank-separated token, double quotes removed.
std::wstring NextToken(const wchar_t** at)
{
    const wchar_t* p = SkipBlanks(*at);
    std::wstring token;
    bool quoted = false;
    for (; *p != L'\0' && (quoted || (*p != L' ' && *p != L'\t')); ++p) {
        if (*p == L'"')
            quoted = !quoted;
        else
            token += *p;
    }
    *at = p;
    return token;
}

bool ParseNumber(const std::wstring& text, DWORD* value)
{
    wchar_t* end = nullptr;
    *value = wcstoul(text.c_str(), &end, 0);  // decimal or 0x hex
    return !text.empty() && *end == L'\0';
}

bool ParseOption(const std::wstring& name, const wchar_t** at, Options* options)
{
    bool* flag = name == L"--no-window"            ? &options->noWindow
                 : name == L"--exit-at-once"       ? &options->exitAtOnce
                 : name == L"--crash-on-copydata"  ? &options->crashOnCopyData
                                                   : nullptr;
    if (flag != nullptr) {
        *flag = true;
        return true;
    }

    std::wstring value = NextToken(at);
    DWORD number = 0;
    if (name == L"--class")
        options->windowClass = value;
    else if (name == L"--title")
        options->windowTitle = value;
    else if (name == L"--clipboard-format")
        options->clipboardFormat = value;
    else if (name == L"--record")
        options->recordFile = value;
    else if (!ParseNumber(value, &number))
        return false;
    else if (name == L"--message")
        options->message = number;
    else if (name == L"--delay-ms")
        options->delayMs = number;
    else if (name == L"--window-delay-ms")
        options->windowDelayMs = number;
    else if (name == L"--exit-after-ms")
        options->exitAfterMs = number;
    else
        return false;
    return true;
}

bool ParseCommandLine(const wchar_t* commandLine, Options* options)
{
    const wchar_t* at = commandLine;
    NextToken(&at);  // the program itself
    for (at = SkipBlanks(at); wcsncmp(at, L"--", 2) == 0; at = SkipBlanks(at)) {
        if (!ParseOption(NextToken(&at), &at, options))
            return false;
    }
    // The rest is the job path as the agent appends it: unquoted, and it may
    // hold spaces. A path that a person typed in quotes is unquoted here.
    std::wstring path = at;
    while (!path.empty() && (path.back() == L' ' || path.back() == L'\t'))
        path.pop_back();
    if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"')
        path = path.substr(1, path.size() - 2);
    options->jobPath = path;
    return true;
}

// ---- The job -------------------------------------------------------------------

void FreePages()
{
    for (HENHMETAFILE page : g_job.pages) {
        if (page != nullptr)
            DeleteEnhMetaFile(page);
    }
    g_job = Job{};
}

// Reads the job description file: "Document"/"JobID" and the EMF list
// "EMF"/"Count", "File0".."FileN-1". The client owns the files from now
// on; this sample only shows them and leaves them in place.
void LoadJob(const std::wstring& path, const wchar_t* way)
{
    FreePages();
    g_job.path = path;
    g_job.way = way;
    g_job.jobId = static_cast<int>(
        GetPrivateProfileIntW(ORSANTO_SECTION_DOCUMENT, ORSANTO_KEY_JOB_ID, 0, path.c_str()));
    int count = static_cast<int>(GetPrivateProfileIntW(ORSANTO_SECTION_EMF, ORSANTO_KEY_EMF_COUNT, 0, path.c_str()));
    for (int n = 0; n < count; ++n) {
        wchar_t key[32];
        wchar_t file[MAX_PATH];
        swprintf(key, ARRAYSIZE(key), ORSANTO_KEY_EMF_FILE_FORMAT, n);
        // The list has no gaps: a missing entry ends it, whatever "Count" says.
        if (GetPrivateProfileStringW(ORSANTO_SECTION_EMF, key, L"", file, ARRAYSIZE(file), path.c_str()) == 0)
            break;
        g_job.emfFiles.push_back(file);
        g_job.pages.push_back(GetEnhMetaFileW(file));
    }
    bool exists = GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    g_status = exists ? L"Job received." : L"The job description file does not exist (any more).";
    Record("job jobid=" + std::to_string(g_job.jobId) + " emf=" + std::to_string(g_job.emfFiles.size())
           + " exists=" + (exists ? "1" : "0"));
    if (g_window != nullptr)
        InvalidateRect(g_window, nullptr, TRUE);
}

// Watches for a while whether the agent brings our window to the front.
void WatchForeground()
{
    if (g_window == nullptr)
        return;
    g_foregroundChecksLeft = kForegroundChecks;
    SetTimer(g_window, kForegroundTimer, kForegroundCheckMs, nullptr);
}

void CheckForeground()
{
    bool front = GetForegroundWindow() == g_window;
    if (front || --g_foregroundChecksLeft <= 0) {
        KillTimer(g_window, kForegroundTimer);
        Record((front ? "foreground delivery=" : "not-foreground delivery=") + std::to_string(g_deliveries));
    }
}

// The copy-data block and the clipboard block hold the ANSI path and its
// NUL. A block with no NUL within its bytes is refused (the helper of
// orsanto/client.h never reads past the data we were given).
bool PathFromBlock(const void* data, size_t size, std::wstring* path)
{
    char ansi[kPayloadBytes];
    if (!OrsantoPathFromPayload(data, size, ansi, sizeof(ansi)))
        return false;
    wchar_t wide[kPayloadBytes];
    int chars = MultiByteToWideChar(CP_ACP, 0, ansi, -1, wide, ARRAYSIZE(wide));
    if (chars <= 1)
        return false;
    path->assign(wide, chars - 1);
    return true;
}

// ---- The three ways a job arrives ----------------------------------------

// Dies abruptly in the middle of handling a message, as a crashing client
// would. Ended from inside rather than by a real fault, because a fault in a
// window procedure is not reliably fatal on every system.
[[noreturn]] void Crash()
{
    Record("crash");
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
    ExitProcess(static_cast<UINT>(EXCEPTION_ACCESS_VIOLATION));
}

LRESULT OnCopyData(const COPYDATASTRUCT* record)
{
    ++g_deliveries;
    size_t recorded = record->cbData < kMaxRecordedBytes ? record->cbData : kMaxRecordedBytes;
    Record("copydata dwData=" + Number(record->dwData, "0x%llx") + " cbData=" + std::to_string(record->cbData)
           + " bytes=" + Hex(record->lpData, record->lpData != nullptr ? recorded : 0));
    if (g_options.crashOnCopyData)
        Crash();
    if (g_options.delayMs != 0)
        Sleep(g_options.delayMs);

    // The record's memory is valid only during this message: copy it out.
    std::wstring path;
    if (PathFromBlock(record->lpData, record->cbData, &path))
        LoadJob(path, L"copy-data message");
    else
        g_status = L"A WM_COPYDATA without a NUL-terminated path was ignored.";
    WatchForeground();
    InvalidateRect(g_window, nullptr, TRUE);
    return TRUE;
}

// Reads the 260-byte block from the clipboard; size is the block's size.
bool ReadClipboardBlock(char* block, SIZE_T* size)
{
    // Another program may hold the clipboard for a moment.
    bool open = false;
    for (int attempt = 0; attempt < 20 && !(open = OpenClipboard(g_window) != FALSE); ++attempt)
        Sleep(50);
    if (!open)
        return false;
    HANDLE data = g_clipboardFormat != 0 ? GetClipboardData(g_clipboardFormat) : nullptr;
    const void* bytes = data != nullptr ? GlobalLock(data) : nullptr;
    if (bytes != nullptr) {
        *size = GlobalSize(data);
        memcpy(block, bytes, *size < kPayloadBytes ? *size : kPayloadBytes);
        GlobalUnlock(data);
    }
    CloseClipboard();
    return bytes != nullptr;
}

void OnClipboardMessage(UINT message)
{
    ++g_deliveries;
    char block[kPayloadBytes] = {};
    SIZE_T size = 0;
    bool read = ReadClipboardBlock(block, &size);
    SIZE_T copied = size < kPayloadBytes ? size : kPayloadBytes;
    Record("clipboard message=" + Number(message, "0x%llx") + (read ? "" : " unreadable") + " size="
           + std::to_string(size) + " bytes=" + Hex(block, copied));
    std::wstring path;
    if (read && PathFromBlock(block, copied, &path))
        LoadJob(path, L"clipboard");
    else
        g_status = L"The clipboard held no job path in our format.";
    WatchForeground();
    InvalidateRect(g_window, nullptr, TRUE);
}

void OnCommandLineJob()
{
    ++g_deliveries;
    std::string path = Utf8(g_options.jobPath);
    std::string line = Utf8(GetCommandLineW());
    Record("commandline path=" + Hex(path.data(), path.size()) + " line=" + Hex(line.data(), line.size()));
    LoadJob(g_options.jobPath, L"command line");
}

// ---- Window ------------------------------------------------------------------

void DrawPage(HDC dc, HENHMETAFILE page, RECT slot)
{
    FrameRect(dc, &slot, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    ENHMETAHEADER header;
    if (page == nullptr || GetEnhMetaFileHeader(page, sizeof(header), &header) == 0) {
        DrawTextW(dc, L"(not an EMF file)", -1, &slot, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        return;
    }
    // Fit the page's frame into the slot, keeping its proportions.
    double pageWidth = header.rclFrame.right - header.rclFrame.left;
    double pageHeight = header.rclFrame.bottom - header.rclFrame.top;
    double slotWidth = slot.right - slot.left;
    double slotHeight = slot.bottom - slot.top;
    if (pageWidth <= 0 || pageHeight <= 0)
        return;
    double scale = slotWidth / pageWidth < slotHeight / pageHeight ? slotWidth / pageWidth : slotHeight / pageHeight;
    int width = static_cast<int>(pageWidth * scale);
    int height = static_cast<int>(pageHeight * scale);
    RECT target = {slot.left + (static_cast<int>(slotWidth) - width) / 2,
                   slot.top + (static_cast<int>(slotHeight) - height) / 2, 0, 0};
    target.right = target.left + width;
    target.bottom = target.top + height;
    PlayEnhMetaFile(dc, page, &target);
}

void Paint(HWND window)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    SetBkMode(dc, TRANSPARENT);
    RECT client;
    GetClientRect(window, &client);
    TEXTMETRICW metrics;
    GetTextMetricsW(dc, &metrics);
    int lineHeight = metrics.tmHeight + 2;

    std::vector<std::wstring> lines = {g_status};
    if (!g_job.path.empty()) {
        lines.push_back(L"Received by " + g_job.way + L": " + g_job.path);
        lines.push_back(L"JobID: " + std::to_wstring(g_job.jobId));
        lines.push_back(L"EMF files: " + std::to_wstring(g_job.emfFiles.size()));
        for (const std::wstring& file : g_job.emfFiles)
            lines.push_back(L"    " + file);
    }
    int y = kMargin;
    for (const std::wstring& line : lines) {
        RECT row = {kMargin, y, client.right - kMargin, y + lineHeight};
        DrawTextW(dc, line.c_str(), -1, &row, DT_LEFT | DT_SINGLELINE | DT_PATH_ELLIPSIS | DT_NOPREFIX);
        y += lineHeight;
    }

    // The pages side by side below the text.
    int count = static_cast<int>(g_job.pages.size());
    int top = y + kMargin;
    if (count > 0 && client.bottom - top > 2 * kMargin) {
        int slotWidth = (client.right - kMargin * (count + 1)) / count;
        for (int i = 0; i < count && slotWidth > 0; ++i) {
            RECT slot = {kMargin + i * (slotWidth + kMargin), top, kMargin + i * (slotWidth + kMargin) + slotWidth,
                         client.bottom - kMargin};
            DrawPage(dc, g_job.pages[i], slot);
        }
    }
    EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COPYDATA:
        return OnCopyData(reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_TIMER:
        if (wParam == kForegroundTimer)
            CheckForeground();
        return 0;
    case WM_SIZE:
        InvalidateRect(window, nullptr, TRUE);
        return 0;
    case WM_PAINT:
        Paint(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        // The clipboard message is a number chosen by the configuration.
        if (g_options.message != 0 && message == g_options.message) {
            OnClipboardMessage(message);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool OpenMainWindow()
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = g_options.windowClass.c_str();
    if (RegisterClassExW(&windowClass) == 0)
        return false;
    g_window = CreateWindowExW(0, g_options.windowClass.c_str(), g_options.windowTitle.c_str(), WS_OVERLAPPEDWINDOW,
                               CW_USEDEFAULT, CW_USEDEFAULT, 800, 600, nullptr, nullptr, windowClass.hInstance,
                               nullptr);
    if (g_window == nullptr)
        return false;
    ShowWindow(g_window, SW_SHOWNORMAL);
    UpdateWindow(g_window);
    Record("window hwnd=" + Number(reinterpret_cast<ULONG_PTR>(g_window), "0x%llx"));
    if (!g_job.path.empty())
        WatchForeground();  // a command-line job arrived before the window
    return true;
}

void CALLBACK OpenWindowLater(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    if (!OpenMainWindow())
        PostQuitMessage(1);
}

void CALLBACK ExitNow(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    Record("exit");
    PostQuitMessage(0);
}

void ShowUsage()
{
    MessageBoxW(nullptr,
                L"orsanto-sample-client [--class NAME] [--title TEXT] [--clipboard-format NAME] [--message N]\n"
                L"    [--record FILE] [--delay-ms N] [--window-delay-ms N] [--no-window] [--exit-after-ms N]\n"
                L"    [--exit-at-once] [--crash-on-copydata] [job description file path]",
                L"Orsanto sample client", MB_OK | MB_ICONINFORMATION);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    if (!ParseCommandLine(GetCommandLineW(), &g_options)) {
        ShowUsage();
        return 2;
    }
    Record("start pid=" + std::to_string(GetCurrentProcessId()));
    if (g_options.exitAtOnce)
        return 0;
    if (!g_options.clipboardFormat.empty())
        g_clipboardFormat = RegisterClipboardFormatW(g_options.clipboardFormat.c_str());
    if (!g_options.jobPath.empty())
        OnCommandLineJob();

    if (g_options.exitAfterMs != 0)
        SetTimer(nullptr, 0, g_options.exitAfterMs, ExitNow);
    // With --no-window the client is ready for input, but the agent never
    // finds its window.
    if (!g_options.noWindow && g_options.windowDelayMs != 0)
        SetTimer(nullptr, 0, g_options.windowDelayMs, OpenWindowLater);
    else if (!g_options.noWindow && !OpenMainWindow())
        return 1;

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    FreePages();
    return 0;
}
