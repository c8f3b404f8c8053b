#include "named_objects.h"

#include "kernel/object_manager.h"

namespace host::win32 {

namespace {

constexpr char16_t kGlobalPrefix[] = u"Global\\";
constexpr char16_t kLocalPrefix[] = u"Local\\";
constexpr char16_t kGlobalDirectory[] = u"\\BaseNamedObjects\\";
constexpr char16_t kSessionDirectory[] = u"\\Sessions\\1\\BaseNamedObjects\\";

bool StartsWith(const std::u16string &s, const char16_t *prefix)
{
    return s.compare(0, std::char_traits<char16_t>::length(prefix), prefix) == 0;
}

} // namespace

NamedObjects::~NamedObjects()
{
    for (auto &[name, body] : objects_)
        ObfDereferenceObject(body);
}

NTSTATUS NamedObjects::FullName(const std::u16string &name, std::u16string *full)
{
    std::u16string leaf = name;
    const char16_t *directory = kSessionDirectory;
    if (StartsWith(name, kGlobalPrefix)) {
        leaf = name.substr(std::char_traits<char16_t>::length(kGlobalPrefix));
        directory = kGlobalDirectory;
    } else if (StartsWith(name, kLocalPrefix)) {
        leaf = name.substr(std::char_traits<char16_t>::length(kLocalPrefix));
    }
    // Any other backslash names a directory that does not exist.
    if (leaf.find(u'\\') != std::u16string::npos)
        return STATUS_OBJECT_PATH_NOT_FOUND;
    *full = directory + leaf;
    return STATUS_SUCCESS;
}

PVOID NamedObjects::LookupLocked(const std::u16string &full)
{
    auto it = objects_.find(full);
    if (it == objects_.end())
        return nullptr;
    if (HeaderOfObject(it->second)->handleCount.load() == 0) {
        ObfDereferenceObject(it->second);
        objects_.erase(it);
        return nullptr;
    }
    return it->second;
}

NTSTATUS NamedObjects::CreateOrOpen(const std::u16string &name, POBJECT_TYPE type,
                                    const std::function<PVOID()> &make,
                                    const std::function<NTSTATUS(PVOID)> &open)
{
    std::u16string full;
    NTSTATUS status = FullName(name, &full);
    if (!NT_SUCCESS(status))
        return status;
    std::lock_guard<std::mutex> guard(lock_);
    if (PVOID existing = LookupLocked(full)) {
        if (HeaderOfObject(existing)->type != type)
            return STATUS_OBJECT_TYPE_MISMATCH;
        status = open(existing);
        return NT_SUCCESS(status) && make ? STATUS_OBJECT_NAME_EXISTS : status;
    }
    if (!make)
        return STATUS_OBJECT_NAME_NOT_FOUND;
    PVOID body = make();
    if (body == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    status = open(body);
    if (!NT_SUCCESS(status)) {
        ObfDereferenceObject(body);
        return status;
    }
    objects_[full] = body;
    return STATUS_SUCCESS;
}

NTSTATUS NamedObjects::Open(const std::u16string &name, POBJECT_TYPE type,
                            const std::function<NTSTATUS(PVOID)> &open)
{
    return CreateOrOpen(name, type, nullptr, open);
}

} // namespace host::win32
