// kernel32: string comparison and length, the code-page conversions, and OutputDebugString to
// the machine's debug log.
#include "caller.h"
#include "code_pages.h"
#include "status_errors.h"

#include "kernel/debug_log.h"
#include "kernel/wide_string.h"

#include <wdm/rtl.h>
#include <winbase.h>

using namespace host::win32;

namespace {

constexpr ULONG kNoUnicodeTranslation = 1113; // ERROR_NO_UNICODE_TRANSLATION

// Case-insensitive comparison as lstrcmpi reports equality; unequal strings are ordered by their
// upper-case code units (Windows orders them by the user locale's collation).
template <class Char, class Upcase>
int CompareIgnoreCase(const Char *a, const Char *b, Upcase upcase)
{
    if (a == nullptr || b == nullptr)
        return a == b ? 0 : (a == nullptr ? -1 : 1);
    for (;; ++a, ++b) {
        auto ca = upcase(*a);
        auto cb = upcase(*b);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == 0)
            return 0;
    }
}

// Decodes UTF-8; false on a malformed sequence (which becomes U+FFFD).
bool DecodeUtf8(const unsigned char *bytes, size_t count, std::u16string *out)
{
    bool valid = true;
    for (size_t i = 0; i < count;) {
        unsigned char lead = bytes[i];
        size_t length = lead < 0x80         ? 1
                        : (lead >> 5) == 6  ? 2
                        : (lead >> 4) == 14 ? 3
                        : (lead >> 3) == 30 ? 4
                                            : 0;
        char32_t code = length == 1   ? lead
                        : length == 2 ? lead & 0x1F
                        : length == 3 ? lead & 0x0F
                                      : lead & 0x07;
        bool ok = length != 0 && i + length <= count;
        for (size_t k = 1; ok && k < length; ++k) {
            ok = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        static const char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && code >= kMinimum[length] && code <= 0x10FFFF &&
             !(code >= 0xD800 && code <= 0xDFFF);
        if (!ok) {
            valid = false;
            out->push_back(u'\xFFFD');
            ++i;
            continue;
        }
        if (code >= 0x10000) {
            code -= 0x10000;
            out->push_back(char16_t(0xD800 + (code >> 10)));
            out->push_back(char16_t(0xDC00 + (code & 0x3FF)));
        } else {
            out->push_back(char16_t(code));
        }
        i += length;
    }
    return valid;
}

// Copies a converted string out as the conversion calls do: a size query when the buffer is
// empty, ERROR_INSUFFICIENT_BUFFER when it is too small.
template <class Char, class Text>
int CopyConverted(const Text &text, Char *buffer, int capacity)
{
    if (capacity == 0)
        return int(text.size());
    if (buffer == nullptr || size_t(capacity) < text.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::copy(text.begin(), text.end(), buffer);
    return int(text.size());
}

void WriteDebugOutput(const char *entryPoint, const std::u16string &text)
{
    Caller caller = CallerOf(entryPoint);
    host::DebugLogOf(caller.machine)
        .Write(DPFLTR_DEFAULT_ID, DPFLTR_INFO_LEVEL, host::ToUtf8(text));
}

} // namespace

extern "C" {

int WINAPI lstrcmpiW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    return CompareIgnoreCase(lpString1, lpString2,
                             [](WCHAR c) { return host::UpcaseChar(char16_t(c)); });
}

int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2)
{
    return CompareIgnoreCase(lpString1, lpString2, [](char c) {
        return host::UpcaseChar(AnsiCharToWide(static_cast<unsigned char>(c)));
    });
}

int WINAPI lstrcmpW(LPCWSTR lpString1, LPCWSTR lpString2)
{
    return CompareIgnoreCase(lpString1, lpString2, [](WCHAR c) { return char16_t(c); });
}

int WINAPI lstrlenW(LPCWSTR lpString)
{
    return lpString != nullptr ? int(host::WideLength(lpString)) : 0;
}

int WINAPI lstrlenA(LPCSTR lpString) { return lpString != nullptr ? int(strlen(lpString)) : 0; }

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar)
{
    if (lpMultiByteStr == nullptr || cbMultiByte == 0 || cbMultiByte < -1 || cchWideChar < 0 ||
        (CodePage != CP_ACP && CodePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = cbMultiByte == -1 ? strlen(lpMultiByteStr) + 1 : size_t(cbMultiByte);
    auto bytes = reinterpret_cast<const unsigned char *>(lpMultiByteStr);
    std::u16string wide;
    if (CodePage == CP_UTF8) {
        if (!DecodeUtf8(bytes, count, &wide) && (dwFlags & MB_ERR_INVALID_CHARS)) {
            SetLastError(kNoUnicodeTranslation);
            return 0;
        }
    } else {
        for (size_t i = 0; i < count; ++i)
            wide += AnsiCharToWide(bytes[i]);
    }
    return CopyConverted(wide, reinterpret_cast<char16_t *>(lpWideCharStr), cchWideChar);
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                               LPBOOL lpUsedDefaultChar)
{
    // UTF-8 has no default character: asking for one is an error.
    if (lpWideCharStr == nullptr || cchWideChar == 0 || cchWideChar < -1 || cbMultiByte < 0 ||
        (CodePage != CP_ACP && CodePage != CP_UTF8) ||
        (CodePage == CP_UTF8 && (lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = cchWideChar == -1 ? host::WideLength(lpWideCharStr) + 1 : size_t(cchWideChar);
    std::u16string wide = host::ToU16(lpWideCharStr, count);
    std::string bytes;
    if (CodePage == CP_UTF8) {
        bytes = host::ToUtf8(wide);
    } else {
        bool usedDefault = false;
        for (char16_t c : wide) {
            unsigned char byte;
            if (!WideCharToAnsi(c, &byte)) {
                byte = lpDefaultChar != nullptr ? static_cast<unsigned char>(*lpDefaultChar) : '?';
                usedDefault = true;
            }
            bytes += char(byte);
        }
        if (lpUsedDefaultChar != nullptr)
            *lpUsedDefaultChar = usedDefault ? TRUE : FALSE;
    }
    return CopyConverted(bytes, lpMultiByteStr, cbMultiByte);
}

void WINAPI OutputDebugStringA(LPCSTR lpOutputString)
{
    WriteDebugOutput("OutputDebugStringA", AnsiToWide(lpOutputString));
}

void WINAPI OutputDebugStringW(LPCWSTR lpOutputString)
{
    // As on Windows, the wide text reaches the debugger through the ANSI code page.
    std::u16string text = lpOutputString != nullptr ? host::ToU16(lpOutputString) : u"";
    WriteDebugOutput("OutputDebugStringW", AnsiToWide(WideToAnsi(text).c_str()));
}

} // extern "C"
