// Registry reads that never trust the stored type or length.
#include "agent/registry.h"

LSTATUS ReadRegistryNumber(HKEY key, const wchar_t* name, DWORD* value)
{
    DWORD data = 0;
    DWORD size = sizeof(data);
    LSTATUS status = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&data), &size);
    if (status == ERROR_SUCCESS)
        *value = data;
    return status;
}

LSTATUS ReadRegistryString(HKEY key, const wchar_t* name, wchar_t* buffer, size_t bufferChars, DWORD* type)
{
    DWORD size = static_cast<DWORD>(bufferChars * sizeof(wchar_t));
    LSTATUS status = RegQueryValueExW(key, name, nullptr, type, reinterpret_cast<BYTE*>(buffer), &size);
    if (status == ERROR_SUCCESS) {
        size_t chars = size / sizeof(wchar_t);
        if (chars > 0 && buffer[chars - 1] == L'\0')
            return ERROR_SUCCESS;
        if (chars < bufferChars) {
            buffer[chars] = L'\0';
            return ERROR_SUCCESS;
        }
        status = ERROR_MORE_DATA;
    }
    if (bufferChars > 0)
        buffer[0] = L'\0';
    return status;
}
