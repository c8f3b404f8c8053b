// Checks shared by entry points: PASSIVE_LEVEL only (pageable code: the registry, device
// registry keys, file creation), the IRQL check their PAGED_CODE() would make; and pointer
// arguments Windows would fault on. Both are reported by the verifier.
#pragma once

#include <ntdef.h>

namespace host {

class Machine;

// The calling emulated thread's machine, after checking that it runs at PASSIVE_LEVEL.
Machine &EnterPassiveLevelCall(const char *entryPoint);

// A missing pointer argument: a fault (bug check) on Windows, a verifier report here.
NTSTATUS ReportBadPointer(Machine &machine, const char *entryPoint, const char *argument);

} // namespace host
