// What the driver's render transfer path costs: sizing a 4 ms render transfer and building its
// URB (per clocking situation), and the whole submit/complete cycle of SubmitRenderTransfer
// through the emulated USB stack into the RV-D3 model with 8 transfers in flight, each
// resubmitted from its completion.
#include "devices/rvd3_model.h"
#include "function/audio_streaming_interface.h"
#include "kernel/io_manager.h"
#include "kernel/machine.h"
#include "usb/rate_pattern_table.h"
#include "usb/render_packet_sizer.h"
#include "usb/usb_audio_cl.h"
#include "usb/usb_host_controller.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <vector>

namespace {

constexpr ULONG kTag = 'hcnB';
constexpr ULONG kFrameBytes = 8;

// Explicit feedback at 44.1 kHz, high speed: 32 microframes of 5.5125 samples.
void RenderSizingExplicitFeedback(benchmark::State &state)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        CUSBAudioCL usb;
        const RenderPacketGeometry geometry = {kFrameBytes, 1, TRUE};
        const ULONG feedback = 361267;
        USHORT fraction = 0;
        for (auto _ : state) {
            const ULONG length = FeedbackSamples(fraction, feedback, 32) * kFrameBytes;
            const ULONG packets = CountFeedbackPackets(geometry, length, feedback, fraction);
            PURB urb = usb.AllocateIsoUrb(packets);
            LayoutFeedbackPackets(geometry, length, feedback, &fraction,
                                  urb->UrbIsochronousTransfer.IsoPacket, packets);
            benchmark::DoNotOptimize(urb->UrbIsochronousTransfer.IsoPacket[packets - 1]);
            usb.FreeTransferUrb(urb);
        }
    }
    machine.PowerOff();
}
BENCHMARK(RenderSizingExplicitFeedback);

// The 44.1 kHz high-speed pattern, 32 entries a transfer.
void RenderSizingPattern(benchmark::State &state)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        CUSBAudioCL usb;
        const RenderPacketGeometry geometry = {kFrameBytes, 1, TRUE};
        const RatePatternEntry *entry = FindRatePattern(44100);
        const RenderPattern pattern = {entry->HighSpeedPattern, entry->HighSpeedLength};
        ULONG position = 0;
        for (auto _ : state) {
            const ULONG length = PatternSamples(pattern, position, 32) * kFrameBytes;
            const ULONG packets = CountPatternPackets(geometry, length, pattern, position);
            PURB urb = usb.AllocateIsoUrb(packets);
            LayoutPatternPackets(geometry, length, pattern, &position,
                                 urb->UrbIsochronousTransfer.IsoPacket, packets);
            benchmark::DoNotOptimize(urb->UrbIsochronousTransfer.IsoPacket[packets - 1]);
            usb.FreeTransferUrb(urb);
        }
    }
    machine.PowerOff();
}
BENCHMARK(RenderSizingPattern);

// Implicit feedback at 48 kHz, high speed, one frame above nominal.
void RenderSizingImplicitFeedback(benchmark::State &state)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        CUSBAudioCL usb;
        const RenderPacketGeometry geometry = {kFrameBytes, 1, TRUE};
        const ULONG length = 32 * 48 + kFrameBytes;
        for (auto _ : state) {
            const ImplicitPacketCounts counts = CountImplicitPackets(geometry, length, 4, 48, TRUE);
            PURB urb = usb.AllocateIsoUrb(counts.Total());
            LayoutImplicitPackets(geometry, length, 48, TRUE, counts,
                                  urb->UrbIsochronousTransfer.IsoPacket);
            benchmark::DoNotOptimize(urb->UrbIsochronousTransfer.IsoPacket[0]);
            usb.FreeTransferUrb(urb);
        }
    }
    machine.PowerOff();
}
BENCHMARK(RenderSizingImplicitFeedback);

