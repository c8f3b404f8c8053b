// What the host USB stack costs: simulated seconds of a high-speed 48 kHz stereo (32-bit)
// isochronous OUT stream with explicit feedback, per real second. Eight 4 ms render transfers and
// three feedback reads stay in flight, each resubmitted from its completion routine, as the
// driver's streaming engine keeps them.
#include "kernel/machine.h"
#include "usb/usb_host_controller.h"

#include <benchmark/benchmark.h>
#include <usbdlib.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr UCHAR kData = 0x01;
constexpr UCHAR kFeedback = 0x81;
constexpr ULONG kBytesPerMicroframe = 6 * 8; // 48 kHz: six stereo frames of 2 x 4 bytes

// A high-speed sink: consumes the data endpoint's packets and reports a nominal feedback value.
class SinkModel : public host::UsbDeviceModel {
public:
    SinkModel()
    {
        configuration_ = {9,    2,    0,    0,    2, 1, 0,         0x80, 50,   9,    4, 0, 0,
                          0,    1,    1,    0x20, 0, 9, 4,         1,    0,    0,    1, 2, 0x20,
                          0,    9,    4,    1,    1, 2, 1,         2,    0x20, 0,    7, 5, kData,
                          0x05, 0x00, 0x02, 1,    7, 5, kFeedback, 0x11, 0x04, 0x00, 4};
        configuration_[2] = UCHAR(configuration_.size());
    }

    host::UsbSpeed Speed() const override { return host::UsbSpeed::High; }

    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG) override
    {
        if (setup.bRequest != USB_REQUEST_GET_DESCRIPTOR)
            return host::UsbControlResult::Ok(0); // SET_CONFIGURATION, SET_INTERFACE
        static const UCHAR device[18] = {18,   1,    0,    2, 0, 0, 0, 64, 0x34,
                                         0x12, 0x78, 0x56, 0, 1, 0, 0, 0,  1};
        bool wantsDevice = (setup.wValue >> 8) == USB_DEVICE_DESCRIPTOR_TYPE;
        const UCHAR *source = wantsDevice ? device : configuration_.data();
        ULONG length = wantsDevice ? 18 : ULONG(configuration_.size());
        length = std::min<ULONG>(length, setup.wLength);
        std::memcpy(data, source, length);
        return host::UsbControlResult::Ok(length);
    }

    void IsochronousOut(UCHAR, ULONGLONG, const UCHAR *data, ULONG length) override
    {
        consumed_ += length;
        checksum_ += length != 0 ? data[length - 1] : 0;
    }

    ULONG IsochronousIn(UCHAR, ULONGLONG, UCHAR *data, ULONG maxLength) override
    {
        const ULONG nominal = 0x00060000; // six samples per microframe, 16.16
        ULONG length = std::min<ULONG>(4, maxLength);
        std::memcpy(data, &nominal, length);
        return length;
    }

    void AdvanceTo(ULONGLONG interval) override { clock_ = interval; }

    std::vector<UCHAR> configuration_;
    ULONGLONG consumed_ = 0;
    ULONGLONG checksum_ = 0;
    ULONGLONG clock_ = 0;
};

NTSTATUS SubmitSync(PDEVICE_OBJECT pdo, PURB urb)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, pdo, nullptr, 0,
                                             nullptr, 0, TRUE, &event, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    NTSTATUS status = IoCallDriver(pdo, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    return status;
}

// Transfers on one pipe, each resubmitted from its completion routine until Stop().
class PipeStream {
public:
    PipeStream(PDEVICE_OBJECT pdo, const USBD_PIPE_INFORMATION &pipe, int inFlight, ULONG packets,
               ULONG packetBytes)
        : pdo_(pdo)
    {
        KeInitializeEvent(&idle_, NotificationEvent, FALSE);
        for (int i = 0; i < inFlight; ++i) {
            auto slot = std::make_unique<Slot>();
            slot->stream = this;
            slot->buffer.assign(packets * packetBytes, UCHAR(i));
            slot->urb.assign(GET_ISO_URB_SIZE(packets), 0);
            auto &iso = reinterpret_cast<PURB>(slot->urb.data())->UrbIsochronousTransfer;
            iso.Hdr.Length = USHORT(GET_ISO_URB_SIZE(packets));
            iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
            iso.PipeHandle = pipe.PipeHandle;
            iso.TransferFlags = USBD_START_ISO_TRANSFER_ASAP |
                                (pipe.EndpointAddress & 0x80 ? USBD_TRANSFER_DIRECTION_IN : 0);
            iso.TransferBuffer = slot->buffer.data();
            iso.TransferBufferLength = ULONG(slot->buffer.size());
            iso.NumberOfPackets = packets;
            for (ULONG p = 0; p < packets; ++p)
                iso.IsoPacket[p].Offset = p * packetBytes;
            slot->irp = IoAllocateIrp(pdo->StackSize, FALSE);
            slots_.push_back(std::move(slot));
        }
    }

