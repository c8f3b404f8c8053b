// The host controller's records of what a client asked for: one UsbTransfer per URB it accepted,
// and one UsbPipe per open endpoint of a configured interface.
#pragma once

#include "usb_configuration.h"
#include "usb_request_check.h"
#include "usb_transfer_buffer.h"

#include <usb.h>

#include <deque>

namespace host {

// A time or bus interval that never comes.
constexpr ULONGLONG kNever = ~ULONGLONG(0);

class UsbDevice;
struct UsbPipe;

enum class UsbRequestKind {
    Control,             // a control transfer on the default pipe
    SelectConfiguration, // SET_CONFIGURATION, then the listed interfaces' pipes open
    SelectInterface,     // SET_INTERFACE, then the interface's pipes are replaced
    ResetPipe,           // the pipe's host state is reset (URB_FUNCTION_SYNC_RESET_PIPE)
    ResetPipeAndClearStall,
    ClearStall, // CLEAR_FEATURE(ENDPOINT_HALT) only
    ResetPort,  // the device's configuration is restored
    AbortPipe,  // the pipe's pending transfers complete cancelled, at once
    Isochronous,
    BulkOrInterrupt,
};

struct UsbTransfer {
    UsbRequestKind kind = UsbRequestKind::Control;
    PIRP irp = nullptr;
    PURB urb = nullptr;
    UsbDevice *device = nullptr;
    // Isochronous, bulk and interrupt transfers: the pipe they run on. Pipe requests name
    // their pipe by handle, looked up when they run (an interface change may close it first).
    UsbPipe *pipe = nullptr;
    USBD_PIPE_HANDLE pipeHandle = nullptr;
    // Control: the bus interval it runs in. Isochronous: the first packet's. Bulk and
    // interrupt: the next interval the endpoint is served in.
    ULONGLONG interval = 0;

    UsbSetupPacket setup{};
    ULONG *transferLength = nullptr; // the URB's TransferBufferLength, when it has one
    UsbTransferBuffer buffer;

    // Isochronous.
    ULONG packets = 0;
    ULONG nextPacket = 0;
    ULONG errors = 0;
    USBD_STATUS scriptedFailure = USBD_STATUS_SUCCESS;

    USBD_STATUS status = USBD_STATUS_PENDING;
    bool queued = false;                // in its pipe's or the default pipe's queue
    bool cancelCheckedIn = false;       // its cancel routine has run
    bool awaitingCancelRoutine = false; // finished while its cancel routine was on its way

    ULONGLONG LastPacketInterval(ULONG period) const
    {
        return interval + ULONGLONG(packets - 1) * period;
    }
    ULONGLONG NextPacketInterval(ULONG period) const
    {
        return interval + ULONGLONG(nextPacket) * period;
    }
};

struct UsbPipe {
    USBD_PIPE_HANDLE handle = nullptr;
    UCHAR endpointAddress = 0;
    UsbPipeAttributes attributes{};
    std::deque<UsbTransfer *> transfers; // in the order they run
    // Isochronous: the bus interval after the last scheduled packet, while `scheduled`.
    ULONGLONG nextIsoInterval = 0;
    bool scheduled = false;
    bool halted = false; // bulk and interrupt: stalled until reset
    bool parked = false; // bulk and interrupt IN: answered NAK, waits for the device's wake

    bool In() const { return (endpointAddress & USB_ENDPOINT_DIRECTION_MASK) != 0; }
    bool Isochronous() const { return attributes.type == UsbdPipeTypeIsochronous; }
};

} // namespace host
