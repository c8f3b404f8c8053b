// ZwQueryKey, ZwEnumerateKey, ZwQueryValueKey and ZwEnumerateValueKey: the registry's
// information records in their Windows layouts. Buffer rules, as documented: a buffer smaller
// than the record's fixed part receives nothing (STATUS_BUFFER_TOO_SMALL); one smaller than the
// whole record receives the fixed part and as much of the rest as fits
// (STATUS_BUFFER_OVERFLOW); ResultLength is always set to the size the whole record needs.
#include "machine.h"
#include "passive_level.h"
#include "registry_key_reference.h"
#include "wide_string.h"

#include <wdm/zw.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>

using host::KeyReference;
using host::RegistryKeyInfo;
using host::RegistryValue;

namespace {

constexpr ULONG kNoOffset = 0xFFFFFFFF; // ClassOffset/DataOffset of an absent class or data

struct Tail {
    ULONG offset;
    const void *data;
    ULONG bytes;
};

NTSTATUS WriteRecord(const void *fixed, ULONG fixedBytes, std::initializer_list<Tail> tails,
                     PVOID buffer, ULONG length, PULONG resultLength)
{
    ULONG required = fixedBytes;
    for (const Tail &tail : tails)
        required = std::max(required, tail.offset + tail.bytes);
    *resultLength = required;
    if (length < fixedBytes)
        return STATUS_BUFFER_TOO_SMALL;
    auto *out = static_cast<UCHAR *>(buffer);
    std::memcpy(out, fixed, fixedBytes);
    for (const Tail &tail : tails)
        if (tail.bytes != 0 && tail.offset < length)
            std::memcpy(out + tail.offset, tail.data, std::min(tail.bytes, length - tail.offset));
    return length < required ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

ULONG AlignToUlong(ULONG offset) { return (offset + 3) & ~3u; }

ULONG Bytes(const std::u16string &s) { return static_cast<ULONG>(s.size() * sizeof(char16_t)); }

NTSTATUS WriteKeyInformation(const RegistryKeyInfo &info, KEY_INFORMATION_CLASS informationClass,
                             PVOID buffer, ULONG length, PULONG resultLength)
{
    const ULONG nameBytes = Bytes(info.name);
    const ULONG classBytes = Bytes(info.className);
    switch (informationClass) {
    case KeyBasicInformation: {
        KEY_BASIC_INFORMATION record{};
        record.LastWriteTime.QuadPart = info.lastWriteTime;
        record.NameLength = nameBytes;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_BASIC_INFORMATION, Name);
        return WriteRecord(&record, fixed, {{fixed, info.name.data(), nameBytes}}, buffer, length,
                           resultLength);
    }
    case KeyNodeInformation: {
        KEY_NODE_INFORMATION record{};
        record.LastWriteTime.QuadPart = info.lastWriteTime;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_NODE_INFORMATION, Name);
        record.ClassOffset = classBytes != 0 ? AlignToUlong(fixed + nameBytes) : kNoOffset;
        record.ClassLength = classBytes;
        record.NameLength = nameBytes;
        return WriteRecord(
            &record, fixed,
            {{fixed, info.name.data(), nameBytes},
             {classBytes != 0 ? record.ClassOffset : fixed, info.className.data(), classBytes}},
            buffer, length, resultLength);
    }
    case KeyFullInformation: {
        KEY_FULL_INFORMATION record{};
        record.LastWriteTime.QuadPart = info.lastWriteTime;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_FULL_INFORMATION, Class);
        record.ClassOffset = classBytes != 0 ? fixed : kNoOffset;
        record.ClassLength = classBytes;
        record.SubKeys = info.subKeys;
        record.MaxNameLen = info.maxSubKeyNameBytes;
        record.MaxClassLen = info.maxClassBytes;
        record.Values = info.values;
        record.MaxValueNameLen = info.maxValueNameBytes;
        record.MaxValueDataLen = info.maxValueDataBytes;
        return WriteRecord(&record, fixed, {{fixed, info.className.data(), classBytes}}, buffer,
                           length, resultLength);
    }
    case KeyNameInformation: {
        KEY_NAME_INFORMATION record{};
        record.NameLength = Bytes(info.path);
        constexpr ULONG fixed = FIELD_OFFSET(KEY_NAME_INFORMATION, Name);
        return WriteRecord(&record, fixed, {{fixed, info.path.data(), record.NameLength}}, buffer,
                           length, resultLength);
    }
    default: return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS WriteValueInformation(const RegistryValue &value,
                               KEY_VALUE_INFORMATION_CLASS informationClass, PVOID buffer,
                               ULONG length, PULONG resultLength)
{
    const ULONG nameBytes = Bytes(value.name);
    const auto dataBytes = static_cast<ULONG>(value.data.size());
    switch (informationClass) {
    case KeyValueBasicInformation: {
        KEY_VALUE_BASIC_INFORMATION record{};
        record.Type = value.type;
        record.NameLength = nameBytes;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_VALUE_BASIC_INFORMATION, Name);
        return WriteRecord(&record, fixed, {{fixed, value.name.data(), nameBytes}}, buffer, length,
                           resultLength);
    }
    case KeyValueFullInformation: {
        KEY_VALUE_FULL_INFORMATION record{};
        record.Type = value.type;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_VALUE_FULL_INFORMATION, Name);
        record.DataOffset = dataBytes != 0 ? AlignToUlong(fixed + nameBytes) : kNoOffset;
        record.DataLength = dataBytes;
        record.NameLength = nameBytes;
        return WriteRecord(
            &record, fixed,
            {{fixed, value.name.data(), nameBytes},
             {dataBytes != 0 ? record.DataOffset : fixed, value.data.data(), dataBytes}},
            buffer, length, resultLength);
    }
    case KeyValuePartialInformation: {
        KEY_VALUE_PARTIAL_INFORMATION record{};
        record.Type = value.type;
        record.DataLength = dataBytes;
        constexpr ULONG fixed = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
        return WriteRecord(&record, fixed, {{fixed, value.data.data(), dataBytes}}, buffer, length,
                           resultLength);
    }
    default: return STATUS_INVALID_PARAMETER;
    }
}

