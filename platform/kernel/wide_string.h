// UTF-16 helpers for the host build. WCHAR is 16 bits here (-fshort-wchar) while glibc's wide
// string functions assume a 32-bit wchar_t, so the emulation never calls them and uses these.
// Strings are copied element by element between WCHAR and char16_t, never reinterpreted.
#pragma once

#include <ntdef.h>

#include <string>
#include <string_view>
#include <vector>

namespace host {

// Number of characters before the terminating zero.
size_t WideLength(const WCHAR *s);

// A copy of a terminated string, of a counted buffer, or of a UNICODE_STRING's characters.
std::u16string ToU16(const WCHAR *s);
std::u16string ToU16(const WCHAR *s, size_t count);
std::u16string ToU16(const UNICODE_STRING &s);

// Copies characters into a WCHAR buffer (no terminator added).
void CopyToWide(std::u16string_view from, WCHAR *to);

// UTF-16LE bytes as registry string values hold them, and back (a trailing odd byte is
// dropped; no terminator is added or removed).
std::vector<UCHAR> ToUtf16Bytes(std::u16string_view chars);
std::u16string FromUtf16Bytes(const std::vector<UCHAR> &bytes);

// Upper case as the registry and RtlUpcaseUnicodeChar see it: ASCII and Latin-1.
char16_t UpcaseChar(char16_t c);
std::u16string Upcase(std::u16string_view s);
bool EqualIgnoreCase(std::u16string_view a, std::u16string_view b);

// UTF-8 for diagnostics and file names; unpaired surrogates and malformed bytes become U+FFFD.
std::string ToUtf8(std::u16string_view s);
std::u16string FromUtf8(std::string_view s);

} // namespace host
