// Host version of <usbdi.h>: the USB driver interface as a client driver sees it, i.e. the URBs
// of <usb.h> and the internal I/O controls of <usbioctl.h> that carry them.
#pragma once

#include "usb.h"
#include "usbioctl.h"

// USBDI version reported by the stack of Windows 7 and later (USBD_VERSION_INFORMATION).
#define USBDI_VERSION 0x00000600
