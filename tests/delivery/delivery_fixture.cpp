// Shared set-up of the delivery tests; see delivery_fixture.h.
#include "delivery_fixture.h"

#include <filesystem>

const wchar_t kClientClass[] = L"OrsantoTestClient";
const wchar_t kClientTitle[] = L"Orsanto test client";
const wchar_t kClientFormat[] = L"Orsanto test job path";

namespace {

constexpr size_t kBlockBytes = 260;

// The clipboard opened through a window of this thread: Wine lets two
// window-less opens share the clipboard, which would hide a holder.
class OpenedClipboard {
public:
    OpenedClipboard()
    {
        window_ = CreateWindowExW(0, L"STATIC", L"clipboard user", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        open_ = WaitUntil([&] { return OpenClipboard(window_) != FALSE; }, 5000);
    }
    ~OpenedClipboard()
    {
        if (open_)
            CloseClipboard();
        DestroyWindow(window_);
    }
    bool IsOpen() const { return open_; }

private:
    HWND window_ = nullptr;
    bool open_ = false;
};

// A real one-page EMF with a frame and the page number, so the sample
// client has something to draw.
void WriteEmf(const std::wstring& path, int page)
{
    RECT frame = {0, 0, 21000, 29700};  // A4 in 0.01 mm
    HDC dc = CreateEnhMetaFileW(nullptr, path.c_str(), &frame, L"Orsanto test\0page\0");
    ASSERT_NE(nullptr, dc);
    Rectangle(dc, 100, 100, 700, 900);
    std::wstring text = L"Page " + std::to_wstring(page + 1);
    TextOutW(dc, 200, 200, text.c_str(), static_cast<int>(text.size()));
    DeleteEnhMetaFile(CloseEnhMetaFile(dc));
}

// Ends a client whose id the record names, if it is still the sample client
// from this test's folder (ids are reused once a process has ended).
void EndClient(DWORD processId, const std::wstring& folder)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE,
                                 processId);
    if (process == nullptr)
        return;
    wchar_t image[MAX_PATH * 2];
    DWORD chars = ARRAYSIZE(image);
    if (QueryFullProcessImageNameW(process, 0, image, &chars)
        && CompareStringOrdinal(image, static_cast<int>(folder.size()) < static_cast<int>(chars)
                                           ? static_cast<int>(folder.size())
                                           : static_cast<int>(chars),
                                folder.c_str(), static_cast<int>(folder.size()), TRUE)
               == CSTR_EQUAL) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
    }
    CloseHandle(process);
}

}  // namespace

std::string AnsiPath(const std::wstring& path)
{
    BOOL usedDefault = FALSE;
    bool utf8 = GetACP() == CP_UTF8;
    int size = WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path.c_str(), -1, nullptr, 0, nullptr,
                                   utf8 ? nullptr : &usedDefault);
    if (size <= 0 || usedDefault)
        return "";
    std::string ansi(size, '\0');
    WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path.c_str(), -1, &ansi[0], size, nullptr, nullptr);
    ansi.resize(size - 1);  // without the NUL
    return ansi;
}

std::string ExpectedBlockHex(const std::string& ansiPath)
{
    std::string block = ansiPath;
    block.resize(kBlockBytes, '\0');
    return Hex(block);
}

std::string Utf8Hex(const std::wstring& text)
{
    return Hex(Utf8(text));
}

// ---- Foreground ------------------------------------------------------------

ForegroundWindow::ForegroundWindow()
{
    ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
    WaitForSingleObject(ready_, 10000);
}

ForegroundWindow::~ForegroundWindow()
{
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    WaitForSingleObject(thread_, 5000);
    CloseHandle(thread_);
    CloseHandle(ready_);
}

