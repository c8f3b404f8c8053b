// The data-range block of a streaming interface (AudioStreamingInterface::DataRanges), one
// allocation for DataRangeCount alternate settings:
//
//   PKSDATARANGE pointers[DataRangeCount]      entry i: alternate setting i (entry 0 is null)
//   KSDATARANGE_AUDIO records[DataRangeCount]  record 0 stays zero
//
// A pin announces the pointers from entry 1, so its data range k is alternate setting k + 1.
// A setting whose format is not Type I keeps a record of zeros.
#pragma once

#include "quen_driver_platform.h"
#include "function/audio_streaming_interface.h"

#define USB_AUDIO_DATA_RANGE_BLOCK_ENTRY_SIZE (sizeof(PKSDATARANGE) + sizeof(KSDATARANGE_AUDIO))
static_assert(USB_AUDIO_DATA_RANGE_BLOCK_ENTRY_SIZE == 96, "one pointer and one 88-byte range");

// The data ranges a pin of the interface announces (alternate settings 1 on), with their count;
// none when the interface has no data-range block.
inline const PKSDATARANGE *GetPinDataRanges(const AudioStreamingInterface *Interface, PULONG Count)
{
    if (Interface == nullptr || Interface->DataRanges == nullptr || Interface->DataRangeCount < 2) {
        *Count = 0;
        return nullptr;
    }
    *Count = Interface->DataRangeCount - 1;
    return static_cast<const PKSDATARANGE *>(Interface->DataRanges) + 1;
}

// Audio Class 2.0: sets the rates of every Type I range of the interface to the whole range of
// the clock its terminal runs on (0 to 0 when the clock cannot be read). Needs the device
// configured; BuildFilter calls it again for that reason.
void UpdateDataRangeClockRates(AudioStreamingInterface *Interface);
