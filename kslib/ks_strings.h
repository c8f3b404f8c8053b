// The UTF-16 string operations the KS library needs, the same in every build (the C library's
// wide-string functions assume a wchar_t width the host build does not have).
#pragma once

#include "quen_kslib_platform.h"

// Copies at most capacity - 1 units of `from` and always terminates (nothing if capacity is 0).
void KsCopyString(WCHAR *to, ULONG capacity, LPCWSTR from);
// Equal, unit for unit.
bool KsStringsEqual(LPCWSTR a, LPCWSTR b);
// Equal with the ASCII letters compared without case (as _wcsicmp compares in the C locale).
bool KsStringsEqualIgnoringAsciiCase(LPCWSTR a, LPCWSTR b);
