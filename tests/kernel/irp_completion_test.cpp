// Sending IRPs down a device stack and completing them back up: which completion routines run,
// in which order, with which arguments and at which IRQL; STATUS_MORE_PROCESSING_REQUIRED; and
// reusing an IRP for the next request.
#include "io_test_driver.h"

namespace {

class IrpCompletionTest : public IoTest {
protected:
    // bus (bottom) <- function <- filter (top)
    void BuildStack()
    {
        bus_ = AddDevice();
        function_ = AddDevice(bus_);
        filter_ = AddDevice(function_);
    }
    PDEVICE_OBJECT bus_ = nullptr;
    PDEVICE_OBJECT function_ = nullptr;
    PDEVICE_OBJECT filter_ = nullptr;
};

TEST_F(IrpCompletionTest, StackSizeGrowsWithEachAttachedDevice)
{
    BuildStack();
    EXPECT_EQ(1, bus_->StackSize);
    EXPECT_EQ(2, function_->StackSize);
    EXPECT_EQ(3, filter_->StackSize);
}

TEST_F(IrpCompletionTest, RoutinesRunBottomUpWithTheDeviceOfTheDriverThatSetThem)
{
    BuildStack();
    std::vector<const Recorder *> order;
    Recorder filterRoutine, functionRoutine, owner;
    for (Recorder *r : {&filterRoutine, &functionRoutine, &owner})
        r->order = &order;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    State(filter_).behaviour = Behaviour::PassDownWithRoutine;
    State(filter_).routine = &filterRoutine;
    State(function_).behaviour = Behaviour::PassDownWithRoutine;
    State(function_).routine = &functionRoutine;
    State(bus_).information = 24;

    int urb = 0;
    PIRP irp = OwnedIrp(filter_, &owner, &urb);
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(filter_, irp));

    EXPECT_EQ(&urb, State(bus_).lastArgument1); // copied down through every location
    EXPECT_EQ(bus_, State(bus_).lastLocation->DeviceObject);
    ASSERT_EQ(3u, order.size());
    EXPECT_EQ(&functionRoutine, order[0]);
    EXPECT_EQ(&filterRoutine, order[1]);
    EXPECT_EQ(&owner, order[2]);
    EXPECT_EQ(function_, functionRoutine.calls[0].device);
    EXPECT_EQ(filter_, filterRoutine.calls[0].device);
    EXPECT_EQ(nullptr, owner.calls[0].device); // the owner has no stack location of its own
    for (const Recorder *r : order) {
        EXPECT_EQ(irp, r->calls[0].irp);
        EXPECT_EQ(r, r->calls[0].context);
        EXPECT_EQ(PASSIVE_LEVEL, r->calls[0].irql);
        EXPECT_EQ(STATUS_SUCCESS, r->calls[0].status);
    }
    EXPECT_EQ(24u, irp->IoStatus.Information);
    IoFreeIrp(irp);
}

TEST_F(IrpCompletionTest, RoutinesRunAtDispatchLevelWhenTheIrpIsCompletedThere)
{
    BuildStack();
    Recorder filterRoutine, functionRoutine, owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    State(filter_).behaviour = Behaviour::PassDownWithRoutine;
    State(filter_).routine = &filterRoutine;
    State(function_).behaviour = Behaviour::PassDownWithRoutine;
    State(function_).routine = &functionRoutine;
    State(bus_).behaviour = Behaviour::Pend;

    PIRP irp = OwnedIrp(filter_, &owner);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(filter_, irp));
    EXPECT_TRUE(owner.calls.empty());
    CompleteHeld(bus_, STATUS_DEVICE_NOT_CONNECTED, 0, DISPATCH_LEVEL);

    for (Recorder *r : {&functionRoutine, &filterRoutine, &owner}) {
        ASSERT_EQ(1u, r->calls.size());
        EXPECT_EQ(DISPATCH_LEVEL, r->calls[0].irql);
        EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, r->calls[0].status);
        EXPECT_TRUE(r->calls[0].pendingReturned); // pending propagates up to every routine
    }
    EXPECT_EQ(PASSIVE_LEVEL, KeGetCurrentIrql());
    IoFreeIrp(irp);
}

