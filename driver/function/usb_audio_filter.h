// The filter description of the "Wave" filter (PCFILTER_DESCRIPTOR), built by
// CUSBAudioCL::BuildFilter from the audio function model: one pin per terminal, one node per
// feature-unit control group or other unit plus the converter nodes, and the connections along
// the two signal chains (input terminal to capture pin, render pin to output terminal).
//
// The pin and node arrays hold extended records: the port-class record, then the fields below.
// PinSize and NodeSize of the description are the sizes of these records.
#pragma once

#include "quen_driver_platform.h"

class CUSBAudioEntity;

// What the driver keeps about a pin or node: its entity and its place in its signal chain.
struct UsbAudioFilterElement {
    CUSBAudioEntity *Entity; // the pin's terminal or the node's unit; null for converter nodes
    ULONG Id;                // pin or node id: the record's index in its array
    BOOLEAN IsPin;
    // The neighbours in the element's signal chain, in signal order; both null when the element
    // is in no chain (a unit whose source was not found).
    UsbAudioFilterElement *Previous;
    UsbAudioFilterElement *Next;
};

struct UsbAudioPinDescriptor {
    PCPIN_DESCRIPTOR PcPin;
    UsbAudioFilterElement Element;
};

struct UsbAudioNodeDescriptor {
    PCNODE_DESCRIPTOR PcNode;
    UsbAudioFilterElement Element;
};

// The port reads the description with the Windows x64 layouts.
static_assert(sizeof(KSDATARANGE) == 64, "KSDATARANGE layout");
static_assert(sizeof(KSDATARANGE_AUDIO) == 88, "KSDATARANGE_AUDIO layout");
static_assert(sizeof(KSPIN_DESCRIPTOR) == 88, "KSPIN_DESCRIPTOR layout");
static_assert(sizeof(PCAUTOMATION_TABLE) == 56, "PCAUTOMATION_TABLE layout");
static_assert(sizeof(PCPIN_DESCRIPTOR) == 112, "PCPIN_DESCRIPTOR layout");
static_assert(sizeof(PCNODE_DESCRIPTOR) == 32, "PCNODE_DESCRIPTOR layout");
static_assert(sizeof(PCCONNECTION_DESCRIPTOR) == 16, "PCCONNECTION_DESCRIPTOR layout");
static_assert(sizeof(PCFILTER_DESCRIPTOR) == 80, "PCFILTER_DESCRIPTOR layout");

// Frees the pin, node and connection arrays of a description BuildFilter made and leaves an
// empty description. The owner of the description calls it when the device goes away.
void FreeFilterDescription(PPCFILTER_DESCRIPTOR Filter);
