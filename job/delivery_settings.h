// How a job is handed to the client application, read afresh for every job.
#pragma once

#include <windows.h>

#include "agent/constants.h"

struct DeliverySettings {
    wchar_t clientApplication[kPathChars];
    DWORD transferMode;  // TransferMode; any other value: command-line mode
    wchar_t targetWindowClass[kPathChars];
    wchar_t targetWindowTitle[kPathChars];
    wchar_t clipboardFormat[kPathChars];
    DWORD messageId;
};

// The client's command line; long enough for a quoted client application
// plus a space and a job path, so neither is ever cut.
struct ClientCommandLine {
    wchar_t text[kLongCommandLineChars];
};

// Reads the six values from the open main key; a value that is missing or
// does not fit leaves its field empty or zero. Types are not examined.
void ReadDeliveryValues(HKEY key, DeliverySettings* settings);

// Reads the settings from HKLM\Software\Orsanto. Reports 111 (key missing)
// or 61446 (key not openable) and returns false when the job must end.
bool ReadDeliverySettings(DeliverySettings* settings);

// The client application, enclosed in double quotes when it holds a space
// and does not begin with one. False when it does not fit.
bool QuoteClientApplication(const wchar_t* clientApplication, ClientCommandLine* commandLine);

// Prepares the client command line. An empty client application reports
// 112, deletes the job description file and returns false.
bool PrepareClientCommandLine(const DeliverySettings& settings, const wchar_t* jobPath,
                              ClientCommandLine* commandLine);

// Clipboard mode posts only application-private messages (0x8000-0xBFFF).
UINT ClampClipboardMessage(DWORD messageId);
