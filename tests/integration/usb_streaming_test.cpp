// Long render streams into the RV-D3 model through the emulated USB stack, the way a USB audio
// driver runs them: a configuration and a sampling rate set with URBs, then isochronous OUT
// transfers kept in flight from an emulated thread, each sized from the latest value of the
// explicit feedback endpoint with a 16.16 accumulator. The device clock runs 100 ppm fast for
// the first half and 100 ppm slow for the second; the stream must never underrun or overrun,
// its FIFO must stay near its target, and every frame played must be the frame sent.
#include <gtest/gtest.h>

#include <wdm.h>
#include <usb.h>
#include <usbdlib.h>
#include <usbioctl.h>

#include "devices/rvd3_model.h"
#include "devices/usb_constants.h"
#include "kernel/emulated_thread.h"
#include "kernel/machine.h"
#include "usb/usb_host_controller.h"

#include <cstring>
#include <memory>
#include <mutex>

namespace {

using namespace devices;

constexpr ULONG kTag = 'tsTU';
constexpr ULONG kDataPacketsPerTransfer = 32; // 4 ms of microframes
constexpr ULONG kDataTransfersInFlight = 8;
constexpr ULONG kFeedbackPacketsPerTransfer = 4; // one packet a millisecond
constexpr ULONG kFeedbackTransfersInFlight = 3;
constexpr ULONGLONG kStreamMilliseconds = 10 * 60 * 1000;

// The sample bytes of frame `frame`: distinct for every frame and byte position.
UCHAR SampleByte(ULONGLONG frame, ULONG byteInFrame)
{
    const ULONGLONG x = (frame * 0x9E3779B97F4A7C15ull) ^ (byteInFrame * 0xC2B2AE3D27D4EB4Full);
    return static_cast<UCHAR>(x >> 29);
}

// Checks every played frame against what the host sent, without keeping 10 minutes of audio.
class VerifyingSink : public PlaybackSink {
public:
    void FormatChanged(const PlaybackFormat &format) override
    {
        frameBytes_ = format.FrameBytes();
        ++formats_;
    }
    void Played(const UCHAR *frames, ULONG frameCount) override
    {
        for (ULONG f = 0; f < frameCount; ++f, ++next_) {
            for (ULONG b = 0; b < frameBytes_; ++b)
                mismatches_ += frames[f * frameBytes_ + b] != SampleByte(next_, b);
        }
    }
    void Silence(ULONG frameCount) override { silence_ += frameCount; }

    ULONGLONG FramesChecked() const { return next_; }
    ULONGLONG Mismatches() const { return mismatches_; }
    ULONGLONG Silence() const { return silence_; }
    int Formats() const { return formats_; }

private:
    ULONG frameBytes_ = 0;
    ULONGLONG next_ = 0;
    ULONGLONG mismatches_ = 0;
    ULONGLONG silence_ = 0;
    int formats_ = 0;
};

// What the client of the USB stack sees of the device.
struct Pipes {
    USBD_PIPE_HANDLE data = nullptr;
    USBD_PIPE_HANDLE feedback = nullptr;
};

// The control side of a USB audio client: synchronous URBs to the physical device object.
class UsbClient {
public:
    explicit UsbClient(PDEVICE_OBJECT pdo) : pdo_(pdo) {}

    NTSTATUS SubmitSync(PURB urb)
    {
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IO_STATUS_BLOCK status = {};
        PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo_, nullptr, 0,
                                                 nullptr, 0, TRUE, &done, &status);
        if (!irp)
            return STATUS_INSUFFICIENT_RESOURCES;
        IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
        NTSTATUS result = IofCallDriver(pdo_, irp);
        if (result == STATUS_PENDING) {
            KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
            result = status.Status;
        }
        return result;
    }

