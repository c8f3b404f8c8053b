// Isochronous scheduling: which (micro)frames the packets of a transfer go out in, how ASAP
// transfers continue a stream or start an idle one, explicit start frames, the packet-count
// rules, and when transfers complete.
#include "usb_test_fixture.h"

#include <atomic>

namespace usb_tests {
namespace {

class IsochronousTimingTest : public UsbTest {
protected:
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    }

    std::vector<UCHAR> Ramp(size_t bytes, UCHAR seed)
    {
        std::vector<UCHAR> data(bytes);
        for (size_t i = 0; i < bytes; ++i)
            data[i] = UCHAR(seed + i);
        return data;
    }
};

TEST_F(IsochronousTimingTest, IdlePipeStartsTwoFramesAheadWithOnePacketPerMicroframe)
{
    std::vector<UCHAR> data = Ramp(8 * 48, 0);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    ULONG frame = controller_->CurrentFrame();
    PendingUrb &pending = SubmitAsync(urb->Get());
    ULONG start = (*urb)->UrbIsochronousTransfer.StartFrame;
    EXPECT_EQ(frame + host::UsbHostController::kAsapStartDelayFrames, start);
    EXPECT_EQ(STATUS_SUCCESS, Wait(pending));
    EXPECT_EQ(USBD_STATUS_SUCCESS, (*urb)->UrbHeader.Status);
    EXPECT_EQ(0u, (*urb)->UrbIsochronousTransfer.ErrorCount);

    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(8u, packets.size());
    ULONGLONG first = FirstIntervalOfFrame(start);
    for (ULONG i = 0; i < 8; ++i) {
        EXPECT_EQ(first + i, packets[i].interval);
        EXPECT_EQ(std::vector<UCHAR>(data.begin() + i * 48, data.begin() + (i + 1) * 48),
                  packets[i].data);
        EXPECT_EQ(USBD_STATUS_SUCCESS, (*urb)->UrbIsochronousTransfer.IsoPacket[i].Status);
    }
    // Completed when its last microframe had passed, at DISPATCH_LEVEL.
    EXPECT_EQ(ULONGLONG(start + 1) * 10000, pending.completedAt);
    EXPECT_EQ(DISPATCH_LEVEL, pending.completionIrql);
}

TEST_F(IsochronousTimingTest, AsapTransfersContinueTheStreamWithoutGaps)
{
    std::vector<std::vector<UCHAR>> buffers;
    std::vector<std::unique_ptr<UrbBuffer>> urbs;
    std::vector<PendingUrb *> pendings;
    for (int t = 0; t < 4; ++t) {
        buffers.push_back(Ramp(16 * 40, UCHAR(t * 16)));
        urbs.push_back(IsoUrb(kDataEndpoint, 16, buffers.back(), 40));
        pendings.push_back(&SubmitAsync(urbs.back()->Get()));
    }
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(STATUS_SUCCESS, Wait(*pendings[t]));
        if (t > 0) {
            EXPECT_EQ((*urbs[t - 1])->UrbIsochronousTransfer.StartFrame + 2,
                      (*urbs[t])->UrbIsochronousTransfer.StartFrame);
        }
    }
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(64u, packets.size());
    for (size_t i = 1; i < packets.size(); ++i)
        EXPECT_EQ(packets[i - 1].interval + 1, packets[i].interval) << "packet " << i;
}

// Keeps transfers in flight on the data pipe, each resubmitted from its completion routine at
// DISPATCH_LEVEL, as a driver's render path does.
class ResubmittingStream {
public:
    ResubmittingStream(PDEVICE_OBJECT pdo, int inFlight, int total) : pdo_(pdo), remaining_(total)
    {
        KeInitializeEvent(&done_, NotificationEvent, FALSE);
        slots_.resize(inFlight);
    }

    template <class MakeUrb>
    void Start(MakeUrb makeUrb)
    {
        for (Slot &slot : slots_) {
            slot.stream = this;
            slot.urb = makeUrb(data_);
            slot.irp = IoAllocateIrp(pdo_->StackSize, FALSE);
            Send(slot);
        }
    }

    void WaitAndRelease()
    {
        KeWaitForSingleObject(&done_, Executive, KernelMode, FALSE, nullptr);
        for (Slot &slot : slots_)
            IoFreeIrp(slot.irp);
    }

private:
    struct Slot {
        ResubmittingStream *stream = nullptr;
        std::unique_ptr<UrbBuffer> urb;
        PIRP irp = nullptr;
    };

