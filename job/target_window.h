// Finding the client's window, starting the client when it has none, and
// bringing a window of another process to the foreground.
#pragma once

#include <windows.h>

#include "job/delivery_settings.h"

HWND FindTargetWindow(const wchar_t* windowClass, const wchar_t* windowTitle);

// The target window; when none is open, starts the client (command line
// without the job path) and waits until it is ready for input. With
// pollUntilFound it then looks every 250 ms until the window appears, the
// client exits, or a minute has passed; otherwise it looks once more.
HWND LocateOrLaunchClient(const DeliverySettings& settings, const ClientCommandLine& commandLine,
                          bool pollUntilFound);

BOOL BringWindowToForeground(HWND window);

// Brings the first top-level window of processId to the foreground.
void ActivateProcessWindow(DWORD processId);

// Starts the client with commandLine; the caller closes the handles.
bool StartClient(const wchar_t* commandLine, PROCESS_INFORMATION* process);
