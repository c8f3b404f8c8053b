// Requests built for the calling thread (IoBuildDeviceIoControlRequest): the I/O manager
// buffers the caller's data by transfer method, and on completion fills the status block,
// signals the event and frees the IRP, from whichever thread completes it. Also: telling a
// 32-bit requestor from a 64-bit one.
#include "io_test_driver.h"

#include <cstring>

namespace {

constexpr ULONG kSubmitUrb = CTL_CODE(FILE_DEVICE_UNKNOWN, 0, METHOD_NEITHER, FILE_ANY_ACCESS);
constexpr ULONG kBuffered = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kOutDirect =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

class ThreadRequestTest : public IoTest {
protected:
    ThreadRequestTest()
    {
        KeInitializeEvent(&event_, NotificationEvent, FALSE);
        status_.Status = STATUS_UNSUCCESSFUL;
        status_.Information = 0xdead;
    }
    KEVENT event_;
    IO_STATUS_BLOCK status_;
};

TEST_F(ThreadRequestTest, IoControlCodesFollowTheWindowsEncoding)
{
    EXPECT_EQ(0x220003u, kSubmitUrb); // IOCTL_INTERNAL_USB_SUBMIT_URB
    EXPECT_EQ(0x222000u, kBuffered);
    EXPECT_EQ(METHOD_OUT_DIRECT, METHOD_FROM_CTL_CODE(kOutDirect));
    EXPECT_EQ(0x801u, IoGetFunctionCodeFromCtlCode(kOutDirect));
}

TEST_F(ThreadRequestTest, PendingRequestCompletedByAnotherThreadWakesTheCaller)
{
    PDEVICE_OBJECT bus = AddDevice();
    PDEVICE_OBJECT function = AddDevice(bus);
    State(function).behaviour = Behaviour::PassDown;
    State(bus).behaviour = Behaviour::Pend;
    PKTHREAD controller = M().StartThread("host controller", M().SystemProcess(), [&] {
        KeWaitForSingleObject(&State(bus).arrived, Executive, KernelMode, FALSE, nullptr);
        CompleteHeld(bus, STATUS_SUCCESS, 7, DISPATCH_LEVEL);
    });

    int urb = 0;
    PIRP irp = IoBuildDeviceIoControlRequest(kSubmitUrb, function, nullptr, 0, nullptr, 0, TRUE,
                                             &event_, &status_);
    ASSERT_NE(nullptr, irp);
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    EXPECT_EQ(IRP_MJ_INTERNAL_DEVICE_CONTROL, next->MajorFunction);
    EXPECT_EQ(kSubmitUrb, next->Parameters.DeviceIoControl.IoControlCode);
    next->Parameters.Others.Argument1 = &urb;
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(function, irp));
    EXPECT_EQ(STATUS_SUCCESS,
              KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr));
    EXPECT_EQ(STATUS_SUCCESS, status_.Status);
    EXPECT_EQ(7u, status_.Information);
    EXPECT_EQ(&urb, State(bus).lastArgument1);
    Join(controller);
}

TEST_F(ThreadRequestTest, SynchronousCompletionAlsoFillsTheStatusBlock)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).status = STATUS_DEVICE_NOT_CONNECTED;
    PIRP irp = IoBuildDeviceIoControlRequest(kSubmitUrb, bus, nullptr, 0, nullptr, 0, TRUE, &event_,
                                             &status_);
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, IoCallDriver(bus, irp));
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, status_.Status);
    EXPECT_EQ(1, KeReadStateEvent(&event_));
}

TEST_F(ThreadRequestTest, BufferedRequestCopiesInputInAndOutputBack)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    char input[8] = "request";
    char output[16];
    std::memset(output, '-', sizeof output);
    PIRP irp = IoBuildDeviceIoControlRequest(kBuffered, bus, input, sizeof input, output,
                                             sizeof output, FALSE, &event_, &status_);
    EXPECT_EQ(IRP_MJ_DEVICE_CONTROL, IoGetNextIrpStackLocation(irp)->MajorFunction);
    EXPECT_EQ(STATUS_PENDING, IoCallDriver(bus, irp));

    PIO_STACK_LOCATION location = State(bus).lastLocation;
    EXPECT_EQ(sizeof input, location->Parameters.DeviceIoControl.InputBufferLength);
    EXPECT_EQ(sizeof output, location->Parameters.DeviceIoControl.OutputBufferLength);
    auto system = static_cast<char *>(irp->AssociatedIrp.SystemBuffer);
    ASSERT_NE(nullptr, system);
    EXPECT_NE(static_cast<void *>(input), static_cast<void *>(system));
    EXPECT_STREQ("request", system);
    std::memcpy(system, "reply", 5);
    EXPECT_EQ('-', output[0]); // nothing reaches the caller before completion
    CompleteHeld(bus, STATUS_SUCCESS, 5);
    EXPECT_EQ(0, std::memcmp(output, "reply-", 6)); // exactly Information bytes come back
    EXPECT_EQ(5u, status_.Information);
}

