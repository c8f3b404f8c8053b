// The asynchronous transfer path against the device models: the URBs it builds for capture,
// bulk and interrupt transfers, the byte counts and compaction of IN transfers, failures still
// completed to the caller, IRP reuse with many transfers in flight, and the render pipe abort.
#include "transfer_test_support.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

#include <atomic>

namespace driver_usb_tests {
namespace {

using devices::rvd3::kCaptureEndpoint;
using devices::rvd3::kFeedbackEndpoint;

class CaptureTransferTest : public TransferTest {
protected:
    void SetUp() override { StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000, 24); }
    ULONG MaxPacket() { return Capture().DataPipe->MaximumPacketSize; }
};

TEST_F(CaptureTransferTest, HighSpeedCaptureUrbCoversWholeMillisecondsAsSoonAsPossible)
{
    const ULONG max = MaxPacket();
    std::vector<UCHAR> buffer(3 * max);
    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS,
              audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                            CallbackRecorder::Callback, &done, 1234));
    ASSERT_TRUE(done.WaitFor(1));
    const std::vector<UrbSnapshot> urbs = Urbs();
    ASSERT_EQ(1u, urbs.size());
    const UrbSnapshot &urb = urbs[0];
    EXPECT_EQ(URB_FUNCTION_ISOCH_TRANSFER, urb.function);
    EXPECT_EQ(GET_ISO_URB_SIZE(8), urb.length); // 3 packets rounded up to one millisecond
    EXPECT_EQ(ULONG(USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP), urb.flags);
    EXPECT_EQ(Capture().DataPipe->PipeHandle, urb.pipe);
    EXPECT_EQ(buffer.data(), urb.buffer);
    EXPECT_EQ(nullptr, urb.mdl);
    EXPECT_EQ(3 * max, urb.bufferLength);
    ASSERT_EQ(8u, urb.packets.size());
    for (ULONG i = 0; i < 8; ++i)
        EXPECT_EQ(std::min<ULONG>(i, 3) * max, urb.packets[i].Offset) << i;
    for (const USBD_ISO_PACKET_DESCRIPTOR &p : urb.packets)
        EXPECT_EQ(0u, p.Length); // IN packets go down empty
    const CallbackRecorder::Call call = done.Calls()[0];
    EXPECT_EQ(STATUS_SUCCESS, call.status);
    EXPECT_LE(call.value, 3 * max);
    EXPECT_EQ(DISPATCH_LEVEL, call.irql);
}

TEST_F(CaptureTransferTest, HighSpeedIntervalTwoRoundsToFourPacketsAMillisecond)
{
    // The capture pipe as a 200-byte pipe served every second microframe.
    USBD_PIPE_INFORMATION pipe = *Capture().DataPipe;
    pipe.Interval = 2;
    pipe.MaximumPacketSize = 200;
    std::vector<UCHAR> buffer(1000);
    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SubmitTransfer(&pipe, buffer.data(), 1000,
                                                     CallbackRecorder::Callback, &done, 0));
    ASSERT_TRUE(done.WaitFor(1));
    const UrbSnapshot urb = Urbs().back();
    ASSERT_EQ(8u, urb.packets.size()); // 5 packets rounded up to two milliseconds
    const ULONG offsets[] = {0, 200, 400, 600, 800, 1000, 1000, 1000};
    for (ULONG i = 0; i < 8; ++i)
        EXPECT_EQ(offsets[i], urb.packets[i].Offset) << i;
}

TEST_F(CaptureTransferTest, ShortPacketsAreCompactedAndCounted)
{
    Sleep(50); // the device has captured frames to send
    const ULONG max = MaxPacket();
    const ULONGLONG now = controller_->CurrentInterval(kPort);
    Faults().ShortIsoPacket(kCaptureEndpoint, now, 200, 8); // two stereo frames a packet
    std::vector<UCHAR> buffer(8 * max, 0xEE);
    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                                            CallbackRecorder::Callback, &done, 0));
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(STATUS_SUCCESS, done.Calls()[0].status);
    EXPECT_EQ(64u, done.Calls()[0].value); // eight packets cut to 8 bytes each
    // Sample slots of a 24-bit capture: the compacted bytes are the device's frames, not the
    // untouched fill.
    EXPECT_NE(0xEE, buffer[8]);
    EXPECT_EQ(0xEE, buffer[max + 8]);
}

