// Delivery settings, the client command line and the clipboard message.
#include "job/delivery_settings.h"

#include "agent/messages.h"
#include "agent/registry.h"
#include "agent/text.h"

void ReadDeliveryValues(HKEY key, DeliverySettings* settings)
{
    *settings = DeliverySettings{};
    ReadRegistryString(key, kClientApplicationValue, settings->clientApplication, kPathChars);
    ReadRegistryNumber(key, kTransferModeValue, &settings->transferMode);
    ReadRegistryString(key, kTargetWindowClassValue, settings->targetWindowClass, kPathChars);
    ReadRegistryString(key, kTargetWindowTitleValue, settings->targetWindowTitle, kPathChars);
    ReadRegistryString(key, kClipboardFormatValue, settings->clipboardFormat, kPathChars);
    ReadRegistryNumber(key, kMessageIdValue, &settings->messageId);
}

bool ReadDeliverySettings(DeliverySettings* settings)
{
    *settings = DeliverySettings{};
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, kReadAccess, &key);
    if (status == ERROR_FILE_NOT_FOUND) {
        ReportMessage(kTextNotConfigured, kMsgNotConfigured);
        return false;
    }
    if (status != ERROR_SUCCESS) {
        ReportError(kTextRegistryKeyFailed, kMsgRegistryKeyFailed, static_cast<DWORD>(status));
        return false;
    }
    ReadDeliveryValues(key, settings);
    RegCloseKey(key);
    return true;
}

bool QuoteClientApplication(const wchar_t* clientApplication, ClientCommandLine* commandLine)
{
    if (wcschr(clientApplication, L' ') != nullptr && clientApplication[0] != L'"')
        return FormatText(commandLine->text, ARRAYSIZE(commandLine->text), L"\"%ls\"", clientApplication);
    return CopyText(commandLine->text, ARRAYSIZE(commandLine->text), clientApplication);
}

bool PrepareClientCommandLine(const DeliverySettings& settings, const wchar_t* jobPath,
                              ClientCommandLine* commandLine)
{
    if (IsEmptyText(settings.clientApplication)) {
        ReportMessage(kTextFileMissing, kMsgFileMissing);
        DeleteFileW(jobPath);
        return false;
    }
    return QuoteClientApplication(settings.clientApplication, commandLine);
}

UINT ClampClipboardMessage(DWORD messageId)
{
    if (messageId < kFirstPrivateMessage || messageId > kLastPrivateMessage)
        return kFirstPrivateMessage;
    return messageId;
}
