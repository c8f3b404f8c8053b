// Reading descriptor bytes back: a walk over a configuration that stops at the first
// descriptor that does not fit (bLength below 2 or past the end), and the layout a device model
// needs from its own configuration (interfaces, alternate settings, endpoints, the audio
// control interface and the class version).
#pragma once

#include "descriptor_builder.h"

#include <optional>

namespace devices {

struct DescriptorView {
    size_t offset; // within the walked bytes
    UCHAR length;  // bLength
    UCHAR type;    // bDescriptorType
    const UCHAR *data;
    UCHAR Subtype() const { return length > 2 ? data[2] : 0; }
    UCHAR Byte(size_t index) const { return index < length ? data[index] : 0; }
    ULONG Word(size_t index) const { return Byte(index) | Byte(index + 1) << 8; }
};

// Every complete descriptor of `bytes`, in order. `complete` (optional) tells whether the walk
// reached the end exactly.
std::vector<DescriptorView> WalkDescriptors(const Bytes &bytes, bool *complete = nullptr);

struct EndpointLayout {
    UCHAR address;
    UCHAR attributes;
    USHORT maxPacketSize;
    UCHAR interval;
    UCHAR synchAddress; // Audio Class 1.0 9-byte endpoints, else 0
};

struct AlternateLayout {
    UCHAR interfaceNumber;
    UCHAR alternateSetting;
    UCHAR interfaceClass;
    UCHAR interfaceSubClass;
    std::vector<EndpointLayout> endpoints;
    std::vector<DescriptorView> classSpecific; // CS_INTERFACE descriptors of the setting
};

struct ConfigurationLayout {
    UCHAR configurationValue = 0;
    UCHAR attributes = 0;
    std::vector<AlternateLayout> alternates; // in descriptor order
    std::optional<UCHAR> audioControlInterface;
    bool audioClass2 = false; // the audio control header announces bcdADC 0x0200
    std::vector<DescriptorView>
        audioControlEntities; // class-specific AC descriptors after the header

    const AlternateLayout *Find(UCHAR interfaceNumber, UCHAR alternateSetting) const;
    std::vector<UCHAR> InterfaceNumbers() const; // distinct, ascending
};

// The layout of `configuration` (which must outlive it: the views point into it). A configuration
// that is cut short yields the layout of the part that could be read.
ConfigurationLayout ReadConfigurationLayout(const Bytes &configuration);

} // namespace devices
