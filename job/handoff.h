// Takes a job over from the printer side: reads the path of its job
// description file from the hand-off value and removes the value.
#pragma once

#include <windows.h>

#include "agent/constants.h"

// The hand-off value read first for a job of this kind.
const wchar_t* HandOffValueName(bool legacyNaming, JobKind kind, const wchar_t* userName);

// Fills jobPath (kPathChars). Reports 61446 or 61445 and returns false when
// the job cannot be taken over.
bool TakeOverJob(JobKind kind, const wchar_t* userName, wchar_t* jobPath);
