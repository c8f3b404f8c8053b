// The checks a kernel component makes before it touches a buffer a user-mode request names
// (METHOD_NEITHER I/O controls, stream headers): the range lies in user space, does not wrap,
// is aligned as asked, and names no kernel memory (the emulation knows its pool blocks).
#pragma once

#include <wdm.h>

namespace host {

// STATUS_SUCCESS, STATUS_ACCESS_VIOLATION or STATUS_DATATYPE_MISALIGNMENT. A zero length is
// not checked, as ProbeForRead documents.
NTSTATUS ProbeUserBuffer(const volatile void *address, SIZE_T length, ULONG alignment);

} // namespace host
