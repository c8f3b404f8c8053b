#include "usb_audio_device_model.h"

#include "usb_constants.h"

#include <algorithm>
#include <cstring>

namespace devices {

using host::UsbControlResult;
using host::UsbSetupPacket;

namespace {

UsbControlResult Reply(const UCHAR *bytes, size_t length, const UsbSetupPacket &setup, UCHAR *data)
{
    const size_t n = std::min<size_t>(length, setup.wLength);
    if (n != 0) // an empty reply may come from an empty buffer
        std::memcpy(data, bytes, n);
    return UsbControlResult::Ok(static_cast<ULONG>(n));
}

UsbControlResult Reply(const Bytes &bytes, const UsbSetupPacket &setup, UCHAR *data)
{
    return Reply(bytes.data(), bytes.size(), setup, data);
}

// The full-speed identity of a high-speed device, from its device descriptor.
Bytes DeviceQualifier(const Bytes &device)
{
    FieldWriter fields;
    for (size_t i = 2; i < 8; ++i)
        fields.U8(device[i]); // bcdUSB, class, subclass, protocol, bMaxPacketSize0
    fields.U8(device[17]).U8(0);
    Bytes out;
    AppendDescriptor(&out, {usb::kDeviceQualifierDescriptor, fields.Data()});
    return out;
}

} // namespace

UsbAudioDeviceModel::UsbAudioDeviceModel(host::UsbSpeed speed, DescriptorSet descriptors)
    : speed_(speed), descriptors_(std::move(descriptors)),
      layout_(ReadConfigurationLayout(descriptors_.configuration))
{
}

UCHAR UsbAudioDeviceModel::AlternateSetting(UCHAR interfaceNumber) const
{
    const auto it = alternates_.find(interfaceNumber);
    return it == alternates_.end() ? 0 : it->second;
}

AudioControl &UsbAudioDeviceModel::AddEntityControl(UCHAR entity, UCHAR selector, UCHAR channel,
                                                    AudioControl control)
{
    controls_.push_back({usb::kRecipientInterface, entity, selector, channel, std::move(control)});
    return controls_.back().control;
}

AudioControl &UsbAudioDeviceModel::AddEndpointControl(UCHAR endpoint, UCHAR selector,
                                                      AudioControl control)
{
    controls_.push_back({usb::kRecipientEndpoint, endpoint, selector, 0, std::move(control)});
    return controls_.back().control;
}

const AudioControl *UsbAudioDeviceModel::Find(UCHAR recipient, UCHAR id, UCHAR selector,
                                              UCHAR channel) const
{
    for (const ControlEntry &entry : controls_) {
        if (entry.recipient == recipient && entry.id == id && entry.selector == selector &&
            entry.channel == channel)
            return &entry.control;
    }
    return nullptr;
}

AudioControl *UsbAudioDeviceModel::Find(UCHAR recipient, UCHAR id, UCHAR selector, UCHAR channel)
{
    const UsbAudioDeviceModel &self = *this;
    return const_cast<AudioControl *>(self.Find(recipient, id, selector, channel));
}

AudioControl *UsbAudioDeviceModel::FindEntityControl(UCHAR entity, UCHAR selector, UCHAR channel)
{
    return Find(usb::kRecipientInterface, entity, selector, channel);
}

const AudioControl *UsbAudioDeviceModel::FindEntityControl(UCHAR entity, UCHAR selector,
                                                           UCHAR channel) const
{
    return Find(usb::kRecipientInterface, entity, selector, channel);
}

AudioControl *UsbAudioDeviceModel::FindEndpointControl(UCHAR endpoint, UCHAR selector)
{
    return Find(usb::kRecipientEndpoint, endpoint, selector, 0);
}

UsbControlResult UsbAudioDeviceModel::VendorRequest(const UsbSetupPacket &, UCHAR *)
{
    return UsbControlResult::Stall();
}

UsbControlResult UsbAudioDeviceModel::Control(const UsbSetupPacket &setup, UCHAR *data,
                                              ULONGLONG interval)
{
    requestInterval_ = std::max(requestInterval_, interval);
    switch (setup.bmRequestType & usb::kTypeMask) {
    case usb::kTypeStandard: return StandardRequest(setup, data);
    case usb::kTypeClass: return ClassRequest(setup, data);
    case usb::kTypeVendor: return VendorRequest(setup, data);
    default: return UsbControlResult::Stall();
    }
}

bool UsbAudioDeviceModel::InterfaceExists(UCHAR interfaceNumber) const
{
    return configuration_ != 0 && layout_.Find(interfaceNumber, 0) != nullptr;
}

UsbControlResult UsbAudioDeviceModel::StandardRequest(const UsbSetupPacket &setup, UCHAR *data)
{
    const UCHAR recipient = setup.bmRequestType & usb::kRecipientMask;
    const bool in = (setup.bmRequestType & usb::kDirectionIn) != 0;
    switch (setup.bRequest) {
    case usb::kGetDescriptor:
        if (setup.bmRequestType != 0x80)
            break;
        return GetDescriptor(setup, data);
    case usb::kGetConfiguration:
        if (setup.bmRequestType != 0x80 || setup.wLength == 0)
            break;
        data[0] = configuration_;
        return UsbControlResult::Ok(1);
    case usb::kSetConfiguration:
        if (setup.bmRequestType != 0x00)
            break;
        return SetConfiguration(setup.wValue);
    case usb::kGetInterface: {
        const UCHAR number = static_cast<UCHAR>(setup.wIndex);
        if (setup.bmRequestType != 0x81 || setup.wLength == 0 || !InterfaceExists(number))
            break;
        data[0] = AlternateSetting(number);
        return UsbControlResult::Ok(1);
    }
    case usb::kSetInterface:
        if (setup.bmRequestType != 0x01 || setup.wValue > 0xFF)
            break;
        return SetInterface(static_cast<UCHAR>(setup.wIndex), static_cast<UCHAR>(setup.wValue));
    case usb::kGetStatus: {
        if (!in)
            break;
        UCHAR status[2] = {0, 0};
        if (recipient == usb::kRecipientDevice) {
            status[0] =
                static_cast<UCHAR>((layout_.attributes & 0x40 ? 1 : 0) | (remoteWakeup_ ? 2 : 0));
        } else if (recipient == usb::kRecipientInterface) {
            if (!InterfaceExists(static_cast<UCHAR>(setup.wIndex)))
                break;
        } else if (recipient == usb::kRecipientEndpoint) {
            const UCHAR endpoint = static_cast<UCHAR>(setup.wIndex);
            if ((endpoint & 0x0F) != 0 && !EndpointActive(endpoint))
                break;
            status[0] = halted_[EndpointSlot(endpoint)] ? 1 : 0;
        } else {
            break;
        }
        return Reply(status, sizeof(status), setup, data);
    }
    case usb::kClearFeature:
    case usb::kSetFeature:
        if (in)
            break;
        return Feature(setup, setup.bRequest == usb::kSetFeature);
    default: break;
    }
    return UsbControlResult::Stall();
}

UsbControlResult UsbAudioDeviceModel::GetDescriptor(const UsbSetupPacket &setup, UCHAR *data)
{
    const UCHAR type = static_cast<UCHAR>(setup.wValue >> 8);
    const UCHAR index = static_cast<UCHAR>(setup.wValue);
    switch (type) {
    case usb::kDeviceDescriptor: return Reply(descriptors_.device, setup, data);
    case usb::kConfigurationDescriptor:
        if (index != 0)
            break;
        return Reply(descriptors_.configuration, setup, data);
    case usb::kStringDescriptor: {
        if (index != 0 && setup.wIndex != usb::kLanguageEnglishUs)
            break;
        const auto it = descriptors_.strings.find(index);
        if (it == descriptors_.strings.end())
            break;
        return Reply(it->second, setup, data);
    }
    case usb::kDeviceQualifierDescriptor:
        if (speed_ != host::UsbSpeed::High || descriptors_.device.size() < 18)
            break;
        return Reply(DeviceQualifier(descriptors_.device), setup, data);
    default: break;
    }
    return UsbControlResult::Stall();
}

UsbControlResult UsbAudioDeviceModel::SetConfiguration(USHORT value)
{
    if (value != 0 && value != layout_.configurationValue)
        return UsbControlResult::Stall();
    configuration_ = static_cast<UCHAR>(value);
    alternates_.clear();
    std::fill(std::begin(halted_), std::end(halted_), false);
    const std::vector<UCHAR> interfaces = layout_.InterfaceNumbers();
    if (configuration_ != 0) {
        for (UCHAR number : interfaces)
            alternates_[number] = 0;
    }
    RefreshActiveEndpoints();
    for (UCHAR number : interfaces)
        OnAlternateSetting(number, 0);
    return UsbControlResult::Ok(0);
}

UsbControlResult UsbAudioDeviceModel::SetInterface(UCHAR interfaceNumber, UCHAR alternateSetting)
{
    if (configuration_ == 0 || !layout_.Find(interfaceNumber, alternateSetting))
        return UsbControlResult::Stall();
    alternates_[interfaceNumber] = alternateSetting;
    // Selecting a setting resets its endpoints, halt included.
    for (const EndpointLayout &endpoint :
         layout_.Find(interfaceNumber, alternateSetting)->endpoints)
        halted_[EndpointSlot(endpoint.address)] = false;
    RefreshActiveEndpoints();
    OnAlternateSetting(interfaceNumber, alternateSetting);
    return UsbControlResult::Ok(0);
}

void UsbAudioDeviceModel::RefreshActiveEndpoints()
{
    std::fill(std::begin(active_), std::end(active_), false);
    for (const auto &current : alternates_) {
        const AlternateLayout *alternate = layout_.Find(current.first, current.second);
        if (alternate == nullptr) // an interface without that setting has no endpoints
            continue;
        for (const EndpointLayout &endpoint : alternate->endpoints)
            active_[EndpointSlot(endpoint.address)] = true;
    }
    for (size_t slot = 0; slot < std::size(active_); ++slot)
        halted_[slot] = halted_[slot] && active_[slot];
}

UsbControlResult UsbAudioDeviceModel::Feature(const UsbSetupPacket &setup, bool set)
{
    const UCHAR recipient = setup.bmRequestType & usb::kRecipientMask;
    if (recipient == usb::kRecipientDevice && setup.wValue == usb::kDeviceRemoteWakeup &&
        (layout_.attributes & 0x20) != 0) {
        remoteWakeup_ = set;
        return UsbControlResult::Ok(0);
    }
    if (recipient == usb::kRecipientEndpoint && setup.wValue == usb::kEndpointHalt) {
        const UCHAR endpoint = static_cast<UCHAR>(setup.wIndex);
        if ((endpoint & 0x0F) == 0)
            return UsbControlResult::Ok(0);
        if (!EndpointActive(endpoint))
            return UsbControlResult::Stall();
        halted_[EndpointSlot(endpoint)] = set;
        return UsbControlResult::Ok(0);
    }
    return UsbControlResult::Stall();
}

UsbControlResult UsbAudioDeviceModel::ClassRequest(const UsbSetupPacket &setup, UCHAR *data)
{
    if (configuration_ == 0)
        return UsbControlResult::Stall();
    const UCHAR recipient = setup.bmRequestType & usb::kRecipientMask;
    const UCHAR selector = static_cast<UCHAR>(setup.wValue >> 8);
    const UCHAR channel = static_cast<UCHAR>(setup.wValue);
    AudioControl *control = nullptr;
    if (recipient == usb::kRecipientInterface) {
        const UCHAR entity = static_cast<UCHAR>(setup.wIndex >> 8);
        if (!layout_.audioControlInterface ||
            static_cast<UCHAR>(setup.wIndex) != *layout_.audioControlInterface || entity == 0)
            return UsbControlResult::Stall();
        control = Find(recipient, entity, selector, channel);
    } else if (recipient == usb::kRecipientEndpoint) {
        const UCHAR endpoint = static_cast<UCHAR>(setup.wIndex);
        if (!EndpointActive(endpoint))
            return UsbControlResult::Stall();
        control = Find(recipient, endpoint, selector, channel);
    }
    if (!control)
        return UsbControlResult::Stall();

    const bool in = (setup.bmRequestType & usb::kDirectionIn) != 0;
    if (!in) {
        if (setup.bRequest != uac::kCur || !control->WriteCur(data, setup.wLength))
            return UsbControlResult::Stall();
        return UsbControlResult::Ok(setup.wLength);
    }
    if (layout_.audioClass2) {
        if (setup.bRequest == uac::kCur)
            return UsbControlResult::Ok(control->ReadCur(data, setup.wLength));
        if (setup.bRequest == uac::kRange && control->HasRanges())
            return UsbControlResult::Ok(control->ReadRange(data, setup.wLength));
        return UsbControlResult::Stall();
    }
    switch (setup.bRequest) {
    case uac::kUac1GetCur: return UsbControlResult::Ok(control->ReadCur(data, setup.wLength));
    case uac::kUac1GetMin:
    case uac::kUac1GetMax:
    case uac::kUac1GetRes:
        if (!control->HasRanges())
            break;
        return UsbControlResult::Ok(
            control->ReadFirstRangeField(setup.bRequest - uac::kUac1GetMin, data, setup.wLength));
    default: break;
    }
    return UsbControlResult::Stall();
}

} // namespace devices
