// What every Win32 entry point starts from: the calling emulated thread, its machine, the Win32
// subsystem and the caller's process record; and references to the objects behind the caller's
// handles.
#pragma once

#include "kernel/machine.h"
#include "process_record.h"
#include "win32_subsystem.h"

namespace host::win32 {

struct Caller {
    PKTHREAD thread;
    Machine &machine;
    Subsystem &win32;
    ProcessRecord &process;
};

// User-mode code runs only on emulated threads; an unattached caller ends the run.
Caller CallerOf(const char *entryPoint);

// The object behind a handle of the calling process, with the type and access Windows checks
// (a null type accepts any), referenced until the scope ends.
class HandleReference {
public:
    HandleReference() = default;
    ~HandleReference();
    HandleReference(const HandleReference &) = delete;
    HandleReference &operator=(const HandleReference &) = delete;

    // ObReferenceObjectByHandle from user mode; the status says why not.
    NTSTATUS Reference(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type);
    // The same for a Win32 entry point: a failure becomes the thread's last error.
    bool ReferenceOrSetError(HANDLE handle, ACCESS_MASK access, POBJECT_TYPE type);
    PVOID Body() const { return body_; }
    template <class T>
    T *As() const
    {
        return static_cast<T *>(body_);
    }
    POBJECT_TYPE Type() const;

private:
    PVOID body_ = nullptr;
};

} // namespace host::win32
