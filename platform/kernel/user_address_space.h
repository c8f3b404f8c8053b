// The user-mode address space of an emulated process: views of locked kernel pages that
// MmMapLockedPagesSpecifyCache(UserMode) made, each at an address of its own.
#pragma once

#include <wdm/ke.h>

namespace host {

class UserAddressSpace {
public:
    UserAddressSpace() = default;
    ~UserAddressSpace() = default;
    UserAddressSpace(const UserAddressSpace &) = delete;
    UserAddressSpace &operator=(const UserAddressSpace &) = delete;
};

} // namespace host
