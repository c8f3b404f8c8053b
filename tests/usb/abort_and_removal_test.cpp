// Ending transfers early: pipe abort, IoCancelIrp, pipe resets and their IRQL rule, surprise
// removal and what the PDO does afterwards.
#include "usb_test_fixture.h"

namespace usb_tests {
namespace {

class AbortAndRemovalTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    }

    std::unique_ptr<UrbBuffer> PipeUrb(USHORT function, UCHAR endpoint)
    {
        auto urb = std::make_unique<UrbBuffer>(sizeof(struct _URB_PIPE_REQUEST));
        (*urb)->UrbPipeRequest.Hdr.Length = sizeof(struct _URB_PIPE_REQUEST);
        (*urb)->UrbPipeRequest.Hdr.Function = function;
        (*urb)->UrbPipeRequest.PipeHandle = Pipe(endpoint).PipeHandle;
        return urb;
    }

    NTSTATUS SendPnp(UCHAR minor)
    {
        PIRP irp = IoAllocateIrp(pdo_->StackSize, FALSE);
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = minor;
        PendingUrb pending;
        KeInitializeEvent(&pending.done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP irp, PVOID context) {
                auto p = static_cast<PendingUrb *>(context);
                p->status = irp->IoStatus.Status;
                KeSetEvent(&p->done, IO_NO_INCREMENT, FALSE);
                return NTSTATUS(STATUS_MORE_PROCESSING_REQUIRED);
            },
            &pending, TRUE, TRUE, TRUE);
        IoCallDriver(pdo_, irp);
        KeWaitForSingleObject(&pending.done, Executive, KernelMode, FALSE, nullptr);
        IoFreeIrp(irp);
        return pending.status;
    }
};

TEST_F(AbortAndRemovalTest, AbortCompletesEveryPendingTransferCancelledBeforeItself)
{
    std::vector<UCHAR> data(8 * 48);
    std::vector<std::unique_ptr<UrbBuffer>> urbs;
    std::vector<PendingUrb *> pendings;
    for (int i = 0; i < 3; ++i) {
        urbs.push_back(IsoUrb(kDataEndpoint, 8, data, 48));
        pendings.push_back(&SubmitAsync(urbs.back()->Get()));
    }
    auto abort = PipeUrb(URB_FUNCTION_ABORT_PIPE, kDataEndpoint);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(abort->Get()));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(pendings[i]->completed) << "transfer " << i << " outlived the abort";
        EXPECT_EQ(STATUS_CANCELLED, pendings[i]->status);
        EXPECT_EQ(USBD_STATUS_CANCELED, (*urbs[i])->UrbHeader.Status);
    }
    EXPECT_TRUE(model_->Packets(kDataEndpoint).empty());

    // The pipe's schedule starts over.
    auto next = IsoUrb(kDataEndpoint, 8, data, 48);
    ULONG frame = controller_->CurrentFrame();
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(next->Get()));
    EXPECT_EQ(frame + host::UsbHostController::kAsapStartDelayFrames,
              (*next)->UrbIsochronousTransfer.StartFrame);
}

TEST_F(AbortAndRemovalTest, AbortKeepsThePacketsThatAlreadyWentOut)
{
    std::vector<UCHAR> data(64 * 48);
    auto urb = IsoUrb(kDataEndpoint, 64, data, 48);
    PendingUrb &pending = SubmitAsync(urb->Get());
    Sleep(5); // two frames of margin, then about three frames of packets
    ULONGLONG first = FirstIntervalOfFrame((*urb)->UrbIsochronousTransfer.StartFrame);
    ULONGLONG elapsed = controller_->CurrentInterval(kPort) - first;
    auto abort = PipeUrb(URB_FUNCTION_ABORT_PIPE, kDataEndpoint);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(abort->Get()));
    EXPECT_EQ(STATUS_CANCELLED, Wait(pending));
    EXPECT_GE(elapsed, 16u);
    EXPECT_EQ(elapsed, model_->Packets(kDataEndpoint).size());
}

TEST_F(AbortAndRemovalTest, PipeAbortAndResetAboveDispatchAreReported)
{
    for (USHORT function :
         {USHORT(URB_FUNCTION_ABORT_PIPE), USHORT(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL)}) {
        auto urb = PipeUrb(function, kDataEndpoint);
        KIRQL irql;
        KeRaiseIrql(DISPATCH_LEVEL, &irql);
        PendingUrb &pending = SubmitAsync(urb->Get());
        KeLowerIrql(irql);
        EXPECT_EQ(STATUS_INVALID_PARAMETER, Wait(pending));
        EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    }
}

