// The preprocessor, progress indicator and converter installed beside the
// agent, each started with the job description file's path.
#pragma once

#include <windows.h>

// Starts fileName from the agent's directory with the job path on its
// command line, composed in commandLineChars characters. False, starting
// nothing, when the program cannot be started or its path or command line
// does not fit.
bool StartAuxiliaryProgram(const wchar_t* fileName, const wchar_t* jobPath, size_t commandLineChars, bool inherit,
                           PROCESS_INFORMATION* process);

// Runs "CustomRoutine.exe" and waits for it; skipped if it cannot start.
void RunPreprocessor(const wchar_t* jobPath);

// True when the job description file says PreprocessingResult=Cancel (any case).
bool IsJobCancelled(const wchar_t* jobPath);

// The progress indicator this job started; process is null when none.
struct ProgressIndicator {
    HANDLE process;
    DWORD processId;
};

// Starts "progress.exe" without waiting for it.
ProgressIndicator StartProgressIndicator(const wchar_t* jobPath);

// Asks the window of this job's progress indicator to close and lets go of
// the process.
void CloseProgressIndicator(ProgressIndicator* progress);

// Runs "orstdisp.exe" and waits for it. If it cannot start: reports 61456,
// deletes the job description file and returns false.
bool RunConverter(const wchar_t* jobPath);
