// A machine with a USB host controller and the test device, and the ways a client driver talks
// to its device stack: synchronous URBs (IoBuildDeviceIoControlRequest, waiting on an event) and
// asynchronous ones (IoAllocateIrp with a completion routine), from the test's emulated thread.
#pragma once

#include "kernel/kernel_fixture.h"
#include "test_usb_device.h"
#include "usb/usb_host_controller.h"

#include <usbdlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace usb_tests {

constexpr int kPort = 1;
// The requests the hub makes of a device it enumerates, which the device's log starts with.
constexpr size_t kHubRequests = 2;

// A URB with room for its variable part (and at least a whole URB union), zeroed.
class UrbBuffer {
public:
    explicit UrbBuffer(size_t bytes) : bytes_(std::max(bytes, sizeof(URB)), 0) {}
    PURB Get() { return reinterpret_cast<PURB>(bytes_.data()); }
    PURB operator->() { return Get(); }

private:
    std::vector<UCHAR> bytes_;
};

// Sends a URB to a device object and waits for it.
inline NTSTATUS SubmitUrbSync(PDEVICE_OBJECT device, PURB urb)
{
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb;
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, device, nullptr, 0,
                                             nullptr, 0, TRUE, &event, &iosb);
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    NTSTATUS status = IoCallDriver(device, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    return status;
}

// One asynchronous request: its IRP, and what the completion routine saw.
struct PendingUrb {
    PIRP irp = nullptr;
    KEVENT done;
    NTSTATUS status = STATUS_PENDING;
    KIRQL completionIrql = PASSIVE_LEVEL;
    ULONGLONG completedAt = 0;
    bool completed = false;
};

class UsbTest : public KernelTest {
protected:
    explicit UsbTest(host::UsbSpeed speed = host::UsbSpeed::High)
        : model_(std::make_shared<TestUsbDevice>(speed))
    {
        controller_ = std::make_unique<host::UsbHostController>(M());
    }

    void TearDown() override
    {
        controller_.reset(); // what is still pending completes as on removal
        for (auto &pending : pendings_)
            if (pending->completed)
                IoFreeIrp(pending->irp);
        KernelTest::TearDown();
    }

    void Plug()
    {
        pdo_ = controller_->Plug(kPort, model_);
        ASSERT_NE(nullptr, pdo_);
    }

    NTSTATUS SubmitSync(PURB urb) { return SubmitUrbSync(pdo_, urb); }

    // Sends a URB with a fresh IRP and a completion routine; the test waits with Wait().
    PendingUrb &SubmitAsync(PURB urb)
    {
        pendings_.push_back(std::make_unique<PendingUrb>());
        PendingUrb &pending = *pendings_.back();
        KeInitializeEvent(&pending.done, NotificationEvent, FALSE);
        pending.irp = IoAllocateIrp(pdo_->StackSize, FALSE);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(pending.irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        next->Parameters.Others.Argument1 = urb;
        IoSetCompletionRoutine(pending.irp, Completed, &pending, TRUE, TRUE, TRUE);
        IoCallDriver(pdo_, pending.irp);
        return pending;
    }

    NTSTATUS Wait(PendingUrb &pending)
    {
        KeWaitForSingleObject(&pending.done, Executive, KernelMode, FALSE, nullptr);
        return pending.status;
    }

    // Lets virtual time pass (the controller works meanwhile).
    void Sleep(ULONGLONG ms)
    {
        LARGE_INTEGER interval = RelativeMs(LONGLONG(ms));
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }

    // --- requests the tests use often ---
    NTSTATUS GetDescriptor(UCHAR type, UCHAR index, USHORT language, void *buffer, ULONG length,
                           ULONG *returned)
    {
        UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
        UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     type, index, language, buffer, nullptr, length, nullptr);
        NTSTATUS status = SubmitSync(urb.Get());
        *returned = urb->UrbControlDescriptorRequest.TransferBufferLength;
        return status;
    }

