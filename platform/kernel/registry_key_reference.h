// Shared by the Zw* registry entry points: a scoped reference to the key object behind a handle
// and the name an OBJECT_ATTRIBUTES gives.
#pragma once

#include "passive_level.h"
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

} // namespace host
