// IRPs: allocation and reuse, sending them down a device stack and completing them back up,
// with the checks Windows (and its Driver Verifier) makes on the way.
#include "io_manager.h"
#include "machine.h"

#include <cstring>

using host::IrpTracker;
using host::VerifierCheck;

namespace {

void InitializeIrpPacket(PIRP irp, USHORT packetSize, CCHAR stackSize)
{
    std::memset(static_cast<void *>(irp), 0, packetSize);
    irp->Type = IO_TYPE_IRP;
    irp->Size = packetSize;
    irp->StackCount = stackSize;
    irp->CurrentLocation = CHAR(stackSize + 1);
    InitializeListHead(&irp->ThreadListEntry);
    irp->Tail.Overlay.CurrentStackLocation =
        reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + stackSize;
}

void CheckIrqlAtMostDispatch(host::IoManager &io, const char *entryPoint)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "%s at IRQL %u", entryPoint, irql);
}

// What completion leaves of a stack location once its routine has been taken.
void ClearStackLocation(PIO_STACK_LOCATION location)
{
    location->MinorFunction = 0;
    location->Flags = 0;
    location->Control = 0;
    std::memset(&location->Parameters, 0, sizeof location->Parameters);
    location->FileObject = nullptr;
    location->CompletionRoutine = nullptr;
    location->Context = nullptr;
}

bool ShouldInvoke(PIRP irp, UCHAR control)
{
    if (NT_SUCCESS(irp->IoStatus.Status) && (control & SL_INVOKE_ON_SUCCESS))
        return true;
    if (!NT_SUCCESS(irp->IoStatus.Status) && (control & SL_INVOKE_ON_ERROR))
        return true;
    return irp->Cancel && (control & SL_INVOKE_ON_CANCEL);
}

} // namespace

void host::FreeIrpMemory(IoManager &io, PIRP irp, KIRQL irql)
{
    io.Irps().Remove(irp);
    io.KernelPool().Free(irp, kIrpTag, irql);
}