    // Selects the configuration with every interface at the given alternate settings and
    // keeps a copy of the interface records.
    NTSTATUS SelectConfiguration(std::vector<UCHAR> alternates = {0, 0, 0, 0})
    {
        configuration_ = TestConfiguration(model_->Speed());
        auto descriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
        std::vector<USBD_INTERFACE_LIST_ENTRY> list;
        for (UCHAR i = 0; i < alternates.size(); ++i)
            list.push_back({USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, i,
                                                                alternates[i], -1, -1, -1),
                            nullptr});
        list.push_back({nullptr, nullptr});
        PURB urb = USBD_CreateConfigurationRequestEx(descriptor, list.data());
        NTSTATUS status = SubmitSync(urb);
        configurationHandle_ = urb->UrbSelectConfiguration.ConfigurationHandle;
        interfaces_.clear();
        for (size_t i = 0; i + 1 < list.size(); ++i) {
            auto bytes = reinterpret_cast<PUCHAR>(list[i].Interface);
            interfaces_.emplace_back(bytes, bytes + list[i].Interface->Length);
        }
        ExFreePool(urb);
        return status;
    }

    NTSTATUS SelectInterface(UCHAR number, UCHAR alternate)
    {
        auto descriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
        PUSB_INTERFACE_DESCRIPTOR setting = USBD_ParseConfigurationDescriptorEx(
            descriptor, descriptor, number, alternate, -1, -1, -1);
        ULONG size = ULONG(GET_SELECT_INTERFACE_REQUEST_SIZE(setting->bNumEndpoints));
        UrbBuffer urb(size);
        UsbBuildSelectInterfaceRequest(urb.Get(), USHORT(size), configurationHandle_, number,
                                       alternate);
        NTSTATUS status = SubmitSync(urb.Get());
        if (NT_SUCCESS(status)) {
            auto bytes = reinterpret_cast<PUCHAR>(&urb->UrbSelectInterface.Interface);
            interfaces_[number].assign(bytes, bytes + urb->UrbSelectInterface.Interface.Length);
        }
        return status;
    }

    const USBD_INTERFACE_INFORMATION &InterfaceInfo(UCHAR number)
    {
        return *reinterpret_cast<const USBD_INTERFACE_INFORMATION *>(interfaces_[number].data());
    }

    // The stored pipe of an endpoint.
    const USBD_PIPE_INFORMATION &Pipe(UCHAR endpoint)
    {
        for (const auto &bytes : interfaces_) {
            auto info = reinterpret_cast<const USBD_INTERFACE_INFORMATION *>(bytes.data());
            for (ULONG i = 0; i < info->NumberOfPipes; ++i)
                if (info->Pipes[i].EndpointAddress == endpoint)
                    return info->Pipes[i];
        }
        static const USBD_PIPE_INFORMATION none{};
        ADD_FAILURE() << "no pipe for endpoint " << int(endpoint);
        return none;
    }

    // An isochronous URB of `packets` packets on a pipe, over `buffer`, packet i at
    // i * packetBytes (IN: Length 0).
    std::unique_ptr<UrbBuffer> IsoUrb(UCHAR endpoint, ULONG packets, std::vector<UCHAR> &buffer,
                                      ULONG packetBytes, bool asap = true, ULONG startFrame = 0)
    {
        auto urb = std::make_unique<UrbBuffer>(GET_ISO_URB_SIZE(packets));
        auto &iso = (*urb)->UrbIsochronousTransfer;
        iso.Hdr.Length = USHORT(GET_ISO_URB_SIZE(packets));
        iso.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
        iso.PipeHandle = Pipe(endpoint).PipeHandle;
        iso.TransferFlags = (endpoint & 0x80 ? USBD_TRANSFER_DIRECTION_IN : 0) |
                            (asap ? USBD_START_ISO_TRANSFER_ASAP : 0);
        iso.TransferBuffer = buffer.data();
        iso.TransferBufferLength = ULONG(buffer.size());
        iso.StartFrame = startFrame;
        iso.NumberOfPackets = packets;
        for (ULONG i = 0; i < packets; ++i)
            iso.IsoPacket[i].Offset = i * packetBytes;
        return urb;
    }

    // The bus interval at which a 1 ms frame number begins, for the plugged device.
    ULONGLONG FirstIntervalOfFrame(ULONG frame)
    {
        ULONG perFrame = model_->Speed() == host::UsbSpeed::High ? 8 : 1;
        ULONG now = controller_->CurrentFrame();
        ULONGLONG interval = controller_->CurrentInterval(kPort);
        return (LONGLONG(interval / perFrame) + LONG(frame - now)) * perFrame;
    }

    std::shared_ptr<TestUsbDevice> model_;
    std::unique_ptr<host::UsbHostController> controller_;
    PDEVICE_OBJECT pdo_ = nullptr;
    std::vector<UCHAR> configuration_;
    USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
    std::vector<std::vector<UCHAR>> interfaces_;
    std::vector<std::unique_ptr<PendingUrb>> pendings_;

private:
    static NTSTATUS Completed(PDEVICE_OBJECT, PIRP irp, PVOID context)
    {
        auto pending = static_cast<PendingUrb *>(context);
        pending->status = irp->IoStatus.Status;
        pending->completionIrql = KeGetCurrentIrql();
        pending->completedAt = KeQueryInterruptTime();
        pending->completed = true;
        KeSetEvent(&pending->done, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

} // namespace usb_tests
