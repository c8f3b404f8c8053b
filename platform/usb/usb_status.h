// How the USB driver stack reports a URB's USBD status in the IRP that carried it.
#pragma once

#include <usb.h>

namespace host {

NTSTATUS NtStatusFromUsbdStatus(USBD_STATUS status);

} // namespace host
