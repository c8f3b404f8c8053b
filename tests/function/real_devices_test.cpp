// The twelve real devices whose descriptors are kept in tests/devices/data: each is replayed
// through device start with the raw model and either starts with the streaming interfaces and
// alternate settings its descriptors declare, or is refused with the status the parse gives
// (unsupported units, a class-specific block that overruns its interface).
#include "audio_control_fixture.h"

#include "devices/hex_descriptor_file.h"

#include <sstream>

namespace function_tests {
namespace {

struct RealDevice {
    const char *name;
    host::UsbSpeed speed;
    NTSTATUS status;
    // One line per streaming interface: "IF<n> <in|out>: <alternate settings 1..>; data <ep>,
    // feedback <ep>" with each setting as channels x subslot bytes / bit resolution, and the
    // endpoints of alternate setting 1.
    std::vector<std::string> streams;
};

void PrintTo(const RealDevice &device, std::ostream *os) { *os << device.name; }

std::string DataDirectory()
{
    const std::string file = __FILE__;
    return file.substr(0, file.rfind('/')) + "/../devices/data/usb-descriptors";
}

class RealDeviceTest : public AudioFunctionTest, public ::testing::WithParamInterface<RealDevice> {
protected:
    std::string Describe(const AudioStreamingInterface &stream) const
    {
        std::ostringstream text;
        text << "IF" << int(stream.InterfaceNumber) << (stream.IsInput ? " in:" : " out:");
        for (ULONG i = 1; i < stream.AlternateSettingCount; ++i) {
            const AlternateSettingInfo &setting = stream.AlternateSettings[i];
            if (setting.AsGeneral == nullptr || setting.FormatType == nullptr) {
                text << " ?";
                continue;
            }
            const bool class2 = audio_->IsAudioClass2;
            const int channels = class2 ? setting.AsGeneral[10] : setting.FormatType[4];
            const int bytes = class2 ? setting.FormatType[4] : setting.FormatType[5];
            const int bits = class2 ? setting.FormatType[5] : setting.FormatType[6];
            text << ' ' << channels << 'x' << bytes << '/' << bits;
        }
        const AlternateSettingInfo &first = stream.AlternateSettings[1];
        text << std::hex << "; data 0x"
             << (first.DataEndpoint != nullptr ? int(first.DataEndpoint->bEndpointAddress) : 0)
             << ", feedback 0x"
             << (first.FeedbackEndpoint != nullptr ? int(first.FeedbackEndpoint->bEndpointAddress)
                                                   : 0);
        return text.str();
    }
};

TEST_P(RealDeviceTest, StartsWithItsStreamsOrIsRefused)
{
    const RealDevice &device = GetParam();
    devices::DescriptorSet set;
    std::string error;
    ASSERT_TRUE(devices::LoadDescriptorDump(DataDirectory(), device.name, &set, &error)) << error;

    EXPECT_EQ(device.status,
              Start(std::make_shared<devices::RawDescriptorModel>(device.speed, set)));
    std::vector<std::string> streams;
    for (AudioStreamingInterface *stream : Streams())
        streams.push_back(Describe(*stream));
    if (NT_SUCCESS(device.status)) {
        EXPECT_EQ(device.streams, streams);
        for (AudioStreamingInterface *stream : Streams())
            EXPECT_NE(nullptr, stream->Terminal);
        EXPECT_NE(nullptr, audio_->RenderInterface != nullptr ? audio_->RenderInterface
                                                              : audio_->CaptureInterface);
    }
}

const host::UsbSpeed kHigh = host::UsbSpeed::High;
const host::UsbSpeed kFull = host::UsbSpeed::Full;

INSTANTIATE_TEST_SUITE_P(
    Dumps, RealDeviceTest,
    ::testing::Values(RealDevice{"topping-d50s",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 2x4/32 2x4/24 2x4/32; data 0x1, feedback 0x81"}},
                      RealDevice{"schiit-hel", kHigh, STATUS_NOT_SUPPORTED, {}},
                      RealDevice{"behringer-umc202hd",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 2x4/24; data 0x8, feedback 0x84",
                                  "IF2 in: 2x4/24; data 0x88, feedback 0x0"}},
                      RealDevice{"focusrite-scarlett-2i2",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 2x4/24; data 0x1, feedback 0x81",
                                  "IF2 in: 2x4/24; data 0x82, feedback 0x0"}},
                      RealDevice{"ssl-2plus", kHigh, STATUS_NOT_IMPLEMENTED, {}},
                      RealDevice{"arturia-af16rig",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 34x4/24 18x4/24 10x4/24; data 0x1, feedback 0x0",
                                  "IF2 in: 34x4/24 18x4/24 10x4/24; data 0x81, feedback 0x0"}},
                      RealDevice{"nux-mg300",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 2x4/24; data 0x1, feedback 0x81",
                                  "IF2 in: 2x4/24; data 0x82, feedback 0x0"}},
                      RealDevice{"gigabyte-trx40-realtek", kHigh, STATUS_NOT_IMPLEMENTED, {}},
                      RealDevice{"logitech-h340", kFull, STATUS_NOT_IMPLEMENTED, {}},
                      RealDevice{"allenheath-xone43c",
                                 kHigh,
                                 STATUS_SUCCESS,
                                 {"IF1 out: 2x3/24; data 0x2, feedback 0x85",
                                  "IF2 in: 2x3/24; data 0x81, feedback 0x0"}},
                      RealDevice{"rode-ai1",
                                 kFull,
                                 STATUS_SUCCESS,
                                 {"IF1 in: 1x3/24; data 0x82, feedback 0x0",
                                  "IF2 out: 2x3/24; data 0x3, feedback 0x84"}},
                      RealDevice{"maudio-micro", kFull, STATUS_NOT_IMPLEMENTED, {}}),
    [](const ::testing::TestParamInfo<RealDevice> &info) {
        std::string name = info.param.name;
        for (char &c : name)
            if (c == '-')
                c = '_';
        return name;
    });

} // namespace
} // namespace function_tests
