// Stand-in progress indicator "progress.exe": a small window that shows the
// job being worked on and ends when the agent closes it.
#include "stand_in.h"

namespace {

constexpr wchar_t kWindowClass[] = L"Orsanto progress indicator";

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CLOSE:
        AppendRecord(L"closed");
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int)
{
    AppendRecord(L"started");
    // A delay here stands for an indicator that is slow to show its window.
    WaitAsConfigured();

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_WAIT);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kWindowClass;
    if (!RegisterClassW(&windowClass))
        return 1;
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kWindowClass, L"Orsanto - processing print job",
                                  WS_POPUP | WS_CAPTION | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, 480, 80, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr)
        return 1;
    CreateWindowExW(0, L"STATIC", JobPathArgument(), WS_CHILD | WS_VISIBLE | SS_PATHELLIPSIS, 8, 8, 456, 20, window,
                    nullptr, instance, nullptr);
    AppendRecord(L"window");

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}
