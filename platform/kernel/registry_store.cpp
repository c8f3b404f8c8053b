#include "registry_store.h"

#include "debug_log.h"
#include "wide_string.h"

#include <algorithm>

namespace host {

class RegistryKeyNode {
public:
    std::u16string name;
    RegistryKeyNode *parent = nullptr;              // null for the root and for deleted keys
    std::map<std::u16string, RegistryKey> children; // by upper-case name: the registry's order
    std::vector<RegistryValue> values;              // in the order first written
    std::u16string className;
    LONGLONG lastWriteTime = 0;
    bool hiveRoot = false; // cannot be deleted
    bool deleted = false;

    std::vector<RegistryValue>::iterator FindValue(std::u16string_view valueName)
    {
        for (auto it = values.begin(); it != values.end(); ++it)
            if (EqualIgnoreCase(it->name, valueName))
                return it;
        return values.end();
    }
};

namespace {

constexpr size_t kMaximumValueNameChars = 16383;
constexpr char16_t kCurrentUserSid[] = u"S-1-5-21-1004336348-1177238915-682003330-1001";

NTSTATUS SplitPath(std::u16string_view path, std::vector<std::u16string> *components)
{
    components->clear();
    if (path.empty())
        return STATUS_SUCCESS;
    size_t start = 0;
    for (;;) {
        size_t end = path.find(u'\\', start);
        std::u16string_view part = path.substr(
            start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (part.empty())
            return STATUS_OBJECT_NAME_INVALID;
        components->emplace_back(part);
        if (end == std::u16string_view::npos)
            return STATUS_SUCCESS;
        start = end + 1;
    }
}

bool IsAncestor(const RegistryKeyNode *ancestor, const RegistryKeyNode *node)
{
    for (const RegistryKeyNode *p = node->parent; p != nullptr; p = p->parent)
        if (p == ancestor)
            return true;
    return false;
}

bool SubtreeHasHiveRoot(const RegistryKeyNode &node)
{
    if (node.hiveRoot)
        return true;
    for (const auto &child : node.children)
        if (SubtreeHasHiveRoot(*child.second))
            return true;
    return false;
}

std::u16string PathOf(const RegistryKeyNode &node)
{
    std::u16string path = u"\\" + node.name;
    for (const RegistryKeyNode *p = node.parent; p != nullptr; p = p->parent)
        path = u"\\" + p->name + path;
    return path;
}

ULONG Bytes(size_t chars) { return static_cast<ULONG>(chars * sizeof(char16_t)); }

} // namespace

RegistryStore::RegistryStore(std::function<LONGLONG()> systemTime)
    : systemTime_(std::move(systemTime)), root_(std::make_shared<RegistryKeyNode>())
{
    root_->name = u"REGISTRY";
    root_->hiveRoot = true;
    root_->lastWriteTime = NowLocked();
    RegistryKey machine = AddChildLocked(root_, u"MACHINE", u"", true);
    AddChildLocked(machine, u"HARDWARE", u"", true);
    AddChildLocked(machine, u"SOFTWARE", u"", true);
    AddChildLocked(machine, u"SYSTEM", u"", true);
    RegistryKey users = AddChildLocked(root_, u"USER", u"", true);
    AddChildLocked(users, u".DEFAULT", u"", true);
    AddChildLocked(users, kCurrentUserSid, u"", true);

    // CurrentControlSet is a plain key here, not a link to ControlSet001.
    static const char16_t *const kSkeleton[] = {
        u"\\REGISTRY\\MACHINE\\HARDWARE\\DEVICEMAP",
        u"\\REGISTRY\\MACHINE\\SOFTWARE\\Classes",
        u"\\REGISTRY\\MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
        u"\\REGISTRY\\MACHINE\\SOFTWARE\\WOW6432Node",
        u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Class",
        u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum",
        u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Services",
    };
    for (const char16_t *path : kSkeleton) {
        RegistryKey key;
        ULONG disposition;
        CreateKey(nullptr, path, true, u"", &key, &disposition);
    }
    RegistryKey key;
    ULONG disposition;
    CreateKey(nullptr, CurrentUserPath() + u"\\SOFTWARE", false, u"", &key, &disposition);
}

RegistryStore::~RegistryStore() = default;

const std::u16string &RegistryStore::CurrentUserPath()
{
    static const std::u16string path = std::u16string(u"\\REGISTRY\\USER\\") + kCurrentUserSid;
    return path;
}

LONGLONG RegistryStore::NowLocked() const { return systemTime_ ? systemTime_() : 0; }

NTSTATUS RegistryStore::WalkLocked(const RegistryKey &base, std::u16string_view path,
                                   std::vector<std::u16string> *components,
                                   RegistryKey *start) const
{
    RegistryKey node;
    NTSTATUS status;
    if (base != nullptr) {
        if (base->deleted)
            return STATUS_KEY_DELETED;
        if (!path.empty() && path.front() == u'\\')
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        status = SplitPath(path, components);
        node = base;
    } else {
        if (path.empty() || path.front() != u'\\')
            return STATUS_OBJECT_PATH_SYNTAX_BAD;
        status = SplitPath(path.substr(1), components);
        if (NT_SUCCESS(status) && components->empty())
            status = STATUS_OBJECT_NAME_INVALID;
        if (NT_SUCCESS(status) && !EqualIgnoreCase(components->front(), root_->name))
            status = components->size() == 1 ? STATUS_OBJECT_NAME_NOT_FOUND
                                             : STATUS_OBJECT_PATH_NOT_FOUND;
        if (NT_SUCCESS(status))
            components->erase(components->begin());
        node = root_;
    }
    if (!NT_SUCCESS(status))
        return status;
    size_t found = 0;
    for (; found < components->size(); ++found) {
        auto child = node->children.find(Upcase((*components)[found]));
        if (child == node->children.end())
            break;
        node = child->second;
    }
    components->erase(components->begin(), components->begin() + found);
    *start = node;
    return STATUS_SUCCESS;
}

RegistryKey RegistryStore::AddChildLocked(const RegistryKey &parent, const std::u16string &name,
                                          std::u16string_view className, bool hiveRoot)
{
    auto node = std::make_shared<RegistryKeyNode>();
    node->name = name;
    node->parent = parent.get();
    node->className = className;
    node->hiveRoot = hiveRoot;
    node->lastWriteTime = NowLocked();
    parent->children[Upcase(name)] = node;
    parent->lastWriteTime = node->lastWriteTime;
    return node;
}

NTSTATUS RegistryStore::OpenKey(const RegistryKey &base, std::u16string_view path, RegistryKey *key)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::u16string> missing;
    RegistryKey found;
    NTSTATUS status = WalkLocked(base, path, &missing, &found);
    if (!NT_SUCCESS(status))
        return status;
    if (!missing.empty())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *key = found;
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::CreateKey(const RegistryKey &base, std::u16string_view path,
                                  bool createParents, std::u16string_view className,
                                  RegistryKey *key, ULONG *disposition)
{
    Callbacks fire;
    {
        std::lock_guard<std::mutex> guard(lock_);
        std::vector<std::u16string> missing;
        RegistryKey node;
        NTSTATUS status = WalkLocked(base, path, &missing, &node);
        if (!NT_SUCCESS(status))
            return status;
        if (missing.empty()) {
            *key = node;
            *disposition = REG_OPENED_EXISTING_KEY;
            return STATUS_SUCCESS;
        }
        if (missing.size() > 1 && !createParents)
            return STATUS_OBJECT_NAME_NOT_FOUND;
        for (size_t i = 0; i < missing.size(); ++i) {
            RegistryKey parent = node;
            node =
                AddChildLocked(parent, missing[i],
                               i + 1 == missing.size() ? className : std::u16string_view(), false);
            NotifyLocked(parent.get(), REG_NOTIFY_CHANGE_NAME, &fire);
        }
        *key = node;
        *disposition = REG_CREATED_NEW_KEY;
    }
    Run(fire);
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::DeleteKey(const RegistryKey &key) { return Delete(key, false); }

NTSTATUS RegistryStore::DeleteTree(const RegistryKey &key) { return Delete(key, true); }

NTSTATUS RegistryStore::Delete(const RegistryKey &key, bool withSubkeys)
{
    Callbacks fire;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (key->deleted)
            return STATUS_KEY_DELETED;
        if (withSubkeys ? SubtreeHasHiveRoot(*key) : key->hiveRoot || !key->children.empty())
            return STATUS_CANNOT_DELETE;
        RegistryKeyNode *parent = key->parent;
        parent->children.erase(Upcase(key->name));
        parent->lastWriteTime = NowLocked();
        MarkDeletedLocked(key.get(), &fire);
        NotifyLocked(parent, REG_NOTIFY_CHANGE_NAME, &fire);
    }
    Run(fire);
    return STATUS_SUCCESS;
}

void RegistryStore::MarkDeletedLocked(RegistryKeyNode *node, Callbacks *fire)
{
    for (auto &child : node->children)
        MarkDeletedLocked(child.second.get(), fire);
    node->children.clear();
    node->values.clear();
    node->deleted = true;
    node->parent = nullptr;
    for (auto &entry : watches_)
        if (entry.second.key.get() == node)
            FireWatchLocked(entry.second, fire);
}

RegistryKeyInfo RegistryStore::InfoLocked(const RegistryKeyNode &node) const
{
    RegistryKeyInfo info;
    info.name = node.name;
    info.path = PathOf(node);
    info.className = node.className;
    info.lastWriteTime = node.lastWriteTime;
    info.subKeys = static_cast<ULONG>(node.children.size());
    for (const auto &child : node.children) {
        info.maxSubKeyNameBytes =
            std::max(info.maxSubKeyNameBytes, Bytes(child.second->name.size()));
        info.maxClassBytes = std::max(info.maxClassBytes, Bytes(child.second->className.size()));
    }
    info.values = static_cast<ULONG>(node.values.size());
    for (const RegistryValue &value : node.values) {
        info.maxValueNameBytes = std::max(info.maxValueNameBytes, Bytes(value.name.size()));
        info.maxValueDataBytes =
            std::max(info.maxValueDataBytes, static_cast<ULONG>(value.data.size()));
    }
    return info;
}

NTSTATUS RegistryStore::QueryKey(const RegistryKey &key, RegistryKeyInfo *info)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return STATUS_KEY_DELETED;
    *info = InfoLocked(*key);
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::EnumerateKey(const RegistryKey &key, ULONG index, RegistryKeyInfo *info)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return STATUS_KEY_DELETED;
    if (index >= key->children.size())
        return STATUS_NO_MORE_ENTRIES;
    auto child = key->children.begin();
    std::advance(child, index);
    *info = InfoLocked(*child->second);
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::SetValue(const RegistryKey &key, std::u16string_view name, ULONG type,
                                 const void *data, size_t bytes)
{
    Callbacks fire;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (key->deleted)
            return STATUS_KEY_DELETED;
        if (name.size() > kMaximumValueNameChars)
            return STATUS_INVALID_PARAMETER;
        auto value = key->FindValue(name);
        if (value == key->values.end()) {
            key->values.push_back({std::u16string(name), type, {}});
            value = key->values.end() - 1;
        }
        value->type = type;
        const auto *first = static_cast<const UCHAR *>(data);
        value->data.assign(first, first + bytes);
        key->lastWriteTime = NowLocked();
        NotifyLocked(key.get(), REG_NOTIFY_CHANGE_LAST_SET, &fire);
    }
    Run(fire);
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::QueryValue(const RegistryKey &key, std::u16string_view name,
                                   RegistryValue *value)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return STATUS_KEY_DELETED;
    auto found = key->FindValue(name);
    if (found == key->values.end())
        return STATUS_OBJECT_NAME_NOT_FOUND;
    *value = *found;
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::EnumerateValue(const RegistryKey &key, ULONG index, RegistryValue *value)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (key->deleted)
        return STATUS_KEY_DELETED;
    if (index >= key->values.size())
        return STATUS_NO_MORE_ENTRIES;
    *value = key->values[index];
    return STATUS_SUCCESS;
}

NTSTATUS RegistryStore::DeleteValue(const RegistryKey &key, std::u16string_view name)
{
    Callbacks fire;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (key->deleted)
            return STATUS_KEY_DELETED;
        auto found = key->FindValue(name);
        if (found == key->values.end())
            return STATUS_OBJECT_NAME_NOT_FOUND;
        key->values.erase(found);
        key->lastWriteTime = NowLocked();
        NotifyLocked(key.get(), REG_NOTIFY_CHANGE_LAST_SET, &fire);
    }
    Run(fire);
    return STATUS_SUCCESS;
}

