// I/O work items: a driver's routine run later at PASSIVE_LEVEL on a system worker thread, with
// its device object referenced from queueing until the routine returns.
#include "io_manager.h"
#include "machine.h"

#include <new>

using host::VerifierCheck;

namespace {

// The work item behind a driver's pointer, or null (reported) for a freed or foreign one.
PIO_WORKITEM Checked(host::IoManager &io, PIO_WORKITEM item, const char *entryPoint)
{
    if (item == nullptr || item->magic != _IO_WORKITEM::kMagic) {
        io.Report(VerifierCheck::Usage, "%s(%p): not a live work item", entryPoint,
                  static_cast<void *>(item));
        return nullptr;
    }
    return item;
}

void Queue(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE routine, PIO_WORKITEM_ROUTINE_EX routineEx,
           WORK_QUEUE_TYPE QueueType, PVOID Context, const char *entryPoint)
{
    host::IoManager &io = host::CurrentIo(entryPoint);
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "%s at IRQL %u", entryPoint, irql);
    PIO_WORKITEM item = Checked(io, IoWorkItem, entryPoint);
    if (item == nullptr)
        return;
    host::WorkItemQueue *queue = io.Queue(QueueType);
    if (queue == nullptr || (routine == nullptr && routineEx == nullptr)) {
        io.Report(VerifierCheck::Usage, "%s(%p): queue type %d, routine %p", entryPoint,
                  static_cast<void *>(item), QueueType,
                  routine != nullptr ? reinterpret_cast<void *>(routine)
                                     : reinterpret_cast<void *>(routineEx));
        return;
    }
    if (__atomic_exchange_n(&item->queued, true, __ATOMIC_SEQ_CST)) {
        io.Report(VerifierCheck::Usage,
                  "%s(%p): the work item is already queued (Windows bug-checks with "
                  "WORKER_INVALID)",
                  entryPoint, static_cast<void *>(item));
        return;
    }
    item->routine = routine;
    item->routineEx = routineEx;
    item->context = Context;
    ObReferenceObject(item->ioObject);
    if (!queue->Enqueue(item)) {
        __atomic_store_n(&item->queued, false, __ATOMIC_SEQ_CST);
        ObDereferenceObject(item->ioObject);
        io.Report(VerifierCheck::Usage, "%s(%p) after the I/O manager has shut down", entryPoint,
                  static_cast<void *>(item));
    }
}

} // namespace

extern "C" {

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT DeviceObject)
{
    host::IoManager &io = host::CurrentIo("IoAllocateWorkItem");
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "IoAllocateWorkItem at IRQL %u", irql);
    if (DeviceObject == nullptr) {
        io.Report(VerifierCheck::Usage, "IoAllocateWorkItem without a device object");
        return nullptr;
    }
    if (host::HeaderOfObject(DeviceObject) == nullptr)
        return nullptr; // reported as not an object
    void *memory =
        io.KernelPool().Allocate(NonPagedPool, sizeof(_IO_WORKITEM), host::kWorkItemTag, irql);
    if (memory == nullptr)
        return nullptr;
    auto item = new (memory) _IO_WORKITEM();
    item->ioObject = DeviceObject;
    return item;
}

void IoQueueWorkItem(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE WorkerRoutine,
                     WORK_QUEUE_TYPE QueueType, PVOID Context)
{
    Queue(IoWorkItem, WorkerRoutine, nullptr, QueueType, Context, "IoQueueWorkItem");
}

void IoQueueWorkItemEx(PIO_WORKITEM IoWorkItem, PIO_WORKITEM_ROUTINE_EX WorkerRoutine,
                       WORK_QUEUE_TYPE QueueType, PVOID Context)
{
    Queue(IoWorkItem, nullptr, WorkerRoutine, QueueType, Context, "IoQueueWorkItemEx");
}

void IoFreeWorkItem(PIO_WORKITEM IoWorkItem)
{
    host::IoManager &io = host::CurrentIo("IoFreeWorkItem");
    PIO_WORKITEM item = Checked(io, IoWorkItem, "IoFreeWorkItem");
    if (item == nullptr)
        return;
    if (__atomic_load_n(&item->queued, __ATOMIC_SEQ_CST)) {
        io.Report(VerifierCheck::Usage, "IoFreeWorkItem(%p) while the work item is queued",
                  static_cast<void *>(item));
        return;
    }
    item->magic = 0;
    item->~_IO_WORKITEM();
    io.KernelPool().Free(item, host::kWorkItemTag, KeGetCurrentIrql());
}

} // extern "C"
