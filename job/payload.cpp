// The ANSI job path handed to clients by copy-data record and clipboard block.
#include "job/payload.h"

#include "agent/activity_log.h"

namespace {

// Exact conversion only: no best-fit look-alikes, no default characters.
bool ConvertExactly(const wchar_t* path, JobPayload* payload)
{
    ZeroMemory(payload->bytes, sizeof(payload->bytes));
    // A UTF-8 code page carries every valid path; it takes no default
    // character, so an invalid one (a lone surrogate) fails the call instead.
    bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    int bytes = WideCharToMultiByte(CP_ACP, utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS, path, -1,
                                    payload->bytes, sizeof(payload->bytes), nullptr, utf8 ? nullptr : &usedDefault);
    if (bytes > 0 && !usedDefault)
        return true;
    ZeroMemory(payload->bytes, sizeof(payload->bytes));
    return false;
}

}  // namespace

bool ConvertJobPath(const wchar_t* jobPath, JobPayload* payload)
{
    if (ConvertExactly(jobPath, payload))
        return true;
    wchar_t shortPath[kPathChars];
    DWORD chars = GetShortPathNameW(jobPath, shortPath, ARRAYSIZE(shortPath));
    if (chars > 0 && chars < ARRAYSIZE(shortPath) && ConvertExactly(shortPath, payload))
        return true;
    WriteLogLineF(kLogPathNotAnsiFormat, jobPath);
    return false;
}
