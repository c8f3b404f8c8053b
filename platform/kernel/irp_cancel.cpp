// IRP cancellation: the machine's cancel spin lock and IoCancelIrp, which calls the IRP's cancel
// routine with that lock held; the routine releases it.
#include "io_manager.h"
#include "machine.h"

using host::VerifierCheck;

extern "C" {

void IoAcquireCancelSpinLock(PKIRQL Irql)
{
    KeAcquireSpinLock(host::CurrentIo("IoAcquireCancelSpinLock").CancelLock(), Irql);
}

void IoReleaseCancelSpinLock(KIRQL Irql)
{
    KeReleaseSpinLock(host::CurrentIo("IoReleaseCancelSpinLock").CancelLock(), Irql);
}

BOOLEAN IoCancelIrp(PIRP Irp)
{
    host::IoManager &io = host::CurrentIo("IoCancelIrp");
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "IoCancelIrp at IRQL %u", irql);
    host::IrpTracker::Record record;
    if (!io.Irps().Find(Irp, &record)) {
        io.Report(VerifierCheck::Irp, "IoCancelIrp(%p): not a live IRP", static_cast<void *>(Irp));
        return FALSE;
    }
    KIRQL cancelIrql;
    IoAcquireCancelSpinLock(&cancelIrql);
    Irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(Irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(cancelIrql);
        return FALSE;
    }
    if (Irp->CurrentLocation > Irp->StackCount + 1 ||
        record.holder == host::IrpTracker::Holder::Owner)
        io.Report(VerifierCheck::Irp,
                  "IRP %p has a cancel routine but no driver holds it pending (Windows "
                  "bug-checks with CANCEL_STATE_IN_COMPLETED_IRP)",
                  static_cast<void *>(Irp));
    Irp->CancelIrql = cancelIrql;
    PDEVICE_OBJECT device = Irp->CurrentLocation <= Irp->StackCount
                                ? IoGetCurrentIrpStackLocation(Irp)->DeviceObject
                                : nullptr;
    routine(device, Irp);
    return TRUE;
}

} // extern "C"
