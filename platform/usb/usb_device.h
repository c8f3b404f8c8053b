// One device plugged into the emulated host controller, as the controller keeps it: its model,
// its bus timing, its configuration with the open pipes, the queue of its default pipe, and the
// scheduling and execution of every transfer. Everything but the constructor and the bus-time
// helpers runs with the controller's lock held; the model is only called from there, so its
// calls never overlap.
#pragma once

#include "usb_fault_script.h"
#include "usb_transfer.h"

#include <atomic>
#include <memory>
#include <set>
#include <vector>

namespace host {

class UsbHostController;

class UsbDevice final : public UsbDevicePort {
public:
    // Interrupt-time units (100 ns) per 1 ms frame.
    static constexpr ULONGLONG kFrameTime = 10000;

    UsbDevice(UsbHostController &controller, int port, std::shared_ptr<UsbDeviceModel> model,
              UsbFaultScript &faults, ULONGLONG plugTime);
    ~UsbDevice();

    int Port() const { return port_; }
    UsbSpeed Speed() const { return speed_; }
    const USB_DEVICE_DESCRIPTOR &Descriptor() const { return descriptor_; }
    // Whether plug and play sees a composite device (known once enumerated).
    bool Composite() const { return composite_; }
    PDEVICE_OBJECT Pdo() const { return pdo_; }
    void SetPdo(PDEVICE_OBJECT pdo) { pdo_ = pdo; }
    std::atomic<LONG> &BusInterfaceReferences() { return busInterfaceReferences_; }

    // Bus time (interrupt time in, intervals out, and back).
    ULONGLONG IntervalInProgress(ULONGLONG now) const;
    ULONGLONG EndTime(ULONGLONG interval) const;

    // --- with the controller's lock held ---
    // Reads the device descriptor and the configuration's header, as the hub does when a device
    // arrives: false if the device does not give a device descriptor.
    bool Enumerate();
    bool Gone() const { return gone_; }
    // Checks a request against the device's state and queues it. Not for AbortPipe.
    UsbRequestCheck Queue(UsbTransfer &transfer, ULONGLONG now);
    // Takes a queued transfer out of its queue (it is being cancelled).
    void Dequeue(UsbTransfer &transfer);
    // Every pending transfer of the pipe finishes cancelled; the pipe's schedule restarts.
    UsbRequestCheck AbortPipe(USBD_PIPE_HANDLE handle);
    // Moves the device through every bus interval that has ended by `now`.
    void Run(ULONGLONG now);
    // When the controller must next run for this device, or kNever.
    ULONGLONG NextDueTime();
    // Surprise removal: every pending transfer fails with USBD_STATUS_DEVICE_GONE.
    void Disconnect();

    void RequestWake(ULONGLONG interval) override;

private:
    struct OpenInterface {
        UCHAR number;
        UCHAR alternate;
        std::vector<std::unique_ptr<UsbPipe>> pipes;
    };

    ULONGLONG FirstSchedulableInterval(ULONGLONG now) const;
    ULONG FrameOf(ULONGLONG interval) const;
    PUSB_CONFIGURATION_DESCRIPTOR Configuration();
    UsbPipe *FindPipe(USBD_PIPE_HANDLE handle);
    OpenInterface *FindOpenInterface(UCHAR number);

    void ScheduleControl(UsbTransfer &transfer, ULONGLONG now);
    UsbRequestCheck CheckSelectInterface(const UsbTransfer &transfer);
    UsbRequestCheck QueueIsochronous(UsbTransfer &transfer, ULONGLONG now);
    UsbRequestCheck QueueBulkOrInterrupt(UsbTransfer &transfer, ULONGLONG now);

    ULONGLONG NextEventInterval();
    void AdvanceModel(ULONGLONG interval);
    void ServeWakeRequests(ULONGLONG interval);
    void RunControlRequest(UsbTransfer &transfer, ULONGLONG interval);
    USBD_STATUS ControlTransfer(const UsbSetupPacket &setup, UCHAR *data, ULONG *length,
                                ULONGLONG interval);
    USBD_STATUS RunPlainControl(UsbTransfer &transfer, ULONGLONG interval);
    USBD_STATUS SelectConfiguration(UsbTransfer &transfer, ULONGLONG interval);
    USBD_STATUS SelectInterface(UsbTransfer &transfer, ULONGLONG interval);
    USBD_STATUS ResetPipe(UsbTransfer &transfer, ULONGLONG interval);
    USBD_STATUS ResetPort(ULONGLONG interval);
    // Opens the pipes of the alternate setting an interface record names and fills the record.
    void OpenPipes(USBD_INTERFACE_INFORMATION &record);
    void ClosePipes(OpenInterface &open);
    void RebuildServingOrder();

    void ServeIsochronous(UsbPipe &pipe, ULONGLONG interval);
    void ServeBulkOrInterrupt(UsbPipe &pipe, ULONGLONG interval);
    void Finish(UsbTransfer &transfer, USBD_STATUS status);
    void FinishAll(std::deque<UsbTransfer *> &queue, USBD_STATUS status);

    UsbHostController &controller_;
    const int port_;
    std::shared_ptr<UsbDeviceModel> model_;
    UsbFaultScript &faults_;
    const UsbSpeed speed_;
    const ULONGLONG intervalTime_; // 100 ns units per bus interval
    const ULONG intervalsPerFrame_;
    const ULONGLONG baseFrame_; // the frame bus interval 0 starts
    USB_DEVICE_DESCRIPTOR descriptor_{};
    bool composite_ = false;
    PDEVICE_OBJECT pdo_ = nullptr;
    std::atomic<LONG> busInterfaceReferences_{0};

    bool gone_ = false;
    ULONGLONG advancedTo_ = 0;
    std::vector<UCHAR> configuration_; // the selected configuration descriptor, or empty
    USBD_CONFIGURATION_HANDLE configurationHandle_ = nullptr;
    std::vector<OpenInterface> interfaces_;
    std::vector<UsbPipe *> servingOrder_; // OUT pipes, then IN pipes
    std::deque<UsbTransfer *> controlQueue_;
    ULONGLONG nextControlInterval_ = 0;
    std::multiset<ULONGLONG> wakeRequests_;
    std::vector<UCHAR> scratch_;
};

} // namespace host
