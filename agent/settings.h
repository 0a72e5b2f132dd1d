// The agent's process-wide settings and the names derived from them.
#pragma once

#include <windows.h>

#include "agent/constants.h"

// Filled by the main thread before the first job thread exists and only read
// afterwards, so job threads read it without a lock.
struct AgentSettings {
    bool legacyNaming;
    DWORD logEnabled;
    DWORD messageMode;
    UINT notificationMessage;
    wchar_t userName[kUserNameChars];
};

extern AgentSettings g_settings;

struct EventNames {
    wchar_t print[kPathChars];
    wchar_t shared[kPathChars];
    wchar_t kill[kPathChars];
};

// Reads everything but the notification message, which needs user32.
void ReadAgentSettings(AgentSettings* settings);

void RegisterNotificationMessage(AgentSettings* settings);

// True exactly when the system reports major version 4.
bool QueryLegacyNaming();

// Fetches the account name into a kUserNameChars buffer; empty on failure.
void FetchUserName(wchar_t* userName);

bool IsMessageMode(const AgentSettings& settings);

// Composes the three event names; false if one does not fit.
bool ComposeEventNames(bool legacyNaming, const wchar_t* userName, DWORD sessionId, EventNames* names);
