// Entry points Windows only allows at PASSIVE_LEVEL (pageable code: the registry, device
// registry keys): the IRQL check their PAGED_CODE() would make, reported by the verifier.
#pragma once

namespace host {

class Machine;

// The calling emulated thread's machine, after checking that it runs at PASSIVE_LEVEL.
Machine &EnterPassiveLevelCall(const char *entryPoint);

} // namespace host
