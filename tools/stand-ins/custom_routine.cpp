// Stand-in preprocessor "CustomRoutine.exe": records its run and, when
// configured, writes its verdict into the job description file.
#include "stand_in.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    AppendRecord(L"started");
    WaitAsConfigured();

    // [CustomRoutine] PreprocessingResult=Cancel makes the agent drop the job.
    wchar_t result[2048];
    ReadSetting(L"PreprocessingResult", result, ARRAYSIZE(result));
    const wchar_t* jobPath = JobPathArgument();
    // A preprocessor never creates a job description file of its own.
    if (result[0] != L'\0' && GetFileAttributesW(jobPath) != INVALID_FILE_ATTRIBUTES)
        WritePrivateProfileStringW(L"Document", L"PreprocessingResult", result, jobPath);
    return 0;
}
