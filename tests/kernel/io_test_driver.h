// A test driver for the I/O manager tests: one driver object whose devices each handle an IRP
// the way the test says (complete it, hold it pending, pass it down with or without a completion
// routine), and completion routines that record how they were called.
#pragma once

#include "kernel_fixture.h"

#include "kernel/io_manager.h"

#include <new>
#include <vector>

struct RoutineCall {
    PDEVICE_OBJECT device;
    PIRP irp;
    PVOID context;
    KIRQL irql;
    NTSTATUS status;
    BOOLEAN pendingReturned;
    BOOLEAN cancel;
};

// The context of RecordCompletion: what it saw and what it answers.
struct Recorder {
    std::vector<RoutineCall> calls;
    std::vector<const Recorder *> *order = nullptr; // shared log of the routines that ran
    NTSTATUS result = STATUS_SUCCESS;
    PKEVENT done = nullptr; // signalled once the call is recorded
    bool freeIrp = false;   // the owner's pattern: IoFreeIrp, then STATUS_MORE_PROCESSING_REQUIRED
};

inline NTSTATUS RecordCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    auto *recorder = static_cast<Recorder *>(Context);
    recorder->calls.push_back({DeviceObject, Irp, Context, KeGetCurrentIrql(), Irp->IoStatus.Status,
                               Irp->PendingReturned, Irp->Cancel});
    if (recorder->order != nullptr)
        recorder->order->push_back(recorder);
    NTSTATUS result = recorder->result;
    if (recorder->freeIrp)
        IoFreeIrp(Irp);
    else if (result != STATUS_MORE_PROCESSING_REQUIRED && Irp->PendingReturned &&
             Irp->CurrentLocation <= Irp->StackCount)
        IoMarkIrpPending(Irp);
    if (recorder->done != nullptr)
        KeSetEvent(recorder->done, IO_NO_INCREMENT, FALSE);
    return result;
}

enum class Behaviour { Complete, CompleteTwice, Pend, PassDown, PassDownWithRoutine };

// Lives in each test device's extension.
struct TestDevice {
    Behaviour behaviour = Behaviour::Complete;
    NTSTATUS status = STATUS_SUCCESS; // Complete: the status and Information to complete with
    ULONG_PTR information = 0;
    PDEVICE_OBJECT lower = nullptr;
    Recorder *routine = nullptr; // PassDownWithRoutine: its routine's context and conditions
    BOOLEAN onSuccess = TRUE;
    BOOLEAN onError = TRUE;
    BOOLEAN onCancel = TRUE;
    PDRIVER_CANCEL cancelRoutine = nullptr; // Pend: installed on the held IRP
    PIRP held = nullptr;                    // Pend: the IRP held pending
    KEVENT arrived;                         // Pend: set when an IRP is held
    int calls = 0;
    PIO_STACK_LOCATION lastLocation = nullptr;
    PVOID lastArgument1 = nullptr;
};

inline TestDevice &State(PDEVICE_OBJECT device)
{
    return *static_cast<TestDevice *>(device->DeviceExtension);
}

inline NTSTATUS TestDispatch(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    TestDevice &d = State(DeviceObject);
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(Irp);
    ++d.calls;
    d.lastLocation = location;
    d.lastArgument1 = location->Parameters.Others.Argument1;
    switch (d.behaviour) {
    case Behaviour::Complete:
    case Behaviour::CompleteTwice: {
        NTSTATUS status = d.status;
        Irp->IoStatus.Status = status;
        Irp->IoStatus.Information = d.information;
        IoCompleteRequest(Irp, IO_NO_INCREMENT);
        if (d.behaviour == Behaviour::CompleteTwice)
            IoCompleteRequest(Irp, IO_NO_INCREMENT);
        return status;
    }
    case Behaviour::Pend:
        IoMarkIrpPending(Irp);
        d.held = Irp;
        if (d.cancelRoutine != nullptr) {
            KIRQL irql;
            IoAcquireCancelSpinLock(&irql);
            IoSetCancelRoutine(Irp, d.cancelRoutine);
            IoReleaseCancelSpinLock(irql);
        }
        KeSetEvent(&d.arrived, IO_NO_INCREMENT, FALSE);
        return STATUS_PENDING;
    case Behaviour::PassDown: IoSkipCurrentIrpStackLocation(Irp); return IoCallDriver(d.lower, Irp);
    case Behaviour::PassDownWithRoutine:
        IoCopyCurrentIrpStackLocationToNext(Irp);
        IoSetCompletionRoutine(Irp, RecordCompletion, d.routine, d.onSuccess, d.onError,
                               d.onCancel);
        return IoCallDriver(d.lower, Irp);
    }
    return STATUS_INVALID_DEVICE_REQUEST;
}

class IoTest : public KernelTest {
protected:
    IoTest()
    {
        driver_ = host::CreateDriverObject(M(), u"\\Driver\\IoTest");
        for (PDRIVER_DISPATCH &dispatch : driver_->MajorFunction)
            dispatch = TestDispatch;
    }

    void TearDown() override
    {
        RemoveDevices();
        ObDereferenceObject(driver_);
        KernelTest::TearDown();
    }

    // A device of the test driver, attached on top of `below`'s stack when given.
    PDEVICE_OBJECT AddDevice(PDEVICE_OBJECT below = nullptr)
    {
        PDEVICE_OBJECT device = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, IoCreateDevice(driver_, sizeof(TestDevice), nullptr,
                                                 FILE_DEVICE_UNKNOWN, 0, FALSE, &device));
        TestDevice *state = new (device->DeviceExtension) TestDevice();
        KeInitializeEvent(&state->arrived, SynchronizationEvent, FALSE);
        if (below != nullptr)
            state->lower = IoAttachDeviceToDeviceStack(device, below);
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        devices_.push_back(device);
        return device;
    }

    // Takes a stack apart top-down, as PnP removal does.
    void RemoveDevices()
    {
        for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) {
            if (State(*it).lower != nullptr)
                IoDetachDevice(State(*it).lower);
            IoDeleteDevice(*it);
        }
        devices_.clear();
    }

    // An IRP the test owns, addressed to the top of `top`'s stack (an internal control request
    // carrying `argument`), whose owner routine records into `owner` for every outcome.
    PIRP OwnedIrp(PDEVICE_OBJECT top, Recorder *owner, PVOID argument = nullptr)
    {
        PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.Others.Argument1 = argument;
        if (owner != nullptr)
            IoSetCompletionRoutine(irp, RecordCompletion, owner, TRUE, TRUE, TRUE);
        return irp;
    }

    // Completes the IRP `device` holds, at the given IRQL, as the device's driver would.
    void CompleteHeld(PDEVICE_OBJECT device, NTSTATUS status, ULONG_PTR information = 0,
                      KIRQL irql = PASSIVE_LEVEL)
    {
        PIRP irp = State(device).held;
        State(device).held = nullptr;
        IoSetCancelRoutine(irp, nullptr);
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = information;
        KIRQL old = PASSIVE_LEVEL;
        if (irql != PASSIVE_LEVEL)
            KeRaiseIrql(irql, &old);
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        if (irql != PASSIVE_LEVEL)
            KeLowerIrql(old);
    }

    // Waits (in virtual time) for an emulated thread to end and drops its reference.
    void Join(PKTHREAD thread)
    {
        KeWaitForSingleObject(thread, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(thread);
    }

    PDRIVER_OBJECT driver_ = nullptr;
    std::vector<PDEVICE_OBJECT> devices_;
};
