// Declarative USB descriptors and their serialisation. A device is described by typed records;
// every length and count in the bytes (bLength, wTotalLength of the configuration and of the
// audio control header, bNumInterfaces, bNumEndpoints, bInterfaceCount, bInCollection) is
// computed here, never written by hand. A value that cannot be represented (a descriptor longer
// than 255 bytes, a configuration longer than 65535) throws std::length_error: that is a mistake
// in the declaration, not a device behaviour.
#pragma once

#include <ntdef.h>

#include <map>
#include <string>
#include <vector>

namespace devices {

using Bytes = std::vector<UCHAR>;

// Appends little-endian fields.
class FieldWriter {
public:
    FieldWriter &U8(ULONG value);
    FieldWriter &U16(ULONG value);
    FieldWriter &U24(ULONG value);
    FieldWriter &U32(ULONG value);
    FieldWriter &Append(const Bytes &bytes);

    const Bytes &Data() const { return bytes_; }

private:
    Bytes bytes_;
};

// One descriptor: its bDescriptorType and the fields after it; bLength is computed.
struct Descriptor {
    UCHAR type = 0;
    Bytes fields;
};

// Appends bLength, bDescriptorType and the fields.
void AppendDescriptor(Bytes *out, const Descriptor &descriptor);

struct DeviceDescriptor {
    USHORT bcdUSB = 0x0200;
    // Miscellaneous / common class / interface association: the function carries an IAD.
    UCHAR deviceClass = 0xEF;
    UCHAR deviceSubClass = 0x02;
    UCHAR deviceProtocol = 0x01;
    UCHAR maxPacketSize0 = 64;
    USHORT idVendor = 0;
    USHORT idProduct = 0;
    USHORT bcdDevice = 0x0100;
    UCHAR iManufacturer = 0;
    UCHAR iProduct = 0;
    UCHAR iSerialNumber = 0;
    UCHAR numConfigurations = 1;
};

Bytes SerialiseDevice(const DeviceDescriptor &device);

struct EndpointDescriptor {
    UCHAR address = 0;
    UCHAR attributes = 0;
    USHORT maxPacketSize = 0;
    UCHAR interval = 1;
    // Audio Class 1.0 endpoints are 9 bytes: bRefresh and bSynchAddress follow bInterval.
    bool audioClass1 = false;
    UCHAR refresh = 0;
    UCHAR synchAddress = 0;
    std::vector<Descriptor> classSpecific; // CS_ENDPOINT descriptors right after it
};

struct AlternateSetting {
    UCHAR interfaceClass = 0;
    UCHAR interfaceSubClass = 0;
    UCHAR interfaceProtocol = 0;
    UCHAR iInterface = 0;
    std::vector<Descriptor> classSpecific; // between the interface descriptor and its endpoints
    std::vector<EndpointDescriptor> endpoints;
};

// Alternate setting i is alternates[i]. Interfaces are numbered in configuration order.
struct Interface {
    std::vector<AlternateSetting> alternates;
};

enum class AudioClass { Uac1, Uac2 };

// An audio streaming alternate setting of the given class version (class 0xFF for devices
// that hide the function behind the vendor class).
AlternateSetting StreamingAlternate(AudioClass audioClass, UCHAR interfaceClass = 0x01);

// The audio control interface of a function. Its class-specific header is computed: it
// precedes the entities and its total length covers them.
struct AudioControlInterface {
    UCHAR interfaceClass = 0x01;
    UCHAR iInterface = 0;
    UCHAR category = 0;               // Audio Class 2.0 bCategory
    UCHAR headerControls = 0;         // Audio Class 2.0 bmControls
    std::vector<Descriptor> entities; // clock entities, terminals and units, in order
    std::vector<EndpointDescriptor> endpoints;
};

struct AudioFunction {
    AudioClass audioClass = AudioClass::Uac2;
    bool association = true; // an interface association descriptor groups the interfaces
    UCHAR iFunction = 0;
    AudioControlInterface control;
    std::vector<Interface> streaming; // numbered right after the audio control interface
};

struct Configuration {
    UCHAR configurationValue = 1;
    UCHAR iConfiguration = 0;
    UCHAR attributes = 0x80; // bus powered
    UCHAR maxPower = 50;     // units of 2 mA
    std::vector<AudioFunction> functions;
    std::vector<Interface> interfaces; // further interfaces after the functions
};

Bytes SerialiseConfiguration(const Configuration &configuration);

// String descriptors in language 0x0409; index 0 is the language list.
class StringTable {
public:
    // Adds an ASCII text and returns its index.
    UCHAR Add(const std::string &text);
    std::map<UCHAR, Bytes> Serialise() const;

private:
    std::vector<std::string> texts_;
};

// A UTF-16LE string descriptor for an ASCII text.
Bytes StringDescriptor(const std::string &text);

// Everything a device returns to GET_DESCRIPTOR.
struct DescriptorSet {
    Bytes device;
    Bytes configuration;
    std::map<UCHAR, Bytes> strings; // by index, 0 = language list
};

} // namespace devices
