#include "registry_key_object.h"

#include "machine.h"
#include "wide_string.h"

namespace host {

KeyObject::KeyObject(RegistryStore &store, RegistryKey key) : store_(store), key_(std::move(key)) {}

KeyObject::~KeyObject()
{
    if (watch_ != 0)
        store_.CloseWatch(watch_);
}

void KeyObject::NotifyChange(bool subtree, ULONG filter, std::function<void()> fire)
{
    RegistryStore::WatchId watch;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (watch_ == 0)
            watch_ = store_.CreateWatch(key_, subtree, filter);
        watch = watch_;
    }
    store_.ArmWatch(watch, std::move(fire));
}

NTSTATUS KeyAccessFromRequest(ACCESS_MASK desired, ACCESS_MASK *access)
{
    if ((desired & KEY_WOW64_RES) == KEY_WOW64_RES)
        return STATUS_INVALID_PARAMETER;
    desired &= ~KEY_WOW64_RES;
    if (desired & MAXIMUM_ALLOWED)
        desired = (desired & ~MAXIMUM_ALLOWED) | KEY_ALL_ACCESS;
    *access = desired;
    return STATUS_SUCCESS;
}

NTSTATUS OpenKeyHandle(Machine &machine, const RegistryKey &key, ACCESS_MASK access,
                       bool kernelHandle, PHANDLE handle)
{
    RegistryKeyInfo info;
    NTSTATUS status = machine.Registry().QueryKey(key, &info);
    if (!NT_SUCCESS(status))
        return status;
    KeyObject *object =
        CreateObject<KeyObject>(machine, TypeKey, ToUtf8(info.path), machine.Registry(), key);
    PKPROCESS owner =
        kernelHandle ? machine.SystemProcess() : CurrentThread("OpenKeyHandle")->process;
    *handle = owner->handles.Insert(object, access);
    ObfDereferenceObject(object); // the handle holds the object now
    return *handle != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

NTSTATUS ReferenceKey(HANDLE handle, ACCESS_MASK desired, const char *entryPoint, KeyObject **key)
{
    PKTHREAD thread = CurrentThread(entryPoint);
    PKPROCESS owner = IsKernelHandle(handle) ? thread->machine->SystemProcess() : thread->process;
    PVOID body = nullptr;
    ACCESS_MASK granted = 0;
    NTSTATUS status = owner->handles.Reference(handle, &body, &granted);
    if (!NT_SUCCESS(status))
        return status;
    if (HeaderOfObject(body)->type != TypeKey) {
        ObfDereferenceObject(body);
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    if ((granted & desired) != desired) {
        ObfDereferenceObject(body);
        return STATUS_ACCESS_DENIED;
    }
    *key = static_cast<KeyObject *>(body);
    return STATUS_SUCCESS;
}

} // namespace host
