// Every fixed name and number the agent shares with the printer side, the
// auxiliary programs and client applications, kept in one place.
#pragma once

#include <windows.h>

// The names and numbers clients see are defined once, in the client header;
// derived names are put together at compile time from them.
#include "orsanto/client.h"

constexpr wchar_t kPrinterName[] = ORSANTO_PRINTER_NAME;
constexpr wchar_t kMainKeyPath[] = ORSANTO_MAIN_KEY;
constexpr wchar_t kDefaultsKeyPath[] = ORSANTO_DEFAULTS_KEY;
constexpr wchar_t kUserKeyPath[] = ORSANTO_MAIN_KEY;  // under HKEY_CURRENT_USER
constexpr wchar_t kCaption[] = ORSANTO_PRINTER_NAME L" agent";
constexpr wchar_t kNotificationMessageName[] = ORSANTO_NOTIFY_MESSAGE_NAME;
constexpr wchar_t kLogFilePath[] = L"C:\\vp_log.txt";
// Keeps the records of all agents' log writes apart; the local name serves
// systems without the global namespace.
constexpr wchar_t kLogMutexName[] = L"Global\\" ORSANTO_PRINTER_NAME L"_log_mutex";
constexpr wchar_t kLocalLogMutexName[] = ORSANTO_PRINTER_NAME L"_log_mutex";
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
constexpr wchar_t kLogValue[] = ORSANTO_VALUE_LOG;
constexpr wchar_t kMessageModeValue[] = ORSANTO_VALUE_MESSAGE_MODE;
constexpr wchar_t kLanguageValue[] = ORSANTO_VALUE_LANGUAGE;
constexpr wchar_t kSharedJobValue[] = L"Shared";
constexpr wchar_t kSystemJobValue[] = L"SYSTEM";
constexpr wchar_t kLegacyJobValue[] = L"Print Job";
constexpr wchar_t kClientApplicationValue[] = ORSANTO_VALUE_CLIENT_APPLICATION;
constexpr wchar_t kTransferModeValue[] = ORSANTO_VALUE_TRANSFER_MODE;
constexpr wchar_t kTargetWindowClassValue[] = ORSANTO_VALUE_TARGET_WINDOW_CLASS;
constexpr wchar_t kTargetWindowTitleValue[] = ORSANTO_VALUE_TARGET_WINDOW_TITLE;
constexpr wchar_t kClipboardFormatValue[] = ORSANTO_VALUE_CLIPBOARD_FORMAT;
constexpr wchar_t kMessageIdValue[] = ORSANTO_VALUE_MESSAGE_ID;

// Job description file: sections and keys.
constexpr wchar_t kDocumentSection[] = ORSANTO_SECTION_DOCUMENT;
constexpr wchar_t kJobIdKey[] = ORSANTO_KEY_JOB_ID;
constexpr wchar_t kPreprocessingResultKey[] = ORSANTO_KEY_PREPROCESSING_RESULT;
constexpr wchar_t kCancelResult[] = L"Cancel";
constexpr wchar_t kEmfSection[] = ORSANTO_SECTION_EMF;
constexpr wchar_t kEmfCountKey[] = ORSANTO_KEY_EMF_COUNT;
constexpr wchar_t kEmfFileKeyFormat[] = ORSANTO_KEY_EMF_FILE_FORMAT;

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
constexpr size_t kPayloadBytes = ORSANTO_PAYLOAD_BYTES;  // ANSI job path handed to clients

// Registry access and fixed system values.
constexpr REGSAM kReadAccess = KEY_READ;
constexpr REGSAM kSetValueAccess = KEY_SET_VALUE;
constexpr UINT kMessageBoxStyle = MB_SYSTEMMODAL;
constexpr UINT kFirstPrivateMessage = ORSANTO_FIRST_CLIPBOARD_MESSAGE;
constexpr UINT kLastPrivateMessage = ORSANTO_LAST_CLIPBOARD_MESSAGE;

