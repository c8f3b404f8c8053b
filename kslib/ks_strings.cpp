#include "ks_strings.h"

namespace {

WCHAR AsciiLower(WCHAR c) { return c >= L'A' && c <= L'Z' ? WCHAR(c - L'A' + L'a') : c; }

} // namespace

void KsCopyString(WCHAR *to, ULONG capacity, LPCWSTR from)
{
    if (capacity == 0)
        return;
    ULONG i = 0;
    for (; from != nullptr && i + 1 < capacity && from[i] != 0; ++i)
        to[i] = from[i];
    to[i] = 0;
}

bool KsStringsEqual(LPCWSTR a, LPCWSTR b)
{
    for (; *a == *b; ++a, ++b)
        if (*a == 0)
            return true;
    return false;
}

bool KsStringsEqualIgnoringAsciiCase(LPCWSTR a, LPCWSTR b)
{
    for (; AsciiLower(*a) == AsciiLower(*b); ++a, ++b)
        if (*a == 0)
            return true;
    return false;
}
