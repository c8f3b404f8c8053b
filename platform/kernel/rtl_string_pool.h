// The pool blocks the run-time library allocates for strings the caller later frees with
// RtlFreeUnicodeString / RtlFreeAnsiString: paged pool, tag "Strg".
#pragma once

#include <wdm/ex.h>

namespace host {

constexpr ULONG kRtlStringTag = 0x67727453; // "Strg"

inline PVOID AllocateRtlString(SIZE_T bytes)
{
    return ExAllocatePoolWithTag(PagedPool, bytes, kRtlStringTag);
}

inline void FreeRtlString(PVOID buffer) { ExFreePoolWithTag(buffer, kRtlStringTag); }

} // namespace host
