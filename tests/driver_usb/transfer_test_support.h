// What the asynchronous transfer tests share: a CUSBAudioCL that keeps a copy of every URB its
// completion hook sees, a callback recorder the test's thread can wait on (in virtual time), and
// a look at the IRP free list.
#pragma once

#include "driver_usb_fixture.h"

#include "function/audio_streaming_interface.h"

#include <mutex>
#include <vector>

namespace driver_usb_tests {

// A URB as the driver sent it down.
struct UrbSnapshot {
    USHORT length = 0;
    USHORT function = 0;
    ULONG flags = 0;
    PVOID pipe = nullptr;
    ULONG bufferLength = 0;
    PVOID buffer = nullptr;
    PMDL mdl = nullptr;
    ULONG startFrame = 0;
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> packets;
};

// A filter device between the driver's USB layer and the device's PDO: it copies every URB of
// a transfer (isochronous, bulk or interrupt) and passes every request on unchanged.
class UrbRecorder {
public:
    void Insert(host::Machine &machine, PDEVICE_OBJECT pdo)
    {
        pdo_ = pdo;
        driver_ = host::CreateDriverObject(machine, u"\\Driver\\urb_recorder");
        for (PDRIVER_DISPATCH &dispatch : driver_->MajorFunction)
            dispatch = Dispatch;
        ASSERT_EQ(STATUS_SUCCESS, IoCreateDevice(driver_, sizeof(UrbRecorder *), nullptr,
                                                 FILE_DEVICE_UNKNOWN, 0, FALSE, &device_));
        *static_cast<UrbRecorder **>(device_->DeviceExtension) = this;
        device_->StackSize = CCHAR(pdo->StackSize + 1);
        device_->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    void Remove()
    {
        if (device_ != nullptr)
            IoDeleteDevice(device_);
        if (driver_ != nullptr)
            ObDereferenceObject(driver_);
        device_ = nullptr;
        driver_ = nullptr;
    }
    PDEVICE_OBJECT Device() const { return device_; }

    std::vector<UrbSnapshot> Urbs() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return urbs_;
    }

private:
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp)
    {
        auto *self = *static_cast<UrbRecorder **>(device->DeviceExtension);
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        if (stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL &&
            stack->Parameters.DeviceIoControl.IoControlCode == IOCTL_INTERNAL_USB_SUBMIT_URB)
            self->Record(static_cast<PURB>(stack->Parameters.Others.Argument1));
        IoSkipCurrentIrpStackLocation(irp);
        return IoCallDriver(self->pdo_, irp);
    }

    void Record(PURB urb)
    {
        UrbSnapshot s;
        s.length = urb->UrbHeader.Length;
        s.function = urb->UrbHeader.Function;
        if (s.function == URB_FUNCTION_ISOCH_TRANSFER) {
            const auto &iso = urb->UrbIsochronousTransfer;
            s.flags = iso.TransferFlags;
            s.pipe = iso.PipeHandle;
            s.bufferLength = iso.TransferBufferLength;
            s.buffer = iso.TransferBuffer;
            s.mdl = iso.TransferBufferMDL;
            s.startFrame = iso.StartFrame;
            s.packets.assign(iso.IsoPacket, iso.IsoPacket + iso.NumberOfPackets);
        } else if (s.function == URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER) {
            const auto &bulk = urb->UrbBulkOrInterruptTransfer;
            s.flags = bulk.TransferFlags;
            s.pipe = bulk.PipeHandle;
            s.bufferLength = bulk.TransferBufferLength;
            s.buffer = bulk.TransferBuffer;
            s.mdl = bulk.TransferBufferMDL;
        } else {
            return;
        }
        std::lock_guard<std::mutex> hold(lock_);
        urbs_.push_back(s);
    }

    PDEVICE_OBJECT pdo_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT device_ = nullptr;
    mutable std::mutex lock_;
    std::vector<UrbSnapshot> urbs_;
};

// IRPs on a USB layer's free list now.
inline ULONG FreeIrps(CUSBCL &usb)
{
    KLOCK_QUEUE_HANDLE handle;
    KeAcquireInStackQueuedSpinLock(&usb.IrpListLock, &handle);
    ULONG count = 0;
    for (PLIST_ENTRY e = usb.IrpList.Flink; e != &usb.IrpList; e = e->Flink)
        ++count;
    KeReleaseInStackQueuedSpinLock(&handle);
    return count;
}

