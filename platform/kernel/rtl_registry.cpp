// RtlQueryRegistryValues, RtlWriteRegistryValue, RtlDeleteRegistryValue, RtlCheckRegistryKey and
// RtlCreateRegistryKey over the machine's registry store. PASSIVE_LEVEL only.
//
// A query walks its table in order; the first entry that fails ends the call with that status.
// A missing key fails the whole call (defaults are only for missing values). String values
// reach the caller terminated even when stored without their zero; REG_EXPAND_SZ is expanded
// (and delivered as REG_SZ) and REG_MULTI_SZ split into REG_SZ strings unless
// RTL_QUERY_REGISTRY_NOEXPAND is set.
#include "machine.h"
#include "passive_level.h"
#include "registry_key_reference.h"
#include "rtl_string_pool.h"
#include "wide_string.h"

#include <wdm/rtl.h>

#include <cstring>
#include <map>

using host::RegistryKey;
using host::RegistryStore;

namespace {

bool IsStringType(ULONG type)
{
    return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
}

// The key an RtlXxxRegistry call names: a handle (RTL_REGISTRY_HANDLE), an absolute path, or a
// path below one of the well-known roots. With `create` the last component is created if
// missing, as ZwCreateKey would.
NTSTATUS OpenRelative(host::Machine &machine, const char *entry, ULONG relativeTo, PCWSTR path,
                      ACCESS_MASK access, bool create, RegistryKey *key)
{
    relativeTo &= ~RTL_REGISTRY_OPTIONAL;
    if ((relativeTo & RTL_REGISTRY_HANDLE) != 0) {
        host::KeyReference reference;
        NTSTATUS status =
            reference.Reference(reinterpret_cast<HANDLE>(const_cast<PWSTR>(path)), access, entry);
        if (NT_SUCCESS(status))
            *key = reference->Key();
        return status;
    }
    static const std::u16string kRoots[RTL_REGISTRY_MAXIMUM] = {
        u"",
        u"\\Registry\\Machine\\System\\CurrentControlSet\\Services",
        u"\\Registry\\Machine\\System\\CurrentControlSet\\Control",
        u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",
        u"\\Registry\\Machine\\Hardware\\DeviceMap",
        RegistryStore::CurrentUserPath(),
    };
    if (relativeTo >= RTL_REGISTRY_MAXIMUM)
        return STATUS_INVALID_PARAMETER;
    std::u16string name = path != nullptr ? host::ToU16(path) : std::u16string();
    // A path that starts at the root is absolute whatever RelativeTo says.
    if (relativeTo != RTL_REGISTRY_ABSOLUTE && (name.empty() || name.front() != u'\\'))
        name = name.empty() ? kRoots[relativeTo] : kRoots[relativeTo] + u"\\" + name;
    RegistryStore &store = machine.Registry();
    if (!create)
        return store.OpenKey(nullptr, name, key);
    ULONG disposition;
    return store.CreateKey(nullptr, name, false, u"", key, &disposition);
}

// String data as the caller sees it: whole characters ending in a zero (two for REG_MULTI_SZ).
std::vector<UCHAR> Terminated(ULONG type, const std::vector<UCHAR> &stored)
{
    std::u16string chars = host::FromUtf16Bytes(stored);
    if (chars.empty() || chars.back() != 0)
        chars += u'\0';
    if (type == REG_MULTI_SZ && (chars.size() < 2 || chars[chars.size() - 2] != 0))
        chars += u'\0';
    return host::ToUtf16Bytes(chars);
}

// The environment %VARIABLE% references expand from: the caller's block ("NAME=value\0...\0")
// or the system process's.
class Environment {
public:
    explicit Environment(PVOID block)
    {
        if (block == nullptr) {
            variables_[u"SYSTEMROOT"] = u"C:\\Windows";
            variables_[u"WINDIR"] = u"C:\\Windows";
            variables_[u"SYSTEMDRIVE"] = u"C:";
            return;
        }
        for (auto *entry = static_cast<const WCHAR *>(block); *entry != 0;) {
            std::u16string text = host::ToU16(entry);
            size_t equals = text.find(u'=', 1); // "=C:" style names start with '='
            if (equals != std::u16string::npos)
                variables_[host::Upcase(text.substr(0, equals))] = text.substr(equals + 1);
            entry += text.size() + 1;
        }
    }