extern "C" {

PIRP IoAllocateIrp(CCHAR StackSize, BOOLEAN ChargeQuota)
{
    host::IoManager &io = host::CurrentIo("IoAllocateIrp");
    CheckIrqlAtMostDispatch(io, "IoAllocateIrp");
    if (StackSize < 0) {
        io.Report(VerifierCheck::Usage, "IoAllocateIrp with a stack size of %d", StackSize);
        return nullptr;
    }
    USHORT size = IoSizeOfIrp(StackSize);
    auto irp = static_cast<PIRP>(
        io.KernelPool().Allocate(NonPagedPool, size, host::kIrpTag, KeGetCurrentIrql()));
    if (irp == nullptr)
        return nullptr;
    InitializeIrpPacket(irp, size, StackSize);
    irp->AllocationFlags = IRP_ALLOCATED_FIXED_SIZE | (ChargeQuota ? IRP_QUOTA_CHARGED : 0);
    io.Irps().Add(irp, IrpTracker::Origin::Allocated);
    return irp;
}

void IoInitializeIrp(PIRP Irp, USHORT PacketSize, CCHAR StackSize)
{
    host::IoManager &io = host::CurrentIo("IoInitializeIrp");
    if (StackSize < 0 || PacketSize < IoSizeOfIrp(StackSize)) {
        io.Report(VerifierCheck::Usage,
                  "IoInitializeIrp: %u bytes cannot hold an IRP with %d stack location(s)",
                  PacketSize, StackSize);
        return;
    }
    IrpTracker::Record record;
    bool known = io.Irps().Find(Irp, &record);
    if (known && record.holder == IrpTracker::Holder::Lower) {
        io.Report(VerifierCheck::Irp, "IoInitializeIrp(%p) while a lower driver owns the IRP",
                  static_cast<void *>(Irp));
        return;
    }
    InitializeIrpPacket(Irp, PacketSize, StackSize);
    if (!known)
        io.Irps().Add(Irp, IrpTracker::Origin::Initialized);
}

void IoReuseIrp(PIRP Irp, NTSTATUS Iostatus)
{
    host::IoManager &io = host::CurrentIo("IoReuseIrp");
    IrpTracker::Record record;
    if (!io.Irps().Find(Irp, &record)) {
        io.Report(VerifierCheck::Irp, "IoReuseIrp(%p): not a live IRP", static_cast<void *>(Irp));
        return;
    }
    if (record.holder == IrpTracker::Holder::Lower) {
        io.Report(VerifierCheck::Irp,
                  "IoReuseIrp(%p) while a lower driver owns the IRP (sent with IoCallDriver "
                  "and not completed back)",
                  static_cast<void *>(Irp));
        return;
    }
    if (Irp->CancelRoutine != nullptr)
        io.Report(VerifierCheck::Irp, "IoReuseIrp(%p) with a cancel routine still set",
                  static_cast<void *>(Irp));
    UCHAR allocationFlags = Irp->AllocationFlags;
    InitializeIrpPacket(Irp, Irp->Size, Irp->StackCount);
    Irp->IoStatus.Status = Iostatus;
    Irp->AllocationFlags = allocationFlags;
}

void IoFreeIrp(PIRP Irp)
{
    host::IoManager &io = host::CurrentIo("IoFreeIrp");
    CheckIrqlAtMostDispatch(io, "IoFreeIrp");
    IrpTracker::Record record;
    if (!io.Irps().Find(Irp, &record)) {
        io.Report(VerifierCheck::Irp, "IoFreeIrp(%p): not a live IRP (freed twice?)",
                  static_cast<void *>(Irp));
        return;
    }
    if (record.origin != IrpTracker::Origin::Allocated) {
        io.Report(VerifierCheck::Irp, "IoFreeIrp(%p): the IRP was not made by IoAllocateIrp",
                  static_cast<void *>(Irp));
        return;
    }
    if (record.holder == IrpTracker::Holder::Lower) {
        // Windows would free memory a lower driver still uses; the IRP stays allocated.
        io.Report(VerifierCheck::Irp,
                  "IoFreeIrp(%p) while a lower driver owns the IRP (sent with IoCallDriver and "
                  "not completed back)",
                  static_cast<void *>(Irp));
        return;
    }
    if (Irp->Tail.Overlay.Thread != nullptr) {
        io.Report(VerifierCheck::Irp,
                  "IoFreeIrp(%p): the I/O manager completes and frees a thread's request "
                  "(IoBuildDeviceIoControlRequest); its caller must not",
                  static_cast<void *>(Irp));
        return;
    }
    host::FreeIrpMemory(io, Irp, KeGetCurrentIrql());
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    host::IoManager &io = host::CurrentIo("IofCallDriver");
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "IoCallDriver at IRQL %u", irql);
    IrpTracker::Record record;
    if (!io.Irps().Find(Irp, &record)) {
        io.Report(VerifierCheck::Irp, "IoCallDriver(%p, %p): not a live IRP",
                  static_cast<void *>(DeviceObject), static_cast<void *>(Irp));
        return STATUS_INVALID_PARAMETER;
    }
    if (DeviceObject == nullptr || DeviceObject->DriverObject == nullptr) {
        io.Report(VerifierCheck::Usage, "IoCallDriver(%p, %p): not a device object",
                  static_cast<void *>(DeviceObject), static_cast<void *>(Irp));
        return STATUS_INVALID_PARAMETER;
    }
    if (Irp->CurrentLocation <= 1) {
        io.Report(VerifierCheck::Irp,
                  "IoCallDriver(%p, %p): no stack location left (StackCount %d); Windows "
                  "bug-checks with NO_MORE_IRP_STACK_LOCATIONS",
                  static_cast<void *>(DeviceObject), static_cast<void *>(Irp), Irp->StackCount);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(Irp);
    UCHAR major = location->MajorFunction;
    if (major > IRP_MJ_MAXIMUM_FUNCTION) {
        io.Report(VerifierCheck::Usage, "IoCallDriver(%p, %p): major function 0x%x",
                  static_cast<void *>(DeviceObject), static_cast<void *>(Irp), major);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    io.Irps().Dispatch(Irp);
    Irp->CurrentLocation--;
    Irp->Tail.Overlay.CurrentStackLocation = location;
    location->DeviceObject = DeviceObject;
    // The IRP may be completed and freed before the dispatch routine returns: not touched after.
    NTSTATUS status = DeviceObject->DriverObject->MajorFunction[major](DeviceObject, Irp);
    KIRQL after = KeGetCurrentIrql();
    if (after != irql)
        io.Report(VerifierCheck::Irql,
                  "dispatch routine for major function 0x%x of device %p returned at IRQL %u "
                  "(called at %u)",
                  major, static_cast<void *>(DeviceObject), after, irql);
    return status;
}

void IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost)
{
    host::IoManager &io = host::CurrentIo("IofCompleteRequest");
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "IoCompleteRequest at IRQL %u", irql);
    IrpTracker::Record record;
    if (!io.Irps().Find(Irp, &record)) {
        io.Report(VerifierCheck::Irp,
                  "IoCompleteRequest(%p): not a live IRP (completed twice and freed, or never "
                  "allocated)",
                  static_cast<void *>(Irp));
        return;
    }
    bool threaded = Irp->Tail.Overlay.Thread != nullptr;
    // An owner may complete a thread's request it stopped with STATUS_MORE_PROCESSING_REQUIRED;
    // anything else held by its owner has already been completed back.
    bool finishingThreadRequest = threaded && Irp->CurrentLocation == Irp->StackCount + 1;
    if (Irp->CurrentLocation > Irp->StackCount + 1 ||
        (record.holder == IrpTracker::Holder::Owner && !finishingThreadRequest)) {
        io.Report(VerifierCheck::Irp,
                  "IRP %p completed twice: it was already completed back to its owner (Windows "
                  "bug-checks with MULTIPLE_IRP_COMPLETE_REQUESTS)",
                  static_cast<void *>(Irp));
        return;
    }
    if (Irp->IoStatus.Status == STATUS_PENDING)
        io.Report(VerifierCheck::Irp, "IRP %p completed with STATUS_PENDING",
                  static_cast<void *>(Irp));
    if (Irp->CancelRoutine != nullptr)
        io.Report(VerifierCheck::Irp, "IRP %p completed with its cancel routine still set",
                  static_cast<void *>(Irp));

    // Walk up the stack: each location's routine was set by the driver one location above,
    // which is the current location while the routine runs.
    for (PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(Irp);; ++location) {
        IoSkipCurrentIrpStackLocation(Irp);
        if (Irp->CurrentLocation > Irp->StackCount + 1)
            break;
        Irp->PendingReturned = (location->Control & SL_PENDING_RETURNED) != 0;
        PIO_COMPLETION_ROUTINE routine = location->CompletionRoutine;
        PVOID context = location->Context;
        bool invoke = routine != nullptr && ShouldInvoke(Irp, location->Control);
        ClearStackLocation(location);
        if (!invoke) {
            if (Irp->PendingReturned && Irp->CurrentLocation <= Irp->StackCount)
                IoMarkIrpPending(Irp);
            continue;
        }
        PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                    ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                    : nullptr;
        if (Irp->CurrentLocation == record.ownerLocation)
            io.Irps().ReturnToOwner(Irp); // its owner may free or resend it from the routine
        NTSTATUS result = routine(device, Irp, context);
        KIRQL after = KeGetCurrentIrql();
        if (after != irql)
            io.Report(VerifierCheck::Irql,
                      "completion routine %p returned at IRQL %u (called at %u)",
                      reinterpret_cast<void *>(routine), after, irql);
        if (result == STATUS_MORE_PROCESSING_REQUIRED)
            return; // the routine's driver owns the IRP again; it may already be gone
    }

    io.Irps().ReturnToOwner(Irp);
    if (threaded) {
        host::CompleteIrpToThread(io, Irp, PriorityBoost);
        return;
    }
    io.Report(VerifierCheck::Irp,
              "IRP %p completed past its owner: no completion routine returned "
              "STATUS_MORE_PROCESSING_REQUIRED and no thread waits for it",
              static_cast<void *>(Irp));
}

BOOLEAN IoIs32bitProcess(PIRP Irp)
{
    PKTHREAD caller = host::CurrentThread("IoIs32bitProcess");
    if (Irp == nullptr)
        return caller->process->is32Bit;
    if (Irp->RequestorMode != UserMode)
        return FALSE;
    PKTHREAD requestor = Irp->Tail.Overlay.Thread != nullptr ? Irp->Tail.Overlay.Thread : caller;
    return requestor->process->is32Bit;
}

} // extern "C"
