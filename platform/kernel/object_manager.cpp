#include "object_manager.h"

#include "emulated_thread.h"
#include "machine.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace {

_OBJECT_TYPE eventType{"Event", {0x20001, 0x20002, 0x120000, 0x1f0003}, 0x1f0003};
_OBJECT_TYPE semaphoreType{"Semaphore", {0x20001, 0x20002, 0x120000, 0x1f0003}, 0x1f0003};
_OBJECT_TYPE threadType{"Thread", {0x20048, 0x20037, 0x121800, 0x1fffff}, 0x1fffff};
_OBJECT_TYPE processType{"Process", {0x20410, 0x20beb, 0x121000, 0x1fffff}, 0x1fffff};
_OBJECT_TYPE fileType{"File", {0x120089, 0x120116, 0x1200a0, 0x1f01ff}, 0x1f01ff};
_OBJECT_TYPE mutantType{"Mutant", {0x20001, 0x20000, 0x120000, 0x1f0001}, 0x1f0001};
_OBJECT_TYPE keyType{"Key", {0x20019, 0x20006, 0x20019, 0xf003f}, 0xf013f};
_OBJECT_TYPE deviceType{"Device", {0x120089, 0x120116, 0x1200a0, 0x1f01ff}, 0x1f01ff};
_OBJECT_TYPE driverType{"Driver", {0x20000, 0x20000, 0x20000, 0x1f01ff}, 0x1f01ff};
_OBJECT_TYPE sectionType{"Section", {0x20005, 0x20002, 0x20008, 0xf001f}, 0xf001f};

POBJECT_TYPE eventTypePtr = &eventType;
POBJECT_TYPE semaphoreTypePtr = &semaphoreType;
POBJECT_TYPE threadTypePtr = &threadType;
POBJECT_TYPE processTypePtr = &processType;
POBJECT_TYPE fileTypePtr = &fileType;

constexpr ULONG_PTR kKernelHandleBit = ULONG_PTR(1) << 63;
// The low two bits of a handle value are free for the application's own use (tag bits, e.g. the
// bit an OVERLAPPED event carries to keep a completion off its port); lookups ignore them.
constexpr ULONG_PTR kHandleTagBits = 3;

ULONG_PTR TableIndex(HANDLE handle)
{
    return reinterpret_cast<ULONG_PTR>(handle) & ~(kKernelHandleBit | kHandleTagBits);
}

host::Machine *MachineOf(host::ObjectHeader *header) { return header->machine; }

ACCESS_MASK MapGeneric(POBJECT_TYPE type, ACCESS_MASK access)
{
    if (access & GENERIC_READ)
        access |= type->Mapping.GenericRead;
    if (access & GENERIC_WRITE)
        access |= type->Mapping.GenericWrite;
    if (access & GENERIC_EXECUTE)
        access |= type->Mapping.GenericExecute;
    if (access & GENERIC_ALL)
        access |= type->Mapping.GenericAll;
    return access & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

} // namespace

extern "C" {
POBJECT_TYPE *ExEventObjectType = &eventTypePtr;
POBJECT_TYPE *ExSemaphoreObjectType = &semaphoreTypePtr;
POBJECT_TYPE *PsThreadType = &threadTypePtr;
POBJECT_TYPE *PsProcessType = &processTypePtr;
POBJECT_TYPE *IoFileObjectType = &fileTypePtr;
}

