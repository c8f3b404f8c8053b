// System threads: PsCreateSystemThread starts an emulated thread in the system process; its
// handle and object follow the object manager's rules.
#include "machine.h"

namespace host {
void RunThreadBody(const std::function<void()> &body, PKTHREAD thread);
} // namespace host

void host::RunThreadBody(const std::function<void()> &body, PKTHREAD thread)
{
    try {
        body();
    } catch (const ThreadExit &exit) {
        thread->exitStatus = exit.status;
    }
}

extern "C" {

NTSTATUS PsCreateSystemThread(PHANDLE ThreadHandle, ULONG DesiredAccess,
                              POBJECT_ATTRIBUTES ObjectAttributes, HANDLE ProcessHandle,
                              PCLIENT_ID ClientId, PKSTART_ROUTINE StartRoutine, PVOID StartContext)
{
    PKTHREAD caller = host::CurrentThread("PsCreateSystemThread");
    host::Machine &machine = *caller->machine;
    if (caller->irql != PASSIVE_LEVEL)
        machine.Checks().Report(host::VerifierCheck::Irql,
                                "PsCreateSystemThread above PASSIVE_LEVEL");
    if (ThreadHandle == nullptr || StartRoutine == nullptr)
        return STATUS_INVALID_PARAMETER;
    if (ProcessHandle != nullptr && ProcessHandle != NtCurrentProcess())
        return STATUS_NOT_IMPLEMENTED; // threads in other processes are not emulated
    PKTHREAD thread =
        machine.StartThread("system thread", machine.SystemProcess(),
                            [StartRoutine, StartContext] { StartRoutine(StartContext); });
    // Without OBJ_KERNEL_HANDLE the handle lands in the caller's process, as on Windows.
    bool kernelHandle =
        ObjectAttributes != nullptr && (ObjectAttributes->Attributes & OBJ_KERNEL_HANDLE) != 0;
    PKPROCESS owner = kernelHandle ? machine.SystemProcess() : caller->process;
    *ThreadHandle = owner->handles.Insert(thread, DesiredAccess);
    if (ClientId != nullptr) {
        ClientId->UniqueProcess = reinterpret_cast<HANDLE>(ULONG_PTR(machine.SystemProcess()->id));
        ClientId->UniqueThread = reinterpret_cast<HANDLE>(ULONG_PTR(thread->id));
    }
    ObfDereferenceObject(thread);
    return STATUS_SUCCESS;
}

NTSTATUS PsTerminateSystemThread(NTSTATUS ExitStatus)
{
    PKTHREAD thread = host::CurrentThread("PsTerminateSystemThread");
    if (thread->foreground) {
        thread->machine->Checks().Report(host::VerifierCheck::Usage,
                                         "PsTerminateSystemThread from a thread that is not a "
                                         "system thread");
        return STATUS_INVALID_PARAMETER;
    }
    throw host::ThreadExit{ExitStatus};
}

PKTHREAD KeGetCurrentThread(void) { return host::CurrentThread("KeGetCurrentThread"); }

PEPROCESS PsGetCurrentProcess(void) { return host::CurrentThread("PsGetCurrentProcess")->process; }

HANDLE PsGetCurrentProcessId(void)
{
    return reinterpret_cast<HANDLE>(
        ULONG_PTR(host::CurrentThread("PsGetCurrentProcessId")->process->id));
}

HANDLE PsGetCurrentThreadId(void)
{
    return reinterpret_cast<HANDLE>(ULONG_PTR(host::CurrentThread("PsGetCurrentThreadId")->id));
}

KPRIORITY KeSetPriorityThread(PKTHREAD Thread, KPRIORITY Priority)
{
    KPRIORITY old = Thread->priority;
    // Priorities order nothing in virtual time, but out-of-range values are caught.
    if (Priority <= 0 || Priority > HIGH_PRIORITY)
        Thread->machine->Checks().Report(host::VerifierCheck::Usage,
                                         "KeSetPriorityThread with priority " +
                                             std::to_string(Priority));
    else
        Thread->priority = Priority;
    return old;
}

KPRIORITY KeQueryPriorityThread(PKTHREAD Thread) { return Thread->priority; }

} // extern "C"
