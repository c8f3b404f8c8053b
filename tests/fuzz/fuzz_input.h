// How a fuzz input is read: a small header (bus speed, transfer length, vendor and product id),
// the configuration descriptor the device returns, and the script its class, vendor and string
// requests are answered from.
//
//   byte 0      bit 0: high speed; bits 1-3: milliseconds per transfer minus 1
//   bytes 1-4   idVendor, idProduct (little endian)
//   bytes 5-6   length N of the configuration descriptor (little endian; cut to what follows)
//   N bytes     the configuration descriptor, served as it is (wTotalLength included)
//   the rest    the reply script (fuzz_device_model.h)
#pragma once

#include "devices/descriptor_builder.h"
#include "usb/usb_device_model.h"

#include <cstddef>
#include <cstdint>

namespace fuzz {

struct FuzzInput {
    host::UsbSpeed speed = host::UsbSpeed::High;
    ULONG transferMs = 1;
    devices::DescriptorSet descriptors; // device descriptor, configuration, language list
    devices::Bytes replyScript;
};

FuzzInput ReadFuzzInput(const uint8_t *data, size_t size);

// The inverse, for the seed corpus: an input whose script is empty (every request gets the
// device model's default answer).
devices::Bytes WriteFuzzInput(host::UsbSpeed speed, ULONG transferMs, USHORT vendorId,
                              USHORT productId, const devices::Bytes &configuration);

} // namespace fuzz