namespace host {

POBJECT_TYPE TypeMutant = &mutantType;
POBJECT_TYPE TypeKey = &keyType;
POBJECT_TYPE TypeDevice = &deviceType;
POBJECT_TYPE TypeDriver = &driverType;
POBJECT_TYPE TypeSection = &sectionType;

ObjectHeader *HeaderOfObject(PVOID body)
{
    if (body == nullptr)
        return nullptr;
    auto *header =
        reinterpret_cast<ObjectHeader *>(static_cast<char *>(body) - ObjectHeader::BodyOffset());
    if (header->magic != ObjectHeader::kMagic) {
        if (Machine *machine = Machine::Current()) {
            char text[96];
            std::snprintf(text, sizeof text, "%p is not an object body", body);
            machine->Checks().Report(VerifierCheck::Usage, text);
        }
        return nullptr;
    }
    return header;
}

void RegisterLiveObject(Machine &machine, ObjectHeader *header)
{
    std::lock_guard<std::mutex> guard(machine.ObjectsLock());
    ObjectHeader *&head = machine.LiveObjects();
    header->next = head;
    header->prev = nullptr;
    if (head != nullptr)
        head->prev = header;
    head = header;
}

void UnregisterLiveObject(ObjectHeader *header)
{
    Machine &machine = *MachineOf(header);
    std::lock_guard<std::mutex> guard(machine.ObjectsLock());
    if (header->prev != nullptr)
        header->prev->next = header->next;
    else
        machine.LiveObjects() = header->next;
    if (header->next != nullptr)
        header->next->prev = header->prev;
}

void FreeObjectStorage(ObjectHeader *header)
{
    header->~ObjectHeader();
    ::operator delete(static_cast<void *>(header), std::align_val_t(16));
}

void ReclaimLiveObjects(Machine &machine)
{
    std::vector<ObjectHeader *> left;
    {
        std::lock_guard<std::mutex> guard(machine.ObjectsLock());
        for (ObjectHeader *h = machine.LiveObjects(); h != nullptr; h = h->next) {
            h->pointerCount.fetch_add(1); // no reference a destructor drops can end it early
            h->reclaimed = true;
            left.push_back(h);
        }
        machine.LiveObjects() = nullptr;
    }
    for (ObjectHeader *h : left)
        h->destruct(h);
    for (ObjectHeader *h : left)
        FreeObjectStorage(h);
}

bool IsKernelHandle(HANDLE handle)
{
    return (reinterpret_cast<ULONG_PTR>(handle) & kKernelHandleBit) != 0 &&
           handle != NtCurrentProcess() && handle != NtCurrentThread();
}

HandleTable::~HandleTable() { CloseAll(); }

HANDLE HandleTable::Insert(PVOID body, ACCESS_MASK granted)
{
    ObjectHeader *header = HeaderOfObject(body);
    if (header == nullptr)
        return nullptr;
    header->pointerCount.fetch_add(1);
    header->handleCount.fetch_add(1);
    std::lock_guard<std::mutex> guard(lock_);
    ULONG_PTR value = next_;
    next_ += 4;
    entries_[value] = {body, MapGeneric(header->type, granted)};
    return reinterpret_cast<HANDLE>(kernel_ ? (value | kKernelHandleBit) : value);
}

NTSTATUS HandleTable::Reference(HANDLE handle, PVOID *body, ACCESS_MASK *granted)
{
    ULONG_PTR value = TableIndex(handle);
    std::lock_guard<std::mutex> guard(lock_);
    auto it = entries_.find(value);
    if (it == entries_.end())
        return STATUS_INVALID_HANDLE;
    HeaderOfObject(it->second.body)->pointerCount.fetch_add(1);
    *body = it->second.body;
    *granted = it->second.granted;
    return STATUS_SUCCESS;
}

NTSTATUS HandleTable::Close(HANDLE handle)
{
    ULONG_PTR value = TableIndex(handle);
    PVOID body;
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = entries_.find(value);
        if (it == entries_.end())
            return STATUS_INVALID_HANDLE;
        body = it->second.body;
        entries_.erase(it);
    }
    CloseOne(body);
    return STATUS_SUCCESS;
}

void HandleTable::CloseOne(PVOID body)
{
    ObjectHeader *header = HeaderOfObject(body);
    if (header->handleCount.fetch_sub(1) == 1 && header->lastHandleClosed != nullptr)
        header->lastHandleClosed(header);
    ObfDereferenceObject(body);
}

size_t HandleTable::CloseAll()
{
    std::map<ULONG_PTR, Entry> entries;
    {
        std::lock_guard<std::mutex> guard(lock_);
        entries.swap(entries_);
    }
    // Newest first, the way a process's handles are swept at exit.
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        CloseOne(it->second.body);
    return entries.size();
}

size_t HandleTable::Count() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return entries_.size();
}

