// How the generic parent of a composite USB device divides its configuration into functions,
// each of which becomes a child device: the interfaces an interface association descriptor
// groups; without any, an audio control interface with the audio streaming and MIDI interfaces
// that follow it (the legacy audio grouping); every other interface on its own. Each function
// gets the configuration descriptor its driver reads: the configuration header (total length
// and interface count its own) followed by the function's association and interface
// descriptors with what belongs to them.
#pragma once

#include <usb.h>

#include <vector>

namespace host {

struct UsbCompositeFunction {
    UCHAR firstInterface = 0;
    std::vector<UCHAR> interfaces; // interface numbers, in descriptor order
    // The association descriptor's function class, or the first interface's class.
    UCHAR functionClass = 0;
    UCHAR functionSubClass = 0;
    UCHAR functionProtocol = 0;
    std::vector<UCHAR> configuration;
};

// The functions of a configuration descriptor, in interface order; false (and no functions) if
// the descriptor is malformed: a truncated or zero-length descriptor, a total length beyond
// `length`, an interface in two functions.
bool SplitIntoFunctions(const UCHAR *configuration, ULONG length,
                        std::vector<UsbCompositeFunction> *functions);

} // namespace host
