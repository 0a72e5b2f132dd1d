// Appending whole lines to a record file shared by several processes.
#include "record_file.h"

namespace {

constexpr wchar_t kRecordMutexName[] = L"Local\\OrsantoTestRecordFiles";
constexpr DWORD kTurnTimeoutMs = 10000;  // the most a writer stuck in its turn holds up the others
constexpr int kOpenAttempts = 100;       // another program may hold the file for a moment
constexpr DWORD kOpenRetryMs = 20;

bool AppendOnce(const wchar_t* path, const char* bytes, DWORD size)
{
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        HANDLE file = CreateFileW(path, FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            bool ok = WriteFile(file, bytes, size, &written, nullptr) && written == size;
            CloseHandle(file);
            return ok;
        }
        Sleep(kOpenRetryMs);
    }
    return false;
}

}  // namespace

bool AppendToRecordFile(const wchar_t* path, const char* bytes, DWORD size)
{
    HANDLE turn = CreateMutexW(nullptr, FALSE, kRecordMutexName);
    DWORD waited = turn != nullptr ? WaitForSingleObject(turn, kTurnTimeoutMs) : WAIT_FAILED;
    bool ok = AppendOnce(path, bytes, size);
    if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED)
        ReleaseMutex(turn);
    if (turn != nullptr)
        CloseHandle(turn);
    return ok;
}
