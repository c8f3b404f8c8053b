// Cancelling IRPs: IoCancelIrp marks the IRP and calls the cancel routine of the driver holding
// it, with the cancel spin lock held, which the routine releases.
#include "io_test_driver.h"

namespace {

struct CancelCall {
    PDEVICE_OBJECT device = nullptr;
    PIRP irp = nullptr;
    BOOLEAN cancel = FALSE;
    KIRQL irqlInRoutine = PASSIVE_LEVEL;
    KIRQL cancelIrql = HIGH_LEVEL;
    int calls = 0;
};
CancelCall lastCancel;

// The bus driver's cancel routine: forgets the IRP and completes it as cancelled.
void CancelHeldIrp(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    lastCancel.device = DeviceObject;
    lastCancel.irp = Irp;
    lastCancel.cancel = Irp->Cancel;
    lastCancel.irqlInRoutine = KeGetCurrentIrql();
    lastCancel.cancelIrql = Irp->CancelIrql;
    ++lastCancel.calls;
    State(DeviceObject).held = nullptr;
    IoReleaseCancelSpinLock(Irp->CancelIrql);
    Irp->IoStatus.Status = STATUS_CANCELLED;
    Irp->IoStatus.Information = 0;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
}

class IrpCancelTest : public IoTest {
protected:
    IrpCancelTest() { lastCancel = CancelCall(); }
};

TEST_F(IrpCancelTest, CancelCallsTheHoldingDriversRoutineWithTheCancelLockHeld)
{
    PDEVICE_OBJECT bus = AddDevice();
    PDEVICE_OBJECT function = AddDevice(bus);
    State(function).behaviour = Behaviour::PassDown;
    State(bus).behaviour = Behaviour::Pend;
    State(bus).cancelRoutine = CancelHeldIrp;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(function, &owner);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(function, irp));

    EXPECT_TRUE(IoCancelIrp(irp));
    EXPECT_EQ(1, lastCancel.calls);
    EXPECT_EQ(bus, lastCancel.device);
    EXPECT_EQ(irp, lastCancel.irp);
    EXPECT_TRUE(lastCancel.cancel);
    EXPECT_EQ(DISPATCH_LEVEL, lastCancel.irqlInRoutine); // the cancel spin lock is held
    EXPECT_EQ(PASSIVE_LEVEL, lastCancel.cancelIrql);     // what releasing it restores
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
    ASSERT_EQ(1u, owner.calls.size());
    EXPECT_EQ(STATUS_CANCELLED, owner.calls[0].status);
    EXPECT_TRUE(owner.calls[0].cancel);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, WithoutACancelRoutineTheIrpIsOnlyMarked)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(irp->Cancel);
    EXPECT_TRUE(owner.calls.empty()); // the driver completes it when it notices
    CompleteHeld(bus, STATUS_CANCELLED);
    ASSERT_EQ(1u, owner.calls.size());
    EXPECT_TRUE(owner.calls[0].cancel);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, ADriverThatTookItsCancelRoutineBackIsNotCalled)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    State(bus).cancelRoutine = CancelHeldIrp;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    // The driver starts completing: it takes the routine back, so cancel cannot race with it.
    EXPECT_EQ(CancelHeldIrp, IoSetCancelRoutine(irp, nullptr));
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_EQ(0, lastCancel.calls);
    CompleteHeld(bus, STATUS_SUCCESS);
    EXPECT_EQ(STATUS_SUCCESS, owner.calls[0].status);
    IoFreeIrp(irp);
}

TEST_F(IrpCancelTest, CancellingAFreedIrpIsReported)
{
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoFreeIrp(irp);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irp).size());
}

} // namespace