TEST_F(CaptureTransferTest, FailedTransferIsCompletedWithItsStatusAndNoBytes)
{
    Faults().FailIsoTransfer(kCaptureEndpoint, 1, USBD_STATUS_ISOCH_REQUEST_FAILED);
    std::vector<UCHAR> buffer(8 * MaxPacket());
    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                                            CallbackRecorder::Callback, &done, 0));
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_FALSE(NT_SUCCESS(done.Calls()[0].status));
    EXPECT_EQ(0u, done.Calls()[0].value);
    WaitDrained();
}

TEST_F(CaptureTransferTest, MoreThanFortyPacketsAreRefusedAndNothingIsSent)
{
    std::vector<UCHAR> buffer(41 * MaxPacket());
    CallbackRecorder done;
    EXPECT_EQ(STATUS_INVALID_BUFFER_SIZE,
              audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                            CallbackRecorder::Callback, &done, 0));
    Sleep(20);
    EXPECT_EQ(0u, done.Count());
    EXPECT_EQ(0, audio_->IoCount);
}

// Chains of capture transfers, each resubmitted from its own completion.
struct CaptureChains {
    CUSBAudioCL *audio;
    std::vector<std::vector<UCHAR>> buffers;
    std::atomic<int> remaining{0};
    std::atomic<int> failures{0};
    CallbackRecorder finished;

    struct Link {
        CaptureChains *chains;
        size_t index;
    };
    std::vector<Link> links;

    static void Completed(NTSTATUS status, ULONG, PVOID context)
    {
        auto *link = static_cast<Link *>(context);
        CaptureChains *self = link->chains;
        if (!NT_SUCCESS(status))
            ++self->failures;
        if (self->remaining.fetch_sub(1) > 0 && NT_SUCCESS(self->Submit(link)))
            return;
        CallbackRecorder::Callback(status, 0, &self->finished);
    }
    NTSTATUS Submit(Link *link)
    {
        std::vector<UCHAR> &buffer = buffers[link->index];
        return audio->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()), Completed, link,
                                            0);
    }
    void Run(size_t chains, int transfers, ULONG bytes)
    {
        remaining = transfers - int(chains);
        buffers.assign(chains, std::vector<UCHAR>(bytes));
        links.clear();
        for (size_t i = 0; i < chains; ++i)
            links.push_back({this, i});
        for (Link &link : links)
            ASSERT_EQ(STATUS_SUCCESS, Submit(&link));
    }
};

TEST_F(CaptureTransferTest, IrpFreeListGrowsToThePeakInFlightAndNoFurther)
{
    EXPECT_EQ(ULONG(USB_DEFAULT_IRP_COUNT), FreeIrpCount());
    constexpr size_t kChains = 16;
    CaptureChains chains;
    chains.audio = audio_.get();
    chains.Run(kChains, 400, 8 * MaxPacket());
    ASSERT_TRUE(chains.finished.WaitFor(kChains));
    WaitDrained();
    EXPECT_EQ(0, chains.failures.load());
    const ULONG peak = FreeIrpCount();
    // Sixteen in flight, and one more while a completion resubmits before giving its IRP back.
    EXPECT_GE(peak, ULONG(kChains));
    EXPECT_LE(peak, ULONG(kChains + 1));

    CaptureChains again;
    again.audio = audio_.get();
    again.Run(kChains, 400, 8 * MaxPacket());
    ASSERT_TRUE(again.finished.WaitFor(kChains));
    WaitDrained();
    EXPECT_EQ(peak, FreeIrpCount());
    EXPECT_EQ(800u, Urbs().size());
}

