// Volume values between KS (signed 16.16 dB, LONG) and the audio class (signed 8.8 dB, 16 bits),
// where the most negative value of either means silence.
#pragma once

#include "quen_driver_platform.h"

// The audio class's silence.
#define USB_VOLUME_SILENCE SHORT(-0x8000)
// The loudest and quietest audio class values that are not silence.
#define USB_VOLUME_MAXIMUM SHORT(0x7FFF)
#define USB_VOLUME_MINIMUM SHORT(-0x7FFF)

// A current volume: silence stays silence (LONG_MIN), other values scale by 256.
LONG KsVolumeFromUsb(SHORT Volume);
// A bound or step of a volume range: scaled by 256.
LONG KsVolumeFromUsbStep(SHORT Volume);
// The volume to set: KS silence gives the audio class's silence; any other value is rounded to
// the nearest 1/256 dB (halves away from zero below 0 dB, as (value + 128) / 256 truncates) and
// held within [Minimum, Maximum], so no value of the caller's reaches the device outside the
// range it announced.
SHORT UsbVolumeFromKs(LONG Volume, SHORT Minimum, SHORT Maximum);
