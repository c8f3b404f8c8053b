#include "registry_key_reference.h"

#include "machine.h"
#include "wide_string.h"

namespace host {

KeyReference::~KeyReference()
{
    if (key_ != nullptr)
        ObfDereferenceObject(key_);
}

NTSTATUS KeyReference::Reference(HANDLE handle, ACCESS_MASK desired, const char *entryPoint)
{
    return ReferenceKey(handle, desired, entryPoint, &key_);
}

NTSTATUS ResolveObjectName(const OBJECT_ATTRIBUTES *attributes, const char *entryPoint,
                           KeyReference &root, RegistryKey *base, std::u16string *path)
{
    if (attributes->Length != sizeof(OBJECT_ATTRIBUTES))
        return STATUS_INVALID_PARAMETER;
    const UNICODE_STRING *name = attributes->ObjectName;
    if (name == nullptr || (name->Length % sizeof(WCHAR)) != 0 ||
        (name->Length != 0 && name->Buffer == nullptr))
        return STATUS_OBJECT_NAME_INVALID;
    *path = ToU16(*name);
    base->reset();
    if (attributes->RootDirectory == nullptr)
        return STATUS_SUCCESS;
    NTSTATUS status = root.Reference(attributes->RootDirectory, 0, entryPoint);
    if (NT_SUCCESS(status))
        *base = root->Key();
    return status;
}

} // namespace host
