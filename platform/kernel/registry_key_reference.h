// Shared by the Zw* registry entry points: a scoped reference to the key object behind a handle,
// the name an OBJECT_ATTRIBUTES gives, and the report for arguments Windows would fault on.
#pragma once

#include "registry_key_object.h"

#include <string>

namespace host {

// Holds the reference ReferenceKey took and drops it at scope end.
class KeyReference {
public:
    KeyReference() = default;
    ~KeyReference();
    KeyReference(const KeyReference &) = delete;
    KeyReference &operator=(const KeyReference &) = delete;

    NTSTATUS Reference(HANDLE handle, ACCESS_MASK desired, const char *entryPoint);
    KeyObject *operator->() const { return key_; }

private:
    KeyObject *key_ = nullptr;
};

// The base key (from RootDirectory, held by `root`; null for an absolute name) and the path an
// OBJECT_ATTRIBUTES names.
NTSTATUS ResolveObjectName(const OBJECT_ATTRIBUTES *attributes, const char *entryPoint,
                           KeyReference &root, RegistryKey *base, std::u16string *path);

// A missing pointer argument: a fault (bug check) on Windows, a verifier report here.
NTSTATUS ReportBadPointer(Machine &machine, const char *entryPoint, const char *argument);

} // namespace host