RegistryStore::WatchId RegistryStore::CreateWatch(const RegistryKey &key, bool subtree,
                                                  ULONG filter)
{
    std::lock_guard<std::mutex> guard(lock_);
    WatchId id = nextWatch_++;
    Watch &watch = watches_[id];
    watch.key = key;
    watch.subtree = subtree;
    watch.filter = filter;
    return id;
}

void RegistryStore::ArmWatch(WatchId id, std::function<void()> fire)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        Watch &watch = watches_.at(id);
        if (!watch.pending && !watch.key->deleted) {
            watch.armed.push_back(std::move(fire));
            return;
        }
        watch.pending = false;
    }
    fire();
}

void RegistryStore::CloseWatch(WatchId id)
{
    Callbacks fire;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto found = watches_.find(id);
        if (found == watches_.end())
            return;
        fire.swap(found->second.armed);
        watches_.erase(found);
    }
    Run(fire);
}

void RegistryStore::NotifyLocked(RegistryKeyNode *changed, ULONG filter, Callbacks *fire)
{
    for (auto &entry : watches_) {
        Watch &watch = entry.second;
        if ((watch.filter & filter) == 0)
            continue;
        if (watch.key.get() == changed || (watch.subtree && IsAncestor(watch.key.get(), changed)))
            FireWatchLocked(watch, fire);
    }
}

