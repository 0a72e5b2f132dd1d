// The job path as clients receive it: ANSI, NUL-terminated, in 260 bytes.
#pragma once

#include <windows.h>

#include "agent/constants.h"

struct JobPayload {
    char bytes[kPayloadBytes];
};

// Converts jobPath to the ANSI code page, zero-filling the rest of the
// block. A path the code page cannot carry exactly, or whose ANSI form does
// not fit, is delivered in its short (8.3) form when that converts exactly;
// otherwise the failure is logged and false returned.
bool ConvertJobPath(const wchar_t* jobPath, JobPayload* payload);