TEST_F(CaptureTransferTest, CaptureNeedsAnInterfaceWithADataPipe)
{
    std::vector<UCHAR> buffer(8 * MaxPacket());
    ULONG channels = 0, bits = 0, bytes = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_CAPTURE, 0, 0, 0, 1,
                                                            &channels, &bits, &bytes));
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                            CallbackRecorder::Callback, nullptr, 0));
    AudioStreamingInterface *capture = audio_->CaptureInterface;
    audio_->CaptureInterface = nullptr;
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              audio_->SubmitCaptureTransfer(buffer.data(), ULONG(buffer.size()),
                                            CallbackRecorder::Callback, nullptr, 0));
    audio_->CaptureInterface = capture;
}

// The completion routine by hand: three 192-byte full-speed packets that brought 192, 100 and
// 192 bytes.
TEST_F(CaptureTransferTest, CompactionMovesLaterPacketsDownToTheRunningCount)
{
    std::vector<UCHAR> buffer(3 * 192);
    for (size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = UCHAR(i / 192 + 1);
    PURB urb = audio_->AllocateIsoUrb(3);
    ASSERT_NE(nullptr, urb);
    auto &iso = urb->UrbIsochronousTransfer;
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = buffer.data();
    iso.TransferBufferLength = ULONG(buffer.size());
    const ULONG lengths[] = {192, 100, 192};
    for (ULONG i = 0; i < 3; ++i) {
        iso.IsoPacket[i].Offset = i * 192;
        iso.IsoPacket[i].Length = lengths[i];
    }
    CallbackRecorder done;
    USB_TRANSFER_CONTEXT *context =
        audio_->AllocateTransferContext(CallbackRecorder::Callback, &done);
    ASSERT_NE(nullptr, context);
    context->Urb = urb;
    PIRP irp = IoAllocateIrp(lower_->StackSize, FALSE);
    ASSERT_NE(nullptr, irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    audio_->IoCountIncrement();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(STATUS_MORE_PROCESSING_REQUIRED, CUSBCL::TransferComplete(nullptr, irp, context));
    KeLowerIrql(old);

    ASSERT_EQ(1u, done.Count());
    EXPECT_EQ(484u, done.Calls()[0].value);
    EXPECT_EQ(1, buffer[191]);
    EXPECT_EQ(2, buffer[192]);
    EXPECT_EQ(2, buffer[291]);
    EXPECT_EQ(3, buffer[292]); // the third packet now follows the second's 100 bytes
    EXPECT_EQ(3, buffer[483]);
    EXPECT_EQ(ULONG(USB_DEFAULT_IRP_COUNT + 1), FreeIrpCount()); // the IRP joined the list
    EXPECT_EQ(0, audio_->IoCount);
}

// Packets the stack reports overlapping each other would push the running count past the
// buffer: such a packet counts as empty and nothing is written beyond TransferBufferLength.
TEST_F(CaptureTransferTest, CompactionNeverWritesOrCountsPastTheBuffer)
{
    const ULONG size = 3 * 192;
    std::vector<UCHAR> buffer(size + 192, 0xEE); // the tail past size is a guard
    PURB urb = audio_->AllocateIsoUrb(3);
    ASSERT_NE(nullptr, urb);
    auto &iso = urb->UrbIsochronousTransfer;
    iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
    iso.TransferBuffer = buffer.data();
    iso.TransferBufferLength = size;
    const ULONG offsets[] = {0, 192, 384};
    const ULONG lengths[] = {192, 384, 192}; // the second runs over the third
    for (ULONG i = 0; i < 3; ++i) {
        iso.IsoPacket[i].Offset = offsets[i];
        iso.IsoPacket[i].Length = lengths[i];
    }
    CallbackRecorder done;
    USB_TRANSFER_CONTEXT *context =
        audio_->AllocateTransferContext(CallbackRecorder::Callback, &done);
    ASSERT_NE(nullptr, context);
    context->Urb = urb;
    PIRP irp = IoAllocateIrp(lower_->StackSize, FALSE);
    ASSERT_NE(nullptr, irp);
    irp->IoStatus.Status = STATUS_SUCCESS;
    audio_->IoCountIncrement();
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    EXPECT_EQ(STATUS_MORE_PROCESSING_REQUIRED, CUSBCL::TransferComplete(nullptr, irp, context));
    KeLowerIrql(old);

    ASSERT_EQ(1u, done.Count());
    EXPECT_EQ(size, done.Calls()[0].value);
    for (ULONG i = size; i < buffer.size(); ++i)
        ASSERT_EQ(0xEE, buffer[i]) << i;
}

class InterruptTransferTest : public TransferTest {};

TEST_F(InterruptTransferTest, NonIsochronousPipeGetsABulkOrInterruptUrbFromPool)
{
    using namespace devices::vendor_interface_quirk;
    StartDevice(std::shared_ptr<host::UsbDeviceModel>(devices::MakeVendorInterfaceQuirkDevice()),
                24, 48000);
    PUSBD_PIPE_INFORMATION pipe = audio_->FindPipe(kInterruptEndpoint);
    ASSERT_NE(nullptr, pipe);
    UCHAR buffer[8];
    CallbackRecorder done;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SubmitTransfer(pipe, buffer, sizeof(buffer),
                                                     CallbackRecorder::Callback, &done, 0));
    Sleep(20);
    EXPECT_EQ(0u, done.Count()); // the endpoint has nothing to report
    ASSERT_EQ(STATUS_SUCCESS, audio_->AbortPipe(pipe));
    ASSERT_TRUE(done.WaitFor(1));
    EXPECT_EQ(STATUS_CANCELLED, done.Calls()[0].status);
    EXPECT_EQ(0u, done.Calls()[0].value);
    const UrbSnapshot urb = Urbs()[0];
    EXPECT_EQ(URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER, urb.function);
    EXPECT_EQ(sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER), urb.length);
    EXPECT_EQ(7u, urb.flags);
    EXPECT_EQ(ULONG(sizeof(buffer)), urb.bufferLength);
    EXPECT_EQ(nullptr, urb.mdl);
}