void RegistryStore::FireWatchLocked(Watch &watch, Callbacks *fire)
{
    if (watch.armed.empty()) {
        watch.pending = true;
        return;
    }
    for (auto &callback : watch.armed)
        fire->push_back(std::move(callback));
    watch.armed.clear();
}

void RegistryStore::Run(Callbacks &fire)
{
    for (auto &callback : fire)
        callback();
}

// ----- Helpers

NTSTATUS RegistryStore::SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
                                 const std::vector<UCHAR> &bytes)
{
    RegistryKey key;
    ULONG disposition;
    NTSTATUS status = CreateKey(nullptr, path, true, u"", &key, &disposition);
    if (!NT_SUCCESS(status))
        return status;
    return SetValue(key, name, type, bytes.data(), bytes.size());
}

NTSTATUS RegistryStore::SetDword(std::u16string_view path, std::u16string_view name, ULONG value)
{
    std::vector<UCHAR> bytes(sizeof value);
    for (size_t i = 0; i < sizeof value; ++i)
        bytes[i] = static_cast<UCHAR>(value >> (8 * i));
    return SetValue(path, name, REG_DWORD, bytes);
}

NTSTATUS RegistryStore::SetString(std::u16string_view path, std::u16string_view name,
                                  std::u16string_view text)
{
    return SetValue(path, name, REG_SZ, ToUtf16Bytes(std::u16string(text) + u'\0'));
}

std::optional<RegistryValue> RegistryStore::GetValue(std::u16string_view path,
                                                     std::u16string_view name)
{
    RegistryKey key;
    RegistryValue value;
    if (!NT_SUCCESS(OpenKey(nullptr, path, &key)) || !NT_SUCCESS(QueryValue(key, name, &value)))
        return std::nullopt;
    return value;
}

bool RegistryStore::KeyExists(std::u16string_view path)
{
    RegistryKey key;
    return NT_SUCCESS(OpenKey(nullptr, path, &key));
}

NTSTATUS RegistryStore::DeleteKeyTree(std::u16string_view path)
{
    RegistryKey key;
    NTSTATUS status = OpenKey(nullptr, path, &key);
    return NT_SUCCESS(status) ? DeleteTree(key) : status;
}

} // namespace host
