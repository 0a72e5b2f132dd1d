// The smallest program that does what the agent must do to be reachable:
// create one named event (open to every account) and block in one wait on
// it. Baseline of the start-up and idle benchmarks; signalling the event
// ends it. Libraries named after the event are loaded first, so that the
// bench can tell what each of the agent's libraries adds to its start-up.
//
//   orsanto-bench-minimal.exe <event name> [library ...]
#include <windows.h>

namespace {

// Cuts the next space-separated word off text; null when there is none.
wchar_t* NextWord(wchar_t** text)
{
    wchar_t* at = *text;
    while (*at == L' ')
        ++at;
    if (*at == L'\0')
        return nullptr;
    wchar_t* word = at;
    while (*at != L'\0' && *at != L' ')
        ++at;
    if (*at == L' ')
        *at++ = L'\0';
    *text = at;
    return word;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int)
{
    wchar_t* rest = commandLine;
    wchar_t* name = NextWord(&rest);
    if (name == nullptr)
        return 2;
    for (wchar_t* library = NextWord(&rest); library != nullptr; library = NextWord(&rest))
        LoadLibraryW(library);

    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
    HANDLE event = CreateEventW(&attributes, TRUE, FALSE, name);
    if (event == nullptr)
        return 1;
    WaitForSingleObject(event, INFINITE);
    CloseHandle(event);
    return 0;
}