// Render transfers kept in flight through SubmitRenderTransfer, resubmitted from completions.
class RenderChains {
public:
    RenderChains(CUSBAudioCL &usb, int inFlight) : usb_(usb)
    {
        KeInitializeEvent(&idle_, NotificationEvent, FALSE);
        for (int i = 0; i < inFlight; ++i) {
            auto slot = std::make_unique<Slot>();
            slot->chains = this;
            slot->buffer = ExAllocatePoolWithTag(NonPagedPoolNx, kBufferBytes, kTag);
            RtlZeroMemory(slot->buffer, kBufferBytes);
            slot->mdl = IoAllocateMdl(slot->buffer, kBufferBytes, FALSE, FALSE, nullptr);
            MmBuildMdlForNonPagedPool(slot->mdl);
            slots_.push_back(std::move(slot));
        }
    }
    ~RenderChains()
    {
        for (auto &slot : slots_) {
            IoFreeMdl(slot->mdl);
            ExFreePoolWithTag(slot->buffer, kTag);
        }
    }
    void Start()
    {
        outstanding_ = int(slots_.size());
        for (auto &slot : slots_)
            Send(*slot);
    }
    void Stop()
    {
        stopping_ = true;
        KeWaitForSingleObject(&idle_, Executive, KernelMode, FALSE, nullptr);
    }
    ULONGLONG Completed() const { return completed_; }
    ULONGLONG Failures() const { return failures_; }

private:
    static constexpr ULONG kBufferBytes = 40 * 392;
    struct Slot {
        RenderChains *chains;
        PVOID buffer;
        PMDL mdl;
    };

    void Send(Slot &slot)
    {
        AudioStreamingInterface &render = *usb_.RenderInterface;
        const NTSTATUS status = usb_.SubmitRenderTransfer(
            slot.mdl, usb_.GetRenderTransferBytes(render.CurrentFeedback), Done, &slot);
        if (!NT_SUCCESS(status)) {
            ++failures_;
            End();
        }
    }
    void End()
    {
        if (--outstanding_ == 0)
            KeSetEvent(&idle_, IO_NO_INCREMENT, FALSE);
    }
    static void Done(NTSTATUS status, ULONG, PVOID context)
    {
        Slot &slot = *static_cast<Slot *>(context);
        RenderChains &chains = *slot.chains;
        ++chains.completed_;
        if (!NT_SUCCESS(status))
            ++chains.failures_;
        if (chains.stopping_)
            chains.End();
        else
            chains.Send(slot);
    }

    CUSBAudioCL &usb_;
    std::vector<std::unique_ptr<Slot>> slots_;
    KEVENT idle_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> outstanding_{0};
    std::atomic<ULONGLONG> completed_{0};
    std::atomic<ULONGLONG> failures_{0};
};

void RenderSubmitCompleteCycle(benchmark::State &state)
{
    constexpr LONGLONG kSimulatedMsPerIteration = 10000;
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        auto controller = std::make_unique<host::UsbHostController>(machine);
        PDEVICE_OBJECT pdo = controller->Plug(1, std::make_shared<devices::Rvd3Model>());
        PDRIVER_OBJECT driver = host::CreateDriverObject(machine, u"\\Driver\\norvane_quen_audio");
        PDEVICE_OBJECT fdo = nullptr;
        IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo);
        PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(fdo, pdo);
        fdo->Flags &= ~DO_DEVICE_INITIALIZING;
        {
            CUSBAudioCL usb;
            ULONG channels = 0, bits = 0, bytes = 0;
            if (!NT_SUCCESS(usb.Initialize(lower, 0)) || !NT_SUCCESS(usb.SelectConfiguration()) ||
                !NT_SUCCESS(
                    usb.SelectStreamingFormat(0, 2, 32, 48000, 4, &channels, &bits, &bytes))) {
                state.SkipWithError("device start failed");
            } else {
                usb.RenderInterface->CurrentFeedback = usb.RenderInterface->LatestFeedback;
                RenderChains chains(usb, 8);
                chains.Start();
                for (auto _ : state) {
                    LARGE_INTEGER interval;
                    interval.QuadPart = -kSimulatedMsPerIteration * 10000;
                    KeDelayExecutionThread(KernelMode, FALSE, &interval);
                }
                chains.Stop();
                KeWaitForSingleObject(&usb.DrainedEvent, Executive, KernelMode, FALSE, nullptr);
                if (chains.Failures() != 0)
                    state.SkipWithError("transfers failed");
                state.counters["transfers_per_s"] =
                    benchmark::Counter(double(chains.Completed()), benchmark::Counter::kIsRate);
                state.counters["simulated_s_per_s"] = benchmark::Counter(
                    double(kSimulatedMsPerIteration) / 1000.0 * double(state.iterations()),
                    benchmark::Counter::kIsRate);
            }
        }
        IoDetachDevice(lower);
        IoDeleteDevice(fdo);
        ObDereferenceObject(driver);
        controller.reset();
    }
    machine.PowerOff();
}
BENCHMARK(RenderSubmitCompleteCycle)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
