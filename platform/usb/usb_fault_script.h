// Faults a test scripts into one port of the emulated host controller: stalled or failed control
// requests, failed isochronous transfers, failed, short or zero-length isochronous packets,
// missing feedback, and surprise removal at a chosen bus interval. Bus intervals are the
// device's (microframes at high speed, frames at full speed, counted as in UsbDeviceModel).
// Tests may script faults from any thread, before or while the device runs.
#pragma once

#include "usb_device_model.h"

#include <usb.h>

#include <functional>
#include <mutex>
#include <vector>

namespace host {

// Which control requests a fault applies to; -1 matches any value.
struct UsbControlMatch {
    int bmRequestType = -1;
    int bRequest = -1;
    int wValue = -1;
    int wIndex = -1;

    static UsbControlMatch Request(int bmRequestType, int bRequest, int wValue = -1,
                                   int wIndex = -1)
    {
        return {bmRequestType, bRequest, wValue, wIndex};
    }
    bool Matches(const UsbSetupPacket &setup) const;
};

class UsbFaultScript {
public:
    static constexpr int kAlways = -1;

    // Matching control requests STALL (URB status USBD_STATUS_STALL_PID) without reaching the
    // device, `count` times (kAlways: every time).
    void StallControl(const UsbControlMatch &match, int count = kAlways);
    // Matching control requests fail with `status` without reaching the device.
    void FailControl(const UsbControlMatch &match, USBD_STATUS status, int count = kAlways);

    // The nth isochronous transfer submitted on `endpointAddress` from now on (1: the next one)
    // fails as a whole: no packet reaches the device, every packet and the URB get `status`.
    void FailIsoTransfer(UCHAR endpointAddress, ULONG nth, USBD_STATUS status);
    // Isochronous packets of the endpoint in `count` bus intervals from `fromInterval` fail with
    // `status` and do not reach the device (OUT) or bring nothing (IN).
    void FailIsoPackets(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count,
                        USBD_STATUS status);
    // IN packets of the endpoint in those intervals carry at most `length` bytes of what the
    // device sent.
    void ShortIsoPacket(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count,
                        ULONG length);
    void ZeroLengthPackets(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count);
    // The device does not answer the endpoint's IN tokens in those intervals (a feedback
    // endpoint falling silent): the packets fail with a transaction error, the device's answer
    // is lost.
    void DropFeedback(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count);
    // The device disappears (surprise removal) when bus interval `interval` begins, even if
    // nothing else is going on then.
    void RemoveAtInterval(ULONGLONG interval);

    void Clear();

    // --- the controller's side ---
    // Called (on the scripting thread, outside the script's lock) when a removal is scripted, so
    // that a sleeping controller looks at its deadline again.
    void SetRemovalScriptedCallback(std::function<void()> callback);

    // The status a control request fails with, or USBD_STATUS_SUCCESS; consumes one use.
    USBD_STATUS ControlFault(const UsbSetupPacket &setup);
    // Counts a new isochronous transfer on the endpoint: the status it must fail with, or
    // USBD_STATUS_SUCCESS.
    USBD_STATUS IsoTransferSubmitted(UCHAR endpointAddress);
    // The status the endpoint's packet in `interval` fails with, or USBD_STATUS_SUCCESS.
    USBD_STATUS PacketFault(UCHAR endpointAddress, ULONGLONG interval) const;
    // The bytes an IN packet of `length` bytes keeps.
    ULONG ShortenedLength(UCHAR endpointAddress, ULONGLONG interval, ULONG length) const;
    // The interval of a scripted removal, or false.
    bool RemovalInterval(ULONGLONG *interval) const;

private:
    struct ControlFaultEntry {
        UsbControlMatch match;
        USBD_STATUS status;
        int remaining;
    };
    struct TransferFault {
        UCHAR endpoint;
        ULONG remaining; // transfers still to pass before the failing one
        USBD_STATUS status;
    };
    struct PacketFaultEntry {
        UCHAR endpoint;
        ULONGLONG from;
        ULONGLONG count;
        USBD_STATUS status; // USBD_STATUS_SUCCESS: a shortened packet
        ULONG length;
        bool Covers(UCHAR ep, ULONGLONG interval) const
        {
            return ep == endpoint && interval >= from && interval - from < count;
        }
    };

    mutable std::mutex lock_;
    std::vector<ControlFaultEntry> controls_;
    std::vector<TransferFault> transfers_;
    std::vector<PacketFaultEntry> packets_;
    bool removal_ = false;
    ULONGLONG removalInterval_ = 0;
    std::function<void()> removalScripted_;
};

} // namespace host