// Callbacks of the transfer path, recorded; the test's thread waits for a number of them.
class CallbackRecorder {
public:
    struct Call {
        NTSTATUS status;
        ULONG value;
        KIRQL irql;
    };

    CallbackRecorder() { KeInitializeEvent(&changed_, SynchronizationEvent, FALSE); }

    static void Callback(NTSTATUS status, ULONG value, PVOID context)
    {
        auto *self = static_cast<CallbackRecorder *>(context);
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            self->calls_.push_back({status, value, KeGetCurrentIrql()});
        }
        KeSetEvent(&self->changed_, IO_NO_INCREMENT, FALSE);
    }

    // Waits (in virtual time, at most 10 s) until `count` callbacks have come.
    bool WaitFor(size_t count)
    {
        for (;;) {
            if (Count() >= count)
                return true;
            LARGE_INTEGER timeout = RelativeMs(10000);
            if (KeWaitForSingleObject(&changed_, Executive, KernelMode, FALSE, &timeout) ==
                STATUS_TIMEOUT)
                return Count() >= count;
        }
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_.size();
    }
    std::vector<Call> Calls() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return calls_;
    }

private:
    mutable std::mutex lock_;
    std::vector<Call> calls_;
    KEVENT changed_;
};

class TransferTest : public DriverUsbTest {
protected:
    void TearDown() override
    {
        if (audio_ != nullptr && audio_->IoCount != 0) {
            // A test may end as its last callback runs, before that completion is done.
            LARGE_INTEGER timeout = RelativeMs(10000);
            KeWaitForSingleObject(&audio_->DrainedEvent, Executive, KernelMode, FALSE, &timeout);
        }
        audio_.reset();
        recorder_.Remove();
        DriverUsbTest::TearDown();
    }

    // Plugs the model, starts the USB layer below a URB recorder and selects the render format
    // (and, when asked, a capture format).
    void StartDevice(std::shared_ptr<host::UsbDeviceModel> model, ULONG bits, ULONG rate,
                     ULONG captureBits = 0)
    {
        Plug(std::move(model));
        recorder_.Insert(M(), pdo_);
        NTSTATUS status = audio_->Initialize(recorder_.Device(), 0);
        ASSERT_EQ(STATUS_SUCCESS, status);
        ASSERT_EQ(STATUS_SUCCESS, audio_->SelectConfiguration());
        ULONG channels = 0, outBits = 0, bytes = 0;
        ASSERT_EQ(STATUS_SUCCESS,
                  audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_RENDER, 2, bits, rate, 4,
                                                &channels, &outBits, &bytes));
        if (captureBits != 0) {
            ASSERT_EQ(STATUS_SUCCESS,
                      audio_->SelectStreamingFormat(USB_AUDIO_DIRECTION_CAPTURE, 2, captureBits,
                                                    rate, 1, &channels, &outBits, &bytes));
        }
    }
    // What the render thread does before sizing a transfer: the latest feedback becomes current.
    void LatchFeedback()
    {
        AudioStreamingInterface &render = *audio_->RenderInterface;
        KIRQL old;
        KeAcquireSpinLock(&render.FeedbackLock, &old);
        render.CurrentFeedback = render.LatestFeedback;
        KeReleaseSpinLock(&render.FeedbackLock, old);
    }
    // Waits until no transfer is outstanding: the last completion routine has given everything
    // back (a callback runs before its routine is done).
    void WaitDrained()
    {
        LARGE_INTEGER timeout = RelativeMs(10000);
        ASSERT_EQ(STATUS_SUCCESS, KeWaitForSingleObject(&audio_->DrainedEvent, Executive,
                                                        KernelMode, FALSE, &timeout));
    }
    std::vector<UrbSnapshot> Urbs() const { return recorder_.Urbs(); }
    ULONG FreeIrpCount() { return FreeIrps(*audio_); }
    AudioStreamingInterface &Render() { return *audio_->RenderInterface; }
    AudioStreamingInterface &Capture() { return *audio_->CaptureInterface; }

    UrbRecorder recorder_;
};

} // namespace driver_usb_tests
