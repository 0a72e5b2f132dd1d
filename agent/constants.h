// Every fixed name and number the agent shares with the printer side, the
// auxiliary programs and client applications, kept in one place.
#pragma once

#include <windows.h>

// Identity. Derived names are put together at compile time from these.
#define ORSANTO_PRINTER_NAME L"Orsanto"
#define ORSANTO_SHORT_NAME L"orst"

constexpr wchar_t kPrinterName[] = ORSANTO_PRINTER_NAME;
constexpr wchar_t kMainKeyPath[] = L"Software\\" ORSANTO_PRINTER_NAME;
constexpr wchar_t kDefaultsKeyPath[] = L"Software\\" ORSANTO_PRINTER_NAME L"\\Defaults";
constexpr wchar_t kUserKeyPath[] = L"Software\\" ORSANTO_PRINTER_NAME;
constexpr wchar_t kCaption[] = ORSANTO_PRINTER_NAME L" agent";
constexpr wchar_t kNotificationMessageName[] = ORSANTO_PRINTER_NAME L"_notify_message";
constexpr wchar_t kLogFilePath[] = L"C:\\vp_log.txt";
constexpr wchar_t kLanguageFileName[] = ORSANTO_SHORT_NAME L".lng";
constexpr wchar_t kPrinterNamePlaceholder[] = L"%PRINTER_NAME%";

// Named events: the legacy forms are local to the Windows session.
constexpr wchar_t kPrintEventFormat[] = L"Global\\%ls_" ORSANTO_PRINTER_NAME L"_printevent_SESSION%lu";
constexpr wchar_t kSharedEventName[] = L"Global\\" ORSANTO_PRINTER_NAME L"_shared_printing_event";
constexpr wchar_t kKillEventName[] = L"Global\\" ORSANTO_PRINTER_NAME L"_killevent";
constexpr wchar_t kLegacyPrintEventName[] = ORSANTO_PRINTER_NAME L"_printevent";
constexpr wchar_t kLegacySharedEventName[] = ORSANTO_PRINTER_NAME L"_shared_printing_event";
constexpr wchar_t kLegacyKillEventName[] = ORSANTO_PRINTER_NAME L"_killevent";

// Registry values under HKLM\Software\Orsanto (and "Language" under the
// per-user and default keys).
constexpr wchar_t kLogValue[] = L"Log";
constexpr wchar_t kMessageModeValue[] = L"Message Mode";
constexpr wchar_t kLanguageValue[] = L"Language";
constexpr wchar_t kSharedJobValue[] = L"Shared";
constexpr wchar_t kSystemJobValue[] = L"SYSTEM";
constexpr wchar_t kLegacyJobValue[] = L"Print Job";
constexpr wchar_t kClientApplicationValue[] = L"Client Application";
constexpr wchar_t kTransferModeValue[] = L"Transfer Mode";
constexpr wchar_t kTargetWindowClassValue[] = L"Target Window Class";
constexpr wchar_t kTargetWindowTitleValue[] = L"Target Window Title";
constexpr wchar_t kClipboardFormatValue[] = L"Clipboard Format";
constexpr wchar_t kMessageIdValue[] = L"Message ID";

// Job description file: sections and keys.
constexpr wchar_t kDocumentSection[] = L"Document";
constexpr wchar_t kJobIdKey[] = L"JobID";
constexpr wchar_t kPreprocessingResultKey[] = L"PreprocessingResult";
constexpr wchar_t kCancelResult[] = L"Cancel";
constexpr wchar_t kEmfSection[] = L"EMF";
constexpr wchar_t kEmfCountKey[] = L"Count";
constexpr wchar_t kEmfFileKeyFormat[] = L"File%d";

// Auxiliary programs installed beside the agent.
constexpr wchar_t kPreprocessorFileName[] = L"CustomRoutine.exe";
constexpr wchar_t kProgressIndicatorFileName[] = L"progress.exe";
constexpr wchar_t kConverterFileName[] = ORSANTO_SHORT_NAME L"disp.exe";
constexpr wchar_t kProgressWindowClass[] = ORSANTO_PRINTER_NAME L" progress indicator";

// Buffer sizes, in characters unless the name says bytes.
constexpr size_t kPathChars = MAX_PATH;             // paths, registry strings
constexpr size_t kTextChars = 1024;                 // composed texts, log lines
constexpr size_t kUserNameChars = 64;
constexpr size_t kLanguageNameChars = 64;
constexpr DWORD kLanguageValueBytes = 128;
constexpr size_t kSystemErrorChars = 512;
constexpr size_t kPreprocessingResultChars = 256;
constexpr size_t kLongCommandLineChars = 1024;      // preprocessor, converter, client
constexpr size_t kProgressCommandLineChars = MAX_PATH;
constexpr size_t kPayloadBytes = 260;               // ANSI job path handed to clients

