// The job procedure every job thread runs: take-over, auxiliary programs and
// delivery to the client application.
#pragma once

#include <windows.h>

// Thread procedure; parameter is the JobKind. Never returns STILL_ACTIVE.
DWORD WINAPI ProcessJob(LPVOID parameter);