class RenderPipeAbortTest : public TransferTest {};

TEST_F(RenderPipeAbortTest, AbortsDataAndFeedbackPipesWithTransfersPending)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    LatchFeedback();
    std::vector<UCHAR> audio(4 * 8 * 6 * 8);
    PMDL mdl = IoAllocateMdl(audio.data(), ULONG(audio.size()), FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, mdl);
    MmBuildMdlForNonPagedPool(mdl);
    CallbackRecorder renders, feedback;
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(STATUS_SUCCESS,
                  audio_->SubmitRenderTransfer(mdl, audio_->GetRenderTransferBytes(0x60000),
                                               CallbackRecorder::Callback, &renders));
    std::vector<UCHAR> packets(audio_->GetFeedbackTransferBytes() * 2);
    for (int i = 0; i < 2; ++i)
        ASSERT_EQ(STATUS_SUCCESS, audio_->RecvFeedback(packets.data() + i * packets.size() / 2,
                                                       ULONG(packets.size() / 2),
                                                       CallbackRecorder::Callback, &feedback));
    EXPECT_EQ(6, audio_->IoCount);

    EXPECT_EQ(STATUS_SUCCESS, audio_->RenderPipeAbort());
    // Every pending transfer came back cancelled by the time the aborts were both done.
    ASSERT_EQ(4u, renders.Count());
    ASSERT_EQ(2u, feedback.Count());
    for (const auto &call : renders.Calls())
        EXPECT_EQ(STATUS_CANCELLED, call.status);
    for (const auto &call : feedback.Calls()) {
        EXPECT_EQ(STATUS_CANCELLED, call.status);
        EXPECT_EQ(0u, call.value);
    }
    WaitDrained();
    IoFreeMdl(mdl);
}

TEST_F(RenderPipeAbortTest, WithoutARenderDataPipeNothingIsSent)
{
    StartDevice(std::make_shared<devices::Rvd3Model>(), 32, 48000);
    ULONG channels = 0, bits = 0, bytes = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_RENDER, 0, 0, 0, 4,
                                                            &channels, &bits, &bytes));
    EXPECT_EQ(STATUS_UNSUCCESSFUL, audio_->RenderPipeAbort());
    audio_->RenderInterface = nullptr;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, audio_->RenderPipeAbort());
}

} // namespace
} // namespace driver_usb_tests
