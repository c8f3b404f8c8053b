// The process object: a handle table, a 32/64-bit flag and the user address space that locked
// pages can be mapped into. The system process holds kernel handles and system threads.
#pragma once

#include "object_manager.h"
#include "user_address_space.h"

#include <memory>
#include <string>

struct _KPROCESS {
    DISPATCHER_HEADER Header; // signalled when the process has ended
    host::Machine *machine = nullptr;
    std::string name;
    ULONG id = 0;
    bool is32Bit = false;
    bool ended = false;
    NTSTATUS exitStatus = STATUS_PENDING; // the exit code once the process ends (STILL_ACTIVE)
    host::HandleTable handles;
    host::UserAddressSpace addressSpace;

    _KPROCESS(host::Machine &owner, const std::string &processName, ULONG processId, bool wow64,
              bool kernelTable);
};
