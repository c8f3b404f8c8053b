// The ntstrsafe routines: bounded copies, lengths and printf into WCHAR buffers. A destination
// of zero characters (or more than NTSTRSAFE_MAX_CCH) is invalid and left untouched; otherwise
// the result is always terminated, and truncation returns STATUS_BUFFER_OVERFLOW.
#include "wide_string.h"
#include "windows_format.h"

#include <ntstrsafe.h>

#include <string_view>

namespace {

bool IsValidDestination(size_t cchDest) { return cchDest != 0 && cchDest <= NTSTRSAFE_MAX_CCH; }

NTSTATUS CopyTruncating(NTSTRSAFE_PWSTR pszDest, size_t cchDest, std::u16string_view text)
{
    size_t copied = std::min(text.size(), cchDest - 1);
    host::CopyToWide(text.substr(0, copied), pszDest);
    pszDest[copied] = 0;
    return copied < text.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS MeasureBounded(STRSAFE_PCNZWCH psz, size_t cchMax, size_t *pcchLength)
{
    size_t length = 0;
    while (length < cchMax && psz[length] != 0)
        ++length;
    NTSTATUS status = length < cchMax ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    if (pcchLength != nullptr)
        *pcchLength = NT_SUCCESS(status) ? length : 0;
    return status;
}

} // namespace

extern "C" {

NTSTRSAFEDDI RtlStringCchCopyW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszSrc)
{
    if (!IsValidDestination(cchDest))
        return STATUS_INVALID_PARAMETER;
    // Only the part that fits is read: the source need not be terminated beyond it.
    size_t length = 0;
    while (length < cchDest && pszSrc[length] != 0)
        ++length;
    return CopyTruncating(pszDest, cchDest, host::ToU16(pszSrc, length));
}

NTSTRSAFEDDI RtlStringCbCopyW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszSrc)
{
    return RtlStringCchCopyW(pszDest, cbDest / sizeof(WCHAR), pszSrc);
}

NTSTRSAFEDDI RtlStringCchLengthW(STRSAFE_PCNZWCH psz, size_t cchMax, size_t *pcchLength)
{
    if (psz == nullptr || cchMax > NTSTRSAFE_MAX_CCH) {
        if (pcchLength != nullptr)
            *pcchLength = 0;
        return STATUS_INVALID_PARAMETER;
    }
    return MeasureBounded(psz, cchMax, pcchLength);
}

NTSTRSAFEDDI RtlStringCbLengthW(STRSAFE_PCNZWCH psz, size_t cbMax, size_t *pcbLength)
{
    size_t chars = 0;
    NTSTATUS status = RtlStringCchLengthW(psz, cbMax / sizeof(WCHAR), &chars);
    if (pcbLength != nullptr)
        *pcbLength = chars * sizeof(WCHAR);
    return status;
}

NTSTRSAFEDDI RtlStringCchVPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest,
                                  NTSTRSAFE_PCWSTR pszFormat, va_list argList)
{
    if (!IsValidDestination(cchDest))
        return STATUS_INVALID_PARAMETER;
    return CopyTruncating(pszDest, cchDest, host::FormatWindows(pszFormat, argList));
}

NTSTRSAFEDDI RtlStringCchPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest,
                                 NTSTRSAFE_PCWSTR pszFormat, ...)
{
    va_list args;
    va_start(args, pszFormat);
    NTSTATUS status = RtlStringCchVPrintfW(pszDest, cchDest, pszFormat, args);
    va_end(args);
    return status;
}

NTSTRSAFEDDI RtlStringCbPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszFormat,
                                ...)
{
    va_list args;
    va_start(args, pszFormat);
    NTSTATUS status = RtlStringCchVPrintfW(pszDest, cbDest / sizeof(WCHAR), pszFormat, args);
    va_end(args);
    return status;
}

} // extern "C"