// Waits, in milliseconds.
constexpr DWORD kClientReadyTimeout = 20000;
constexpr DWORD kCommandLineClientReadyTimeout = 10000;
constexpr DWORD kWindowPollInterval = 250;
constexpr DWORD kWindowPollLimit = 60000;          // a client that never opens its window
constexpr DWORD kProgressReadyTimeout = 5000;      // before looking for the progress window
constexpr DWORD kWaitFailureBackoff = 1000;        // after a failing event wait
constexpr DWORD kPrepareThreadDelay = 20;          // quiet after a signal, before the next job thread starts
constexpr DWORD kWaitingThreadEndTimeout = 1000;   // a job thread started ahead, at shutdown

constexpr size_t kUnreapedThreadLimit = 64;        // job threads listed before a signal reaps them

// Transfer modes; any other value means command-line mode.
enum TransferMode : DWORD {
    kCopyDataMode = ORSANTO_TRANSFER_COPYDATA,
    kClipboardMode = ORSANTO_TRANSFER_CLIPBOARD,
};

// Job kinds, the single parameter of a job thread.
enum JobKind : DWORD {
    kPersonalJob = 0,
    kSharedJob = 1,
};

// Message identifiers and their English texts (clients interpret the
// broadcast by these numbers).
enum MessageId : UINT {
    kMsgNotConfigured = ORSANTO_MSG_NOT_CONFIGURED,
    kMsgFileMissing = ORSANTO_MSG_FILE_MISSING,
    kMsgDispatcherFailed = ORSANTO_MSG_DISPATCHER_FAILED,
    kMsgLogOpenFailed = ORSANTO_MSG_LOG_OPEN_FAILED,
    kMsgCreateEvent0Failed = ORSANTO_MSG_CREATE_EVENT0_FAILED,
    kMsgCreateEvent1Failed = ORSANTO_MSG_CREATE_EVENT1_FAILED,
    kMsgCreateThreadFailed = ORSANTO_MSG_CREATE_THREAD_FAILED,
    kMsgJobInfoFailed = ORSANTO_MSG_JOB_INFO_FAILED,
    kMsgRegistryKeyFailed = ORSANTO_MSG_REGISTRY_KEY_FAILED,
    kMsgTargetInaccessible = ORSANTO_MSG_TARGET_INACCESSIBLE,
    kMsgClipboardSetFailed = ORSANTO_MSG_CLIPBOARD_SET_FAILED,
    kMsgClipboardOpenFailed = ORSANTO_MSG_CLIPBOARD_OPEN_FAILED,
    kMsgConverterMissing = ORSANTO_MSG_CONVERTER_MISSING,
};

constexpr wchar_t kTextNotConfigured[] = ORSANTO_TEXT_NOT_CONFIGURED;
constexpr wchar_t kTextFileMissing[] = ORSANTO_TEXT_FILE_MISSING;
constexpr wchar_t kTextDispatcherFailed[] = ORSANTO_TEXT_DISPATCHER_FAILED;
constexpr wchar_t kTextLogOpenFailed[] = ORSANTO_TEXT_LOG_OPEN_FAILED;
constexpr wchar_t kTextCreateEvent0Failed[] = ORSANTO_TEXT_CREATE_EVENT0_FAILED;
constexpr wchar_t kTextCreateEvent1Failed[] = ORSANTO_TEXT_CREATE_EVENT1_FAILED;
constexpr wchar_t kTextCreateThreadFailed[] = ORSANTO_TEXT_CREATE_THREAD_FAILED;
constexpr wchar_t kTextJobInfoFailed[] = ORSANTO_TEXT_JOB_INFO_FAILED;
constexpr wchar_t kTextRegistryKeyFailed[] = ORSANTO_TEXT_REGISTRY_KEY_FAILED;
constexpr wchar_t kTextTargetInaccessible[] = ORSANTO_TEXT_TARGET_INACCESSIBLE;
constexpr wchar_t kTextClipboardSetFailed[] = ORSANTO_TEXT_CLIPBOARD_SET_FAILED;
constexpr wchar_t kTextClipboardOpenFailed[] = ORSANTO_TEXT_CLIPBOARD_OPEN_FAILED;
constexpr wchar_t kTextConverterMissing[] = ORSANTO_TEXT_CONVERTER_MISSING;

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
