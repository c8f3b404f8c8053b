// The descriptor builder: lengths and counts computed from the declarations, field layouts of
// the standard and class-specific descriptors, strings, and refusal of what cannot be encoded.
#include "device_requests.h"

#include "devices/audio_class_descriptors.h"
#include "devices/usb_constants.h"

#include <stdexcept>

namespace {

using namespace devices;
using namespace device_tests;

// Two interfaces' worth of a Class 2.0 function: clock, terminals, feature unit, one render
// interface with two settings; plus a vendor interface after the function.
Configuration SampleConfiguration(AudioClass audioClass)
{
    AudioFunction function;
    function.audioClass = audioClass;
    if (audioClass == AudioClass::Uac2) {
        function.control.entities = {
            uac2::ClockSource(10, uac2::kClockInternalProgrammable, 0x07),
            uac2::InputTerminal(1, uac::kTerminalUsbStreaming, 10, 2, 0x3),
            uac2::FeatureUnit(2, 1, {0x3, 0xC, 0xC}),
            uac2::OutputTerminal(3, uac::kTerminalSpeaker, 2, 10),
        };
    } else {
        function.control.entities = {
            uac1::InputTerminal(1, uac::kTerminalUsbStreaming, 2, 0x3),
            uac1::FeatureUnit(2, 1, 2, {0x1, 0x2, 0x2}),
            uac1::OutputTerminal(3, uac::kTerminalSpeaker, 2),
        };
    }
    Interface render;
    render.alternates.push_back(StreamingAlternate(audioClass));
    AlternateSetting setting = StreamingAlternate(audioClass);
    setting.classSpecific = {uac2::AsGeneral(1, 1, 1, 2, 3), uac2::FormatTypeI(4, 24)};
    setting.endpoints = {uac2::DataEndpoint(0x01, 0x05, 392), uac2::FeedbackEndpoint(0x81, 4, 4)};
    render.alternates.push_back(setting);
    function.streaming = {render, render};

    Configuration configuration;
    configuration.functions = {function};
    Interface vendor;
    vendor.alternates.resize(1);
    vendor.alternates[0].interfaceClass = 0xFF;
    configuration.interfaces = {vendor};
    return configuration;
}

TEST(DescriptorBuilder, DescriptorLengthIsComputedFromItsFields)
{
    Bytes out;
    AppendDescriptor(&out, {0x24, {1, 2, 3}});
    EXPECT_EQ((Bytes{5, 0x24, 1, 2, 3}), out);
}

TEST(DescriptorBuilder, DescriptorLongerThan255BytesIsRefused)
{
    Bytes out;
    EXPECT_THROW(AppendDescriptor(&out, {0x24, Bytes(254, 0)}), std::length_error);
    EXPECT_NO_THROW(AppendDescriptor(&out, {0x24, Bytes(253, 0)}));
    EXPECT_THROW(StringDescriptor(std::string(127, 'x')), std::length_error);
}

TEST(DescriptorBuilder, DeviceDescriptorFieldsAreInUsbOrder)
{
    DeviceDescriptor device;
    device.idVendor = 0x1234;
    device.idProduct = 0xABCD;
    device.bcdDevice = 0x0203;
    device.iManufacturer = 1;
    device.iProduct = 2;
    device.iSerialNumber = 3;
    const Bytes bytes = SerialiseDevice(device);
    EXPECT_EQ((Bytes{18, 1, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x34, 0x12, 0xCD, 0xAB, 0x03, 0x02, 1,
                     2, 3, 1}),
              bytes);
}

TEST(DescriptorBuilder, ConfigurationTotalLengthAndInterfaceCountAreComputed)
{
    const Bytes bytes = SerialiseConfiguration(SampleConfiguration(AudioClass::Uac2));
    const auto views = WalkAll(bytes);
    EXPECT_EQ(bytes.size(), ReadLe(bytes, 2, 2));
    EXPECT_EQ(9u, views[0].length);
    EXPECT_EQ(4u, bytes[4]) << "control, two streaming and one vendor interface";
    size_t interfaceDescriptors = 0;
    for (const DescriptorView &v : views)
        interfaceDescriptors += v.type == usb::kInterfaceDescriptor;
    EXPECT_EQ(1u + 2 * 2 + 1, interfaceDescriptors);
}

TEST(DescriptorBuilder, InterfacesAreNumberedInOrderWithTheirEndpointCounts)
{
    const Bytes bytes = SerialiseConfiguration(SampleConfiguration(AudioClass::Uac2));
    std::vector<std::pair<int, int>> numbers;
    const auto views = WalkAll(bytes);
    for (size_t i = 0; i < views.size(); ++i) {
        if (views[i].type != usb::kInterfaceDescriptor)
            continue;
        numbers.emplace_back(views[i].Byte(2), views[i].Byte(3));
        size_t endpoints = 0;
        for (size_t j = i + 1; j < views.size() && views[j].type != usb::kInterfaceDescriptor &&
                               views[j].type != usb::kInterfaceAssociationDescriptor;
             ++j)
            endpoints += views[j].type == usb::kEndpointDescriptor;
        EXPECT_EQ(endpoints, views[i].Byte(4)) << "bNumEndpoints of interface descriptor " << i;
    }
    EXPECT_EQ((std::vector<std::pair<int, int>>{{0, 0}, {1, 0}, {1, 1}, {2, 0}, {2, 1}, {3, 0}}),
              numbers);
}

TEST(DescriptorBuilder, InterfaceAssociationSpansTheAudioFunction)
{
    const Bytes bytes = SerialiseConfiguration(SampleConfiguration(AudioClass::Uac2));
    const DescriptorView iad = WalkAll(bytes)[1];
    ASSERT_EQ(usb::kInterfaceAssociationDescriptor, iad.type);
    EXPECT_EQ(8u, iad.length);
    EXPECT_EQ(0u, iad.Byte(2)) << "bFirstInterface";
    EXPECT_EQ(3u, iad.Byte(3)) << "bInterfaceCount: control and two streaming interfaces";
    EXPECT_EQ(1u, iad.Byte(4));
    EXPECT_EQ(0x20u, iad.Byte(6)) << "Audio Class 2.0 protocol";
}

TEST(DescriptorBuilder, Uac2HeaderTotalCoversTheEntitiesUpToTheNextInterface)
{
    const Bytes bytes = SerialiseConfiguration(SampleConfiguration(AudioClass::Uac2));
    const auto views = WalkAll(bytes);
    size_t header = 0;
    while (!(views[header].type == uac::kCsInterface && views[header].Subtype() == uac::kHeader))
        ++header;
    size_t next = header + 1;
    while (views[next].type != usb::kInterfaceDescriptor)
        ++next;
    EXPECT_EQ(9u, views[header].length);
    EXPECT_EQ(0x0200u, views[header].Word(3));
    EXPECT_EQ(views[next].offset - views[header].offset, views[header].Word(6));
}

TEST(DescriptorBuilder, Uac1HeaderListsTheStreamingInterfaces)
{
    const Bytes bytes = SerialiseConfiguration(SampleConfiguration(AudioClass::Uac1));
    const auto views = WalkAll(bytes);
    size_t header = 0;
    while (!(views[header].type == uac::kCsInterface && views[header].Subtype() == uac::kHeader))
        ++header;
    const DescriptorView &h = views[header];
    EXPECT_EQ(10u, h.length) << "8 + two interface numbers";
    EXPECT_EQ(0x0100u, h.Word(3));
    EXPECT_EQ(2u, h.Byte(7)) << "bInCollection";
    EXPECT_EQ(1u, h.Byte(8));
    EXPECT_EQ(2u, h.Byte(9));
    const size_t entities = 12 + (7 + 3 * 2) + 9;
    EXPECT_EQ(h.length + entities, h.Word(5));
    EXPECT_EQ(0u, views[1].Byte(7)) << "the control interface's protocol is 0 in Class 1.0";
}

TEST(DescriptorBuilder, Uac1AudioEndpointsCarryRefreshAndSynchAddress)
{
    Bytes bytes;
    EndpointDescriptor data = uac1::DataEndpoint(0x01, 0x05, 196, 0x81, 0x01);
    EndpointDescriptor synch = uac1::SynchEndpoint(0x81, 3);
    Interface interface;
    interface.alternates.resize(1);
    interface.alternates[0].endpoints = {data, synch};
    Configuration configuration;
    configuration.interfaces = {interface};
    const auto views = WalkAll(bytes = SerialiseConfiguration(configuration));
    ASSERT_EQ(5u, views.size());
    EXPECT_EQ((Bytes{9, 5, 0x01, 0x05, 196, 0, 1, 0, 0x81}),
              Bytes(views[2].data, views[2].data + 9));
    EXPECT_EQ((Bytes{7, 0x25, 1, 0x01, 0, 0, 0}), Bytes(views[3].data, views[3].data + 7));
    EXPECT_EQ((Bytes{9, 5, 0x81, 0x01, 3, 0, 1, 3, 0}), Bytes(views[4].data, views[4].data + 9));
}

TEST(DescriptorBuilder, Uac2EntityLayoutsPlaceTheirIdsWhereParsersReadThem)
{
    const Descriptor it = uac2::InputTerminal(1, 0x0101, 10, 2, 0x3);
    const Descriptor ot = uac2::OutputTerminal(3, 0x0301, 2, 10);
    const Descriptor fu = uac2::FeatureUnit(2, 1, {0x3, 0xC, 0xC});
    const Descriptor selector = uac2::ClockSelector(40, {41, 42, 43}, 0x3);
    Bytes bytes;
    for (const Descriptor &d : {it, ot, fu, selector})
        AppendDescriptor(&bytes, d);
    const auto views = WalkAll(bytes);
    EXPECT_EQ(17u, views[0].length);
    EXPECT_EQ(0x0101u, views[0].Word(4));
    EXPECT_EQ(10u, views[0].Byte(7)) << "bCSourceID";
    EXPECT_EQ(12u, views[1].length);
    EXPECT_EQ(2u, views[1].Byte(7)) << "bSourceID";
    EXPECT_EQ(10u, views[1].Byte(8)) << "bCSourceID";
    EXPECT_EQ(6u + 4 * 3, views[2].length);
    EXPECT_EQ(0xCu, views[2].Byte(5 + 4 * 2)) << "bmaControls(2)";
    EXPECT_EQ(7u + 3, views[3].length);
    EXPECT_EQ(3u, views[3].Byte(4));
    EXPECT_EQ(43u, views[3].Byte(7));
}

TEST(DescriptorBuilder, Uac2StreamingLayoutsPlaceFormatFieldsWhereParsersReadThem)
{
    Bytes bytes;
    AppendDescriptor(&bytes, uac2::AsGeneral(1, 1, 0x1, 2, 0x3));
    AppendDescriptor(&bytes, uac2::FormatTypeI(4, 24));
    AppendDescriptor(&bytes, uac2::IsoEndpoint());
    const auto views = WalkAll(bytes);
    EXPECT_EQ(16u, views[0].length);
    EXPECT_EQ(1u, views[0].Byte(3)) << "bTerminalLink";
    EXPECT_EQ(1u, views[0].Byte(5)) << "bFormatType";
    EXPECT_EQ(1u, views[0].Byte(6)) << "bmFormats";
    EXPECT_EQ(2u, views[0].Byte(10)) << "bNrChannels";
    EXPECT_EQ((Bytes{6, 0x24, 2, 1, 4, 24}), Bytes(views[1].data, views[1].data + 6));
    EXPECT_EQ(8u, views[2].length);
    EXPECT_EQ(0x25u, views[2].type);
}

TEST(DescriptorBuilder, Uac1FormatListsRatesInThreeBytes)
{
    Bytes bytes;
    AppendDescriptor(&bytes, uac1::FormatTypeI(2, 3, 24, {44100, 96000}));
    AppendDescriptor(&bytes, uac1::FormatTypeIContinuous(1, 2, 16, 8000, 48000));
    AppendDescriptor(&bytes, uac1::FeatureUnit(5, 4, 2, {0x0001, 0x0002}));
    const auto views = WalkAll(bytes);
    EXPECT_EQ(8u + 2 * 3, views[0].length);
    EXPECT_EQ(2u, views[0].Byte(7)) << "bSamFreqType";
    EXPECT_EQ(44100u, ReadLe(bytes, 8, 3));
    EXPECT_EQ(96000u, ReadLe(bytes, 11, 3));
    EXPECT_EQ(14u, views[1].length);
    EXPECT_EQ(0u, views[1].Byte(7));
    EXPECT_EQ(48000u, ReadLe(bytes, views[1].offset + 11, 3));
    EXPECT_EQ(7u + 2 * 2, views[2].length);
    EXPECT_EQ(2u, views[2].Byte(5)) << "bControlSize";
    EXPECT_EQ(0x0002u, views[2].Word(8)) << "bmaControls(1)";
}

TEST(DescriptorBuilder, StringsAreUtf16LittleEndianAfterAnEnglishLanguageList)
{
    StringTable strings;
    EXPECT_EQ(1u, strings.Add("Ab"));
    EXPECT_EQ(2u, strings.Add(""));
    const auto serialised = strings.Serialise();
    EXPECT_EQ((Bytes{4, 3, 0x09, 0x04}), serialised.at(0));
    EXPECT_EQ((Bytes{6, 3, 'A', 0, 'b', 0}), serialised.at(1));
    EXPECT_EQ((Bytes{2, 3}), serialised.at(2));
}

TEST(DescriptorBuilder, MaxPacketBytesLeavesOneFrameForSteering)
{
    EXPECT_EQ(392u, MaxPacketBytes(384000, 8000, 2, 4));
    EXPECT_EQ(196u, MaxPacketBytes(48000, 1000, 2, 2));
    EXPECT_EQ(46u * 6, MaxPacketBytes(44100, 1000, 2, 3)) << "44.1 rounded up to 45, plus one";
}

TEST(DescriptorWalker, StopsAtALengthBelowTwoOrPastTheEnd)
{
    bool complete = true;
    EXPECT_EQ(1u, WalkDescriptors({3, 1, 0, 0, 5, 0}, &complete).size());
    EXPECT_FALSE(complete);
    EXPECT_EQ(1u, WalkDescriptors({3, 1, 0, 9, 5, 0}, &complete).size());
    EXPECT_FALSE(complete);
    EXPECT_EQ(2u, WalkDescriptors({3, 1, 0, 2, 5}, &complete).size());
    EXPECT_TRUE(complete);
}

} // namespace