    // Unknown variables stay as written, as RtlExpandEnvironmentStrings leaves them.
    std::u16string Expand(std::u16string_view text) const
    {
        std::u16string out;
        size_t i = 0;
        while (i < text.size()) {
            size_t open = text.find(u'%', i);
            size_t close = open == std::u16string_view::npos ? open : text.find(u'%', open + 1);
            if (close == std::u16string_view::npos) {
                out.append(text.substr(i));
                break;
            }
            out.append(text.substr(i, open - i));
            std::u16string_view name = text.substr(open + 1, close - open - 1);
            auto found = variables_.find(host::Upcase(name));
            if (found == variables_.end()) {
                out.append(text.substr(open, close - open));
                i = close;
            } else {
                out.append(found->second);
                i = close + 1;
            }
        }
        return out;
    }

private:
    std::map<std::u16string, std::u16string> variables_;
};

// One RtlQueryRegistryValues call.
class RegistryQuery {
public:
    RegistryQuery(RegistryStore &store, PVOID context, PVOID environment)
        : store_(store), context_(context), environment_(environment)
    {
    }

    NTSTATUS Run(const RTL_QUERY_REGISTRY_TABLE *table, const RegistryKey &top);

private:
    NTSTATUS QueryNamed(const RTL_QUERY_REGISTRY_TABLE &entry, const RegistryKey &key);
    NTSTATUS QueryAll(const RTL_QUERY_REGISTRY_TABLE &entry, const RegistryKey &key);
    NTSTATUS UseDefault(const RTL_QUERY_REGISTRY_TABLE &entry);
    NTSTATUS Deliver(const RTL_QUERY_REGISTRY_TABLE &entry, const std::u16string &name, ULONG type,
                     std::vector<UCHAR> data);
    NTSTATUS Call(const RTL_QUERY_REGISTRY_TABLE &entry, const std::u16string &name, ULONG type,
                  std::vector<UCHAR> &data);
    static NTSTATUS StoreDirect(PVOID target, ULONG type, const std::vector<UCHAR> &data);