std::string HandleTable::Describe() const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::ostringstream out;
    for (auto &[value, entry] : entries_) {
        ObjectHeader *header = HeaderOfObject(entry.body);
        out << " [0x" << std::hex << value << std::dec << " " << header->type->Name;
        if (!header->name.empty())
            out << " '" << header->name << "'";
        out << "]";
    }
    return out.str();
}

} // namespace host

using host::HeaderOfObject;
using host::ObjectHeader;

extern "C" {

LONG_PTR ObfReferenceObject(PVOID Object)
{
    ObjectHeader *header = HeaderOfObject(Object);
    if (header == nullptr)
        return 0;
    return header->pointerCount.fetch_add(1) + 1;
}

LONG_PTR ObfDereferenceObject(PVOID Object)
{
    ObjectHeader *header = HeaderOfObject(Object);
    if (header == nullptr)
        return 0;
    LONG_PTR left = header->pointerCount.fetch_sub(1) - 1;
    if (left < 0) {
        header->machine->Checks().Report(host::VerifierCheck::ObjectLeak,
                                         std::string("reference count of ") + header->type->Name +
                                             " object went below zero");
        return left;
    }
    if (left == 0) {
        host::UnregisterLiveObject(header);
        header->destruct(header);
        host::FreeObjectStorage(header);
    }
    return left;
}

NTSTATUS ObReferenceObjectByHandle(HANDLE Handle, ACCESS_MASK DesiredAccess,
                                   POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode,
                                   PVOID *Object, POBJECT_HANDLE_INFORMATION HandleInformation)
{
    PKTHREAD thread = host::CurrentThread("ObReferenceObjectByHandle");
    *Object = nullptr;
    PVOID body = nullptr;
    ACCESS_MASK granted = 0;
    if (Handle == NtCurrentThread() || Handle == NtCurrentProcess()) {
        body = Handle == NtCurrentThread() ? static_cast<PVOID>(thread)
                                           : static_cast<PVOID>(thread->process);
        granted = THREAD_ALL_ACCESS;
        ObfReferenceObject(body);
    } else {
        bool kernelHandle = host::IsKernelHandle(Handle);
        if (kernelHandle && AccessMode == UserMode)
            return STATUS_INVALID_HANDLE; // user mode cannot name kernel handles
        PKPROCESS owner = kernelHandle ? thread->machine->SystemProcess() : thread->process;
        NTSTATUS status = owner->handles.Reference(Handle, &body, &granted);
        if (!NT_SUCCESS(status))
            return status;
    }
    ObjectHeader *header = HeaderOfObject(body);
    if (ObjectType != nullptr && header->type != ObjectType) {
        ObfDereferenceObject(body);
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    // Kernel-mode callers are trusted; user-mode callers get what the handle was opened with.
    if (AccessMode == UserMode) {
        ACCESS_MASK wanted = MapGeneric(header->type, DesiredAccess);
        if ((granted & wanted) != wanted) {
            ObfDereferenceObject(body);
            return STATUS_ACCESS_DENIED;
        }
    }
    if (HandleInformation != nullptr) {
        HandleInformation->HandleAttributes = 0;
        HandleInformation->GrantedAccess = granted;
    }
    *Object = body;
    return STATUS_SUCCESS;
}

NTSTATUS ObReferenceObjectByPointer(PVOID Object, ACCESS_MASK DesiredAccess,
                                    POBJECT_TYPE ObjectType, KPROCESSOR_MODE AccessMode)
{
    (void)DesiredAccess;
    (void)AccessMode;
    ObjectHeader *header = HeaderOfObject(Object);
    if (header == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (ObjectType != nullptr && header->type != ObjectType)
        return STATUS_OBJECT_TYPE_MISMATCH;
    header->pointerCount.fetch_add(1);
    return STATUS_SUCCESS;
}

NTSTATUS ZwClose(HANDLE Handle)
{
    PKTHREAD thread = host::CurrentThread("ZwClose");
    PKPROCESS owner =
        host::IsKernelHandle(Handle) ? thread->machine->SystemProcess() : thread->process;
    return owner->handles.Close(Handle);
}

} // extern "C"
