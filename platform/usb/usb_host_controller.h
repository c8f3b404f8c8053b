// The emulated USB host controller with its root hub and bus driver. Each device model plugged
// into a port gets a physical device object (PDO) whose dispatch routines serve the URBs,
// internal I/O controls, PnP and power requests a client driver sends it, as the Windows USB
// stack does.
//
// The controller runs on its own emulated thread and sleeps through virtual time until something
// is due: a transfer's last packet, a control transfer's (micro)frame, a scripted fault, a
// device's wake request. When it wakes it moves every device through the bus intervals that
// have passed in one pass, interval by interval across all pipes (AdvanceTo, then that
// interval's control transfer, OUT packets, IN packets), and completes what has finished at
// DISPATCH_LEVEL, as a host controller's DPC does. A stream thus costs a few wake-ups per
// transfer, never one per (micro)frame.
//
// Frame numbers (URB StartFrame, GET_CURRENT_FRAME_NUMBER, the bus interface's QueryBusTime)
// count 1 ms frames since the machine booted, at full and at high speed alike: Windows gives
// high-speed clients frame numbers too, never microframe numbers.
#pragma once

#include "usb_device_model.h"
#include "usb_fault_script.h"

#include <usb.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace host {

class Machine;
class UsbDevice;
struct UsbTransfer;

class UsbHostController {
public:
    // An ASAP isochronous transfer on an idle pipe starts this many frames after the current
    // one (a later ASAP transfer continues right after the pipe's last scheduled packet).
    static constexpr ULONG kAsapStartDelayFrames = 2;

    explicit UsbHostController(Machine &machine);
    // Stops the controller's thread (so it must go before the machine powers off); pending
    // requests fail as on removal, remaining physical device objects are deleted (their client
    // drivers must have detached by then).
    ~UsbHostController();
    UsbHostController(const UsbHostController &) = delete;
    UsbHostController &operator=(const UsbHostController &) = delete;

    // Plugs a device into a free port: reads its device descriptor and creates its PDO, whose
    // device instance id is "USB\VID_xxxx&PID_yyyy\<port>". Null if the port is taken or the
    // device gives no device descriptor. PASSIVE_LEVEL.
    PDEVICE_OBJECT Plug(int port, std::shared_ptr<UsbDeviceModel> model);
    // Surprise removal: pending and later requests fail with STATUS_DEVICE_NOT_CONNECTED
    // (USBD_STATUS_DEVICE_GONE). The PDO stays until its stack handles IRP_MN_REMOVE_DEVICE.
    void Unplug(int port);

    // The faults scripted for a port (kept across plugs).
    UsbFaultScript &Faults(int port);

    // The current 1 ms frame number.
    ULONG CurrentFrame();
    // The bus interval of the device on `port` that is in progress now (see UsbDeviceModel).
    ULONGLONG CurrentInterval(int port);

    Machine &Owner() { return machine_; }

    // --- for the physical device objects (with the lock not held) ---
    // Accepts a request a PDO built (STATUS_PENDING), or completes it failed at once.
    NTSTATUS Submit(UsbDevice &device, PIRP irp, std::unique_ptr<UsbTransfer> transfer);
    // Completes a URB's IRP at once (a request the stack refuses before queueing it).
    NTSTATUS CompleteAtOnce(PIRP irp, PURB urb, USBD_STATUS status);
    void ReportMisuse(const std::string &what);
    // IRP_MN_REMOVE_DEVICE reached a PDO: an unplugged device's PDO is deleted.
    void PhysicalDeviceRemoved(UsbDevice &device);

    // --- for the devices, with the lock held ---
    std::recursive_mutex &Lock() { return lock_; }
    // A transfer left its queue with its final status: it completes once the lock is released.
    void FinishLocked(UsbTransfer *transfer);
    // A device wants the controller awake by `time` (interrupt time).
    void WakeByLocked(ULONGLONG time);
    // A fresh opaque handle (configuration, interface or pipe).
    PVOID NewHandleLocked();
    ULONGLONG Now();

private:
    struct Port {
        std::unique_ptr<UsbFaultScript> faults = std::make_unique<UsbFaultScript>();
        UsbDevice *device = nullptr; // plugged and not unplugged
    };

    // The port's record, made on first use.
    Port &PortLocked(int port);
    void ThreadMain();
    // Moves every device through the intervals that have passed and handles cancel requests.
    void PassLocked();
    ULONGLONG NextWakeTimeLocked();
    // Completes what FinishLocked collected; the lock must not be held.
    void CompleteFinished();
    static void CancelRoutine(PDEVICE_OBJECT device, PIRP irp);
    void Cancel(PIRP irp);
    // Drops a removed device from its port.
    void ForgetGoneDevicesLocked();

    Machine &machine_;
    PDRIVER_OBJECT driver_ = nullptr;
    PKTHREAD thread_ = nullptr;
    KEVENT wake_;

    std::recursive_mutex lock_;
    std::map<int, Port> ports_;
    std::vector<std::unique_ptr<UsbDevice>> devices_; // until their PDO goes
    std::map<PIRP, UsbTransfer *> pending_;
    std::vector<UsbTransfer *> cancelRequests_;
    std::vector<UsbTransfer *> finished_;
    bool running_ = true; // the thread is in a pass (not asleep)
    ULONGLONG sleepUntil_ = 0;
    bool stopping_ = false;
    ULONG_PTR handles_ = 0;
};

} // namespace host
