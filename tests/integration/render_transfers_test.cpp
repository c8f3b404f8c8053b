// The driver's USB layer streaming into the RV-D3 model for 30 simulated minutes, below the
// adapter: 8 render transfers of 4 ms kept in flight through SubmitRenderTransfer, each sized
// by GetRenderTransferBytes from the latest explicit feedback, and 3 feedback reads re-armed
// from their own completions. The device clock runs 200 ppm off the bus clock; the device must
// never underrun or overrun, and it must have received exactly the frames that were sent.
#include "driver_usb/driver_usb_fixture.h"

#include "devices/rvd3_model.h"
#include "function/audio_streaming_interface.h"

#include <atomic>
#include <vector>

namespace {

using driver_usb_tests::DriverUsbTest;

constexpr ULONG kTag = 'tsRT';
constexpr ULONG kTransferMs = 4;
constexpr ULONG kRenderTransfersInFlight = 8;
constexpr ULONG kFeedbackReadsInFlight = 3;
constexpr ULONGLONG kStreamMs = 30ull * 60 * 1000;
constexpr ULONG kFrameBytes = 8; // stereo, 32-bit containers

// What the render and feedback paths of the adapter do, reduced to the USB layer's calls.
class RenderEngine {
public:
    explicit RenderEngine(CUSBAudioCL &usb) : usb_(usb)
    {
        KeInitializeSpinLock(&lock_);
        KeInitializeEvent(&ended_, NotificationEvent, FALSE);
    }
    ~RenderEngine()
    {
        for (Slot &slot : slots_) {
            if (slot.mdl != nullptr)
                IoFreeMdl(slot.mdl);
            if (slot.buffer != nullptr)
                ExFreePoolWithTag(slot.buffer, kTag);
        }
    }

    void Start()
    {
        AudioStreamingInterface &render = *usb_.RenderInterface;
        nominal_ = render.LatestFeedback;
        const ULONG feedbackBytes = usb_.GetFeedbackTransferBytes();
        slots_.resize(kRenderTransfersInFlight + kFeedbackReadsInFlight);
        for (size_t i = 0; i < slots_.size(); ++i) {
            Slot &slot = slots_[i];
            slot.engine = this;
            slot.feedback = i >= kRenderTransfersInFlight;
            slot.size = slot.feedback ? feedbackBytes : USB_MAX_ISO_PACKETS * 392;
            slot.buffer =
                static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, slot.size, kTag));
            ASSERT_NE(nullptr, slot.buffer);
            RtlZeroMemory(slot.buffer, slot.size);
            slot.mdl = IoAllocateMdl(slot.buffer, slot.size, FALSE, FALSE, nullptr);
            ASSERT_NE(nullptr, slot.mdl);
            MmBuildMdlForNonPagedPool(slot.mdl);
        }
        active_ = LONG(slots_.size());
        for (Slot &slot : slots_)
            ASSERT_EQ(STATUS_SUCCESS, slot.feedback ? ReadFeedback(&slot) : SendRender(&slot));
    }
    // Chains end at their next completion; waits until all have.
    void Stop()
    {
        stopping_ = true;
        LARGE_INTEGER timeout = RelativeMs(1000);
        ASSERT_EQ(STATUS_SUCCESS,
                  KeWaitForSingleObject(&ended_, Executive, KernelMode, FALSE, &timeout));
    }

    ULONGLONG SentFrames() const { return sentFrames_; }
    ULONGLONG Failures() const { return failures_; }
    ULONGLONG FeedbackReads() const { return feedbackReads_; }
    ULONG Nominal() const { return nominal_; }

