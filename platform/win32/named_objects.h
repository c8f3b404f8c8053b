// The object namespaces of named events and mutexes: \BaseNamedObjects ("Global\" names) and the
// logged-on user's session namespace (plain and "Local\" names), shared by every process of the
// machine. Names compare case-sensitively. A name lives as long as the object has handles: once
// the last handle closes, the name is free again (the object may live on, referenced by a
// driver, but no longer under that name).
#pragma once

#include <wdm/ob.h>

#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace host::win32 {

class NamedObjects {
public:
    NamedObjects() = default;
    ~NamedObjects(); // drops what it still holds
    NamedObjects(const NamedObjects &) = delete;
    NamedObjects &operator=(const NamedObjects &) = delete;

    // Opens the object of that name, or makes one with `make` (which returns a new object with
    // one reference for the namespace). Either way `open` runs under the namespace lock and
    // returns a handle to the object (so the name cannot vanish in between). Statuses:
    // STATUS_SUCCESS (made), STATUS_OBJECT_NAME_EXISTS (opened), STATUS_OBJECT_TYPE_MISMATCH
    // (another kind of object has the name), STATUS_OBJECT_PATH_NOT_FOUND (a bad prefix or a
    // backslash), or the status `make` or `open` failed with.
    NTSTATUS CreateOrOpen(const std::u16string &name, POBJECT_TYPE type,
                          const std::function<PVOID()> &make,
                          const std::function<NTSTATUS(PVOID)> &open);
    // Opens an existing object only: STATUS_OBJECT_NAME_NOT_FOUND if there is none.
    NTSTATUS Open(const std::u16string &name, POBJECT_TYPE type,
                  const std::function<NTSTATUS(PVOID)> &open);

private:
    // The full object name (\BaseNamedObjects\x or \Sessions\1\BaseNamedObjects\x).
    static NTSTATUS FullName(const std::u16string &name, std::u16string *full);
    // The live object of a name, dropping the entry if its last handle has closed; lock held.
    PVOID LookupLocked(const std::u16string &full);

    std::mutex lock_;
    std::map<std::u16string, PVOID> objects_; // each holds one reference
};

} // namespace host::win32
