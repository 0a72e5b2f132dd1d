// Test helper: opens the activity log as the agent does and appends numbered
// records as fast as it can.
//
//   orsanto-agent-log-writer.exe <tag> <count> [<text length>]
//
// Record i has the text "<tag> <i, six digits> " followed by 'x' up to the
// text length (default 60). When the event "OrsantoLogWriterGo" exists it
// waits for it first, so that several writers start writing at once. Exit
// code 0 when the log opened, 1 when it did not.
#include <windows.h>

#include <stdlib.h>

#include <string>

#include "agent/activity_log.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    std::wstring tag = argv[1];
    long count = wcstol(argv[2], nullptr, 10);
    size_t length = argc > 3 ? static_cast<size_t>(wcstol(argv[3], nullptr, 10)) : 60;

    HANDLE go = OpenEventW(SYNCHRONIZE, FALSE, L"OrsantoLogWriterGo");
    if (go != nullptr) {
        WaitForSingleObject(go, 30000);
        CloseHandle(go);
    }
    if (!OpenActivityLog())
        return 1;
    for (long i = 0; i < count; ++i) {
        wchar_t number[16];
        wsprintfW(number, L" %06ld ", i);
        std::wstring text = tag + number;
        if (text.size() < length)
            text.append(length - text.size(), L'x');
        WriteLogLine(text.c_str());
    }
    CloseActivityLog();
    return 0;
}
