// Decoding of explicit feedback packets into 16.16 samples per packet interval.
//
// A 4-byte packet is little-endian 16.16. A 3-byte packet b0 b1 b2 has two readings in the
// field: the USB 2.0 full-speed 10.14 form ((b2 << 16 | b1 << 8 | b0) << 2) and the older
// (b2 << 24) | (b1 << 16) | (b0 << 8). The one within one sample of the nominal value is taken
// (the older one when both or neither are), so that devices of either kind are followed.
#pragma once

#include "quen_driver_platform.h"

// The value of one packet; FALSE for a length other than 3 or 4.
BOOLEAN DecodeFeedbackPacket(const UCHAR *Data, ULONG Length, ULONG Nominal, PULONG Value);

// The average of the successful 3- and 4-byte packets of a completed isochronous IN URB whose
// data is at Buffer; 0 when none counted.
ULONG AverageFeedbackPackets(const struct _URB_ISOCH_TRANSFER *Iso, const UCHAR *Buffer,
                             ULONG Nominal);
