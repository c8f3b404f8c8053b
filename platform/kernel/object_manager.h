// Object manager: every kernel object (thread, process, event, file, key, ...) carries a header
// with its type and reference counts; handle tables map per-process handles to objects.
#pragma once

#include <wdm/ob.h>

#include <atomic>
#include <map>
#include <mutex>
#include <new>
#include <string>
#include <utility>

// The object types Windows exports (ExEventObjectType, PsThreadType, ...) point at these.
struct _OBJECT_TYPE {
    const char *Name;
    GENERIC_MAPPING Mapping;
    ACCESS_MASK ValidAccess;
};

namespace host {

class Machine;

struct ObjectHeader {
    static constexpr ULONG kMagic = 0x4f626a48; // "ObjH"
    ULONG magic = kMagic;
    std::atomic<LONG_PTR> pointerCount{1};
    std::atomic<LONG_PTR> handleCount{0};
    POBJECT_TYPE type = nullptr;
    Machine *machine = nullptr;
    std::string name;
    void (*destroy)(ObjectHeader *header) = nullptr;
    // Called when the object's last handle closes, before that handle's reference goes (a file
    // object's cleanup request).
    void (*lastHandleClosed)(ObjectHeader *header) = nullptr;
    ObjectHeader *prev = nullptr; // the machine's list of live objects
    ObjectHeader *next = nullptr;

    void *Body() { return reinterpret_cast<char *>(this) + BodyOffset(); }
    static constexpr size_t BodyOffset() { return (sizeof(ObjectHeader) + 15) & ~size_t(15); }
};

// Returns the header of an object body, or null (with a verifier report) if the pointer is not
// an object.
ObjectHeader *HeaderOfObject(PVOID body);

// Object types Windows does not export by name but the emulation needs.
extern POBJECT_TYPE TypeMutant;
extern POBJECT_TYPE TypeKey;
extern POBJECT_TYPE TypeDevice;
extern POBJECT_TYPE TypeDriver;
extern POBJECT_TYPE TypeSection;

void RegisterLiveObject(Machine &machine, ObjectHeader *header);
void UnregisterLiveObject(ObjectHeader *header);

// Creates an object of C++ type T with one pointer reference owned by the caller.
template <class T, class... Args>
T *CreateObject(Machine &machine, POBJECT_TYPE type, const std::string &name, Args &&...args)
{
    void *raw = ::operator new(ObjectHeader::BodyOffset() + sizeof(T), std::align_val_t(16));
    auto *header = new (raw) ObjectHeader();
    header->type = type;
    header->machine = &machine;
    header->name = name;
    header->destroy = [](ObjectHeader *h) {
        static_cast<T *>(h->Body())->~T();
        h->~ObjectHeader();
        ::operator delete(static_cast<void *>(h), std::align_val_t(16));
    };
    T *body = new (header->Body()) T(std::forward<Args>(args)...);
    RegisterLiveObject(machine, header);
    return body;
}

// A handle table of one process. Kernel handles (OBJ_KERNEL_HANDLE) live in the system process's
// table and have the top bit set, as on Windows.
class HandleTable {
public:
    explicit HandleTable(bool kernelTable) : kernel_(kernelTable) {}
    ~HandleTable();

    // Takes a new handle reference on the object (the caller keeps its own pointer reference).
    HANDLE Insert(PVOID body, ACCESS_MASK granted);
    // Returns the object with a new pointer reference, or an error status.
    NTSTATUS Reference(HANDLE handle, PVOID *body, ACCESS_MASK *granted);
    NTSTATUS Close(HANDLE handle);
    // Closes every handle (process exit); returns how many were open.
    size_t CloseAll();
    size_t Count() const;
    // Describes the open handles, for leak reports.
    std::string Describe() const;

private:
    // Drops one handle of the object (and the reference the handle held).
    static void CloseOne(PVOID body);
    struct Entry {
        PVOID body;
        ACCESS_MASK granted;
    };
    bool kernel_;
    mutable std::mutex lock_;
    std::map<ULONG_PTR, Entry> entries_;
    ULONG_PTR next_ = 4;
};

bool IsKernelHandle(HANDLE handle);

} // namespace host
