// A console program the delivery tests install beside the agent under the
// names of the auxiliary programs; what it does depends on the name it runs
// under. As "orstdisp.exe" it is a converter that converts nothing. As
// "CustomRoutine.exe" it is a preprocessor that copies "PreprocessingResult"
// of section "Test" (when the test wrote one) to section "Document".
#include <windows.h>

#include <string>

#include "stand_in.h"

namespace {

std::wstring OwnFileName()
{
    wchar_t path[MAX_PATH];
    DWORD chars = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring name(path, chars);
    return name.substr(name.find_last_of(L'\\') + 1);
}

}  // namespace

int wmain()
{
    std::wstring jobPath = JobPathArgument();
    if (lstrcmpiW(OwnFileName().c_str(), L"CustomRoutine.exe") == 0) {
        wchar_t result[256];
        if (GetPrivateProfileStringW(L"Test", L"PreprocessingResult", L"", result, 256, jobPath.c_str()) > 0)
            WritePrivateProfileStringW(L"Document", L"PreprocessingResult", result, jobPath.c_str());
    }
    return 0;
}
