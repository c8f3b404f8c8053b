// What the emulated host controller expects of a device plugged into one of its ports. A model
// answers control transfers (standard, class and vendor requests alike) and exchanges
// isochronous packets in the (micro)frames they belong to; between exchanges the controller
// moves it through the frames in one call, so a long stream costs a few calls per transfer.
//
// Calls never overlap and run at PASSIVE_LEVEL: they come from the controller's thread, or from
// the thread that plugs or unplugs the device or aborts one of its pipes (the device is brought
// up to the present first).
#pragma once

#include <ntdef.h>

namespace host {

enum class UsbSpeed { Full, High };

struct UsbSetupPacket {
    UCHAR bmRequestType;
    UCHAR bRequest;
    USHORT wValue;
    USHORT wIndex;
    USHORT wLength;
};

struct UsbControlResult {
    bool stall;
    ULONG length; // bytes returned (device-to-host) or accepted (host-to-device)

    static UsbControlResult Ok(ULONG length) { return {false, length}; }
    static UsbControlResult Stall() { return {true, 0}; }
};

// The answer of a bulk or interrupt endpoint to one transfer.
struct UsbBulkResult {
    enum class Kind { Data, Nak, Stall };
    Kind kind;
    ULONG length; // Data: bytes returned (IN) or accepted (OUT)

    static UsbBulkResult Data(ULONG length) { return {Kind::Data, length}; }
    // Nothing to send yet: the controller asks again after the model's next RequestWake.
    static UsbBulkResult Nak() { return {Kind::Nak, 0}; }
    static UsbBulkResult Stall() { return {Kind::Stall, 0}; }
};

// The controller's side of the port a model is plugged into.
class UsbDevicePort {
public:
    // Asks the controller to have moved the model through `interval` (AdvanceTo(interval + 1))
    // once that interval has passed, even if no transfer is due then, and to ask bulk and
    // interrupt IN endpoints that answered NAK again. Any emulated thread may call it, the
    // model's own calls included; it never blocks.
    virtual void RequestWake(ULONGLONG interval) = 0;

protected:
    ~UsbDevicePort() = default;
};

class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;

    virtual UsbSpeed Speed() const = 0;

    // A control transfer on endpoint 0, at bus interval `interval` (see AdvanceTo). For a
    // device-to-host request the model writes at most setup.wLength bytes into `data`; for a
    // host-to-device request `data` holds setup.wLength bytes. Standard requests (descriptors,
    // SET_CONFIGURATION, SET_INTERFACE, GET_STATUS, CLEAR_FEATURE) arrive here too; the device
    // descriptor is read (GET_DESCRIPTOR, 18 bytes) when the device is plugged in. Addressing is
    // the controller's business: SET_ADDRESS never arrives.
    virtual UsbControlResult Control(const UsbSetupPacket &setup, UCHAR *data,
                                     ULONGLONG interval) = 0;

    // One isochronous OUT packet for an endpoint (address without the direction bit set) in bus
    // interval `interval`. Zero-length packets are delivered too.
    virtual void IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                                ULONG length) = 0;

    // One isochronous IN packet (endpoint address with 0x80 set) in bus interval `interval`:
    // fills at most maxLength bytes (the endpoint's bytes per interval) and returns how many.
    virtual ULONG IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                ULONG maxLength) = 0;

    // Moves the model's own clock (sample clock, FIFO, validity timers) through every bus
    // interval before `interval`. Bus intervals are 125 us microframes at high speed and 1 ms
    // frames at full speed; interval 0 is the first (micro)frame that starts a frame at or after
    // the moment the device was plugged in. Called with non-decreasing values, always before a
    // packet or request of that interval, and at the end of each of the controller's passes.
    virtual void AdvanceTo(ULONGLONG interval) = 0;

    // Bulk and interrupt endpoints: one whole transfer per call, in the bus interval the
    // endpoint is served in. A model without such endpoints keeps these defaults.
    virtual UsbBulkResult BulkOrInterruptOut(UCHAR endpointAddress, ULONGLONG interval,
                                             const UCHAR *data, ULONG length)
    {
        (void)endpointAddress, (void)interval, (void)data, (void)length;
        return UsbBulkResult::Stall();
    }
    virtual UsbBulkResult BulkOrInterruptIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                            ULONG maxLength)
    {
        (void)endpointAddress, (void)interval, (void)data, (void)maxLength;
        return UsbBulkResult::Stall();
    }

    // The device was plugged into `port` (before the enumeration reads its descriptor); the
    // port stays valid until Disconnected().
    virtual void Connected(UsbDevicePort &port) { (void)port; }
    // Unplugged (or removed by an injected fault, or the controller went away): no call follows.
    virtual void Disconnected() {}
};

} // namespace host
