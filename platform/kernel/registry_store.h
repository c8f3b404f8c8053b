// The machine-wide registry: one thread-safe tree of keys under \REGISTRY (MACHINE and USER),
// seen by the kernel's Zw*/Rtl*/IoOpenDeviceRegistryKey entry points and by user mode's Reg*
// calls. Names are case-insensitive UTF-16; values keep their type and the exact bytes written
// (a REG_SZ written without its terminating zero stays so). Each open key can carry one change
// watch (its notify block), which RegNotifyChangeKeyValue-style callers arm and re-arm.
#pragma once

#include <wdm/zw.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

class RegistryKeyNode; // one key of the tree; opaque outside the store
using RegistryKey = std::shared_ptr<RegistryKeyNode>;

struct RegistryValue {
    std::u16string name; // as written; empty: the key's default value
    ULONG type = REG_NONE;
    std::vector<UCHAR> data;
};

struct RegistryKeyInfo {
    std::u16string name; // last component, as created
    std::u16string path; // full kernel path, e.g. \REGISTRY\MACHINE\SOFTWARE\ZEL
    std::u16string className;
    LONGLONG lastWriteTime = 0; // system time, 100 ns units since 1601
    ULONG subKeys = 0;
    ULONG maxSubKeyNameBytes = 0;
    ULONG maxClassBytes = 0;
    ULONG values = 0;
    ULONG maxValueNameBytes = 0;
    ULONG maxValueDataBytes = 0;
};

class RegistryStore {
public:
    // systemTime supplies last-write times; without it they stay 0.
    explicit RegistryStore(std::function<LONGLONG()> systemTime = nullptr);
    ~RegistryStore();
    RegistryStore(const RegistryStore &) = delete;
    RegistryStore &operator=(const RegistryStore &) = delete;

    // \REGISTRY\USER\<sid> of the machine's one interactive user (HKEY_CURRENT_USER).
    static const std::u16string &CurrentUserPath();

    // ----- Keys. With a null base the path is absolute ("\Registry\Machine\..."); otherwise it
    // is relative to base, and an empty path names base itself. A missing component is
    // STATUS_OBJECT_NAME_NOT_FOUND; an empty component STATUS_OBJECT_NAME_INVALID.
    NTSTATUS OpenKey(const RegistryKey &base, std::u16string_view path, RegistryKey *key);
    // Creates the last component (its parent must exist), or with createParents every missing
    // one. disposition: REG_CREATED_NEW_KEY or REG_OPENED_EXISTING_KEY.
    NTSTATUS CreateKey(const RegistryKey &base, std::u16string_view path, bool createParents,
                       std::u16string_view className, RegistryKey *key, ULONG *disposition);
    // Deletes a key without subkeys (else STATUS_CANNOT_DELETE, as for hive roots). Open
    // references stay valid; every operation on them then fails with STATUS_KEY_DELETED.
    NTSTATUS DeleteKey(const RegistryKey &key);
    // Deletes a key and all its subkeys.
    NTSTATUS DeleteTree(const RegistryKey &key);
    NTSTATUS QueryKey(const RegistryKey &key, RegistryKeyInfo *info);
    // Subkeys in the registry's order (case-insensitive by name); STATUS_NO_MORE_ENTRIES past
    // the last one.
    NTSTATUS EnumerateKey(const RegistryKey &key, ULONG index, RegistryKeyInfo *info);

    // ----- Values
    NTSTATUS SetValue(const RegistryKey &key, std::u16string_view name, ULONG type,
                      const void *data, size_t bytes);
    NTSTATUS QueryValue(const RegistryKey &key, std::u16string_view name, RegistryValue *value);
    // Values in the order they were first written.
    NTSTATUS EnumerateValue(const RegistryKey &key, ULONG index, RegistryValue *value);
    NTSTATUS DeleteValue(const RegistryKey &key, std::u16string_view name);

    // ----- Change notification. A watch belongs to one open key and lives until CloseWatch.
    // Changes it matches (REG_NOTIFY_CHANGE_NAME: subkeys added or deleted; _LAST_SET: values
    // written or deleted; with subtree, anywhere below the key too; deleting the key itself
    // always matches) fire the armed callback once, or are remembered until the next arm.
    using WatchId = ULONGLONG;
    WatchId CreateWatch(const RegistryKey &key, bool subtree, ULONG filter);
    // Arms the watch; fire runs (without the store's lock held) at the next matching change, or
    // at once if one happened since the last firing or the key is deleted.
    void ArmWatch(WatchId id, std::function<void()> fire);
    // Ends the watch; an armed callback fires (closing a watched key wakes its waiter).
    void CloseWatch(WatchId id);

    // ----- Helpers for tests, device models and the machine's set-up; absolute paths, keys
    // created as needed.
    [[nodiscard]] NTSTATUS SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
                                    const std::vector<UCHAR> &bytes);
    [[nodiscard]] NTSTATUS SetDword(std::u16string_view path, std::u16string_view name,
                                    ULONG value);
    // REG_SZ with its terminating zero.
    [[nodiscard]] NTSTATUS SetString(std::u16string_view path, std::u16string_view name,
                                     std::u16string_view text);
    std::optional<RegistryValue> GetValue(std::u16string_view path, std::u16string_view name);
    bool KeyExists(std::u16string_view path);
    // Deletes a key with its subkeys; STATUS_OBJECT_NAME_NOT_FOUND if it does not exist.
    [[nodiscard]] NTSTATUS DeleteKeyTree(std::u16string_view path);

private:
    struct Watch {
        RegistryKey key;
        bool subtree = false;
        ULONG filter = 0;
        bool pending = false;                     // a change arrived while not armed
        std::vector<std::function<void()>> armed; // one per outstanding arm
    };
    using Callbacks = std::vector<std::function<void()>>;

    NTSTATUS Delete(const RegistryKey &key, bool withSubkeys);
    LONGLONG NowLocked() const;
    NTSTATUS WalkLocked(const RegistryKey &base, std::u16string_view path,
                        std::vector<std::u16string> *components, RegistryKey *start) const;
    RegistryKey AddChildLocked(const RegistryKey &parent, const std::u16string &name,
                               std::u16string_view className, bool hiveRoot);
    void MarkDeletedLocked(RegistryKeyNode *node, Callbacks *fire);
    void NotifyLocked(RegistryKeyNode *changed, ULONG filter, Callbacks *fire);
    void FireWatchLocked(Watch &watch, Callbacks *fire);
    RegistryKeyInfo InfoLocked(const RegistryKeyNode &node) const;
    static void Run(Callbacks &fire);

    std::function<LONGLONG()> systemTime_;
    std::mutex lock_;
    RegistryKey root_;
    std::map<WatchId, Watch> watches_;
    WatchId nextWatch_ = 1;
};

} // namespace host