// Checks what every query entry point checks before it touches the key: the output pointers
// and the information class (classes Windows has but the emulation lacks fail loudly).
NTSTATUS CheckQueryArguments(host::Machine &machine, const char *entry, int informationClass,
                             int firstUnemulated, int classLimit, PVOID buffer, ULONG length,
                             PULONG resultLength)
{
    if (resultLength == nullptr)
        return host::ReportBadPointer(machine, entry, "ResultLength");
    if (buffer == nullptr && length != 0)
        return host::ReportBadPointer(machine, entry, "information buffer");
    if (informationClass < 0 || informationClass >= classLimit)
        return STATUS_INVALID_PARAMETER;
    if (informationClass >= firstUnemulated) {
        machine.Checks().Report(host::VerifierCheck::Usage,
                                std::string(entry) + ": information class " +
                                    std::to_string(informationClass) + " is not emulated");
        return STATUS_NOT_IMPLEMENTED;
    }
    return STATUS_SUCCESS;
}

} // namespace

extern "C" {

NTSTATUS ZwQueryKey(HANDLE KeyHandle, KEY_INFORMATION_CLASS KeyInformationClass,
                    PVOID KeyInformation, ULONG Length, PULONG ResultLength)
{
    const char *entry = "ZwQueryKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    NTSTATUS status = CheckQueryArguments(machine, entry, KeyInformationClass, KeyCachedInformation,
                                          MaxKeyInfoClass, KeyInformation, Length, ResultLength);
    if (!NT_SUCCESS(status))
        return status;
    // The name needs no right; everything else needs KEY_QUERY_VALUE.
    KeyReference key;
    status = key.Reference(KeyHandle,
                           KeyInformationClass == KeyNameInformation ? 0 : KEY_QUERY_VALUE, entry);
    RegistryKeyInfo info;
    if (NT_SUCCESS(status))
        status = machine.Registry().QueryKey(key->Key(), &info);
    if (!NT_SUCCESS(status))
        return status;
    return WriteKeyInformation(info, KeyInformationClass, KeyInformation, Length, ResultLength);
}

NTSTATUS ZwEnumerateKey(HANDLE KeyHandle, ULONG Index, KEY_INFORMATION_CLASS KeyInformationClass,
                        PVOID KeyInformation, ULONG Length, PULONG ResultLength)
{
    const char *entry = "ZwEnumerateKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (KeyInformationClass == KeyNameInformation)
        return STATUS_INVALID_PARAMETER;
    NTSTATUS status = CheckQueryArguments(machine, entry, KeyInformationClass, KeyCachedInformation,
                                          MaxKeyInfoClass, KeyInformation, Length, ResultLength);
    if (!NT_SUCCESS(status))
        return status;
    KeyReference key;
    status = key.Reference(KeyHandle, KEY_ENUMERATE_SUB_KEYS, entry);
    RegistryKeyInfo info;
    if (NT_SUCCESS(status))
        status = machine.Registry().EnumerateKey(key->Key(), Index, &info);
    if (!NT_SUCCESS(status))
        return status;
    return WriteKeyInformation(info, KeyInformationClass, KeyInformation, Length, ResultLength);
}

NTSTATUS ZwQueryValueKey(HANDLE KeyHandle, PUNICODE_STRING ValueName,
                         KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                         PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    const char *entry = "ZwQueryValueKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (ValueName == nullptr)
        return host::ReportBadPointer(machine, entry, "ValueName");
    NTSTATUS status = CheckQueryArguments(machine, entry, KeyValueInformationClass,
                                          KeyValueFullInformationAlign64, MaxKeyValueInfoClass,
                                          KeyValueInformation, Length, ResultLength);
    if (!NT_SUCCESS(status))
        return status;
    KeyReference key;
    status = key.Reference(KeyHandle, KEY_QUERY_VALUE, entry);
    RegistryValue value;
    if (NT_SUCCESS(status))
        status = machine.Registry().QueryValue(key->Key(), host::ToU16(*ValueName), &value);
    if (!NT_SUCCESS(status))
        return status;
    return WriteValueInformation(value, KeyValueInformationClass, KeyValueInformation, Length,
                                 ResultLength);
}

NTSTATUS ZwEnumerateValueKey(HANDLE KeyHandle, ULONG Index,
                             KEY_VALUE_INFORMATION_CLASS KeyValueInformationClass,
                             PVOID KeyValueInformation, ULONG Length, PULONG ResultLength)
{
    const char *entry = "ZwEnumerateValueKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    NTSTATUS status = CheckQueryArguments(machine, entry, KeyValueInformationClass,
                                          KeyValueFullInformationAlign64, MaxKeyValueInfoClass,
                                          KeyValueInformation, Length, ResultLength);
    if (!NT_SUCCESS(status))
        return status;
    KeyReference key;
    status = key.Reference(KeyHandle, KEY_QUERY_VALUE, entry);
    RegistryValue value;
    if (NT_SUCCESS(status))
        status = machine.Registry().EnumerateValue(key->Key(), Index, &value);
    if (!NT_SUCCESS(status))
        return status;
    return WriteValueInformation(value, KeyValueInformationClass, KeyValueInformation, Length,
                                 ResultLength);
}

} // extern "C"
