// Devices that need handling the generic code cannot infer from their descriptors, keyed by
// USB vendor and product id. Generic code asks for a flag; it never tests ids itself.
#pragma once

#include "quen_driver_platform.h"

// Configure every interface of the configuration, not only the audio ones (the device does not
// stream with its other interfaces unconfigured).
#define USB_QUIRK_CONFIGURE_ALL_INTERFACES 0x00000001
// The audio interfaces carry the vendor-specific interface class (0xFF) instead of audio (1).
#define USB_QUIRK_VENDOR_CLASS_AUDIO_INTERFACES 0x00000002
// Every render packet starts with its payload length as a 32-bit little-endian value.
#define USB_QUIRK_LENGTH_PREFIXED_PACKETS 0x00000004

// The USB_QUIRK_* flags of a device (0 for a device that needs none).
ULONG UsbDeviceQuirks(USHORT VendorId, USHORT ProductId);
