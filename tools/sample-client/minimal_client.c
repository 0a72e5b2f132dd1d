/* minimal-client: the smallest useful client of the Orsanto agent, in C. It
 * receives the job path in all three transfer modes and shows the JobID and
 * the path in its title bar. orsanto-sample-client is the full example. */
#include <windows.h>

#include "orsanto/client.h"

static const wchar_t kClass[] = L"MinimalOrsantoClient"; /* "Target Window Class" */
static const wchar_t kFormat[] = L"Orsanto job";         /* "Clipboard Format" */
#define JOB_MESSAGE 0x8001                               /* "Message ID", clipboard mode */

static void ShowJob(HWND window, const wchar_t* path)
{
    wchar_t title[64 + MAX_PATH];
    UINT jobId = GetPrivateProfileIntW(ORSANTO_SECTION_DOCUMENT, ORSANTO_KEY_JOB_ID, 0, path);
    wsprintfW(title, L"Job %u: %s", jobId, path);
    SetWindowTextW(window, title);
}

/* The payload is ANSI; the job description file is read with the W functions. */
static void ShowAnsiJob(HWND window, const char* path)
{
    wchar_t widePath[ORSANTO_PAYLOAD_BYTES];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, ORSANTO_PAYLOAD_BYTES) > 0)
        ShowJob(window, widePath);
}

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    char path[ORSANTO_PAYLOAD_BYTES];
    switch (message) {
    case WM_COPYDATA: /* copy-data mode: dwData is "Message ID" */
        if (OrsantoPathFromCopyData((const COPYDATASTRUCT*)lParam, path, sizeof(path)))
            ShowAnsiJob(window, path);
        return TRUE;
    case JOB_MESSAGE: /* clipboard mode: the block waits on the clipboard */
        if (OrsantoPathFromClipboard(kFormat, window, path, sizeof(path)))
            ShowAnsiJob(window, path);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR commandLine, int show)
{
    WNDCLASSW windowClass = {0};
    HWND window;
    MSG msg;
    (void)previous;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursor(NULL, IDC_ARROW);
    windowClass.lpszClassName = kClass;
    RegisterClassW(&windowClass);
    window = CreateWindowW(kClass, L"Waiting for a print job", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                           640, 120, NULL, NULL, instance, NULL);
    ShowWindow(window, show);
    if (commandLine[0] != L'\0') /* command-line mode: our command line is the path */
        ShowJob(window, commandLine);
    while (GetMessageW(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
