// What the host controller reads from the configuration descriptor a client selects: the
// interfaces and their endpoints, and the pipe each endpoint becomes (the attributes Windows
// reports in USBD_PIPE_INFORMATION, and how often the endpoint is served).
#pragma once

#include "usb_device_model.h"
#include "usb_request_check.h"

#include <usb.h>

#include <vector>

namespace host {

struct UsbPipeAttributes {
    USBD_PIPE_TYPE type;
    // Bytes per service interval. At high speed a periodic endpoint's additional transactions
    // (wMaxPacketSize bits 12..11) are included, as Windows reports it: 0x1400 gives 3072.
    USHORT maximumPacketSize;
    // Isochronous, and high-speed interrupt: bInterval as the descriptor gives it (the
    // exponent). Full-speed interrupt: the polling period Windows uses, bInterval rounded down
    // to a power of two, at most 32 frames.
    UCHAR interval;
    ULONG period; // bus intervals from one service opportunity to the next
};

UsbPipeAttributes PipeAttributesOf(const USB_ENDPOINT_DESCRIPTOR &endpoint, UsbSpeed speed);

// A configuration descriptor's header is fit to be walked: the right type and a total length
// that covers the header.
bool IsConfigurationDescriptor(const USB_CONFIGURATION_DESCRIPTOR *descriptor);

PUSB_INTERFACE_DESCRIPTOR FindInterface(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                        UCHAR interfaceNumber, UCHAR alternateSetting);

// The endpoint descriptors that follow an interface descriptor (up to the next interface).
// False when there are fewer than its bNumEndpoints (the first bNumEndpoints are kept).
bool EndpointsOf(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                 PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                 std::vector<PUSB_ENDPOINT_DESCRIPTOR> *endpoints);

// An interface record (USBD_INTERFACE_INFORMATION) a client hands over to select an alternate
// setting: it fits in the `room` bytes left in its URB, names a setting of the configuration,
// has room for that setting's pipes, and asks for valid pipe flags.
UsbRequestCheck CheckInterfaceRecord(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                     const USBD_INTERFACE_INFORMATION &record, ULONG room);

// The interface records of a select-configuration URB that names a configuration descriptor:
// packed from its Interface member up to Hdr.Length (a record of Length 0 ends them early), each
// checked as above, no interface twice.
UsbRequestCheck SelectConfigurationRecords(PURB urb,
                                           std::vector<PUSBD_INTERFACE_INFORMATION> *records);

} // namespace host
