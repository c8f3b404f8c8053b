#include "caller.h"

#include "status_errors.h"

#include "kernel/object_manager.h"

namespace host::win32 {

Caller CallerOf(const char *entryPoint)
{
    PKTHREAD thread = CurrentThread(entryPoint);
    Subsystem &win32 = Subsystem::Of(*thread->machine);
    return {thread, *thread->machine, win32, win32.Process(thread->process)};
}

HandleReference::~HandleReference()
{
    if (body_ != nullptr)
        ObfDereferenceObject(body_);
}

NTSTATUS HandleReference::Reference(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type)
{
    return ObReferenceObjectByHandle(handle, access, type, UserMode, &body_, nullptr);
}

bool HandleReference::ReferenceOrSetError(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type)
{
    NTSTATUS status = Reference(handle, access, type);
    if (!NT_SUCCESS(status))
        SetLastErrorFromStatus(status);
    return NT_SUCCESS(status);
}

POBJECT_TYPE HandleReference::Type() const { return HeaderOfObject(body_)->type; }

} // namespace host::win32