    NTSTATUS ReadConfiguration(std::vector<UCHAR> *configuration)
    {
        URB urb = {};
        UCHAR header[9];
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     usb::kConfigurationDescriptor, 0, 0, header, nullptr,
                                     sizeof(header), nullptr);
        NTSTATUS status = SubmitSync(&urb);
        if (!NT_SUCCESS(status))
            return status;
        configuration->resize(header[2] | header[3] << 8);
        urb = {};
        UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     usb::kConfigurationDescriptor, 0, 0, configuration->data(),
                                     nullptr, static_cast<ULONG>(configuration->size()), nullptr);
        return SubmitSync(&urb);
    }

    // Configures the audio control and render interfaces.
    NTSTATUS SelectConfiguration(std::vector<UCHAR> &configuration)
    {
        auto *descriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data());
        USBD_INTERFACE_LIST_ENTRY list[3] = {};
        for (LONG number = 0; number < 2; ++number) {
            list[number].InterfaceDescriptor =
                USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, number, 0, -1, -1, -1);
        }
        PURB urb = USBD_CreateConfigurationRequestEx(descriptor, list);
        if (!urb)
            return STATUS_INSUFFICIENT_RESOURCES;
        const NTSTATUS status = SubmitSync(urb);
        configurationHandle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
        ExFreePool(urb);
        return status;
    }

    NTSTATUS SelectInterface(UCHAR number, UCHAR alternate, Pipes *pipes)
    {
        const ULONG size = GET_SELECT_INTERFACE_REQUEST_SIZE(2);
        auto *urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, kTag));
        if (!urb)
            return STATUS_INSUFFICIENT_RESOURCES;
        std::memset(urb, 0, size);
        UsbBuildSelectInterfaceRequest(urb, static_cast<USHORT>(size), configurationHandle_, number,
                                       alternate);
        const NTSTATUS status = SubmitSync(urb);
        const USBD_INTERFACE_INFORMATION &info = urb->UrbSelectInterface.Interface;
        for (ULONG i = 0; NT_SUCCESS(status) && i < info.NumberOfPipes; ++i) {
            if (info.Pipes[i].EndpointAddress == rvd3::kRenderEndpoint)
                pipes->data = info.Pipes[i].PipeHandle;
            if (info.Pipes[i].EndpointAddress == rvd3::kFeedbackEndpoint)
                pipes->feedback = info.Pipes[i].PipeHandle;
        }
        ExFreePoolWithTag(urb, kTag);
        return status;
    }

    NTSTATUS ClassRequest(bool in, UCHAR request, USHORT value, USHORT index, UCHAR *buffer,
                          ULONG length)
    {
        URB urb = {};
        UsbBuildVendorRequest(&urb, URB_FUNCTION_CLASS_INTERFACE,
                              sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST),
                              in ? USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK : 0, 0,
                              request, value, index, buffer, nullptr, length, nullptr);
        return SubmitSync(&urb);
    }

    // Sets the clock's rate and waits (on virtual time) until it reports valid.
    NTSTATUS SetSampleRate(ULONG rate)
    {
        UCHAR value[4] = {UCHAR(rate), UCHAR(rate >> 8), UCHAR(rate >> 16), UCHAR(rate >> 24)};
        const USHORT clock = rvd3::kClockSourceId << 8 | rvd3::kControlInterface;
        NTSTATUS status =
            ClassRequest(false, uac::kCur, uac::kClockFrequencyControl << 8, clock, value, 4);
        for (int attempt = 0; NT_SUCCESS(status) && attempt < 100; ++attempt) {
            UCHAR valid = 0;
            status =
                ClassRequest(true, uac::kCur, uac::kClockValidityControl << 8, clock, &valid, 1);
            if (NT_SUCCESS(status) && valid)
                return STATUS_SUCCESS;
            LARGE_INTEGER oneMs;
            oneMs.QuadPart = -10000;
            KeDelayExecutionThread(KernelMode, FALSE, &oneMs);
        }
        return NT_SUCCESS(status) ? STATUS_IO_TIMEOUT : status;
    }

    PDEVICE_OBJECT Pdo() const { return pdo_; }

private:
    PDEVICE_OBJECT pdo_;
    USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
};

