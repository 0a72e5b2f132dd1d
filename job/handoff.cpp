// The hand-off: HKLM\Software\Orsanto holds the job description file's path
// in a value named for the job; the first job thread to read it deletes it.
#include "job/handoff.h"

#include "agent/activity_log.h"
#include "agent/messages.h"
#include "agent/registry.h"
#include "agent/settings.h"

const wchar_t* HandOffValueName(bool legacyNaming, JobKind kind, const wchar_t* userName)
{
    if (legacyNaming)
        return kLegacyJobValue;
    return kind == kPersonalJob ? userName : kSharedJobValue;
}

namespace {

void DeleteHandOffValue(const wchar_t* valueName)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, kSetValueAccess, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(key, valueName);
    RegCloseKey(key);
}

// An empty value names no job: it counts as unreadable. So does a value
// that is not a string: its bytes read as text would name some other file,
// which the failure paths would then delete.
LSTATUS ReadJobPath(HKEY key, const wchar_t* valueName, wchar_t* jobPath)
{
    DWORD type = REG_NONE;
    LSTATUS status = ReadRegistryString(key, valueName, jobPath, kPathChars, &type);
    if (status == ERROR_SUCCESS && ((type != REG_SZ && type != REG_EXPAND_SZ) || jobPath[0] == L'\0'))
        status = ERROR_INVALID_DATA;
    if (status != ERROR_SUCCESS)
        jobPath[0] = L'\0';
    return status;
}

}  // namespace

bool TakeOverJob(JobKind kind, const wchar_t* userName, wchar_t* jobPath)
{
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kMainKeyPath, 0, kReadAccess, &key);
    if (status != ERROR_SUCCESS) {
        ReportError(kTextRegistryKeyFailed, kMsgRegistryKeyFailed, static_cast<DWORD>(status));
        return false;
    }
    const wchar_t* valueName = HandOffValueName(g_settings.legacyNaming, kind, userName);
    if (ReadJobPath(key, valueName, jobPath) != ERROR_SUCCESS) {
        valueName = kSystemJobValue;
        status = ReadJobPath(key, valueName, jobPath);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        ReportError(kTextJobInfoFailed, kMsgJobInfoFailed, static_cast<DWORD>(status));
        return false;
    }
    DeleteHandOffValue(valueName);

    if (g_settings.logEnabled != 0) {
        int jobId = static_cast<int>(GetPrivateProfileIntW(kDocumentSection, kJobIdKey, 0, jobPath));
        WriteLogLineF(kLogJobInfoFormat, jobId);
    }
    return true;
}
