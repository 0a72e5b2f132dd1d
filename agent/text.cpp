// Bounded text helpers over the platform's safe string functions.
#include "agent/text.h"

#include <strsafe.h>
#include <wchar.h>

#include "agent/constants.h"

bool CopyText(wchar_t* dst, size_t dstChars, const wchar_t* src)
{
    return SUCCEEDED(StringCchCopyW(dst, dstChars, src));
}

bool AppendText(wchar_t* dst, size_t dstChars, const wchar_t* src)
{
    return SUCCEEDED(StringCchCatW(dst, dstChars, src));
}

// A printf-style front for the bounded platform formatter, which takes a va_list.
bool FormatText(wchar_t* dst, size_t dstChars, const wchar_t* format, ...)  // NOLINT(cert-dcl50-cpp)
{
    va_list args;
    va_start(args, format);
    HRESULT result = StringCchVPrintfW(dst, dstChars, format, args);
    va_end(args);
    return SUCCEEDED(result);
}

bool IsEmptyText(const wchar_t* text)
{
    return text == nullptr || text[0] == L'\0';
}

void SubstitutePlaceholders(const wchar_t* text, wchar_t* out, size_t outChars)
{
    if (outChars == 0)
        return;
    const size_t placeholderChars = ARRAYSIZE(kPrinterNamePlaceholder) - 1;
    const size_t nameChars = ARRAYSIZE(kPrinterName) - 1;

    size_t n = 0;
    for (const wchar_t* p = text; *p != L'\0' && n + 1 < outChars;) {
        if (wcsncmp(p, kPrinterNamePlaceholder, placeholderChars) == 0 && n + nameChars < outChars) {
            wmemcpy(out + n, kPrinterName, nameChars);
            n += nameChars;
            p += placeholderChars;
        } else {
            out[n++] = *p++;
        }
    }
    out[n] = L'\0';

    // Line breaks second, in place: the text only shrinks.
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        if (out[i] == L'\\' && out[i + 1] == L'n') {
            out[m++] = L'\n';
            ++i;
        } else {
            out[m++] = out[i];
        }
    }
    out[m] = L'\0';
}

bool ReplaceFileName(const wchar_t* path, const wchar_t* fileName, wchar_t* out, size_t outChars)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    size_t dirChars = slash ? static_cast<size_t>(slash - path) + 1 : 0;
    if (dirChars >= outChars)
        return false;
    wmemcpy(out, path, dirChars);
    out[dirChars] = L'\0';
    return AppendText(out, outChars, fileName);
}

bool GetAgentSiblingPath(const wchar_t* fileName, wchar_t* out, size_t outChars)
{
    wchar_t exePath[kLongCommandLineChars];
    DWORD size = outChars < ARRAYSIZE(exePath) ? static_cast<DWORD>(outChars) : ARRAYSIZE(exePath);
    DWORD length = GetModuleFileNameW(nullptr, exePath, size);
    // A full buffer means the path was cut: never build on a cut path.
    if (length == 0 || length >= size)
        return false;
    return ReplaceFileName(exePath, fileName, out, outChars);
}
