/* Orsanto agent: what a client application needs to receive print jobs and
 * the agent's reports. C and C++, header only, Windows headers only. */
#ifndef ORSANTO_CLIENT_H
#define ORSANTO_CLIENT_H

#include <windows.h>
#include <string.h>

/* ---- Names ------------------------------------------------------------- */

#define ORSANTO_PRINTER_NAME L"Orsanto"
#define ORSANTO_SHORT_NAME L"orst"

/* Registered window message broadcast in message mode: wParam is the message
 * identifier, lParam the system error code (0 for fixed messages). */
#define ORSANTO_NOTIFY_MESSAGE_NAME ORSANTO_PRINTER_NAME L"_notify_message"

/* Settings under HKEY_LOCAL_MACHINE\Software\Orsanto. */
#define ORSANTO_MAIN_KEY L"Software\\" ORSANTO_PRINTER_NAME
#define ORSANTO_VALUE_LOG L"Log"                                  /* REG_DWORD */
#define ORSANTO_VALUE_MESSAGE_MODE L"Message Mode"                /* REG_DWORD, 1: broadcast */
#define ORSANTO_VALUE_CLIENT_APPLICATION L"Client Application"    /* REG_SZ */
#define ORSANTO_VALUE_TRANSFER_MODE L"Transfer Mode"              /* REG_DWORD */
#define ORSANTO_VALUE_TARGET_WINDOW_CLASS L"Target Window Class"  /* REG_SZ */
#define ORSANTO_VALUE_TARGET_WINDOW_TITLE L"Target Window Title"  /* REG_SZ */
#define ORSANTO_VALUE_CLIPBOARD_FORMAT L"Clipboard Format"        /* REG_SZ */
#define ORSANTO_VALUE_MESSAGE_ID L"Message ID"                    /* REG_DWORD */
/* "Language" (REG_SZ) under HKEY_CURRENT_USER\Software\Orsanto, or under
 * HKEY_LOCAL_MACHINE\Software\Orsanto\Defaults. */
#define ORSANTO_DEFAULTS_KEY ORSANTO_MAIN_KEY L"\\Defaults"
#define ORSANTO_VALUE_LANGUAGE L"Language"

/* "Transfer Mode": any value but these two means command-line mode. */
#define ORSANTO_TRANSFER_COPYDATA 1   /* WM_COPYDATA to the target window */
#define ORSANTO_TRANSFER_CLIPBOARD 2  /* clipboard block plus a posted message */
#define ORSANTO_TRANSFER_COMMAND_LINE 0

/* Clipboard mode posts "Message ID" only within the application range;
 * any other value is posted as the first number of that range. */
#define ORSANTO_FIRST_CLIPBOARD_MESSAGE 0x8000
#define ORSANTO_LAST_CLIPBOARD_MESSAGE 0xBFFF

/* The job description file: an INI file whose path is what clients receive. */
#define ORSANTO_SECTION_DOCUMENT L"Document"
#define ORSANTO_KEY_JOB_ID L"JobID"
#define ORSANTO_KEY_PREPROCESSING_RESULT L"PreprocessingResult"
#define ORSANTO_SECTION_EMF L"EMF"
#define ORSANTO_KEY_EMF_COUNT L"Count"
#define ORSANTO_KEY_EMF_FILE_FORMAT L"File%d" /* File0, File1, ... */

/* ---- The payload ------------------------------------------------------- */

/* In copy-data mode the record's dwData is "Message ID", cbData is 260 and
 * lpData the job path in the ANSI code page, NUL-terminated, zero-filled.
 * In clipboard mode the clipboard block holds the same 260 bytes. */
#define ORSANTO_PAYLOAD_BYTES 260

/* ---- Messages ------------------------------------------------------------ */

#define ORSANTO_MSG_NOT_CONFIGURED 111
#define ORSANTO_MSG_FILE_MISSING 112
#define ORSANTO_MSG_DISPATCHER_FAILED 113
#define ORSANTO_MSG_LOG_OPEN_FAILED 0xF001
#define ORSANTO_MSG_CREATE_EVENT0_FAILED 0xF002
#define ORSANTO_MSG_CREATE_EVENT1_FAILED 0xF003
#define ORSANTO_MSG_CREATE_THREAD_FAILED 0xF004
#define ORSANTO_MSG_JOB_INFO_FAILED 0xF005
#define ORSANTO_MSG_REGISTRY_KEY_FAILED 0xF006
#define ORSANTO_MSG_TARGET_INACCESSIBLE 0xF007
#define ORSANTO_MSG_CLIPBOARD_SET_FAILED 0xF008
#define ORSANTO_MSG_CLIPBOARD_OPEN_FAILED 0xF009
#define ORSANTO_MSG_CONVERTER_MISSING 0xF010 /* not 0xF00A */

/* English texts. %PRINTER_NAME% stands for the printer's name and \n (two
 * characters in translations) for a line break. */
#define ORSANTO_NOT_CONFIGURED_ L"The %PRINTER_NAME% printer has not been properly configured. "
#define ORSANTO_TEXT_NOT_CONFIGURED ORSANTO_NOT_CONFIGURED_ L"Please re-install the %PRINTER_NAME% software."
#define ORSANTO_TEXT_FILE_MISSING \
    ORSANTO_NOT_CONFIGURED_ L"A required file could not be located. Please contact support."
#define ORSANTO_TEXT_DISPATCHER_FAILED \
    ORSANTO_NOT_CONFIGURED_ L"The external dispatcher could not be run. Please contact support."
