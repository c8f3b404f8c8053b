// Reads a device's descriptors the way a client driver does: GET_DESCRIPTOR URBs sent down to
// the device's physical device object from the calling emulated thread (PASSIVE_LEVEL), so what
// quen-sim prints is what the emulated USB stack delivers.
#pragma once

#include "devices/descriptor_builder.h"

#include <ntddk.h>

#include <map>
#include <string>

namespace sim {

class StackDescriptorReader {
public:
    explicit StackDescriptorReader(PDEVICE_OBJECT physicalDevice) : device_(physicalDevice) {}

    // The device descriptor (18 bytes asked for).
    NTSTATUS ReadDevice(devices::Bytes *bytes);
    // The configuration descriptor with everything after it: the 9-byte header first, then
    // wTotalLength bytes. *announced receives wTotalLength (0 when the header was unreadable).
    NTSTATUS ReadConfiguration(devices::Bytes *bytes, ULONG *announced);
    // A string descriptor's text in the device's first language ("" when there is none); read
    // once per index.
    std::string String(UCHAR index);
    // Every string read so far, by index, with the status of failed reads.
    const std::map<UCHAR, std::string> &Strings() const { return strings_; }
    USHORT Language();

private:
    NTSTATUS Read(UCHAR type, UCHAR index, USHORT language, ULONG length, devices::Bytes *bytes);

    PDEVICE_OBJECT device_;
    std::map<UCHAR, std::string> strings_;
    bool languageRead_ = false;
    USHORT language_ = 0;
};

} // namespace sim