private:
    struct Slot {
        RenderEngine *engine = nullptr;
        bool feedback = false;
        ULONG size = 0;
        PUCHAR buffer = nullptr;
        PMDL mdl = nullptr;
    };

    // Sizes from the latest feedback and sends one transfer; one at a time, as the render
    // stream lock makes it.
    NTSTATUS SendRender(Slot *slot)
    {
        AudioStreamingInterface &render = *usb_.RenderInterface;
        KIRQL old;
        KeAcquireSpinLock(&lock_, &old);
        KIRQL feedbackIrql;
        KeAcquireSpinLock(&render.FeedbackLock, &feedbackIrql);
        render.CurrentFeedback = render.LatestFeedback;
        const ULONG feedback = render.CurrentFeedback;
        KeReleaseSpinLock(&render.FeedbackLock, feedbackIrql);
        const ULONG bytes = usb_.GetRenderTransferBytes(feedback);
        NTSTATUS status = bytes <= slot->size
                              ? usb_.SubmitRenderTransfer(slot->mdl, bytes, RenderDone, slot)
                              : STATUS_BUFFER_OVERFLOW;
        if (NT_SUCCESS(status))
            sentFrames_ += bytes / kFrameBytes;
        KeReleaseSpinLock(&lock_, old);
        return status;
    }
    NTSTATUS ReadFeedback(Slot *slot)
    {
        return usb_.RecvFeedback(slot->buffer, slot->size, FeedbackDone, slot);
    }

    static void RenderDone(NTSTATUS status, ULONG bytes, PVOID context)
    {
        auto *slot = static_cast<Slot *>(context);
        RenderEngine *self = slot->engine;
        if (!NT_SUCCESS(status) || bytes == 0)
            ++self->failures_;
        if (!self->stopping_ && NT_SUCCESS(self->SendRender(slot)))
            return;
        self->ChainEnded();
    }
    static void FeedbackDone(NTSTATUS status, ULONG value, PVOID context)
    {
        auto *slot = static_cast<Slot *>(context);
        RenderEngine *self = slot->engine;
        if (NT_SUCCESS(status)) {
            ++self->feedbackReads_;
            // Within one sample of nominal, else nominal.
            const ULONG m = self->nominal_;
            if (value == 0 || value < 0x10000 || value + 0x10000 < m || value > m + 0x10000)
                value = m;
            AudioStreamingInterface &render = *self->usb_.RenderInterface;
            KIRQL old;
            KeAcquireSpinLock(&render.FeedbackLock, &old);
            render.LatestFeedback = value;
            KeReleaseSpinLock(&render.FeedbackLock, old);
        } else {
            ++self->failures_;
        }
        if (!self->stopping_ && NT_SUCCESS(self->ReadFeedback(slot)))
            return;
        self->ChainEnded();
    }
    void ChainEnded()
    {
        if (InterlockedDecrement(&active_) == 0)
            KeSetEvent(&ended_, IO_NO_INCREMENT, FALSE);
    }

    CUSBAudioCL &usb_;
    KSPIN_LOCK lock_;
    KEVENT ended_;
    std::vector<Slot> slots_;
    volatile LONG active_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<ULONGLONG> sentFrames_{0};
    std::atomic<ULONGLONG> failures_{0};
    std::atomic<ULONGLONG> feedbackReads_{0};
    ULONG nominal_ = 0;
};

class RenderTransfersTest : public DriverUsbTest, public ::testing::WithParamInterface<ULONG> {};

TEST_P(RenderTransfersTest, ThirtyMinutesWithTheDeviceClock200PpmOff)
{
    const ULONG rate = GetParam();
    devices::Rvd3Options options;
    options.capture = false;
    options.streaming.clockOffsetPpm = 200;
    auto model = std::make_shared<devices::Rvd3Model>(options);
    Plug(model);
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_TRUE(audio_->HighSpeed);
    ULONG channels = 0, bits = 0, bytes = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_RENDER, 2, 32, rate,
                                                            kTransferMs, &channels, &bits, &bytes));
    ASSERT_EQ(kFrameBytes, audio_->RenderInterface->BytesPerFrame);
    audio_->RenderTransferMs = kTransferMs;
    ASSERT_TRUE(audio_->IsClockStable(100));

    RenderEngine engine(*audio_);
    engine.Start();
    Sleep(kStreamMs);
    engine.Stop();
    LARGE_INTEGER timeout = RelativeMs(1000);
    ASSERT_EQ(STATUS_SUCCESS,
              KeWaitForSingleObject(&audio_->DrainedEvent, Executive, KernelMode, FALSE, &timeout));

    devices::RenderCounters counters;
    ULONG level = 0;
    {
        std::lock_guard<std::recursive_mutex> hold(controller_->Lock());
        counters = model->Render();
        level = model->RenderFifoLevel();
    }
    EXPECT_EQ(0u, engine.Failures());
    // The three reads queue on the pipe: one 4 ms read completes every 4 ms.
    EXPECT_GE(engine.FeedbackReads(), kStreamMs / 4 - 1);
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.framesDropped);
    EXPECT_EQ(0u, counters.malformedPackets);
    EXPECT_EQ(engine.SentFrames(), counters.framesReceived);
    EXPECT_EQ(counters.framesReceived, counters.framesPlayed + level);
    // The device played at its own clock: 200 ppm more than the nominal rate.
    const double expected = double(rate) * (1 + 200e-6) * kStreamMs / 1000;
    EXPECT_NEAR(expected, double(counters.framesPlayed), double(rate) * 0.05);
}

INSTANTIATE_TEST_SUITE_P(HighSpeed, RenderTransfersTest, ::testing::Values(44100u, 384000u),
                         [](const ::testing::TestParamInfo<ULONG> &info) {
                             return std::to_string(info.param) + "Hz";
                         });

} // namespace
