// The client's window: lookup by class and title, launch and wait, and the
// steps that let a background process bring it to the foreground.
#include "job/target_window.h"

#include "agent/constants.h"
#include "agent/text.h"

namespace {

const wchar_t* NullIfEmpty(const wchar_t* text)
{
    return IsEmptyText(text) ? nullptr : text;
}

bool BelongsToOtherThread(HWND window)
{
    return GetWindowThreadProcessId(window, nullptr) != GetCurrentThreadId();
}

// Windows 2000 and later, and Windows Me, know AllowSetForegroundWindow.
bool HasAllowSetForegroundWindow()
{
    OSVERSIONINFOEXW extended = {};
    extended.dwOSVersionInfoSize = sizeof(extended);
    OSVERSIONINFOW* version = reinterpret_cast<OSVERSIONINFOW*>(&extended);
    if (!GetVersionExW(version)) {
        version->dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!GetVersionExW(version))
            return false;
    }
    return version->dwMajorVersion > 4 || (version->dwMajorVersion == 4 && version->dwMinorVersion == 90);
}

bool IsAltKeyDown()
{
    BYTE keys[256];
    // A failed read counts as down: no keys are synthesised then.
    return !GetKeyboardState(keys) || (keys[VK_MENU] & 0x80) != 0;
}

BOOL CALLBACK ActivateIfOwnedBy(HWND window, LPARAM processId)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != 0 && owner == static_cast<DWORD>(processId)) {
        BringWindowToForeground(window);
        return FALSE;
    }
    return TRUE;
}

// Polls for the window while the client runs, for at most a minute.
HWND PollForWindow(const DeliverySettings& settings, HANDLE client)
{
    ULONGLONG deadline = GetTickCount64() + kWindowPollLimit;
    for (;;) {
        HWND window = FindTargetWindow(settings.targetWindowClass, settings.targetWindowTitle);
        if (window != nullptr || GetTickCount64() >= deadline)
            return window;
        if (WaitForSingleObject(client, kWindowPollInterval) == WAIT_OBJECT_0)  // the client has exited
            return FindTargetWindow(settings.targetWindowClass, settings.targetWindowTitle);
    }
}

}  // namespace

HWND FindTargetWindow(const wchar_t* windowClass, const wchar_t* windowTitle)
{
    return FindWindowW(NullIfEmpty(windowClass), NullIfEmpty(windowTitle));
}

bool StartClient(const wchar_t* commandLine, PROCESS_INFORMATION* process)
{
    ClientCommandLine writable;  // the call may write to its command line
    if (!CopyText(writable.text, ARRAYSIZE(writable.text), commandLine))
        return false;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessW(nullptr, writable.text,
                          nullptr, nullptr,        // process and thread security
                          FALSE,                   // inherit handles
                          NORMAL_PRIORITY_CLASS,
                          nullptr, nullptr,        // environment, current directory
                          &startup, process)
        != FALSE;
}

HWND LocateOrLaunchClient(const DeliverySettings& settings, const ClientCommandLine& commandLine,
                          bool pollUntilFound)
{
    HWND window = FindTargetWindow(settings.targetWindowClass, settings.targetWindowTitle);
    if (IsWindow(window))
        return window;

    PROCESS_INFORMATION client;
    if (!StartClient(commandLine.text, &client))
        return window;
    CloseHandle(client.hThread);
    if (WaitForInputIdle(client.hProcess, kClientReadyTimeout) == 0) {
        window = pollUntilFound ? PollForWindow(settings, client.hProcess)
                                : FindTargetWindow(settings.targetWindowClass, settings.targetWindowTitle);
    }
    CloseHandle(client.hProcess);
    return window;
}

BOOL BringWindowToForeground(HWND window)
{
    UINT savedTimeout = 0;
    bool otherThread = BelongsToOtherThread(window);
    if (otherThread) {
        SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &savedTimeout, 0);
        SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
        if (HasAllowSetForegroundWindow())
            AllowSetForegroundWindow(ASFW_ANY);
        if (!IsAltKeyDown()) {
            // An Alt press makes this thread the last input's owner, which
            // the foreground lock accepts.
            keybd_event(VK_MENU, 0, KEYEVENTF_EXTENDEDKEY, 0);
            keybd_event(VK_MENU, 0, KEYEVENTF_EXTENDEDKEY | KEYEVENTF_KEYUP, 0);
        }
    }
    BOOL result = SetForegroundWindow(window);
    if (otherThread)
        SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(savedTimeout)),
                              SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    return result;
}

void ActivateProcessWindow(DWORD processId)
{
    EnumWindows(ActivateIfOwnedBy, static_cast<LPARAM>(processId));
}