DWORD WINAPI ForegroundWindow::Run(LPVOID parameter)
{
    auto* self = static_cast<ForegroundWindow*>(parameter);
    self->window_ = CreateWindowExW(0, L"STATIC", L"Orsanto test foreground", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                                    300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    SetEvent(self->ready_);
    while (GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    DestroyWindow(self->window_);
    return 0;
}

bool ForegroundWindow::TakeForeground()
{
    SetForegroundWindow(window_);
    return WaitUntil([&] { return GetForegroundWindow() == window_; }, 5000);
}

// ---- Clipboard -------------------------------------------------------------

void PutUserTextOnClipboard(const std::wstring& text)
{
    OpenedClipboard clipboard;
    ASSERT_TRUE(clipboard.IsOpen());
    EmptyClipboard();
    size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    memcpy(GlobalLock(block), text.c_str(), bytes);
    GlobalUnlock(block);
    EXPECT_NE(nullptr, SetClipboardData(CF_UNICODETEXT, block));
}

std::wstring UserTextOnClipboard()
{
    std::wstring text;
    OpenedClipboard clipboard;
    if (!clipboard.IsOpen())
        return L"(clipboard not available)";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const wchar_t* chars = data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    if (chars != nullptr) {
        text = chars;
        GlobalUnlock(data);
    }
    return text;
}

// ---- Fixture -------------------------------------------------------------

size_t CountLog(const std::wstring& text)
{
    size_t count = 0;
    for (const std::wstring& record : ReadLogRecords())
        count += record == text ? 1 : 0;
    return count;
}

void DeliveryTest::TearDown()
{
    EndClients();
    AgentTest::TearDown();
}

void DeliveryTest::EndClients()
{
    if (folder_.empty())
        return;
    for (const std::string& line : Records("start"))
        EndClient(static_cast<DWORD>(std::stoul(Field(line, "pid"))), folder_);
}

std::string DeliveryTest::ForegroundAfter(int delivery) const
{
    std::string said;
    std::string number = std::to_string(delivery);
    WaitUntil(
        [&] {
            for (const char* kind : {"foreground", "not-foreground"}) {
                for (const std::string& line : Records(kind)) {
                    if (Field(line, "delivery") == number)
                        said = kind;
                }
            }
            return !said.empty();
        },
        15000);
    return said;
}

void DeliveryTest::Install(const std::wstring& name, bool converter, bool preprocessor)
{
    folder_ = MakeAgentFolder(name, {L"orsanto-sample-client.exe"});
    record_ = folder_ + L"\\client-record.txt";
    if (converter)
        CopyProgram(folder_, L"orsanto-delivery-helper.exe", L"orstdisp.exe");
    if (preprocessor)
        CopyProgram(folder_, L"orsanto-delivery-helper.exe", L"CustomRoutine.exe");
}

AgentProcess DeliveryTest::StartAgentHere(bool messageMode)
{
    SetMainDword(L"Log", 1);
    SetMainDword(L"Message Mode", messageMode ? 1 : 0);
    return Start(folder_);
}

std::wstring DeliveryTest::ClientCommand(const std::wstring& options) const
{
    return L"\"" + ClientPath() + L"\" --record " + record_ + (options.empty() ? L"" : L" " + options);
}

bool DeliveryTest::StartClient(const std::wstring& options, bool waitForWindow)
{
    size_t windows = Records("window").size();
    PROCESS_INFORMATION process;
    if (!StartProgram(ClientCommand(options), &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);  // ended through the record in TearDown
    return !waitForWindow || WaitForRecord("window", windows + 1);
}

void DeliveryTest::ConfigureClient(DWORD mode, const std::wstring& clientOptions)
{
    SetMainString(L"Client Application", ClientCommand(clientOptions));
    SetMainDword(L"Transfer Mode", mode);
}

void DeliveryTest::ConfigureWindow(const std::wstring& windowClass, const std::wstring& title)
{
    SetMainString(L"Target Window Class", windowClass);
    SetMainString(L"Target Window Title", title);
}

std::vector<std::wstring> DeliveryTest::EmfFiles(const std::wstring& jobName) const
{
    return {folder_ + L"\\" + jobName + L"-page1.emf", folder_ + L"\\" + jobName + L"-page2.emf"};
}

std::wstring DeliveryTest::MakeJob(const std::wstring& name, int jobId, const std::wstring& extra,
                                   const std::wstring& folder)
{
    std::wstring path = (folder.empty() ? folder_ : folder) + L"\\" + name + L".ini";
    std::vector<std::wstring> emf = EmfFiles(name);
    std::wstring text = L"[Document]\r\nJobID=" + std::to_wstring(jobId) + L"\r\n[EMF]\r\nCount="
                        + std::to_wstring(emf.size()) + L"\r\n";
    for (size_t i = 0; i < emf.size(); ++i) {
        text += L"File" + std::to_wstring(i) + L"=" + emf[i] + L"\r\n";
        WriteEmf(emf[i], static_cast<int>(i));
    }
    WriteFileText(path, text + extra);
    return path;
}

void DeliveryTest::HandOffJob(const std::wstring& jobPath)
{
    wchar_t user[64];
    DWORD size = ARRAYSIZE(user);
    ASSERT_TRUE(GetUserNameW(user, &size));
    HandOff(user, jobPath, PersonalEventName());
}

std::vector<std::string> DeliveryTest::Records() const
{
    std::vector<std::string> lines;
    std::string text = ReadFileBytes(record_);
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

std::vector<std::string> DeliveryTest::Records(const std::string& kind) const
{
    std::vector<std::string> matching;
    for (const std::string& line : Records()) {
        if (line == kind || line.compare(0, kind.size() + 1, kind + " ") == 0)
            matching.push_back(line);
    }
    return matching;
}

bool DeliveryTest::WaitForRecord(const std::string& kind, size_t count, DWORD timeoutMs) const
{
    return WaitUntil([&] { return Records(kind).size() >= count; }, timeoutMs);
}
