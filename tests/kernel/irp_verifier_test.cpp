// The IRP rules the verifier enforces: each test breaks one of them and checks the report.
#include "io_test_driver.h"

#include <string>

namespace {

class IrpVerifierTest : public IoTest {
protected:
    // The one IRP report the test provoked, whose text must contain `what`.
    void ExpectIrpReport(const char *what)
    {
        std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Irp);
        ASSERT_EQ(1u, reports.size());
        EXPECT_NE(std::string::npos, reports[0].message.find(what)) << reports[0].message;
    }
};

TEST_F(IrpVerifierTest, CompletingAnIrpTwiceIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::CompleteTwice;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    ExpectIrpReport("completed twice");
    EXPECT_EQ(1u, owner.calls.size()); // the second completion ran nothing
    IoFreeIrp(irp);
}

TEST_F(IrpVerifierTest, CompletingAFinishedThreadRequestAgainIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status = {};
    PIRP irp =
        IoBuildDeviceIoControlRequest(0x220003, bus, nullptr, 0, nullptr, 0, TRUE, &event, &status);
    IoCallDriver(bus, irp); // completed, and freed by the I/O manager
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    ExpectIrpReport("not a live IRP");
}

TEST_F(IrpVerifierTest, FreeingAnIrpALowerDriverOwnsIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(bus, irp));
    IoFreeIrp(irp);
    ExpectIrpReport("while a lower driver owns the IRP");
    // The IRP was left alone: the bus driver can still complete it.
    CompleteHeld(bus, STATUS_SUCCESS);
    EXPECT_EQ(1u, owner.calls.size());
    IoFreeIrp(irp);
}

TEST_F(IrpVerifierTest, ReusingAnIrpALowerDriverOwnsIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    IoReuseIrp(irp, STATUS_SUCCESS);
    ExpectIrpReport("while a lower driver owns the IRP");
    EXPECT_EQ(1, irp->CurrentLocation); // not reset under the bus driver's feet
    CompleteHeld(bus, STATUS_SUCCESS);
    IoFreeIrp(irp);
}

TEST_F(IrpVerifierTest, SendingAnIrpWithoutAStackLocationLeftIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    PIRP irp = IoAllocateIrp(0, FALSE); // one location too few for the bus device
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST, IoCallDriver(bus, irp));
    ExpectIrpReport("NO_MORE_IRP_STACK_LOCATIONS");
    EXPECT_EQ(0, State(bus).calls);
    IoFreeIrp(irp);
}

TEST_F(IrpVerifierTest, LeakedIrpsAreReportedAtTeardown)
{
    PIRP leaked = IoAllocateIrp(2, FALSE);
    PIRP freed = IoAllocateIrp(2, FALSE);
    IoFreeIrp(freed);
    EXPECT_EQ(1u, M().Io().ReportLeakedIrps());
    ExpectIrpReport("never freed");
    (void)leaked; // released by the report, as at machine teardown
}

TEST_F(IrpVerifierTest, FreeingAnIrpTwiceIsReported)
{
    PIRP irp = IoAllocateIrp(1, FALSE);
    IoFreeIrp(irp);
    IoFreeIrp(irp);
    ExpectIrpReport("not a live IRP");
}

TEST_F(IrpVerifierTest, FreeingAThreadRequestIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status = {};
    PIRP irp =
        IoBuildDeviceIoControlRequest(0x220003, bus, nullptr, 0, nullptr, 0, TRUE, &event, &status);
    IoFreeIrp(irp);
    ExpectIrpReport("its caller must not");
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(bus, irp)); // still usable; completion frees it
}

TEST_F(IrpVerifierTest, ReturningMoreBytesThanTheCallerHasRoomForIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).information = 64;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status = {};
    char output[9] = "--------";
    PIRP irp = IoBuildDeviceIoControlRequest(
        CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS), bus, nullptr, 0,
        output, 8, FALSE, &event, &status);
    IoCallDriver(bus, irp);
    ExpectIrpReport("beyond its 8-byte output buffer");
    EXPECT_EQ('\0', output[8]); // only the caller's 8 bytes were written
}

TEST_F(IrpVerifierTest, CompletingWithStatusPendingIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).status = STATUS_PENDING;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    ExpectIrpReport("completed with STATUS_PENDING");
    IoFreeIrp(irp);
}

void NeverCalled(PDEVICE_OBJECT, PIRP) { ADD_FAILURE() << "cancel routine called"; }

TEST_F(IrpVerifierTest, CompletingWithTheCancelRoutineSetIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    State(bus).cancelRoutine = NeverCalled;
    Recorder owner;
    owner.result = STATUS_MORE_PROCESSING_REQUIRED;
    PIRP irp = OwnedIrp(bus, &owner);
    IoCallDriver(bus, irp);
    State(bus).held = nullptr;
    irp->IoStatus.Status = STATUS_SUCCESS;
    IoCompleteRequest(irp, IO_NO_INCREMENT); // the bus driver forgot IoSetCancelRoutine(NULL)
    ExpectIrpReport("cancel routine still set");
    IoSetCancelRoutine(irp, nullptr);
    IoFreeIrp(irp);
}

TEST_F(IrpVerifierTest, CompletionPastTheOwnerIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    PIRP irp = OwnedIrp(bus, nullptr); // no completion routine to stop completion
    IoCallDriver(bus, irp);
    ExpectIrpReport("completed past its owner");
    IoFreeIrp(irp);
}

NTSTATUS ReturnsAtDispatchLevel(PDEVICE_OBJECT, PIRP, PVOID)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

TEST_F(IrpVerifierTest, ACompletionRoutineThatChangesTheIrqlIsReported)
{
    PDEVICE_OBJECT bus = AddDevice();
    PIRP irp = OwnedIrp(bus, nullptr);
    IoSetCompletionRoutine(irp, ReturnsAtDispatchLevel, nullptr, TRUE, TRUE, TRUE);
    IoCallDriver(bus, irp);
    // The routine, and the bus driver's dispatch routine that completed the IRP, both came back
    // at DISPATCH_LEVEL.
    std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Irql);
    ASSERT_EQ(2u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("completion routine"))
        << reports[0].message;
    EXPECT_NE(std::string::npos, reports[1].message.find("dispatch routine")) << reports[1].message;
    KeLowerIrql(PASSIVE_LEVEL);
    IoFreeIrp(irp);
}

} // namespace
