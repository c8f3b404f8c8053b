#include "user_requests.h"

#include "kernel/io_manager.h"
#include "kernel/machine.h"

#include <atomic>

namespace host::win32 {

struct OutstandingRequest {
    std::shared_ptr<UserRequests> owner;
    std::list<OutstandingRequest *>::iterator position; // in the owner's list while outstanding
    PIRP irp = nullptr;
    PKTHREAD thread = nullptr;
    PFILE_OBJECT file = nullptr;
    PKEVENT event = nullptr;
    bool eventIsObject = false;
    PIO_STATUS_BLOCK statusBlock = nullptr;
    ULONG pins = 0;           // cancellers that hold the request while they cancel it
    bool completed = false;   // completed while held; the last canceller finishes it
    PKEVENT waiter = nullptr; // set once the request is finished (a thread draining its requests)
};

namespace {

// The file's reference goes at PASSIVE_LEVEL: its last one sends the close request. A request
// completed from a DPC leaves it to a work item.
struct DeferredRelease {
    PIO_WORKITEM item;
    PFILE_OBJECT file;
};

void ReleaseFile(PFILE_OBJECT file)
{
    if (KeGetCurrentIrql() == PASSIVE_LEVEL) {
        ObDereferenceObject(file);
        return;
    }
    auto deferred = new DeferredRelease{IoAllocateWorkItem(file->DeviceObject), file};
    IoQueueWorkItem(
        deferred->item,
        [](PDEVICE_OBJECT, PVOID context) {
            auto d = static_cast<DeferredRelease *>(context);
            ObDereferenceObject(d->file);
            IoFreeWorkItem(d->item);
            delete d;
        },
        DelayedWorkQueue, deferred);
}

// Writes the outcome as a waiter reads it: the count first, then the status that says it is
// there.
void StoreOutcome(PIO_STATUS_BLOCK block, const IO_STATUS_BLOCK &outcome)
{
    auto words = reinterpret_cast<ULONG_PTR *>(block);
    __atomic_store_n(&words[1], outcome.Information, __ATOMIC_RELEASE);
    __atomic_store_n(reinterpret_cast<ULONG *>(&words[0]), ULONG(outcome.Status), __ATOMIC_RELEASE);
}

} // namespace

NTSTATUS UserRequests::Send(const Parameters &parameters)
{
    IoManager &io = CurrentIo("DeviceIoControl");
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(parameters.file->DeviceObject);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_DEVICE_CONTROL;
    location->FileObject = parameters.file;
    location->Parameters.DeviceIoControl.IoControlCode = parameters.controlCode;
    location->Parameters.DeviceIoControl.InputBufferLength = parameters.inputLength;
    location->Parameters.DeviceIoControl.OutputBufferLength = parameters.outputLength;
    if (!SetUpControlBuffers(io, irp, parameters.controlCode, parameters.input,
                             parameters.inputLength, parameters.output, parameters.outputLength,
                             UserMode)) {
        ReleaseIrpBuffers(io, irp, KeGetCurrentIrql());
        IoFreeIrp(irp);
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    irp->Tail.Overlay.OriginalFileObject = parameters.file;

    auto request = new OutstandingRequest;
    request->owner = shared_from_this();
    request->irp = irp;
    request->thread = KeGetCurrentThread();
    request->file = parameters.file;
    request->event = parameters.event;
    request->eventIsObject = parameters.eventIsObject;
    request->statusBlock = parameters.statusBlock;
    ObReferenceObject(parameters.file);
    if (parameters.eventIsObject)
        ObReferenceObject(parameters.event);
    KeClearEvent(parameters.event);
    IoSetCompletionRoutine(irp, Completed, request, TRUE, TRUE, TRUE);
    {
        std::lock_guard<std::mutex> guard(lock_);
        request->position = outstanding_.insert(outstanding_.end(), request);
    }
    // The request may be complete and gone by the time the driver returns.
    NTSTATUS status = IoCallDriver(top, irp);
    ObDereferenceObject(top);
    return status;
}

NTSTATUS UserRequests::Completed(PDEVICE_OBJECT, PIRP, PVOID context)
{
    auto request = static_cast<OutstandingRequest *>(context);
    UserRequests &owner = *request->owner;
    {
        std::lock_guard<std::mutex> guard(owner.lock_);
        if (request->pins != 0) {
            request->completed = true;
            return STATUS_MORE_PROCESSING_REQUIRED;
        }
        owner.outstanding_.erase(request->position);
    }
    Finish(request);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

void UserRequests::Finish(OutstandingRequest *request)
{
    IoManager &io = CurrentIo("I/O completion");
    PIRP irp = request->irp;
    CopyBufferedOutput(io, irp);
    ReleaseIrpBuffers(io, irp, KeGetCurrentIrql());
    IO_STATUS_BLOCK outcome = irp->IoStatus;
    // A failure the driver returned at once, without pending the request, is the call's return
    // value alone: the caller's status block and event stay as they were.
    bool deliver = !NT_ERROR(outcome.Status) || irp->PendingReturned;
    irp->Tail.Overlay.Thread = nullptr; // the I/O manager frees its own request here
    IoFreeIrp(irp);
    if (deliver) {
        StoreOutcome(request->statusBlock, outcome);
        KeSetEvent(request->event, IO_NO_INCREMENT, FALSE);
    }
    if (request->waiter != nullptr)
        KeSetEvent(request->waiter, IO_NO_INCREMENT, FALSE);
    if (request->eventIsObject)
        ObDereferenceObject(request->event);
    ReleaseFile(request->file);
    delete request;
}

void UserRequests::CancelListed(OutstandingRequest *request)
{
    IoCancelIrp(request->irp);
    bool finish;
    {
        std::lock_guard<std::mutex> guard(lock_);
        finish = --request->pins == 0 && request->completed;
        if (finish)
            outstanding_.erase(request->position);
    }
    if (finish)
        Finish(request);
}

bool UserRequests::Cancel(PFILE_OBJECT file, PIO_STATUS_BLOCK statusBlock, bool callingThreadOnly)
{
    PKTHREAD self = KeGetCurrentThread();
    std::vector<OutstandingRequest *> matching;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (OutstandingRequest *request : outstanding_) {
            if (request->file != file || request->completed ||
                (statusBlock != nullptr && request->statusBlock != statusBlock) ||
                (callingThreadOnly && request->thread != self))
                continue;
            ++request->pins;
            matching.push_back(request);
        }
    }
    for (OutstandingRequest *request : matching)
        CancelListed(request);
    return !matching.empty();
}

void UserRequests::Drain(PKTHREAD thread)
{
    KEVENT finished;
    KeInitializeEvent(&finished, NotificationEvent, FALSE);
    for (;;) {
        OutstandingRequest *request = nullptr;
        {
            std::lock_guard<std::mutex> guard(lock_);
            for (OutstandingRequest *candidate : outstanding_) {
                if ((thread == nullptr || candidate->thread == thread) &&
                    candidate->waiter == nullptr) {
                    request = candidate;
                    break;
                }
            }
            if (request == nullptr)
                return;
            ++request->pins;
            request->waiter = &finished;
        }
        CancelListed(request);
        // A driver that never completes a cancelled request keeps the thread here, as it
        // keeps a thread of Windows in its rundown.
        KeWaitForSingleObject(&finished, Executive, KernelMode, FALSE, nullptr);
        KeClearEvent(&finished);
    }
}

} // namespace host::win32