    void Send(Slot &slot)
    {
        IoReuseIrp(slot.irp, STATUS_SUCCESS);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(slot.irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = slot.urb->Get();
        IoSetCompletionRoutine(slot.irp, Completed, &slot, TRUE, TRUE, TRUE);
        IoCallDriver(pdo_, slot.irp);
    }

    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP, PVOID context)
    {
        Slot &slot = *static_cast<Slot *>(context);
        ResubmittingStream &stream = *slot.stream;
        LONG left = --stream.remaining_;
        if (left >= LONG(stream.slots_.size()))
            stream.Send(slot);
        else if (left == 0)
            KeSetEvent(&stream.done_, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    PDEVICE_OBJECT pdo_;
    std::atomic<LONG> remaining_;
    KEVENT done_;
    std::vector<Slot> slots_;
    std::vector<UCHAR> data_ = std::vector<UCHAR>(8 * 48, 0x5a);
};

TEST_F(IsochronousTimingTest, ResubmittingFromTheCompletionRoutineKeepsTheStreamGapless)
{
    ResubmittingStream stream(pdo_, 2, 20);
    stream.Start([this](std::vector<UCHAR> &data) { return IsoUrb(kDataEndpoint, 8, data, 48); });
    stream.WaitAndRelease();
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(20u * 8, packets.size());
    for (size_t i = 1; i < packets.size(); ++i)
        ASSERT_EQ(packets[i - 1].interval + 1, packets[i].interval) << "packet " << i;
}

TEST_F(IsochronousTimingTest, AsapAfterTheStreamRanDryStartsAgainWithTheMargin)
{
    std::vector<UCHAR> data(8 * 48);
    auto first = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(first->Get()));
    Sleep(5);
    auto second = IsoUrb(kDataEndpoint, 8, data, 48);
    ULONG frame = controller_->CurrentFrame();
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(second->Get()));
    EXPECT_EQ(frame + host::UsbHostController::kAsapStartDelayFrames,
              (*second)->UrbIsochronousTransfer.StartFrame);
}

TEST_F(IsochronousTimingTest, ExplicitStartFrameAheadIsUsed)
{
    std::vector<UCHAR> data(8 * 48);
    ULONG frame = controller_->CurrentFrame() + 5;
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48, false, frame);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    EXPECT_EQ(frame, (*urb)->UrbIsochronousTransfer.StartFrame);
    EXPECT_EQ(FirstIntervalOfFrame(frame), model_->Packets(kDataEndpoint).front().interval);
}

TEST_F(IsochronousTimingTest, LateOrFarExplicitStartFrameFailsWithBadStartFrame)
{
    Sleep(20);
    std::vector<UCHAR> data(8 * 48);
    ULONG now = controller_->CurrentFrame();
    for (ULONG frame : {now - 3, now, now + USBD_ISO_START_FRAME_RANGE}) {
        SCOPED_TRACE(frame);
        auto urb = IsoUrb(kDataEndpoint, 8, data, 48, false, frame);
        EXPECT_EQ(STATUS_UNSUCCESSFUL, SubmitSync(urb->Get()));
        EXPECT_EQ(USBD_STATUS_BAD_START_FRAME, (*urb)->UrbHeader.Status);
    }
    EXPECT_TRUE(model_->Packets(kDataEndpoint).empty());
}

TEST_F(IsochronousTimingTest, HighSpeedPacketCountMustCoverWholeFrames)
{
    std::vector<UCHAR> data(16 * 48);
    auto partial = IsoUrb(kDataEndpoint, 12, data, 48);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(partial->Get()));
    EXPECT_EQ(USBD_STATUS_INVALID_PARAMETER, (*partial)->UrbHeader.Status);

    // bInterval 2: four packets per frame, one every other microframe.
    ASSERT_EQ(STATUS_SUCCESS, SelectInterface(1, 3));
    EXPECT_EQ(2, Pipe(kDataEndpoint).Interval);
    auto six = IsoUrb(kDataEndpoint, 6, data, 48);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(six->Get()));
    auto eight = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(eight->Get()));
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(8u, packets.size());
    EXPECT_EQ(FirstIntervalOfFrame((*eight)->UrbIsochronousTransfer.StartFrame),
              packets[0].interval);
    for (size_t i = 1; i < packets.size(); ++i)
        EXPECT_EQ(packets[i - 1].interval + 2, packets[i].interval);
}

