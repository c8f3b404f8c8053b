// Host version of <ntstrsafe.h>: the bounded UTF-16 string routines the product uses. Every
// routine leaves a terminated string in a destination of non-zero size; a result that does not
// fit is truncated and reported with STATUS_BUFFER_OVERFLOW.
#pragma once

#include "ntdef.h"
#include "ntstatus.h"

#include <cstdarg>

#define NTSTRSAFE_MAX_CCH 2147483647
#define NTSTRSAFEDDI NTSTATUS

typedef WCHAR *NTSTRSAFE_PWSTR;
typedef const WCHAR *NTSTRSAFE_PCWSTR;
typedef const WCHAR *STRSAFE_PCNZWCH;

extern "C" {

NTSTRSAFEDDI RtlStringCchCopyW(NTSTRSAFE_PWSTR pszDest, size_t cchDest, NTSTRSAFE_PCWSTR pszSrc);
NTSTRSAFEDDI RtlStringCbCopyW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszSrc);
NTSTRSAFEDDI RtlStringCchLengthW(STRSAFE_PCNZWCH psz, size_t cchMax, size_t *pcchLength);
NTSTRSAFEDDI RtlStringCbLengthW(STRSAFE_PCNZWCH psz, size_t cbMax, size_t *pcbLength);
NTSTRSAFEDDI RtlStringCchPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest,
                                 NTSTRSAFE_PCWSTR pszFormat, ...);
NTSTRSAFEDDI RtlStringCbPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cbDest, NTSTRSAFE_PCWSTR pszFormat,
                                ...);
NTSTRSAFEDDI RtlStringCchVPrintfW(NTSTRSAFE_PWSTR pszDest, size_t cchDest,
                                  NTSTRSAFE_PCWSTR pszFormat, va_list argList);

} // extern "C"
