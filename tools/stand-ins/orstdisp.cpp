// Stand-in converter "orstdisp.exe": records the job it was given and ends.
// Copied under another name it serves as a command-line client as well.
#include "stand_in.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    AppendRecord(L"started");
    WaitAsConfigured();
    AppendRecord(L"finished");
    return 0;
}
