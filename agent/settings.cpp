// Reads the agent's settings once at start-up and derives the event names.
#include "agent/settings.h"

#include "agent/registry.h"
#include "agent/text.h"

AgentSettings g_settings = {};

bool QueryLegacyNaming()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!GetVersionExW(&version))
        return false;
    return version.dwMajorVersion == 4;
}

void FetchUserName(wchar_t* userName)
{
    DWORD size = kUserNameChars;
    if (!GetUserNameW(userName, &size))
        userName[0] = L'\0';
}

void ReadAgentSettings(AgentSettings* settings)
{
    *settings = AgentSettings{};
    settings->legacyNaming = QueryLegacyNaming();
    FetchUserName(settings->userName);

    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, kReadAccess, &key) == ERROR_SUCCESS) {
        ReadRegistryNumber(key, kLogValue, &settings->logEnabled);
        ReadRegistryNumber(key, kMessageModeValue, &settings->messageMode);
        RegCloseKey(key);
    }
}

void RegisterNotificationMessage(AgentSettings* settings)
{
    settings->notificationMessage = RegisterWindowMessageW(kNotificationMessageName);
}

bool IsMessageMode(const AgentSettings& settings)
{
    return settings.messageMode == 1;
}

bool ComposeEventNames(bool legacyNaming, const wchar_t* userName, DWORD sessionId, EventNames* names)
{
    if (legacyNaming) {
        return CopyText(names->print, kPathChars, kLegacyPrintEventName)
            && CopyText(names->shared, kPathChars, kLegacySharedEventName)
            && CopyText(names->kill, kPathChars, kLegacyKillEventName);
    }
    return FormatText(names->print, kPathChars, kPrintEventFormat, userName, static_cast<unsigned long>(sessionId))
        && CopyText(names->shared, kPathChars, kSharedEventName)
        && CopyText(names->kill, kPathChars, kKillEventName);
}