TEST_F(IrpCompletionTest, InvokeConditionsSelectTheRoutinesThatRun)
{
    struct Case {
        BOOLEAN onSuccess, onError, onCancel;
        NTSTATUS status;
        bool cancelled;
        bool runs;
    };
    const Case cases[] = {
        {TRUE, FALSE, FALSE, STATUS_SUCCESS, false, true},
        {TRUE, FALSE, FALSE, STATUS_UNSUCCESSFUL, false, false},
        {FALSE, TRUE, FALSE, STATUS_UNSUCCESSFUL, false, true},
        {FALSE, TRUE, FALSE, STATUS_SUCCESS, false, false},
        {FALSE, FALSE, TRUE, STATUS_CANCELLED, true, true},
        {FALSE, FALSE, TRUE, STATUS_CANCELLED, false, false},
        {FALSE, FALSE, TRUE, STATUS_SUCCESS, true, true}, // a cancelled IRP may still succeed
    };
    PDEVICE_OBJECT bus = AddDevice();
    PDEVICE_OBJECT function = AddDevice(bus);
    State(function).behaviour = Behaviour::PassDownWithRoutine;
    State(bus).behaviour = Behaviour::Pend;
    for (const Case &c : cases) {
        Recorder middle, owner;
        owner.result = STATUS_MORE_PROCESSING_REQUIRED;
        State(function).routine = &middle;
        State(function).onSuccess = c.onSuccess;
        State(function).onError = c.onError;
        State(function).onCancel = c.onCancel;
        PIRP irp = OwnedIrp(function, &owner);
        EXPECT_EQ(STATUS_PENDING, IoCallDriver(function, irp));
        if (c.cancelled) {
            EXPECT_FALSE(IoCancelIrp(irp)); // no cancel routine: only marks the IRP
        }
        CompleteHeld(bus, c.status);
        EXPECT_EQ(c.runs ? 1u : 0u, middle.calls.size())
            << "success " << int(c.onSuccess) << " error " << int(c.onError) << " cancel "
            << int(c.onCancel) << " status 0x" << std::hex << c.status;
        EXPECT_EQ(1u, owner.calls.size());
        IoFreeIrp(irp);
    }
}

TEST_F(IrpCompletionTest, MoreProcessingRequiredStopsCompletionUntilTheDriverCompletesAgain)
{
    BuildStack();
    Recorder functionRoutine, owner;
    functionRoutine.result = STATUS_MORE_PROCESSING_REQUIRED;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    State(filter_).behaviour = Behaviour::PassDown;
    State(function_).behaviour = Behaviour::PassDownWithRoutine;
    State(function_).routine = &functionRoutine;

    PIRP irp = OwnedIrp(filter_, &owner);
    IoCallDriver(filter_, irp);
    ASSERT_EQ(1u, functionRoutine.calls.size());
    EXPECT_TRUE(owner.calls.empty()); // stopped at the function driver, which owns it again

    // The function driver finishes its work and lets completion continue.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    ASSERT_EQ(1u, owner.calls.size());
    EXPECT_EQ(STATUS_NOT_SUPPORTED, owner.calls[0].status);
    IoFreeIrp(irp);
}

TEST_F(IrpCompletionTest, TheOwnerMayFreeTheIrpInItsCompletionRoutine)
{
    BuildStack();
    State(filter_).behaviour = Behaviour::PassDown;
    State(function_).behaviour = Behaviour::PassDown;
    State(bus_).behaviour = Behaviour::Pend;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    owner.freeIrp = true;
    PIRP irp = OwnedIrp(filter_, &owner);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(filter_, irp));
    EXPECT_EQ(bus_, State(bus_).lastLocation->DeviceObject);
    CompleteHeld(bus_, STATUS_SUCCESS, 0, DISPATCH_LEVEL);
    EXPECT_EQ(1u, owner.calls.size());
}

TEST_F(IrpCompletionTest, AReusedIrpStartsAfreshForEveryRequest)
{
    BuildStack();
    State(filter_).behaviour = Behaviour::PassDown;
    State(function_).behaviour = Behaviour::PassDown;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = IoAllocateIrp(filter_->StackSize, FALSE);
    for (ULONG_PTR round = 1; round <= 3; ++round) {
        IoReuseIrp(irp, STATUS_NOT_SUPPORTED);
        EXPECT_EQ(STATUS_NOT_SUPPORTED, irp->IoStatus.Status);
        EXPECT_EQ(irp->StackCount + 1, irp->CurrentLocation);
        EXPECT_EQ(IRP_ALLOCATED_FIXED_SIZE, irp->AllocationFlags);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        EXPECT_EQ(nullptr, next->CompletionRoutine);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, RecordCompletion, &owner, TRUE, TRUE, TRUE);
        State(bus_).information = round;
        EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(filter_, irp));
        ASSERT_EQ(round, owner.calls.size());
        EXPECT_EQ(round, irp->IoStatus.Information);
    }
    EXPECT_EQ(3, State(bus_).calls);
    IoFreeIrp(irp);
}

TEST_F(IrpCompletionTest, ADriverWithoutAHandlerRejectsTheRequest)
{
    PDRIVER_OBJECT plain = host::CreateDriverObject(M(), u"\\Driver\\Plain");
    PDEVICE_OBJECT device = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoCreateDevice(plain, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device));
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(device, &owner);
    IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_PNP;
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, IoCallDriver(device, irp));
    ASSERT_EQ(1u, owner.calls.size());
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, owner.calls[0].status);
    IoFreeIrp(irp);
    IoDeleteDevice(device);
    ObDereferenceObject(plain);
}

} // namespace
