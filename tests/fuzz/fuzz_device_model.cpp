#include "fuzz_device_model.h"

#include "devices/usb_constants.h"

#include <algorithm>
#include <cstring>

namespace fuzz {

namespace {

namespace usb = devices::usb;

enum ReplyAction { kDefault = 0, kStall = 1, kScripted = 2, kTruncated = 3 };

bool IsDescriptorRead(const host::UsbSetupPacket &setup, UCHAR descriptorType)
{
    return setup.bmRequestType ==
               (usb::kDirectionIn | usb::kTypeStandard | usb::kRecipientDevice) &&
           setup.bRequest == usb::kGetDescriptor && (setup.wValue >> 8) == descriptorType;
}

bool IsStringRead(const host::UsbSetupPacket &setup)
{
    return IsDescriptorRead(setup, usb::kStringDescriptor);
}

bool IsScripted(const host::UsbSetupPacket &setup)
{
    const UCHAR type = setup.bmRequestType & usb::kTypeMask;
    return type == usb::kTypeClass || type == usb::kTypeVendor || IsStringRead(setup);
}

// What a string read gets by default: a text the DSD detection looks for.
host::UsbControlResult DefaultString(const host::UsbSetupPacket &setup, UCHAR *data)
{
    const devices::Bytes text = devices::StringDescriptor("[DSD] fuzz");
    const ULONG length = std::min<ULONG>(static_cast<ULONG>(text.size()), setup.wLength);
    std::memcpy(data, text.data(), length);
    return host::UsbControlResult::Ok(length);
}

// No audio flows in device start: a FIFO of a few frames keeps each input's device cheap (the
// default one, of up to a megabyte, is mapped and unmapped for every input).
devices::StreamingOptions FuzzStreamingOptions()
{
    devices::StreamingOptions options;
    options.fifoFrames = 16;
    return options;
}

} // namespace

FuzzDeviceModel::FuzzDeviceModel(host::UsbSpeed speed, const devices::DescriptorSet &descriptors,
                                 devices::Bytes replyScript)
    : RawDescriptorModel(speed, descriptors, FuzzStreamingOptions()),
      script_(std::move(replyScript))
{
}

UCHAR FuzzDeviceModel::Next() { return position_ < script_.size() ? script_[position_++] : 0; }

host::UsbControlResult FuzzDeviceModel::DefaultAnswer(const host::UsbSetupPacket &setup,
                                                      UCHAR *data, ULONGLONG interval)
{
    if (IsStringRead(setup) && (setup.wValue & 0xFF) != 0)
        return DefaultString(setup, data);
    return RawDescriptorModel::Control(setup, data, interval);
}

host::UsbControlResult FuzzDeviceModel::Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                                ULONGLONG interval)
{
    if (!IsScripted(setup) || position_ >= script_.size())
        return DefaultAnswer(setup, data, interval);
    const bool in = (setup.bmRequestType & usb::kDirectionIn) != 0;
    switch (Next() % 4) {
    case kStall: return host::UsbControlResult::Stall();
    case kScripted: {
        const size_t low = Next();
        const size_t announced = low | size_t(Next()) << 8;
        const size_t available = std::min(announced, script_.size() - position_);
        const size_t start = position_;
        position_ += available;
        if (!in)
            return host::UsbControlResult::Ok(setup.wLength);
        const ULONG length = static_cast<ULONG>(std::min<size_t>(available, setup.wLength));
        std::memcpy(data, script_.data() + start, length);
        return host::UsbControlResult::Ok(length);
    }
    case kTruncated: {
        const ULONG limit = Next();
        host::UsbControlResult result = DefaultAnswer(setup, data, interval);
        if (in && !result.stall)
            result.length = std::min(result.length, limit);
        return result;
    }
    default: return DefaultAnswer(setup, data, interval);
    }
}

} // namespace fuzz