TEST_F(IsochronousTimingTest, MoreThan1024PacketsAreRefusedAtHighSpeed)
{
    std::vector<UCHAR> data(1032 * 4);
    auto urb = IsoUrb(kDataEndpoint, 1032, data, 4);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(urb->Get()));
    auto most = IsoUrb(kDataEndpoint, 1024, data, 4);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(most->Get()));
}

TEST_F(IsochronousTimingTest, FeedbackPacketsAreTakenOncePerFrameAtBInterval4)
{
    std::vector<UCHAR> feedback(4 * 4);
    auto urb = IsoUrb(kFeedbackEndpoint, 4, feedback, 4);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    const auto &iso = (*urb)->UrbIsochronousTransfer;
    ULONGLONG first = FirstIntervalOfFrame(iso.StartFrame);
    for (ULONG i = 0; i < 4; ++i) {
        EXPECT_EQ(4u, iso.IsoPacket[i].Length);
        EXPECT_EQ(USBD_STATUS_SUCCESS, iso.IsoPacket[i].Status);
        ULONG taken = feedback[i * 4] | feedback[i * 4 + 1] << 8 | feedback[i * 4 + 2] << 16 |
                      ULONG(feedback[i * 4 + 3]) << 24;
        EXPECT_EQ(first + 8 * i, taken) << "packet " << i;
    }
}

TEST_F(IsochronousTimingTest, OutPacketsOfAnIntervalReachTheDeviceBeforeItsInPackets)
{
    std::vector<UCHAR> data(8 * 48), feedback(4 * 4);
    auto out = IsoUrb(kDataEndpoint, 8, data, 48);
    auto in = IsoUrb(kFeedbackEndpoint, 1, feedback, 4);
    PendingUrb &outPending = SubmitAsync(out->Get());
    PendingUrb &inPending = SubmitAsync(in->Get());
    ASSERT_EQ((*out)->UrbIsochronousTransfer.StartFrame, (*in)->UrbIsochronousTransfer.StartFrame);
    EXPECT_EQ(STATUS_SUCCESS, Wait(outPending));
    EXPECT_EQ(STATUS_SUCCESS, Wait(inPending));
    // Both have a packet in the frame's first microframe: the OUT one arrived first.
    ASSERT_EQ(1u, model_->OutPacketsSeenByIn().size());
    EXPECT_EQ(1u, model_->OutPacketsSeenByIn()[0]);
}

TEST_F(IsochronousTimingTest, DeviceClockReachesTheEndOfEachPass)
{
    std::vector<UCHAR> data(8 * 48);
    auto urb = IsoUrb(kDataEndpoint, 8, data, 48);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(urb->Get()));
    // Moved past the transfer's last microframe, never beyond the bus's present.
    EXPECT_EQ(FirstIntervalOfFrame((*urb)->UrbIsochronousTransfer.StartFrame) + 8,
              model_->AdvancedTo());
    EXPECT_LE(model_->AdvancedTo(), controller_->CurrentInterval(kPort));
}

class FullSpeedTimingTest : public UsbTest {
protected:
    FullSpeedTimingTest() : UsbTest(host::UsbSpeed::Full) {}
    void SetUp() override
    {
        Plug();
        ASSERT_EQ(STATUS_SUCCESS, SelectConfiguration({0, 1, 0, 0}));
    }
};

TEST_F(FullSpeedTimingTest, OnePacketPerFrameAndAtMost255PacketsPerUrb)
{
    std::vector<UCHAR> data(256 * 4);
    auto tooMany = IsoUrb(kDataEndpoint, 256, data, 4);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, SubmitSync(tooMany->Get()));
    std::vector<UCHAR> small(3 * 4);
    auto three = IsoUrb(kDataEndpoint, 3, small, 4);
    EXPECT_EQ(STATUS_SUCCESS, SubmitSync(three->Get()));
    std::vector<LoggedPacket> packets = model_->Packets(kDataEndpoint);
    ASSERT_EQ(3u, packets.size());
    ULONG start = (*three)->UrbIsochronousTransfer.StartFrame;
    for (ULONG i = 0; i < 3; ++i)
        EXPECT_EQ(FirstIntervalOfFrame(start + i), packets[i].interval);
}

} // namespace
} // namespace usb_tests