// Registry access and fixed system values.
constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kSetValueAccess = KEY_SET_VALUE;
constexpr UINT kMessageBoxStyle = MB_SYSTEMMODAL;
constexpr UINT kFirstPrivateMessage = 0x8000;
constexpr UINT kLastPrivateMessage = 0xBFFF;

// Waits, in milliseconds.
constexpr DWORD kClientReadyTimeout = 20000;
constexpr DWORD kCommandLineClientReadyTimeout = 10000;
constexpr DWORD kWindowPollInterval = 250;
constexpr DWORD kWindowPollLimit = 60000;          // a client that never opens its window
constexpr DWORD kProgressReadyTimeout = 5000;      // before looking for the progress window
constexpr DWORD kWaitFailureBackoff = 1000;        // after a failing event wait

// Transfer modes; any other value means command-line mode.
enum TransferMode : DWORD {
    kCopyDataMode = 1,
    kClipboardMode = 2,
};

// Job kinds, the single parameter of a job thread.
enum JobKind : DWORD {
    kPersonalJob = 0,
    kSharedJob = 1,
};

// Message identifiers and their English texts. Clients interpret the
// broadcast by these numbers: they never change.
enum MessageId : UINT {
    kMsgNotConfigured = 111,
    kMsgFileMissing = 112,
    kMsgDispatcherFailed = 113,
    kMsgLogOpenFailed = 0xF001,
    kMsgCreateEvent0Failed = 0xF002,
    kMsgCreateEvent1Failed = 0xF003,
    kMsgCreateThreadFailed = 0xF004,
    kMsgJobInfoFailed = 0xF005,
    kMsgRegistryKeyFailed = 0xF006,
    kMsgTargetInaccessible = 0xF007,
    kMsgClipboardSetFailed = 0xF008,
    kMsgClipboardOpenFailed = 0xF009,
    kMsgConverterMissing = 0xF010,
};

#define ORSANTO_NOT_CONFIGURED L"The %PRINTER_NAME% printer has not been properly configured. "
constexpr wchar_t kTextNotConfigured[] = ORSANTO_NOT_CONFIGURED L"Please re-install the %PRINTER_NAME% software.";
constexpr wchar_t kTextFileMissing[] = ORSANTO_NOT_CONFIGURED L"A required file could not be located. Please contact support.";
constexpr wchar_t kTextDispatcherFailed[] = ORSANTO_NOT_CONFIGURED L"The external dispatcher could not be run. Please contact support.";
constexpr wchar_t kTextLogOpenFailed[] = L"Failed to open the log file:\n%ls";
constexpr wchar_t kTextCreateEvent0Failed[] = L"Failed to create event object [0].";
constexpr wchar_t kTextCreateEvent1Failed[] = L"Failed to create event object [1].";
constexpr wchar_t kTextCreateThreadFailed[] = L"CreateThread() failed.";
constexpr wchar_t kTextJobInfoFailed[] = L"Failed to get print job info.";
constexpr wchar_t kTextRegistryKeyFailed[] = L"Failed to open registry key\nHKLM\\Software\\" ORSANTO_PRINTER_NAME;
constexpr wchar_t kTextTargetInaccessible[] = L"Target application is inaccessible.";
constexpr wchar_t kTextClipboardSetFailed[] = L"Failed to set clipboard data.";
constexpr wchar_t kTextClipboardOpenFailed[] = L"Failed to open clipboard.";
constexpr wchar_t kTextConverterMissing[] = L"Cannot find converter executable.";
#undef ORSANTO_NOT_CONFIGURED

// Activity log texts.
constexpr wchar_t kLogAgentStarted[] = L"Agent started.";
constexpr wchar_t kLogWaiting[] = L"Waiting for events.";
constexpr wchar_t kLogPrintJob[] = L"New print job received. Start processing thread.";
constexpr wchar_t kLogSharedJob[] = L"Shared print job received. Start processing thread.";
constexpr wchar_t kLogWaitFailedFormat[] = L"Waiting for events failed. Error # %d";
constexpr wchar_t kLogSuicide[] = L"Suicide.";
constexpr wchar_t kLogAgentExits[] = L"Agent exits.";
constexpr wchar_t kLogThreadStarted[] = L"Processing thread started.";
constexpr wchar_t kLogJobInfoFormat[] = L"Print job info successfully retrieved. JobID=%d";
constexpr wchar_t kLogPreprocessingFinished[] = L"Preprocessing finished.";
constexpr wchar_t kLogProgressStarted[] = L"Progress indicator started.";
constexpr wchar_t kLogProgressClosed[] = L"Progress indicator process terminated.";
constexpr wchar_t kLogConverterStarting[] = L"Starting converter.";
constexpr wchar_t kLogConverterFinished[] = L"Converter finished.";
constexpr wchar_t kLogSendingCopyData[] = L"Sending WM_COPYDATA.";
constexpr wchar_t kLogRunClient[] = L"Run client application.";
constexpr wchar_t kLogPathNotAnsiFormat[] = L"The job path cannot be handed over in the ANSI code page: %ls";
