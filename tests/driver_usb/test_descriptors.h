// Small edits of a device's descriptor bytes for the cases no device model declares, and readers
// for what the driver returns.
#pragma once

#include "devices/descriptor_builder.h"
#include "devices/descriptor_walker.h"

#include <gtest/gtest.h>

#include <string>

namespace driver_usb_tests {

// The text of a UTF-16LE string descriptor (ASCII only).
inline std::string Utf16String(const UCHAR *descriptor)
{
    std::string text;
    for (size_t i = 2; i + 1 < descriptor[0]; i += 2)
        text += char(descriptor[i]);
    return text;
}

// The offset of the standard endpoint descriptor with that address in the configuration.
inline size_t EndpointOffset(const devices::Bytes &configuration, UCHAR address)
{
    for (const devices::DescriptorView &view : devices::WalkDescriptors(configuration))
        if (view.type == USB_ENDPOINT_DESCRIPTOR_TYPE && view.Byte(2) == address)
            return view.offset;
    ADD_FAILURE() << "no endpoint " << int(address);
    return 0;
}

// Sets one byte of every endpoint descriptor with that address.
inline void PatchEndpoints(devices::Bytes *configuration, UCHAR address, size_t field, UCHAR value)
{
    for (const devices::DescriptorView &view : devices::WalkDescriptors(*configuration))
        if (view.type == USB_ENDPOINT_DESCRIPTOR_TYPE && view.Byte(2) == address)
            (*configuration)[view.offset + field] = value;
}

// Appends a vendor-specific interface with one interrupt IN endpoint.
inline void AppendVendorInterface(devices::Bytes *configuration, UCHAR number, UCHAR endpoint)
{
    const devices::Bytes added = {
        9,
        USB_INTERFACE_DESCRIPTOR_TYPE,
        number,
        0,
        1,
        0xFF,
        0,
        0,
        0,
        7,
        USB_ENDPOINT_DESCRIPTOR_TYPE,
        endpoint,
        USB_ENDPOINT_TYPE_INTERRUPT,
        8,
        0,
        4,
    };
    configuration->insert(configuration->end(), added.begin(), added.end());
    const size_t total = configuration->size();
    (*configuration)[2] = UCHAR(total);
    (*configuration)[3] = UCHAR(total >> 8);
    (*configuration)[4] += 1; // bNumInterfaces
}

} // namespace driver_usb_tests