#define ORSANTO_TEXT_LOG_OPEN_FAILED L"Failed to open the log file:\n%ls" /* the log path */
#define ORSANTO_TEXT_CREATE_EVENT0_FAILED L"Failed to create event object [0]."
#define ORSANTO_TEXT_CREATE_EVENT1_FAILED L"Failed to create event object [1]."
#define ORSANTO_TEXT_CREATE_THREAD_FAILED L"CreateThread() failed."
#define ORSANTO_TEXT_JOB_INFO_FAILED L"Failed to get print job info."
#define ORSANTO_TEXT_REGISTRY_KEY_FAILED L"Failed to open registry key\nHKLM\\Software\\" ORSANTO_PRINTER_NAME
#define ORSANTO_TEXT_TARGET_INACCESSIBLE L"Target application is inaccessible."
#define ORSANTO_TEXT_CLIPBOARD_SET_FAILED L"Failed to set clipboard data."
#define ORSANTO_TEXT_CLIPBOARD_OPEN_FAILED L"Failed to open clipboard."
#define ORSANTO_TEXT_CONVERTER_MISSING L"Cannot find converter executable."

/* ---- Helpers ------------------------------------------------------------- */

/* The notification message number; 0 if it cannot be registered. */
static inline UINT OrsantoRegisterNotifyMessage(void)
{
    return RegisterWindowMessageW(ORSANTO_NOTIFY_MESSAGE_NAME);
}

/* The English text of a message identifier, or NULL for an unknown one. */
static inline const wchar_t* OrsantoMessageText(UINT identifier)
{
    switch (identifier) {
    case ORSANTO_MSG_NOT_CONFIGURED: return ORSANTO_TEXT_NOT_CONFIGURED;
    case ORSANTO_MSG_FILE_MISSING: return ORSANTO_TEXT_FILE_MISSING;
    case ORSANTO_MSG_DISPATCHER_FAILED: return ORSANTO_TEXT_DISPATCHER_FAILED;
    case ORSANTO_MSG_LOG_OPEN_FAILED: return L"Failed to open the log file.";
    case ORSANTO_MSG_CREATE_EVENT0_FAILED: return ORSANTO_TEXT_CREATE_EVENT0_FAILED;
    case ORSANTO_MSG_CREATE_EVENT1_FAILED: return ORSANTO_TEXT_CREATE_EVENT1_FAILED;
    case ORSANTO_MSG_CREATE_THREAD_FAILED: return ORSANTO_TEXT_CREATE_THREAD_FAILED;
    case ORSANTO_MSG_JOB_INFO_FAILED: return ORSANTO_TEXT_JOB_INFO_FAILED;
    case ORSANTO_MSG_REGISTRY_KEY_FAILED: return ORSANTO_TEXT_REGISTRY_KEY_FAILED;
    case ORSANTO_MSG_TARGET_INACCESSIBLE: return ORSANTO_TEXT_TARGET_INACCESSIBLE;
    case ORSANTO_MSG_CLIPBOARD_SET_FAILED: return ORSANTO_TEXT_CLIPBOARD_SET_FAILED;
    case ORSANTO_MSG_CLIPBOARD_OPEN_FAILED: return ORSANTO_TEXT_CLIPBOARD_OPEN_FAILED;
    case ORSANTO_MSG_CONVERTER_MISSING: return ORSANTO_TEXT_CONVERTER_MISSING;
    default: return NULL;
    }
}

/* Copies the job path out of a payload of `size` bytes into path (pathSize
 * bytes, at least ORSANTO_PAYLOAD_BYTES). The payload is never trusted to
 * hold its NUL; returns FALSE for an empty or unterminated path. */
static inline BOOL OrsantoPathFromPayload(const void* payload, size_t size, char* path, size_t pathSize)
{
    const char* bytes = (const char*)payload;
    size_t n = 0;
    if (path == NULL || pathSize == 0)
        return FALSE;
    path[0] = '\0';
    if (bytes == NULL)
        return FALSE;
    if (size > ORSANTO_PAYLOAD_BYTES)
        size = ORSANTO_PAYLOAD_BYTES;
    while (n < size && bytes[n] != '\0')
        ++n;
    if (n == 0 || n == size || n >= pathSize)
        return FALSE;
    memcpy(path, bytes, n);
    path[n] = '\0';
    return TRUE;
}

/* The job path of a WM_COPYDATA record (lParam of the message). */
static inline BOOL OrsantoPathFromCopyData(const COPYDATASTRUCT* record, char* path, size_t pathSize)
{
    if (record == NULL)
        return FALSE;
    return OrsantoPathFromPayload(record->lpData, record->cbData, path, pathSize);
}

/* The job path from the clipboard block of the registered format formatName
 * (call on the posted message). Opens and closes the clipboard. */
static inline BOOL OrsantoPathFromClipboard(const wchar_t* formatName, HWND owner, char* path, size_t pathSize)
{
    UINT format = RegisterClipboardFormatW(formatName);
    BOOL found = FALSE;
    HANDLE block;
    if (format == 0 || !OpenClipboard(owner))
        return FALSE;
    block = GetClipboardData(format);
    if (block != NULL) {
        const void* data = GlobalLock(block);
        if (data != NULL) {
            found = OrsantoPathFromPayload(data, GlobalSize(block), path, pathSize);
            GlobalUnlock(block);
        }
    }
    CloseClipboard();
    return found;
}

#endif /* ORSANTO_CLIENT_H */
