// What a port checks before it creates a pin: the create request's KSPIN_CONNECT (pin id,
// interface, medium, no connection to another pin) and its KSDATAFORMAT against the pin's data
// ranges, as KsValidateConnectRequest does, with the audio range limits (channels, bits, rate)
// a WaveCyclic port applies to WAVEFORMATEX formats. Every length comes from the request and is
// checked before anything behind it is read.
#pragma once

#include <portcls.h>

namespace host {

// The descriptor of pin `id` (the array's stride is the descriptor's PinSize).
const PCPIN_DESCRIPTOR &PinDescriptorOf(const PCFILTER_DESCRIPTOR &filter, ULONG id);

// Validates a pin create request's parameters (the bytes after "<KSSTRING_Pin>\").
NTSTATUS ValidatePinConnect(const PCFILTER_DESCRIPTOR &filter, const UCHAR *parameters, ULONG bytes,
                            const KSPIN_CONNECT **connect, const KSDATAFORMAT **format);

// Whether a format (whose size the caller has checked) lies in one of the pin's ranges.
bool FormatInPinRanges(const PCPIN_DESCRIPTOR &pin, const KSDATAFORMAT &format);

// Whether two ranges can intersect by their GUIDs (a null GUID matches anything).
bool RangesMayIntersect(const KSDATARANGE &a, const KSDATARANGE &b);

} // namespace host
