// The kernel's registry key and value services: ZwOpenKey, ZwCreateKey, ZwDeleteKey,
// ZwFlushKey, ZwSetValueKey and ZwDeleteValueKey over the machine's registry store (queries and
// enumeration are in registry_information.cpp). PASSIVE_LEVEL only. Every handle operation
// checks the rights the handle was opened with. Security descriptors are not emulated: every
// requested right is granted at open.
#include "machine.h"
#include "passive_level.h"
#include "registry_key_reference.h"
#include "wide_string.h"

#include <wdm/zw.h>

using host::KeyReference;
using host::RegistryKey;

namespace {

// Key links and backup-restore opens are not emulated.
constexpr ULONG kUnemulatedOptions =
    REG_OPTION_CREATE_LINK | REG_OPTION_OPEN_LINK | REG_OPTION_BACKUP_RESTORE;

} // namespace

extern "C" {

NTSTATUS ZwOpenKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                   POBJECT_ATTRIBUTES ObjectAttributes)
{
    const char *entry = "ZwOpenKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (KeyHandle == nullptr)
        return host::ReportBadPointer(machine, entry, "KeyHandle");
    if (ObjectAttributes == nullptr)
        return host::ReportBadPointer(machine, entry, "ObjectAttributes");
    *KeyHandle = nullptr;
    ACCESS_MASK access;
    NTSTATUS status = host::KeyAccessFromRequest(DesiredAccess, &access);
    if (!NT_SUCCESS(status))
        return status;
    KeyReference root;
    RegistryKey base;
    std::u16string path;
    status = host::ResolveObjectName(ObjectAttributes, entry, root, &base, &path);
    if (!NT_SUCCESS(status))
        return status;
    RegistryKey key;
    status = machine.Registry().OpenKey(base, path, &key);
    if (!NT_SUCCESS(status))
        return status;
    return host::OpenKeyHandle(machine, key, access,
                               (ObjectAttributes->Attributes & OBJ_KERNEL_HANDLE) != 0, KeyHandle);
}

NTSTATUS ZwCreateKey(PHANDLE KeyHandle, ACCESS_MASK DesiredAccess,
                     POBJECT_ATTRIBUTES ObjectAttributes, ULONG TitleIndex, PUNICODE_STRING Class,
                     ULONG CreateOptions, PULONG Disposition)
{
    const char *entry = "ZwCreateKey";
    (void)TitleIndex; // ignored by Windows too
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (KeyHandle == nullptr)
        return host::ReportBadPointer(machine, entry, "KeyHandle");
    if (ObjectAttributes == nullptr)
        return host::ReportBadPointer(machine, entry, "ObjectAttributes");
    *KeyHandle = nullptr;
    if ((CreateOptions & ~REG_LEGAL_OPTION) != 0)
        return STATUS_INVALID_PARAMETER;
    if ((CreateOptions & kUnemulatedOptions) != 0) {
        machine.Checks().Report(host::VerifierCheck::Usage,
                                "ZwCreateKey: registry links and backup-restore opens are not "
                                "emulated (options " +
                                    std::to_string(CreateOptions) + ")");
        return STATUS_NOT_IMPLEMENTED;
    }
    ACCESS_MASK access;
    NTSTATUS status = host::KeyAccessFromRequest(DesiredAccess, &access);
    if (!NT_SUCCESS(status))
        return status;
    KeyReference root;
    RegistryKey base;
    std::u16string path;
    status = host::ResolveObjectName(ObjectAttributes, entry, root, &base, &path);
    if (!NT_SUCCESS(status))
        return status;
    RegistryKey key;
    ULONG disposition;
    std::u16string className = Class != nullptr ? host::ToU16(*Class) : std::u16string();
    status = machine.Registry().CreateKey(base, path, false, className, &key, &disposition);
    if (!NT_SUCCESS(status))
        return status;
    status = host::OpenKeyHandle(
        machine, key, access, (ObjectAttributes->Attributes & OBJ_KERNEL_HANDLE) != 0, KeyHandle);
    if (NT_SUCCESS(status) && Disposition != nullptr)
        *Disposition = disposition;
    return status;
}

NTSTATUS ZwDeleteKey(HANDLE KeyHandle)
{
    const char *entry = "ZwDeleteKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    KeyReference key;
    NTSTATUS status = key.Reference(KeyHandle, DELETE, entry);
    return NT_SUCCESS(status) ? machine.Registry().DeleteKey(key->Key()) : status;
}

NTSTATUS ZwFlushKey(HANDLE KeyHandle)
{
    const char *entry = "ZwFlushKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    KeyReference key;
    NTSTATUS status = key.Reference(KeyHandle, 0, entry);
    if (!NT_SUCCESS(status))
        return status;
    // Nothing to write back; a deleted key still fails.
    host::RegistryKeyInfo info;
    return machine.Registry().QueryKey(key->Key(), &info);
}

NTSTATUS ZwSetValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName, ULONG TitleIndex, ULONG Type,
                       PVOID Data, ULONG DataSize)
{
    const char *entry = "ZwSetValueKey";
    (void)TitleIndex;
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (ValueName == nullptr)
        return host::ReportBadPointer(machine, entry, "ValueName");
    if (Data == nullptr && DataSize != 0)
        return host::ReportBadPointer(machine, entry, "Data");
    KeyReference key;
    NTSTATUS status = key.Reference(KeyHandle, KEY_SET_VALUE, entry);
    if (!NT_SUCCESS(status))
        return status;
    return machine.Registry().SetValue(key->Key(), host::ToU16(*ValueName), Type, Data, DataSize);
}

NTSTATUS ZwDeleteValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName)
{
    const char *entry = "ZwDeleteValueKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (ValueName == nullptr)
        return host::ReportBadPointer(machine, entry, "ValueName");
    KeyReference key;
    NTSTATUS status = key.Reference(KeyHandle, KEY_SET_VALUE, entry);
    if (!NT_SUCCESS(status))
        return status;
    return machine.Registry().DeleteValue(key->Key(), host::ToU16(*ValueName));
}

} // extern "C"
