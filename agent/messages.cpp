// User messages and the language file "orst.lng". Every call composes in its
// own buffers, so concurrent reports never mix their texts.
#include "agent/messages.h"

#include "agent/activity_log.h"
#include "agent/registry.h"
#include "agent/settings.h"
#include "agent/text.h"

namespace {

const wchar_t kDefaultLanguage[] = L"English";

// Reads "Language" from HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE under path;
// false when the key does not open. A value that cannot be read (missing,
// too long) leaves language unchanged.
bool ReadLanguageValue(HKEY root, const wchar_t* path, wchar_t* language)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, kReadAccess, &key) != ERROR_SUCCESS)
        return false;
    wchar_t value[kLanguageValueBytes / sizeof(wchar_t)];
    if (ReadRegistryString(key, kLanguageValue, value, ARRAYSIZE(value)) == ERROR_SUCCESS)
        CopyText(language, kLanguageNameChars, value);
    RegCloseKey(key);
    return true;
}

void Broadcast(UINT identifier, LPARAM code)
{
    SendNotifyMessageW(HWND_BROADCAST, g_settings.notificationMessage, identifier, code);
}

bool ShouldBroadcast(UINT identifier)
{
    return IsMessageMode(g_settings) && identifier != 0;
}

}  // namespace

void SelectLanguage(wchar_t* language)
{
    CopyText(language, kLanguageNameChars, kDefaultLanguage);
    if (!ReadLanguageValue(HKEY_CURRENT_USER, kUserKeyPath, language))
        ReadLanguageValue(HKEY_LOCAL_MACHINE, kDefaultsKeyPath, language);
}

bool DecodeProfileText(const wchar_t* read, wchar_t* text, size_t textChars)
{
    char bytes[kTextChars];
    BOOL lossy = FALSE;
    int byteCount = WideCharToMultiByte(CP_ACP, 0, read, -1, bytes, sizeof(bytes), nullptr, &lossy);
    if (byteCount == 0 || lossy) {
        CopyText(text, textChars, read);
        return true;
    }
    int chars = MultiByteToWideChar(CP_UTF8, 0, bytes, byteCount, text, static_cast<int>(textChars));
    if (chars == 0) {
        text[0] = L'\0';
        return false;
    }
    text[textChars - 1] = L'\0';
    return true;
}

bool LookUpLocalizedText(UINT identifier, wchar_t* text, size_t textChars)
{
    wchar_t language[kLanguageNameChars];
    SelectLanguage(language);

    wchar_t path[kPathChars];
    if (!GetAgentSiblingPath(kLanguageFileName, path, ARRAYSIZE(path)))
        return false;

    wchar_t key[kPathChars];
    FormatText(key, ARRAYSIZE(key), L"%d", static_cast<int>(identifier));
    wchar_t read[kTextChars];
    if (GetPrivateProfileStringW(language, key, L"", read, ARRAYSIZE(read), path) == 0)
        return false;
    return DecodeProfileText(read, text, textChars);
}

int ReportMessage(const wchar_t* text, UINT identifier, HWND owner, UINT style)
{
    WriteLogLine(text);
    if (ShouldBroadcast(identifier)) {
        Broadcast(identifier, 0);
        return 1;
    }
    wchar_t translated[kTextChars];
    const wchar_t* shown = LookUpLocalizedText(identifier, translated, ARRAYSIZE(translated)) ? translated : text;
    wchar_t substituted[kTextChars];
    SubstitutePlaceholders(shown, substituted, ARRAYSIZE(substituted));
    return MessageBoxW(owner, substituted, kCaption, style);
}

int ReportError(const wchar_t* text, UINT identifier, DWORD errorCode, HWND owner, UINT style)
{
    if (errorCode == 0)
        errorCode = GetLastError();
    if (errorCode == 0)
        return 0;

    wchar_t systemText[kSystemErrorChars];
    if (FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, errorCode, 0, systemText, ARRAYSIZE(systemText),
                       nullptr) == 0)
        systemText[0] = L'\0';
    wchar_t composed[kTextChars];
    FormatText(composed, ARRAYSIZE(composed), L"%ls\nError # %d: %ls", text, static_cast<int>(errorCode),
               systemText);

    WriteLogLine(composed);
    if (ShouldBroadcast(identifier)) {
        Broadcast(identifier, static_cast<LPARAM>(errorCode));
        return 1;
    }
    return MessageBoxW(owner, composed, kCaption, style);
}
