#include "fuzz_input.h"

#include "devices/usb_constants.h"

#include <algorithm>

namespace fuzz {

namespace {

constexpr size_t kHeaderLength = 7;

USHORT Word(const uint8_t *p) { return static_cast<USHORT>(p[0] | p[1] << 8); }

} // namespace

FuzzInput ReadFuzzInput(const uint8_t *data, size_t size)
{
    uint8_t header[kHeaderLength] = {};
    std::copy(data, data + std::min(size, kHeaderLength), header);
    const size_t rest = size > kHeaderLength ? size - kHeaderLength : 0;
    const uint8_t *body = data + (size - rest);

    FuzzInput input;
    input.speed = (header[0] & 1) != 0 ? host::UsbSpeed::High : host::UsbSpeed::Full;
    input.transferMs = ((header[0] >> 1) & 7) + 1;

    devices::DeviceDescriptor device;
    device.idVendor = Word(header + 1);
    device.idProduct = Word(header + 3);
    input.descriptors.device = devices::SerialiseDevice(device);
    devices::StringTable noTexts;
    input.descriptors.strings = noTexts.Serialise(); // the language list

    const size_t configurationLength = std::min<size_t>(Word(header + 5), rest);
    input.descriptors.configuration.assign(body, body + configurationLength);
    input.replyScript.assign(body + configurationLength, body + rest);
    return input;
}

devices::Bytes WriteFuzzInput(host::UsbSpeed speed, ULONG transferMs, USHORT vendorId,
                              USHORT productId, const devices::Bytes &configuration)
{
    const size_t length = std::min<size_t>(configuration.size(), 0xFFFF);
    devices::Bytes out = {
        static_cast<UCHAR>((speed == host::UsbSpeed::High ? 1 : 0) | ((transferMs - 1) & 7) << 1),
        static_cast<UCHAR>(vendorId),
        static_cast<UCHAR>(vendorId >> 8),
        static_cast<UCHAR>(productId),
        static_cast<UCHAR>(productId >> 8),
        static_cast<UCHAR>(length),
        static_cast<UCHAR>(length >> 8),
    };
    out.insert(out.end(), configuration.begin(), configuration.begin() + length);
    return out;
}

} // namespace fuzz