// The streaming side: isochronous transfers on reused IRPs; completions queue themselves for
// the streaming thread and wake it through a semaphore.
class RenderStreamer {
public:
    RenderStreamer(UsbClient &client, const Pipes &pipes, ULONG rate, ULONG frameBytes)
        : client_(client), pipes_(pipes), frameBytes_(frameBytes),
          feedback_(static_cast<ULONG>((static_cast<ULONGLONG>(rate) << 16) / 8000))
    {
        InitializeListHead(&completed_);
        KeInitializeSpinLock(&completedLock_);
        KeInitializeSemaphore(&ready_, 0, MAXLONG);
        const ULONG dataBytes = kDataPacketsPerTransfer * rvd3::kChannels * 4 * 49;
        for (ULONG i = 0; i < kDataTransfersInFlight; ++i)
            transfers_.push_back(Allocate(false, kDataPacketsPerTransfer, dataBytes));
        for (ULONG i = 0; i < kFeedbackTransfersInFlight; ++i)
            transfers_.push_back(
                Allocate(true, kFeedbackPacketsPerTransfer, 4 * kFeedbackPacketsPerTransfer));
    }

    ~RenderStreamer()
    {
        for (Transfer *t : transfers_) {
            IoFreeIrp(t->irp);
            ExFreePoolWithTag(t->urb, kTag);
            ExFreePoolWithTag(t->buffer, kTag);
            delete t;
        }
    }

    // Streams `transfers` data transfers; `halfway` runs once half of them are submitted.
    // `finished` runs when the last data transfer has completed, before anything else moves.
    template <typename Halfway, typename Finished>
    void Run(ULONGLONG transfers, Halfway &&halfway, Finished &&finished)
    {
        for (Transfer *t : transfers_) {
            if (t->feedback)
                SubmitFeedback(t);
        }
        ULONGLONG submitted = 0;
        ULONGLONG completed = 0;
        bool dataStarted = false;
        while (completed < transfers) {
            KeWaitForSingleObject(&ready_, Executive, KernelMode, FALSE, nullptr);
            Transfer *t = CONTAINING_RECORD(
                ExInterlockedRemoveHeadList(&completed_, &completedLock_), Transfer, link);
            if (t->feedback) {
                TakeFeedback(t);
                SubmitFeedback(t);
                // Data begins once the device has reported its rate, as a driver waits for it.
                if (!dataStarted) {
                    dataStarted = true;
                    for (Transfer *d : transfers_) {
                        if (!d->feedback && submitted < transfers) {
                            SubmitData(d);
                            ++submitted;
                        }
                    }
                }
                continue;
            }
            EXPECT_EQ(STATUS_SUCCESS, t->irp->IoStatus.Status);
            EXPECT_EQ(0u, t->urb->UrbIsochronousTransfer.ErrorCount);
            if (++completed == transfers)
                finished();
            if (submitted < transfers) {
                if (submitted == transfers / 2)
                    halfway();
                SubmitData(t);
                ++submitted;
            }
        }
        // Let the feedback reads in flight come back.
        stopping_ = true;
        for (ULONG pending = kFeedbackTransfersInFlight; pending > 0; --pending) {
            KeWaitForSingleObject(&ready_, Executive, KernelMode, FALSE, nullptr);
            ExInterlockedRemoveHeadList(&completed_, &completedLock_);
        }
    }

    ULONGLONG FramesSent() const { return nextFrame_; }
    ULONG LatestFeedback() const { return feedback_; }
    ULONG MinFeedback() const { return minFeedback_; }
    ULONG MaxFeedback() const { return maxFeedback_; }

private:
    struct Transfer {
        LIST_ENTRY link;
        RenderStreamer *owner;
        bool feedback;
        ULONG packets;
        PIRP irp;
        PURB urb;
        UCHAR *buffer;
    };

