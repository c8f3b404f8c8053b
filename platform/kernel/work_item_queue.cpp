#include "work_item_queue.h"

#include "io_manager.h"
#include "machine.h"

namespace host {

WorkItemQueue::WorkItemQueue(Machine &machine, const char *name) : machine_(machine), name_(name)
{
    InitializeListHead(&items_);
    KeInitializeEvent(&pending_, SynchronizationEvent, FALSE);
}

bool WorkItemQueue::Enqueue(PIO_WORKITEM item)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (stopping_)
            return false;
        if (worker_ == nullptr)
            worker_ =
                machine_.StartThread(name_, machine_.SystemProcess(), [this] { WorkerMain(); });
        InsertTailList(&items_, &item->link);
    }
    KeSetEvent(&pending_, IO_NO_INCREMENT, FALSE);
    return true;
}

void WorkItemQueue::Stop()
{
    PKTHREAD worker;
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        worker = worker_;
        worker_ = nullptr;
    }
    if (worker == nullptr)
        return;
    KeSetEvent(&pending_, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(worker, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(worker);
}

void WorkItemQueue::WorkerMain()
{
    for (;;) {
        bool stop = false;
        if (PIO_WORKITEM item = Next(&stop)) {
            Run(item);
            continue;
        }
        if (stop)
            return;
        KeWaitForSingleObject(&pending_, Executive, KernelMode, FALSE, nullptr);
    }
}

PIO_WORKITEM WorkItemQueue::Next(bool *stop)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (IsListEmpty(&items_)) {
        *stop = stopping_;
        return nullptr;
    }
    PIO_WORKITEM item = CONTAINING_RECORD(RemoveHeadList(&items_), _IO_WORKITEM, link);
    // From here the item may be queued again, even by its own routine.
    __atomic_store_n(&item->queued, false, __ATOMIC_SEQ_CST);
    return item;
}

void WorkItemQueue::Run(PIO_WORKITEM item)
{
    // The routine may free the item: everything needed afterwards is copied first.
    PVOID object = item->ioObject;
    PVOID context = item->context;
    if (item->routineEx != nullptr)
        item->routineEx(object, context, item);
    else
        item->routine(static_cast<PDEVICE_OBJECT>(object), context);
    KIRQL irql = KeGetCurrentIrql();
    if (irql != PASSIVE_LEVEL) {
        machine_.Io().Report(VerifierCheck::Irql,
                             "work item routine returned at IRQL %u on the %s worker (Windows "
                             "bug-checks with WORKER_THREAD_RETURNED_AT_BAD_IRQL)",
                             irql, name_);
        KeLowerIrql(PASSIVE_LEVEL);
    }
    ObDereferenceObject(object);
}

} // namespace host