    void Start()
    {
        for (auto &slot : slots_) {
            ++outstanding_;
            Send(*slot);
        }
    }

    void StopAndRelease()
    {
        stopping_ = true;
        KeWaitForSingleObject(&idle_, Executive, KernelMode, FALSE, nullptr);
        for (auto &slot : slots_)
            IoFreeIrp(slot->irp);
    }

    ULONG failures() const { return failures_; }

private:
    struct Slot {
        PipeStream *stream;
        std::vector<UCHAR> buffer;
        std::vector<UCHAR> urb;
        PIRP irp;
    };

    void Send(Slot &slot)
    {
        IoReuseIrp(slot.irp, STATUS_SUCCESS);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(slot.irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = slot.urb.data();
        IoSetCompletionRoutine(slot.irp, Completed, &slot, TRUE, TRUE, TRUE);
        IoCallDriver(pdo_, slot.irp);
    }

    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        Slot &slot = *static_cast<Slot *>(context);
        PipeStream &stream = *slot.stream;
        if (!NT_SUCCESS(irp->IoStatus.Status))
            ++stream.failures_;
        if (!stream.stopping_)
            stream.Send(slot);
        else if (--stream.outstanding_ == 0)
            KeSetEvent(&stream.idle_, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }

    PDEVICE_OBJECT pdo_;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> outstanding_{0};
    std::atomic<ULONG> failures_{0};
    KEVENT idle_;
};

void HighSpeedStereoIsochronousOut(benchmark::State &state)
{
    constexpr LONGLONG kSimulatedMsPerIteration = 10000;
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        host::UsbHostController controller(machine);
        auto model = std::make_shared<SinkModel>();
        PDEVICE_OBJECT pdo = controller.Plug(1, model);

        auto descriptor =
            reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(model->configuration_.data());
        USBD_INTERFACE_LIST_ENTRY list[] = {
            {USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, 0, 0, -1, -1, -1),
             nullptr},
            {USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, 1, 1, -1, -1, -1),
             nullptr},
            {nullptr, nullptr}};
        PURB select = USBD_CreateConfigurationRequestEx(descriptor, list);
        if (!NT_SUCCESS(SubmitSync(pdo, select)))
            state.SkipWithError("select configuration failed");
        USBD_PIPE_INFORMATION data = list[1].Interface->Pipes[0];
        USBD_PIPE_INFORMATION feedback = list[1].Interface->Pipes[1];
        ExFreePool(select);

        PipeStream render(pdo, data, 8, 32, kBytesPerMicroframe); // 8 x 4 ms
        PipeStream feedbackReads(pdo, feedback, 3, 4, 4);         // 3 x 4 ms
        render.Start();
        feedbackReads.Start();
        for (auto _ : state) {
            LARGE_INTEGER interval;
            interval.QuadPart = -kSimulatedMsPerIteration * 10000;
            KeDelayExecutionThread(KernelMode, FALSE, &interval);
        }
        render.StopAndRelease();
        feedbackReads.StopAndRelease();
        if (render.failures() + feedbackReads.failures() != 0)
            state.SkipWithError("transfers failed");
        state.counters["simulated_s_per_s"] =
            benchmark::Counter(double(kSimulatedMsPerIteration) / 1000.0 * state.iterations(),
                               benchmark::Counter::kIsRate);
        state.counters["bytes_per_simulated_s"] =
            double(model->consumed_) /
            (double(kSimulatedMsPerIteration) / 1000.0 * state.iterations());
    }
    machine.PowerOff();
}

} // namespace

BENCHMARK(HighSpeedStereoIsochronousOut)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
