// Key objects: what a registry handle refers to. Each ZwOpenKey/ZwCreateKey makes a new key
// object (object type TypeKey) over a key of the machine's registry store; it also carries the
// open's notify block, so a change request stays attached to the handle that made it, and
// closing that handle wakes its waiter, as on Windows.
#pragma once

#include "registry_store.h"

namespace host {

class Machine;

class KeyObject {
public:
    KeyObject(RegistryStore &store, RegistryKey key);
    ~KeyObject();
    KeyObject(const KeyObject &) = delete;
    KeyObject &operator=(const KeyObject &) = delete;

    const RegistryKey &Key() const { return key_; }

    // Asks for one notification of a change to the key (and with subtree, below it); callers
    // reference the key with KEY_NOTIFY. The first request of this open fixes subtree and
    // filter (REG_NOTIFY_CHANGE_*, validated by the caller); changes between requests are not
    // lost.
    void NotifyChange(bool subtree, ULONG filter, std::function<void()> fire);

private:
    RegistryStore &store_;
    RegistryKey key_;
    std::mutex lock_;
    RegistryStore::WatchId watch_ = 0; // 0: no notify block yet
};

// Strips the registry-view bits (KEY_WOW64_32KEY/64KEY, both at once is invalid) and maps
// MAXIMUM_ALLOWED; generic rights are mapped when the handle is made.
NTSTATUS KeyAccessFromRequest(ACCESS_MASK desired, ACCESS_MASK *access);

// Makes a key object for `key` and a handle to it in the calling thread's process (the system
// process for a kernel handle).
NTSTATUS OpenKeyHandle(Machine &machine, const RegistryKey &key, ACCESS_MASK access,
                       bool kernelHandle, PHANDLE handle);

// The key object behind a handle, referenced; STATUS_ACCESS_DENIED unless the handle grants
// every right in `desired`. The caller drops the reference with ObDereferenceObject.
NTSTATUS ReferenceKey(HANDLE handle, ACCESS_MASK desired, const char *entryPoint, KeyObject **key);

} // namespace host
