#include "usb/usb_device_quirks.h"

namespace {

struct UsbDeviceQuirk {
    USHORT VendorId;
    USHORT ProductId;
    ULONG Flags;
};

const UsbDeviceQuirk kUsbDeviceQuirks[] = {
    // A vendor-class audio function that frames its render packets with their length.
    {0x1686, 0x00DD,
     USB_QUIRK_CONFIGURE_ALL_INTERFACES | USB_QUIRK_VENDOR_CLASS_AUDIO_INTERFACES |
         USB_QUIRK_LENGTH_PREFIXED_PACKETS},
    {0x20B1, 0x0002, USB_QUIRK_CONFIGURE_ALL_INTERFACES},
};

} // namespace

ULONG UsbDeviceQuirks(USHORT VendorId, USHORT ProductId)
{
    for (const UsbDeviceQuirk &quirk : kUsbDeviceQuirks) {
        if (quirk.VendorId == VendorId && quirk.ProductId == ProductId) {
            return quirk.Flags;
        }
    }
    return 0;
}
