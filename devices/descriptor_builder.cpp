#include "descriptor_builder.h"

#include "usb_constants.h"

#include <stdexcept>

namespace devices {

namespace {

constexpr size_t kConfigurationHeaderLength = 9;
constexpr size_t kUac2HeaderLength = 9;
constexpr size_t kUac1HeaderFixedLength = 8;

void CheckFits(size_t value, size_t limit, const char *what)
{
    if (value > limit)
        throw std::length_error(what);
}

void AppendEndpoint(Bytes *out, const EndpointDescriptor &endpoint)
{
    FieldWriter fields;
    fields.U8(endpoint.address).U8(endpoint.attributes).U16(endpoint.maxPacketSize);
    fields.U8(endpoint.interval);
    if (endpoint.audioClass1)
        fields.U8(endpoint.refresh).U8(endpoint.synchAddress);
    AppendDescriptor(out, {usb::kEndpointDescriptor, fields.Data()});
    for (const Descriptor &d : endpoint.classSpecific)
        AppendDescriptor(out, d);
}

void AppendInterfaceDescriptor(Bytes *out, UCHAR number, UCHAR alternate, size_t endpoints,
                               const AlternateSetting &setting)
{
    CheckFits(endpoints, 0xFF, "too many endpoints in one alternate setting");
    FieldWriter fields;
    fields.U8(number).U8(alternate).U8(static_cast<ULONG>(endpoints));
    fields.U8(setting.interfaceClass).U8(setting.interfaceSubClass);
    fields.U8(setting.interfaceProtocol).U8(setting.iInterface);
    AppendDescriptor(out, {usb::kInterfaceDescriptor, fields.Data()});
}

void AppendInterface(Bytes *out, UCHAR number, const Interface &interface)
{
    CheckFits(interface.alternates.size(), 0x100, "too many alternate settings");
    for (size_t alt = 0; alt < interface.alternates.size(); ++alt) {
        const AlternateSetting &setting = interface.alternates[alt];
        AppendInterfaceDescriptor(out, number, static_cast<UCHAR>(alt), setting.endpoints.size(),
                                  setting);
        for (const Descriptor &d : setting.classSpecific)
            AppendDescriptor(out, d);
        for (const EndpointDescriptor &endpoint : setting.endpoints)
            AppendEndpoint(out, endpoint);
    }
}

// The class-specific audio control block: the header (with its computed total) and the
// entities.
Bytes AudioControlBlock(const AudioFunction &function, UCHAR firstStreamingInterface)
{
    Bytes entities;
    for (const Descriptor &d : function.control.entities)
        AppendDescriptor(&entities, d);

    FieldWriter header;
    header.U8(uac::kHeader);
    size_t total;
    if (function.audioClass == AudioClass::Uac2) {
        total = kUac2HeaderLength + entities.size();
        CheckFits(total, 0xFFFF, "audio control block too long");
        header.U16(0x0200).U8(function.control.category).U16(static_cast<ULONG>(total));
        header.U8(function.control.headerControls);
    } else {
        const size_t count = function.streaming.size();
        CheckFits(count, 0xFF, "too many streaming interfaces");
        total = kUac1HeaderFixedLength + count + entities.size();
        CheckFits(total, 0xFFFF, "audio control block too long");
        header.U16(0x0100).U16(static_cast<ULONG>(total)).U8(static_cast<ULONG>(count));
        for (size_t i = 0; i < count; ++i)
            header.U8(firstStreamingInterface + static_cast<ULONG>(i));
    }
    Bytes block;
    AppendDescriptor(&block, {uac::kCsInterface, header.Data()});
    block.insert(block.end(), entities.begin(), entities.end());
    return block;
}

void AppendFunction(Bytes *out, const AudioFunction &function, UCHAR *nextInterface)
{
    const UCHAR controlNumber = *nextInterface;
    const size_t interfaceCount = 1 + function.streaming.size();
    CheckFits(controlNumber + interfaceCount, 0x100, "too many interfaces");
    const UCHAR protocol = function.audioClass == AudioClass::Uac2 ? uac::kProtocolVersion2 : 0;

    if (function.association) {
        FieldWriter iad;
        iad.U8(controlNumber).U8(static_cast<ULONG>(interfaceCount));
        iad.U8(function.control.interfaceClass).U8(0).U8(protocol).U8(function.iFunction);
        AppendDescriptor(out, {usb::kInterfaceAssociationDescriptor, iad.Data()});
    }

    AlternateSetting control;
    control.interfaceClass = function.control.interfaceClass;
    control.interfaceSubClass = uac::kSubclassAudioControl;
    control.interfaceProtocol = protocol;
    control.iInterface = function.control.iInterface;
    AppendInterfaceDescriptor(out, controlNumber, 0, function.control.endpoints.size(), control);
    const Bytes block = AudioControlBlock(function, static_cast<UCHAR>(controlNumber + 1));
    out->insert(out->end(), block.begin(), block.end());
    for (const EndpointDescriptor &endpoint : function.control.endpoints)
        AppendEndpoint(out, endpoint);

    *nextInterface = static_cast<UCHAR>(controlNumber + 1);
    for (const Interface &streaming : function.streaming)
        AppendInterface(out, (*nextInterface)++, streaming);
}

} // namespace

FieldWriter &FieldWriter::U8(ULONG value)
{
    bytes_.push_back(static_cast<UCHAR>(value));
    return *this;
}

FieldWriter &FieldWriter::U16(ULONG value) { return U8(value).U8(value >> 8); }

FieldWriter &FieldWriter::U24(ULONG value) { return U16(value).U8(value >> 16); }

FieldWriter &FieldWriter::U32(ULONG value) { return U16(value).U16(value >> 16); }

FieldWriter &FieldWriter::Append(const Bytes &bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

void AppendDescriptor(Bytes *out, const Descriptor &descriptor)
{
    const size_t length = 2 + descriptor.fields.size();
    CheckFits(length, 0xFF, "descriptor longer than 255 bytes");
    out->push_back(static_cast<UCHAR>(length));
    out->push_back(descriptor.type);
    out->insert(out->end(), descriptor.fields.begin(), descriptor.fields.end());
}

Bytes SerialiseDevice(const DeviceDescriptor &device)
{
    FieldWriter fields;
    fields.U16(device.bcdUSB).U8(device.deviceClass).U8(device.deviceSubClass);
    fields.U8(device.deviceProtocol).U8(device.maxPacketSize0);
    fields.U16(device.idVendor).U16(device.idProduct).U16(device.bcdDevice);
    fields.U8(device.iManufacturer).U8(device.iProduct).U8(device.iSerialNumber);
    fields.U8(device.numConfigurations);
    Bytes out;
    AppendDescriptor(&out, {usb::kDeviceDescriptor, fields.Data()});
    return out;
}

AlternateSetting StreamingAlternate(AudioClass audioClass, UCHAR interfaceClass)
{
    AlternateSetting setting;
    setting.interfaceClass = interfaceClass;
    setting.interfaceSubClass = uac::kSubclassAudioStreaming;
    setting.interfaceProtocol = audioClass == AudioClass::Uac2 ? uac::kProtocolVersion2 : 0;
    return setting;
}

Bytes SerialiseConfiguration(const Configuration &configuration)
{
    Bytes body;
    UCHAR nextInterface = 0;
    for (const AudioFunction &function : configuration.functions)
        AppendFunction(&body, function, &nextInterface);
    CheckFits(nextInterface + configuration.interfaces.size(), 0xFF, "too many interfaces");
    for (const Interface &interface : configuration.interfaces)
        AppendInterface(&body, nextInterface++, interface);

    const size_t total = kConfigurationHeaderLength + body.size();
    CheckFits(total, 0xFFFF, "configuration longer than 65535 bytes");
    FieldWriter fields;
    fields.U16(static_cast<ULONG>(total)).U8(nextInterface);
    fields.U8(configuration.configurationValue).U8(configuration.iConfiguration);
    fields.U8(configuration.attributes).U8(configuration.maxPower);
    Bytes out;
    AppendDescriptor(&out, {usb::kConfigurationDescriptor, fields.Data()});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes StringDescriptor(const std::string &text)
{
    FieldWriter fields;
    for (char c : text)
        fields.U16(static_cast<UCHAR>(c));
    Bytes out;
    AppendDescriptor(&out, {usb::kStringDescriptor, fields.Data()});
    return out;
}

UCHAR StringTable::Add(const std::string &text)
{
    CheckFits(texts_.size() + 1, 0xFF, "too many strings");
    texts_.push_back(text);
    return static_cast<UCHAR>(texts_.size());
}

std::map<UCHAR, Bytes> StringTable::Serialise() const
{
    std::map<UCHAR, Bytes> strings;
    FieldWriter languages;
    languages.U16(usb::kLanguageEnglishUs);
    AppendDescriptor(&strings[0], {usb::kStringDescriptor, languages.Data()});
    for (size_t i = 0; i < texts_.size(); ++i)
        strings[static_cast<UCHAR>(i + 1)] = StringDescriptor(texts_[i]);
    return strings;
}

} // namespace devices
