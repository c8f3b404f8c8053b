#include "adapter/volume_conversion.h"

namespace {

const LONG kKsSilence = LONG(0x80000000);

} // namespace

LONG KsVolumeFromUsb(SHORT Volume)
{
    return Volume == USB_VOLUME_SILENCE ? kKsSilence : KsVolumeFromUsbStep(Volume);
}

LONG KsVolumeFromUsbStep(SHORT Volume) { return LONG(Volume) * 256; }

SHORT UsbVolumeFromKs(LONG Volume, SHORT Minimum, SHORT Maximum)
{
    if (Volume == kKsSilence) {
        return USB_VOLUME_SILENCE;
    }
    // 64 bits: the addition must not overflow near the top of the range.
    const LONGLONG converted = (LONGLONG(Volume) + 128) / 256;
    if (converted < Minimum) {
        return Minimum;
    }
    if (converted > Maximum) {
        return Maximum;
    }
    return SHORT(converted);
}