TEST_F(ThreadRequestTest, FailedBufferedRequestCopiesNothingBack)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).status = STATUS_INVALID_PARAMETER;
    State(bus).information = 4;
    char output[4] = {'-', '-', '-', '-'};
    PIRP irp = IoBuildDeviceIoControlRequest(kBuffered, bus, nullptr, 0, output, sizeof output,
                                             FALSE, &event_, &status_);
    std::memset(irp->AssociatedIrp.SystemBuffer, 'x', sizeof output);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, IoCallDriver(bus, irp));
    EXPECT_EQ('-', output[0]);
}

TEST_F(ThreadRequestTest, NeitherMethodHandsTheCallersAddressesToTheDriver)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    char input[4], output[4];
    PIRP irp = IoBuildDeviceIoControlRequest(kSubmitUrb, bus, input, sizeof input, output,
                                             sizeof output, TRUE, &event_, &status_);
    IoCallDriver(bus, irp);
    EXPECT_EQ(input, State(bus).lastLocation->Parameters.DeviceIoControl.Type3InputBuffer);
    EXPECT_EQ(output, irp->UserBuffer);
    EXPECT_EQ(nullptr, irp->AssociatedIrp.SystemBuffer);
    CompleteHeld(bus, STATUS_SUCCESS);
}

TEST_F(ThreadRequestTest, DirectOutputIsDescribedByALockedMdl)
{
    PDEVICE_OBJECT bus = AddDevice();
    State(bus).behaviour = Behaviour::Pend;
    char output[6000] = {};
    PIRP irp = IoBuildDeviceIoControlRequest(kOutDirect, bus, nullptr, 0, output, sizeof output,
                                             FALSE, &event_, &status_);
    IoCallDriver(bus, irp);
    PMDL mdl = irp->MdlAddress;
    ASSERT_NE(nullptr, mdl);
    EXPECT_TRUE(mdl->MdlFlags & MDL_PAGES_LOCKED);
    EXPECT_TRUE(mdl->MdlFlags & MDL_WRITE_OPERATION);
    EXPECT_EQ(sizeof output, MmGetMdlByteCount(mdl));
    auto system = static_cast<char *>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    ASSERT_NE(nullptr, system);
    system[5999] = 'z';
    CompleteHeld(bus, STATUS_SUCCESS, sizeof output); // unlocks and frees the MDL
    EXPECT_EQ('z', output[5999]);
}

TEST_F(ThreadRequestTest, ThirtyTwoBitRequestorsAreRecognised)
{
    PKPROCESS wow64 = M().CreateProcess("host32.exe", true);
    PKPROCESS native = M().CreateProcess("host64.exe", false);
    EXPECT_FALSE(IoIs32bitProcess(nullptr)); // the test's own thread is a system thread
    for (PKPROCESS process : {wow64, native}) {
        host::ThreadAttachment caller(M(), "caller", true, process);
        EXPECT_EQ(process->is32Bit, IoIs32bitProcess(nullptr));
        PIRP irp = IoAllocateIrp(1, FALSE);
        irp->RequestorMode = UserMode;
        EXPECT_EQ(process->is32Bit, IoIs32bitProcess(irp));
        irp->RequestorMode = KernelMode; // a kernel-mode requestor is never a 32-bit process
        EXPECT_FALSE(IoIs32bitProcess(irp));
        IoFreeIrp(irp);
    }
    // A request issued by a thread of the 32-bit process, examined from a system thread.
    PKTHREAD requestor = M().StartThread("host32 thread", wow64, [] {});
    PIRP irp = IoAllocateIrp(1, FALSE);
    irp->RequestorMode = UserMode;
    irp->Tail.Overlay.Thread = requestor;
    EXPECT_TRUE(IoIs32bitProcess(irp));
    irp->Tail.Overlay.Thread = nullptr;
    EXPECT_FALSE(IoIs32bitProcess(irp));
    IoFreeIrp(irp);
    Join(requestor);
}

} // namespace
