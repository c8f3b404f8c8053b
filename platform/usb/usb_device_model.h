// What the emulated host controller expects of a device plugged into one of its ports. A model
// answers control transfers (standard, class and vendor requests alike) and exchanges
// isochronous packets in the (micro)frames they belong to; between exchanges the controller
// moves it through the frames in one call, so a long stream costs a few calls per transfer.
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

class UsbDeviceModel {
public:
    virtual ~UsbDeviceModel() = default;

    virtual UsbSpeed Speed() const = 0;

    // A control transfer on endpoint 0, at bus interval `interval` (see AdvanceTo). For a
    // device-to-host request the model writes at most setup.wLength bytes into `data`; for a
    // host-to-device request `data` holds setup.wLength bytes. Standard requests (descriptors,
    // SET_CONFIGURATION, SET_INTERFACE, GET_STATUS, CLEAR_FEATURE) arrive here too.
    virtual UsbControlResult Control(const UsbSetupPacket &setup, UCHAR *data,
                                     ULONGLONG interval) = 0;

    // One isochronous OUT packet for an endpoint (address without the direction bit set) in bus
    // interval `interval`. Zero-length packets are delivered too.
    virtual void IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                                ULONG length) = 0;

    // One isochronous IN packet (endpoint address with 0x80 set) in bus interval `interval`:
    // fills at most maxLength bytes and returns how many.
    virtual ULONG IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                ULONG maxLength) = 0;

    // Moves the model's own clock (sample clock, FIFO, validity timers) through every bus
    // interval before `interval`. Bus intervals are 125 us microframes at high speed and 1 ms
    // frames at full speed, counted from the moment the device was plugged in. Called with
    // non-decreasing values, always before a packet or request of that interval.
    virtual void AdvanceTo(ULONGLONG interval) = 0;
};

} // namespace host
