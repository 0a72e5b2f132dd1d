// The main thread's job threads: one per print signal, each started ahead of
// its job so that a thread start does not lie between the signal and the job.
#pragma once

#include <windows.h>

#include <vector>

#include "agent/constants.h"

struct JobStart;  // what a thread started ahead waits for

// Owned and touched by the main thread only.
struct JobThreads {
    std::vector<HANDLE> running;  // threads that have a job
    HANDLE waiting;               // started ahead, no job yet (nullptr: none)
    JobStart* waitingStart;
};

// Once the signals are quiet: reaps finished threads and starts the thread
// for the next job unless one already waits; silent on failure (the next
// job then starts its own thread, or reports).
void PrepareForNextJob(JobThreads* threads);

// Hands the job to the waiting thread, or to a new one (61444 when no thread
// can be had). Finished threads are reaped here only when many are listed.
void StartJobThread(JobThreads* threads, JobKind kind);

// Ends the waiting thread and reaps; true when no job thread still runs.
bool EndJobThreads(JobThreads* threads);