    Transfer *Allocate(bool feedback, ULONG packets, ULONG bytes)
    {
        auto *t = new Transfer{};
        t->owner = this;
        t->feedback = feedback;
        t->packets = packets;
        t->irp = IoAllocateIrp(client_.Pdo()->StackSize, FALSE);
        t->urb = static_cast<PURB>(
            ExAllocatePoolWithTag(NonPagedPoolNx, GET_ISO_URB_SIZE(packets), kTag));
        t->buffer = static_cast<UCHAR *>(ExAllocatePoolWithTag(NonPagedPoolNx, bytes, kTag));
        EXPECT_TRUE(t->irp && t->urb && t->buffer);
        return t;
    }

    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP, PVOID context)
    {
        auto *t = static_cast<Transfer *>(context);
        ExInterlockedInsertTailList(&t->owner->completed_, &t->link, &t->owner->completedLock_);
        KeReleaseSemaphore(&t->owner->ready_, IO_NO_INCREMENT, 1, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    void Submit(Transfer *t, USBD_PIPE_HANDLE pipe, ULONG flags, ULONG length)
    {
        auto &iso = t->urb->UrbIsochronousTransfer;
        iso.Hdr.Length = static_cast<USHORT>(GET_ISO_URB_SIZE(t->packets));
        iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        iso.PipeHandle = pipe;
        iso.TransferFlags = flags | USBD_START_ISO_TRANSFER_ASAP;
        iso.TransferBuffer = t->buffer;
        iso.TransferBufferLength = length;
        iso.NumberOfPackets = t->packets;
        IoReuseIrp(t->irp, STATUS_SUCCESS);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(t->irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = t->urb;
        IoSetCompletionRoutine(t->irp, Completed, t, TRUE, TRUE, TRUE);
        IofCallDriver(client_.Pdo(), t->irp);
    }

    void SubmitFeedback(Transfer *t)
    {
        if (stopping_)
            return;
        std::memset(t->urb, 0, GET_ISO_URB_SIZE(t->packets));
        for (ULONG i = 0; i < t->packets; ++i)
            t->urb->UrbIsochronousTransfer.IsoPacket[i].Offset = 4 * i;
        Submit(t, pipes_.feedback, USBD_TRANSFER_DIRECTION_IN, 4 * t->packets);
    }

    void TakeFeedback(Transfer *t)
    {
        const auto &iso = t->urb->UrbIsochronousTransfer;
        ULONGLONG sum = 0;
        ULONG count = 0;
        for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
            if (iso.IsoPacket[i].Status != USBD_STATUS_SUCCESS || iso.IsoPacket[i].Length != 4)
                continue;
            const UCHAR *p = t->buffer + iso.IsoPacket[i].Offset;
            sum += p[0] | p[1] << 8 | p[2] << 16 | static_cast<ULONG>(p[3]) << 24;
            ++count;
        }
        EXPECT_EQ(kFeedbackPacketsPerTransfer, count);
        if (count == 0)
            return;
        feedback_ = static_cast<ULONG>(sum / count);
        minFeedback_ = std::min(minFeedback_, feedback_);
        maxFeedback_ = std::max(maxFeedback_, feedback_);
    }

    // One microframe per packet, each carrying the frames the 16.16 accumulator hands out.
    void SubmitData(Transfer *t)
    {
        std::memset(t->urb, 0, GET_ISO_URB_SIZE(t->packets));
        ULONG offset = 0;
        for (ULONG i = 0; i < t->packets; ++i) {
            t->urb->UrbIsochronousTransfer.IsoPacket[i].Offset = offset;
            accumulator_ += feedback_;
            const ULONG frames = accumulator_ >> 16;
            accumulator_ &= 0xFFFF;
            for (ULONG f = 0; f < frames; ++f, ++nextFrame_) {
                for (ULONG b = 0; b < frameBytes_; ++b)
                    t->buffer[offset++] = SampleByte(nextFrame_, b);
            }
        }
        Submit(t, pipes_.data, USBD_TRANSFER_DIRECTION_OUT, offset);
    }

    UsbClient &client_;
    const Pipes pipes_;
    const ULONG frameBytes_;
    ULONG feedback_;
    ULONG minFeedback_ = MAXULONG;
    ULONG maxFeedback_ = 0;
    ULONG accumulator_ = 0;
    ULONGLONG nextFrame_ = 0;
    bool stopping_ = false;
    std::vector<Transfer *> transfers_;
    LIST_ENTRY completed_;
    KSPIN_LOCK completedLock_;
    KSEMAPHORE ready_;
};

struct StreamCase {
    ULONG rate;
    UCHAR alternate;
    ULONG frameBytes;
};

class UsbStreaming : public ::testing::TestWithParam<StreamCase> {
protected:
    UsbStreaming()
        : machine_(std::make_unique<host::Machine>()),
          attach_(std::make_unique<host::ThreadAttachment>(*machine_, "stream test")),
          controller_(std::make_unique<host::UsbHostController>(*machine_)),
          model_(std::make_shared<Rvd3Model>())
    {
        model_->AttachSink(&sink_);
        model_->SetClockOffsetPpm(100);
    }

    void TearDown() override
    {
        controller_.reset();
        attach_.reset();
        machine_->PowerOff();
        for (const host::VerifierReport &r : machine_->Checks().Reports())
            ADD_FAILURE() << "verifier (" << host::VerifierCheckName(r.check) << "): " << r.message;
    }

    std::unique_ptr<host::Machine> machine_;
    std::unique_ptr<host::ThreadAttachment> attach_;
    std::unique_ptr<host::UsbHostController> controller_;
    std::shared_ptr<Rvd3Model> model_;
    VerifyingSink sink_;
};

TEST_P(UsbStreaming, TenMinutesFollowTheFeedbackWithoutLosingAFrame)
{
    const StreamCase c = GetParam();
    PDEVICE_OBJECT pdo = controller_->Plug(1, model_);
    ASSERT_NE(nullptr, pdo);
    UsbClient client(pdo);
    std::vector<UCHAR> configuration;
    ASSERT_EQ(STATUS_SUCCESS, client.ReadConfiguration(&configuration));
    ASSERT_EQ(STATUS_SUCCESS, client.SelectConfiguration(configuration));
    ASSERT_EQ(STATUS_SUCCESS, client.SetSampleRate(c.rate));
    Pipes pipes;
    ASSERT_EQ(STATUS_SUCCESS, client.SelectInterface(rvd3::kRenderInterface, c.alternate, &pipes));
    ASSERT_NE(nullptr, pipes.data);
    ASSERT_NE(nullptr, pipes.feedback);

    RenderStreamer streamer(client, pipes, c.rate, c.frameBytes);
    RenderCounters counters;
    ULONG fifoLevel = 0;
    const ULONGLONG transfers = kStreamMilliseconds / (kDataPacketsPerTransfer / 8);
    streamer.Run(
        transfers,
        [&] {
            std::lock_guard<std::recursive_mutex> guard(controller_->Lock());
            model_->SetClockOffsetPpm(-100);
        },
        [&] {
            std::lock_guard<std::recursive_mutex> guard(controller_->Lock());
            counters = model_->Render();
            fifoLevel = model_->RenderFifoLevel();
        });

    const ULONG target = c.rate / 500; // 2 ms
    EXPECT_EQ(0u, counters.underruns);
    EXPECT_EQ(0u, counters.overruns);
    EXPECT_EQ(0u, counters.malformedPackets);
    EXPECT_EQ(0u, counters.silenceFrames);
    EXPECT_LE(counters.fifoPeak, target + 16);
    EXPECT_GE(counters.fifoLow, target - 16);
    EXPECT_EQ(streamer.FramesSent(), counters.framesPlayed + fifoLevel);
    const double seconds = kStreamMilliseconds / 1000.0;
    EXPECT_NEAR(c.rate * seconds, static_cast<double>(counters.framesReceived), c.rate * 0.01);

    std::lock_guard<std::recursive_mutex> guard(controller_->Lock());
    EXPECT_EQ(1, sink_.Formats());
    EXPECT_EQ(0u, sink_.Mismatches());
    EXPECT_GE(sink_.FramesChecked(), counters.framesPlayed);
    const ULONG nominal = static_cast<ULONG>((static_cast<ULONGLONG>(c.rate) << 16) / 8000);
    EXPECT_LT(streamer.MaxFeedback() - nominal, 0x10000u / 8) << "within an eighth of a frame";
    EXPECT_LT(nominal - streamer.MinFeedback(), 0x10000u / 8);
    EXPECT_GT(streamer.MaxFeedback(), nominal) << "the fast half asked for more";
    EXPECT_LT(streamer.MinFeedback(), nominal) << "the slow half asked for less";
}

INSTANTIATE_TEST_SUITE_P(Rates, UsbStreaming,
                         ::testing::Values(StreamCase{48000, rvd3::kAlternate32Bit, 8},
                                           StreamCase{44100, rvd3::kAlternate16Bit, 4}),
                         [](const ::testing::TestParamInfo<StreamCase> &info) {
                             return std::to_string(info.param.rate) + "Hz";
                         });

} // namespace