    RegistryStore &store_;
    PVOID context_;
    Environment environment_;
};

bool IsTableEnd(const RTL_QUERY_REGISTRY_TABLE &entry)
{
    return entry.QueryRoutine == nullptr && entry.Name == nullptr &&
           (entry.Flags & (RTL_QUERY_REGISTRY_SUBKEY | RTL_QUERY_REGISTRY_TOPKEY |
                           RTL_QUERY_REGISTRY_DIRECT)) == 0;
}

NTSTATUS RegistryQuery::Run(const RTL_QUERY_REGISTRY_TABLE *table, const RegistryKey &top)
{
    RegistryKey current = top;
    for (const RTL_QUERY_REGISTRY_TABLE *entry = table; !IsTableEnd(*entry); ++entry) {
        const ULONG flags = entry->Flags;
        const bool direct = (flags & RTL_QUERY_REGISTRY_DIRECT) != 0;
        if (direct && entry->EntryContext == nullptr)
            return STATUS_INVALID_PARAMETER;
        if ((flags & RTL_QUERY_REGISTRY_TOPKEY) != 0)
            current = top;
        NTSTATUS status;
        if ((flags & RTL_QUERY_REGISTRY_SUBKEY) != 0) {
            // Later entries read this subkey of the top key; its routine, if any, gets every
            // value in it.
            if (entry->Name == nullptr)
                return STATUS_INVALID_PARAMETER;
            status = store_.OpenKey(top, host::ToU16(entry->Name), &current);
            if (NT_SUCCESS(status) && entry->QueryRoutine != nullptr)
                status = QueryAll(*entry, current);
        } else if ((flags & RTL_QUERY_REGISTRY_TOPKEY) != 0 && entry->QueryRoutine == nullptr &&
                   entry->Name == nullptr) {
            status = STATUS_SUCCESS; // only the move back to the top key
        } else if ((flags & RTL_QUERY_REGISTRY_NOVALUE) != 0) {
            if (entry->QueryRoutine == nullptr)
                return STATUS_INVALID_PARAMETER;
            status = entry->QueryRoutine(entry->Name, REG_NONE, nullptr, 0, context_,
                                         entry->EntryContext);
        } else if (entry->Name == nullptr) {
            status = direct ? STATUS_INVALID_PARAMETER : QueryAll(*entry, current);
        } else if (!direct && entry->QueryRoutine == nullptr) {
            status = STATUS_INVALID_PARAMETER;
        } else {
            status = QueryNamed(*entry, current);
        }
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS RegistryQuery::QueryNamed(const RTL_QUERY_REGISTRY_TABLE &entry, const RegistryKey &key)
{
    std::u16string name = host::ToU16(entry.Name);
    host::RegistryValue value;
    NTSTATUS status = store_.QueryValue(key, name, &value);
    if (status == STATUS_OBJECT_NAME_NOT_FOUND)
        return UseDefault(entry);
    if (!NT_SUCCESS(status))
        return status;
    if ((entry.Flags & (RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK)) ==
            (RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK) &&
        value.type != (entry.DefaultType >> RTL_QUERY_REGISTRY_TYPECHECK_SHIFT))
        return STATUS_OBJECT_TYPE_MISMATCH;
    status = Deliver(entry, name, value.type, std::move(value.data));
    if (NT_SUCCESS(status) && (entry.Flags & RTL_QUERY_REGISTRY_DELETE) != 0)
        status = store_.DeleteValue(key, name);
    return status;
}

NTSTATUS RegistryQuery::QueryAll(const RTL_QUERY_REGISTRY_TABLE &entry, const RegistryKey &key)
{
    std::vector<std::u16string> delivered;
    host::RegistryValue value;
    for (ULONG index = 0;; ++index) {
        NTSTATUS status = store_.EnumerateValue(key, index, &value);
        if (status == STATUS_NO_MORE_ENTRIES)
            break;
        if (NT_SUCCESS(status))
            status = Deliver(entry, value.name, value.type, std::move(value.data));
        if (!NT_SUCCESS(status))
            return status;
        delivered.push_back(value.name);
    }
    if (delivered.empty())
        return UseDefault(entry);
    if ((entry.Flags & RTL_QUERY_REGISTRY_DELETE) != 0)
        for (const std::u16string &name : delivered) {
            NTSTATUS status = store_.DeleteValue(key, name);
            if (!NT_SUCCESS(status))
                return status;
        }
    return STATUS_SUCCESS;
}

NTSTATUS RegistryQuery::UseDefault(const RTL_QUERY_REGISTRY_TABLE &entry)
{
    if ((entry.Flags & RTL_QUERY_REGISTRY_REQUIRED) != 0)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    const ULONG type = entry.DefaultType & ~ULONG(RTL_QUERY_REGISTRY_TYPECHECK_MASK);
    if (type == REG_NONE)
        return STATUS_SUCCESS; // no default: the entry is skipped
    ULONG length = entry.DefaultLength;
    const auto *data = static_cast<const WCHAR *>(entry.DefaultData);
    if (length == 0 && IsStringType(type)) {
        // A zero length means "measure the string" (for REG_MULTI_SZ up to the empty string).
        if (data == nullptr)
            return STATUS_INVALID_PARAMETER;
        size_t chars = host::WideLength(data) + 1;
        if (type == REG_MULTI_SZ)
            while (data[chars] != 0)
                chars += host::WideLength(data + chars) + 1;
        length = static_cast<ULONG>((chars + (type == REG_MULTI_SZ ? 1 : 0)) * sizeof(WCHAR));
    }
    if (length != 0 && data == nullptr)
        return STATUS_INVALID_PARAMETER;
    const auto *bytes = static_cast<const UCHAR *>(entry.DefaultData);
    std::vector<UCHAR> value(bytes, bytes + length);
    return Deliver(entry, entry.Name != nullptr ? host::ToU16(entry.Name) : std::u16string(), type,
                   std::move(value));
}

NTSTATUS RegistryQuery::Deliver(const RTL_QUERY_REGISTRY_TABLE &entry, const std::u16string &name,
                                ULONG type, std::vector<UCHAR> data)
{
    const bool direct = (entry.Flags & RTL_QUERY_REGISTRY_DIRECT) != 0;
    const bool noExpand = (entry.Flags & RTL_QUERY_REGISTRY_NOEXPAND) != 0;
    if (IsStringType(type))
        data = Terminated(type, data);
    if (type == REG_EXPAND_SZ && !noExpand) {
        std::u16string text = host::FromUtf16Bytes(data);
        text.pop_back();
        data = host::ToUtf16Bytes(environment_.Expand(text) + u'\0');
        type = REG_SZ;
    }
    if (type == REG_MULTI_SZ && !noExpand) {
        if (direct)
            return STATUS_INVALID_PARAMETER; // a direct REG_MULTI_SZ must ask for NOEXPAND
        std::u16string all = host::FromUtf16Bytes(data);
        for (size_t start = 0; start < all.size() && all[start] != 0;) {
            size_t end = all.find(u'\0', start);
            std::vector<UCHAR> one =
                host::ToUtf16Bytes(std::u16string_view(all).substr(start, end + 1 - start));
            NTSTATUS status = Call(entry, name, REG_SZ, one);
            if (!NT_SUCCESS(status))
                return status;
            start = end + 1;
        }
        return STATUS_SUCCESS;
    }
    if (direct)
        return StoreDirect(entry.EntryContext, type, data);
    return Call(entry, name, type, data);
}

NTSTATUS RegistryQuery::Call(const RTL_QUERY_REGISTRY_TABLE &entry, const std::u16string &name,
                             ULONG type, std::vector<UCHAR> &data)
{
    std::vector<WCHAR> valueName(name.size() + 1, 0);
    host::CopyToWide(name, valueName.data());
    return entry.QueryRoutine(valueName.data(), type, data.empty() ? nullptr : data.data(),
                              static_cast<ULONG>(data.size()), context_, entry.EntryContext);
}

// RTL_QUERY_REGISTRY_DIRECT: strings into the UNICODE_STRING EntryContext points to (a buffer
// is allocated when it has none); data of up to four bytes into the ULONG it points to; longer
// data into a buffer whose first LONG gives its size: negative, the data alone is stored;
// positive, a ULONG length, a ULONG type, then the data.
NTSTATUS RegistryQuery::StoreDirect(PVOID target, ULONG type, const std::vector<UCHAR> &data)
{
    const auto length = static_cast<ULONG>(data.size());
    if (IsStringType(type)) {
        auto *string = static_cast<PUNICODE_STRING>(target);
        if (length > MAXUSHORT)
            return STATUS_BUFFER_TOO_SMALL;
        if (string->Buffer == nullptr) {
            string->Buffer = static_cast<PWSTR>(host::AllocateRtlString(length));
            if (string->Buffer == nullptr)
                return STATUS_INSUFFICIENT_RESOURCES;
            string->MaximumLength = static_cast<USHORT>(length);
        } else if (length > string->MaximumLength) {
            return STATUS_BUFFER_TOO_SMALL;
        }
        std::memcpy(string->Buffer, data.data(), length);
        string->Length = static_cast<USHORT>(length - sizeof(WCHAR));
        return STATUS_SUCCESS;
    }
    if (length <= sizeof(ULONG)) {
        if (length != 0)
            std::memcpy(target, data.data(), length);
        return STATUS_SUCCESS;
    }
    LONG size;
    std::memcpy(&size, target, sizeof size);
    auto *out = static_cast<UCHAR *>(target);
    if (size < 0) {
        if (static_cast<ULONG>(-static_cast<LONGLONG>(size)) < length)
            return STATUS_BUFFER_TOO_SMALL;
        std::memcpy(out, data.data(), length);
        return STATUS_SUCCESS;
    }
    if (static_cast<ULONG>(size) < length + 2 * sizeof(ULONG))
        return STATUS_BUFFER_TOO_SMALL;
    const ULONG header[2] = {length, type};
    std::memcpy(out, header, sizeof header);
    std::memcpy(out + sizeof header, data.data(), length);
    return STATUS_SUCCESS;
}

} // namespace

extern "C" {

NTSTATUS RtlQueryRegistryValues(ULONG RelativeTo, PCWSTR Path, PRTL_QUERY_REGISTRY_TABLE QueryTable,
                                PVOID Context, PVOID Environment)
{
    const char *entry = "RtlQueryRegistryValues";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (QueryTable == nullptr)
        return host::ReportBadPointer(machine, entry, "QueryTable");
    ACCESS_MASK access = KEY_QUERY_VALUE;
    for (const RTL_QUERY_REGISTRY_TABLE *e = QueryTable; !IsTableEnd(*e); ++e)
        if ((e->Flags & RTL_QUERY_REGISTRY_DELETE) != 0)
            access |= KEY_SET_VALUE;
    RegistryKey top;
    NTSTATUS status = OpenRelative(machine, entry, RelativeTo, Path, access, false, &top);
    if (!NT_SUCCESS(status))
        return status;
    return RegistryQuery(machine.Registry(), Context, Environment).Run(QueryTable, top);
}

NTSTATUS RtlWriteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName, ULONG ValueType,
                               PVOID ValueData, ULONG ValueLength)
{
    const char *entry = "RtlWriteRegistryValue";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    if (ValueData == nullptr && ValueLength != 0)
        return host::ReportBadPointer(machine, entry, "ValueData");
    RegistryKey key;
    NTSTATUS status = OpenRelative(machine, entry, RelativeTo, Path, KEY_SET_VALUE, true, &key);
    if (!NT_SUCCESS(status))
        return status;
    std::u16string name = ValueName != nullptr ? host::ToU16(ValueName) : std::u16string();
    return machine.Registry().SetValue(key, name, ValueType, ValueData, ValueLength);
}

NTSTATUS RtlDeleteRegistryValue(ULONG RelativeTo, PCWSTR Path, PCWSTR ValueName)
{
    const char *entry = "RtlDeleteRegistryValue";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    RegistryKey key;
    NTSTATUS status = OpenRelative(machine, entry, RelativeTo, Path, KEY_SET_VALUE, false, &key);
    if (!NT_SUCCESS(status))
        return status;
    std::u16string name = ValueName != nullptr ? host::ToU16(ValueName) : std::u16string();
    return machine.Registry().DeleteValue(key, name);
}

NTSTATUS RtlCheckRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    const char *entry = "RtlCheckRegistryKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    RegistryKey key;
    return OpenRelative(machine, entry, RelativeTo, Path, 0, false, &key);
}

NTSTATUS RtlCreateRegistryKey(ULONG RelativeTo, PWSTR Path)
{
    const char *entry = "RtlCreateRegistryKey";
    host::Machine &machine = host::EnterPassiveLevelCall(entry);
    RegistryKey key;
    return OpenRelative(machine, entry, RelativeTo, Path, 0, true, &key);
}

} // extern "C"
