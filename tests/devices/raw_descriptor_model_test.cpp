// Replaying real devices: the hex dump parser, every recorded device loading and enumerating
// through the raw model, and the default class answers and streaming paths the raw model
// derives from the descriptors.
#include "device_requests.h"

#include "devices/hex_descriptor_file.h"
#include "devices/raw_descriptor_model.h"
#include "devices/usb_constants.h"

namespace {

using namespace devices;
using namespace device_tests;

std::string DumpDirectory()
{
    const std::string source = __FILE__;
    return source.substr(0, source.rfind('/')) + "/data/usb-descriptors";
}

struct RealDevice {
    const char *name;
    host::UsbSpeed speed;
};

// Speeds as stated or inferred in the dumps' README.
const RealDevice kRealDevices[] = {
    {"allenheath-xone43c", host::UsbSpeed::High},
    {"arturia-af16rig", host::UsbSpeed::High},
    {"behringer-umc202hd", host::UsbSpeed::High},
    {"focusrite-scarlett-2i2", host::UsbSpeed::High},
    {"gigabyte-trx40-realtek", host::UsbSpeed::High},
    {"logitech-h340", host::UsbSpeed::Full},
    {"maudio-micro", host::UsbSpeed::Full},
    {"nux-mg300", host::UsbSpeed::High},
    {"rode-ai1", host::UsbSpeed::Full},
    {"schiit-hel", host::UsbSpeed::High},
    {"ssl-2plus", host::UsbSpeed::High},
    {"topping-d50s", host::UsbSpeed::High},
};

DescriptorSet Load(const std::string &name)
{
    DescriptorSet set;
    std::string error;
    EXPECT_TRUE(LoadDescriptorDump(DumpDirectory(), name, &set, &error)) << error;
    return set;
}

TEST(HexDescriptorFile, ReadsBytesAcrossBlanksAndLines)
{
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(ParseHexBytes("09 02 1c\n  01\t03\r\nAb fF\n\n", &bytes, &error)) << error;
    EXPECT_EQ((Bytes{0x09, 0x02, 0x1C, 0x01, 0x03, 0xAB, 0xFF}), bytes);
    ASSERT_TRUE(ParseHexBytes("", &bytes, &error));
    EXPECT_TRUE(bytes.empty());
}

TEST(HexDescriptorFile, RefusesATokenThatIsNotOneHexByteAndSaysWhere)
{
    Bytes bytes;
    std::string error;
    EXPECT_FALSE(ParseHexBytes("09 02\n1g", &bytes, &error));
    EXPECT_EQ("line 2: '1g' is not a hex byte", error);
    EXPECT_FALSE(ParseHexBytes("123", &bytes, &error));
    EXPECT_FALSE(ParseHexBytes("0x12", &bytes, &error));
    EXPECT_FALSE(ParseHexBytes("a", &bytes, &error));
}

TEST(HexDescriptorFile, MissingFileIsReported)
{
    DescriptorSet set;
    std::string error;
    EXPECT_FALSE(LoadDescriptorDump(DumpDirectory(), "no-such-device", &set, &error));
    EXPECT_NE(std::string::npos, error.find("no-such-device.dev.hex"));
}

class EveryRealDevice : public ::testing::TestWithParam<RealDevice> {};

TEST_P(EveryRealDevice, LoadsAndAddsUp)
{
    const DescriptorSet set = Load(GetParam().name);
    ASSERT_EQ(18u, set.device.size());
    EXPECT_EQ(18u, set.device[0]);
    EXPECT_EQ(usb::kDeviceDescriptor, set.device[1]);
    ASSERT_GE(set.configuration.size(), 9u);
    EXPECT_EQ(set.configuration.size(), ReadLe(set.configuration, 2, 2));
    WalkAll(set.configuration);
    const ConfigurationLayout layout = ReadConfigurationLayout(set.configuration);
    EXPECT_TRUE(layout.audioControlInterface.has_value());
    EXPECT_EQ(set.configuration[4], layout.InterfaceNumbers().size()) << "bNumInterfaces";
}

TEST_P(EveryRealDevice, EnumeratesAndSelectsEverySettingThroughTheRawModel)
{
    const DescriptorSet set = Load(GetParam().name);
    RawDescriptorModel model(GetParam().speed, set);
    EXPECT_EQ(set.device, GetDescriptor(model, 1, 0, 18));
    const Bytes header = GetDescriptor(model, 2, 0, 9);
    EXPECT_EQ(set.configuration,
              GetDescriptor(model, 2, 0, static_cast<USHORT>(ReadLe(header, 2, 2))));
    EXPECT_EQ((Bytes{4, 3, 0x09, 0x04}), GetDescriptor(model, 3, 0, 255));
    ASSERT_TRUE(Configure(model));
    for (const AlternateLayout &a : model.Layout().alternates) {
        EXPECT_TRUE(SelectAlternate(model, a.interfaceNumber, a.alternateSetting))
            << int(a.interfaceNumber) << "/" << int(a.alternateSetting);
        for (const EndpointLayout &e : a.endpoints)
            EXPECT_TRUE(model.EndpointActive(e.address));
    }
}

TEST_P(EveryRealDevice, AnswersTheClassRequestsItsEntitiesCallFor)
{
    RawDescriptorModel model(GetParam().speed, Load(GetParam().name));
    ASSERT_TRUE(Configure(model));
    const ConfigurationLayout &layout = model.Layout();
    const UCHAR control = *layout.audioControlInterface;
    for (const DescriptorView &entity : layout.audioControlEntities) {
        const UCHAR id = entity.Byte(3);
        if (layout.audioClass2 && entity.Subtype() == uac::kClockSource) {
            EXPECT_EQ(Le(48000, 4), GetCur(model, id, 1, 0, 4, 0, control).data);
            const Reply range = GetRange(model, id, 1, 0, 2 + 6 * 12, control);
            EXPECT_EQ(6u, ReadLe(range.data, 0, 2));
            EXPECT_EQ((Bytes{1}), GetCur(model, id, 2, 0, 1, 0, control).data) << "valid";
        }
        if (layout.audioClass2 && entity.Subtype() == uac::kClockSelector) {
            EXPECT_EQ((Bytes{1}), GetCur(model, id, 1, 0, 1, 0, control).data);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(RealDevices, EveryRealDevice, ::testing::ValuesIn(kRealDevices),
                         [](const ::testing::TestParamInfo<RealDevice> &info) {
                             std::string name = info.param.name;
                             for (char &c : name) {
                                 if (!isalnum(static_cast<unsigned char>(c)))
                                     c = '_';
                             }
                             return name;
                         });

TEST(RawDescriptorModel, FeatureUnitControlsFollowTheirBitMaps)
{
    // behringer-umc202hd: feature unit 10 announces mute and volume (0x0F) on master and both
    // channels.
    RawDescriptorModel model(host::UsbSpeed::High, Load("behringer-umc202hd"));
    ASSERT_TRUE(Configure(model));
    for (UCHAR channel = 0; channel < 3; ++channel) {
        EXPECT_EQ((Bytes{0}), GetCur(model, 10, 1, channel, 1).data) << int(channel);
        const Reply range = GetRange(model, 10, 2, channel, 8);
        ASSERT_EQ(8u, range.data.size());
        EXPECT_EQ(Le(0x8100, 2), Bytes(range.data.begin() + 2, range.data.begin() + 4));
    }
    EXPECT_TRUE(GetCur(model, 10, 1, 3, 1).stall) << "no channel 3";
}

TEST(RawDescriptorModel, StreamingPathsComeFromTheDescriptors)
{
    const auto topping = RawDescriptorModel::DescribeStreaming(Load("topping-d50s"));
    ASSERT_TRUE(topping.paths.render.has_value());
    EXPECT_FALSE(topping.paths.capture.has_value());
    EXPECT_EQ(1u, topping.paths.render->interfaceNumber);
    EXPECT_EQ(0x01u, topping.paths.render->dataEndpoint);
    EXPECT_EQ(0x81u, topping.paths.render->feedbackEndpoint);
    EXPECT_EQ(FeedbackFormat::Samples16_16, topping.paths.render->feedbackFormat);
    ASSERT_EQ(3u, topping.paths.render->alternates.size());
    EXPECT_EQ(32u, topping.paths.render->alternates[0].bitResolution);
    EXPECT_EQ(24u, topping.paths.render->alternates[1].bitResolution);

    const auto behringer = RawDescriptorModel::DescribeStreaming(Load("behringer-umc202hd"));
    ASSERT_TRUE(behringer.paths.capture.has_value());
    EXPECT_EQ(2u, behringer.paths.capture->interfaceNumber);
    EXPECT_EQ(0x88u, behringer.paths.capture->dataEndpoint) << "the implicit feedback source";
    EXPECT_EQ(0x84u, behringer.paths.render->feedbackEndpoint);

    const auto logitech = RawDescriptorModel::DescribeStreaming(Load("logitech-h340"));
    ASSERT_TRUE(logitech.paths.render.has_value());
    EXPECT_EQ(0x83u, logitech.paths.render->feedbackEndpoint) << "named by bSynchAddress";
    EXPECT_EQ(FeedbackFormat::Samples10_14, logitech.paths.render->feedbackFormat);
    EXPECT_EQ(44100u, logitech.initialRate) << "the only rate it lists";
}

TEST(RawDescriptorModel, Class1EndpointsGetASamplingFrequencyControlOverTheirRates)
{
    RawDescriptorModel logitech(host::UsbSpeed::Full, Load("logitech-h340"));
    ASSERT_TRUE(Configure(logitech));
    ASSERT_TRUE(SelectAlternate(logitech, 1, 1));
    EXPECT_EQ(Le(44100, 3), In(logitech, 0xA2, 0x81, 0x0100, 0x01, 3).data);
    EXPECT_FALSE(Out(logitech, 0x22, 0x01, 0x0100, 0x01, Le(48000, 3)));

    RawDescriptorModel maudio(host::UsbSpeed::Full, Load("maudio-micro"));
    ASSERT_TRUE(Configure(maudio));
    const auto paths = RawDescriptorModel::DescribeStreaming(maudio.Descriptors()).paths;
    ASSERT_TRUE(paths.render.has_value());
    ASSERT_TRUE(SelectAlternate(maudio, paths.render->interfaceNumber, 1));
    EXPECT_TRUE(Out(maudio, 0x22, 0x01, 0x0100, paths.render->dataEndpoint, Le(32000, 3)))
        << "continuous 6400 to 48000 Hz";
    EXPECT_EQ(32000u, maudio.SampleRate());
}

TEST(RawDescriptorModel, RenderPathPlaysWhatTheHostSends)
{
    RawDescriptorModel model(host::UsbSpeed::High, Load("topping-d50s"));
    RecordingSink sink;
    model.AttachSink(&sink);
    ASSERT_TRUE(Configure(model));
    ASSERT_TRUE(SelectAlternate(model, 1, 1));
    Bytes packet(6 * 8);
    for (size_t i = 0; i < packet.size(); ++i)
        packet[i] = static_cast<UCHAR>(i * 7);
    for (ULONGLONG i = 0; i < 40; ++i) {
        model.AdvanceTo(i);
        model.IsochronousOut(0x01, i, packet.data(), static_cast<ULONG>(packet.size()));
    }
    EXPECT_GT(model.Render().framesPlayed, 0u);
    EXPECT_EQ(0u, model.Render().underruns);
    EXPECT_EQ(Bytes(packet.begin(), packet.end()),
              Bytes(sink.PlayedBytes().begin(), sink.PlayedBytes().begin() + 48));
    UCHAR feedback[4];
    EXPECT_EQ(4u, model.IsochronousIn(0x81, 40, feedback, 4));
}

} // namespace
