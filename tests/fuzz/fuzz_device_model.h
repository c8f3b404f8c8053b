// The device a fuzz input describes: the raw model serving the input's descriptors, except that
// class requests, vendor requests and string descriptor reads are answered from the input's
// reply script, one entry per request in the order they arrive:
//
//   entry byte A, then a length N (A % 4 == 2: two bytes, little endian; A % 4 == 3: one byte),
//   then (A % 4 == 2) N reply bytes
//   A % 4 == 0  the raw model's own answer (for strings: "[DSD] fuzz" for every index but 0)
//   A % 4 == 1  stall
//   A % 4 == 2  device-to-host: the N bytes (at most wLength of them); host-to-device: accepted
//               but not applied
//   A % 4 == 3  the model's own answer cut to N bytes
//
// Once the script is used up (or cut short) every request gets the model's own answer.
#pragma once

#include "devices/raw_descriptor_model.h"

namespace fuzz {

class FuzzDeviceModel : public devices::RawDescriptorModel {
public:
    FuzzDeviceModel(host::UsbSpeed speed, const devices::DescriptorSet &descriptors,
                    devices::Bytes replyScript);

    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override;

private:
    // The model's own answer to a request the script leaves to it.
    host::UsbControlResult DefaultAnswer(const host::UsbSetupPacket &setup, UCHAR *data,
                                         ULONGLONG interval);
    UCHAR Next();

    const devices::Bytes script_;
    size_t position_ = 0;
};

} // namespace fuzz