TEST_F(AbortAndRemovalTest, CancelledIrpCompletesWithStatusCancelled)
{
    std::vector<UCHAR> data(64 * 48);
    auto urb = IsoUrb(kDataEndpoint, 64, data, 48);
    PendingUrb &pending = SubmitAsync(urb->Get());
    Sleep(4);
    ULONGLONG first = FirstIntervalOfFrame((*urb)->UrbIsochronousTransfer.StartFrame);
    ULONGLONG elapsed = controller_->CurrentInterval(kPort) - first;
    EXPECT_TRUE(IoCancelIrp(pending.irp));
    EXPECT_EQ(STATUS_CANCELLED, Wait(pending));
    EXPECT_EQ(USBD_STATUS_CANCELED, (*urb)->UrbHeader.Status);
    // Cancelled at once, in virtual time: the packets already sent stay sent.
    EXPECT_GE(elapsed, 8u);
    EXPECT_EQ(elapsed, model_->Packets(kDataEndpoint).size());
    EXPECT_FALSE(IoCancelIrp(pending.irp)); // completed: nothing left to cancel
}

TEST_F(AbortAndRemovalTest, ResetPipeClearsTheHaltOnTheDeviceExceptForIsochronousPipes)
{
    auto bulk = PipeUrb(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, kBulkEndpoint);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(bulk->Get()));
    LoggedRequest clear = model_->Requests().back();
    EXPECT_EQ(USB_REQUEST_CLEAR_FEATURE, clear.setup.bRequest);
    EXPECT_EQ(kBulkEndpoint, clear.setup.wIndex);

    size_t before = model_->Requests().size();
    auto iso = PipeUrb(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, kDataEndpoint);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(iso->Get()));
    EXPECT_EQ(before, model_->Requests().size());

    auto clearOnly = PipeUrb(URB_FUNCTION_SYNC_CLEAR_STALL, kDataEndpoint);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(clearOnly->Get()));
    EXPECT_EQ(kDataEndpoint, model_->Requests().back().setup.wIndex);
}

TEST_F(AbortAndRemovalTest, UnplugFailsPendingAndNewRequestsWithDeviceNotConnected)
{
    std::vector<UCHAR> data(64 * 48);
    auto urb = IsoUrb(kDataEndpoint, 64, data, 48);
    PendingUrb &pending = SubmitAsync(urb->Get());
    controller_->Unplug(kPort);
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, Wait(pending));
    EXPECT_EQ(USBD_STATUS_DEVICE_GONE, (*urb)->UrbHeader.Status);
    EXPECT_EQ(1, model_->DisconnectCount());

    USB_DEVICE_DESCRIPTOR descriptor;
    ULONG returned;
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED,
              GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, 18, &returned));
    auto again = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_DEVICE_NOT_CONNECTED, SubmitSync(again->Get()));

    ULONG portStatus = 0xFFFF;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_GET_PORT_STATUS, pdo_, nullptr, 0,
                                             nullptr, 0, TRUE, &event, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &portStatus;
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(pdo_, irp));
    EXPECT_EQ(0u, portStatus);

    // The PnP manager removes the device; the bus driver deletes its PDO then.
    EXPECT_EQ(STATUS_SUCCESS, SendPnp(IRP_MN_SURPRISE_REMOVAL));
    EXPECT_EQ(STATUS_SUCCESS, SendPnp(IRP_MN_REMOVE_DEVICE));
    pdo_ = nullptr;

    // The port takes a device again.
    auto second = std::make_shared<TestUsbDevice>();
    EXPECT_NE(nullptr, controller_->Plug(kPort, second));
}

TEST_F(AbortAndRemovalTest, PortStatusOfAPluggedDeviceIsEnabledAndConnected)
{
    ULONG portStatus = 0;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_GET_PORT_STATUS, pdo_, nullptr, 0,
                                             nullptr, 0, TRUE, &event, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = &portStatus;
    EXPECT_EQ(STATUS_SUCCESS, IoCallDriver(pdo_, irp));
    EXPECT_EQ(ULONG(USBD_PORT_ENABLED | USBD_PORT_CONNECTED), portStatus);
}

TEST_F(AbortAndRemovalTest, RemoveOfAPluggedDeviceKeepsItsPdo)
{
    EXPECT_EQ(STATUS_SUCCESS, SendPnp(IRP_MN_REMOVE_DEVICE));
    USB_DEVICE_DESCRIPTOR descriptor;
    ULONG returned;
    EXPECT_EQ(STATUS_SUCCESS,
              GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &descriptor, 18, &returned));
}

} // namespace
} // namespace usb_tests
