// printf-family formatting with the Windows run-time's rules, which differ from glibc's:
// 'l' is 32 bits (LONG), I64/ll are 64, I/z are pointer-sized; in a narrow format %s is a char
// string and %S, %ws a WCHAR string, in a wide format the other way round; %Z and %wZ take an
// ANSI_STRING / UNICODE_STRING; %p prints 16 upper-case hex digits. DbgPrint, the ntstrsafe
// printf routines and (later) user-mode wsprintf/OutputDebugString formatting share it.
#pragma once

#include <ntdef.h>

#include <cstdarg>
#include <string>

namespace host {

// Narrow result: WCHAR arguments are converted to UTF-8.
std::string FormatWindows(const char *format, va_list args);
// Wide result: char arguments are widened byte by byte (Latin-1).
std::u16string FormatWindows(const WCHAR *format, va_list args);

} // namespace host
