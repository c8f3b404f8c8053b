// The RV-D3's audio class controls (sampling frequency, clock validity, mute, volume), its
// native DSD vendor request and the descriptors the driver reads them from.
#include "device_requests.h"

#include "devices/rvd3_model.h"
#include "devices/usb_constants.h"

namespace {

using namespace devices;
using namespace device_tests;

constexpr UCHAR kFrequency = uac::kClockFrequencyControl;
constexpr UCHAR kValidity = uac::kClockValidityControl;

class Rvd3ClassRequests : public ::testing::Test {
protected:
    explicit Rvd3ClassRequests(const Rvd3Options &options = Rvd3Options()) : model_(options)
    {
        EXPECT_TRUE(Configure(model_));
    }

    ULONGLONG Rate(ULONGLONG interval = 0)
    {
        return ReadLe(GetCur(model_, rvd3::kClockSourceId, kFrequency, 0, 4, interval).data, 0, 4);
    }
    bool SetRate(ULONG rate, ULONGLONG interval = 0)
    {
        return SetCur(model_, rvd3::kClockSourceId, kFrequency, 0, Le(rate, 4), interval);
    }
    Reply Validity(ULONGLONG interval)
    {
        model_.AdvanceTo(interval);
        return GetCur(model_, rvd3::kClockSourceId, kValidity, 0, 1, interval);
    }

    Rvd3Model model_;
};

TEST_F(Rvd3ClassRequests, SamplingFrequencyStartsAt48kHzInFourBytes)
{
    const Reply reply = GetCur(model_, rvd3::kClockSourceId, kFrequency, 0, 4);
    ASSERT_FALSE(reply.stall);
    EXPECT_EQ(Le(48000, 4), reply.data);
}

TEST_F(Rvd3ClassRequests, EveryAdvertisedRateCanBeSetAndReadBack)
{
    for (ULONG rate : rvd3::kRates) {
        EXPECT_TRUE(SetRate(rate)) << rate;
        EXPECT_EQ(rate, Rate()) << rate;
        EXPECT_EQ(rate, model_.SampleRate());
    }
}

TEST_F(Rvd3ClassRequests, UnadvertisedRateOrWrongLengthStallsAndKeepsTheRate)
{
    ASSERT_TRUE(SetRate(96000));
    EXPECT_FALSE(SetRate(32000));
    EXPECT_FALSE(SetRate(48001));
    EXPECT_FALSE(SetCur(model_, rvd3::kClockSourceId, kFrequency, 0, Le(44100, 3)));
    EXPECT_FALSE(SetCur(model_, rvd3::kClockSourceId, kFrequency, 1, Le(44100, 4)))
        << "the clock has channel 0 only";
    EXPECT_EQ(96000u, Rate());
}

TEST_F(Rvd3ClassRequests, RangeListsEveryRateAsADiscreteSubrange)
{
    const Reply reply = GetRange(model_, rvd3::kClockSourceId, kFrequency, 0, 1024);
    ASSERT_FALSE(reply.stall);
    const size_t count = std::size(rvd3::kRates);
    ASSERT_EQ(2 + 12 * count, reply.data.size());
    EXPECT_EQ(count, ReadLe(reply.data, 0, 2));
    for (size_t i = 0; i < count; ++i) {
        EXPECT_EQ(rvd3::kRates[i], ReadLe(reply.data, 2 + 12 * i, 4)) << "MIN " << i;
        EXPECT_EQ(rvd3::kRates[i], ReadLe(reply.data, 6 + 12 * i, 4)) << "MAX " << i;
        EXPECT_EQ(0u, ReadLe(reply.data, 10 + 12 * i, 4)) << "RES " << i;
    }
}

TEST_F(Rvd3ClassRequests, RangeIsTruncatedToWLength)
{
    const Reply reply = GetRange(model_, rvd3::kClockSourceId, kFrequency, 0, 16);
    ASSERT_EQ(16u, reply.data.size());
    EXPECT_EQ(8u, ReadLe(reply.data, 0, 2)) << "the count is complete even when cut short";
    EXPECT_EQ(44100u, ReadLe(reply.data, 2, 4));
}

TEST_F(Rvd3ClassRequests, ClockIsInvalidForTheLockTimeAfterARateChange)
{
    const ULONGLONG change = 1000;
    EXPECT_EQ((Bytes{1}), Validity(change).data);
    ASSERT_TRUE(SetRate(192000, change));
    const ULONGLONG lock = 20 * 8; // 20 ms of microframes
    EXPECT_EQ((Bytes{0}), Validity(change).data);
    EXPECT_EQ((Bytes{0}), Validity(change + lock - 1).data);
    EXPECT_FALSE(model_.ClockValid());
    EXPECT_EQ((Bytes{1}), Validity(change + lock).data);
    EXPECT_TRUE(model_.ClockValid());
}

TEST_F(Rvd3ClassRequests, RewritingTheSameRateKeepsTheClockValid)
{
    ASSERT_TRUE(SetRate(48000, 500));
    EXPECT_EQ((Bytes{1}), Validity(500).data);
}

TEST_F(Rvd3ClassRequests, ValidityIsReadOnlyAndHasNoRange)
{
    EXPECT_FALSE(SetCur(model_, rvd3::kClockSourceId, kValidity, 0, {1}));
    EXPECT_TRUE(GetRange(model_, rvd3::kClockSourceId, kValidity, 0, 14).stall);
}

class Rvd3ShortLock : public Rvd3ClassRequests {
protected:
    static Rvd3Options ShortLock()
    {
        Rvd3Options options;
        options.streaming.clockLockMs = 5;
        return options;
    }
    Rvd3ShortLock() : Rvd3ClassRequests(ShortLock()) {}
};

TEST_F(Rvd3ShortLock, LockTimeIsConfigurable)
{
    ASSERT_TRUE(SetRate(44100, 10));
    EXPECT_EQ((Bytes{0}), Validity(10 + 39).data);
    EXPECT_EQ((Bytes{1}), Validity(10 + 40).data);
}

TEST_F(Rvd3ClassRequests, MuteIsAOneByteMasterControlWithoutRange)
{
    EXPECT_EQ((Bytes{0}), GetCur(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 0, 1).data);
    EXPECT_TRUE(SetCur(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 0, {1}));
    EXPECT_EQ((Bytes{1}), GetCur(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 0, 1).data);
    EXPECT_TRUE(model_.Muted());
    EXPECT_FALSE(SetCur(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 0, {1, 0}));
    EXPECT_TRUE(GetCur(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 1, 1).stall)
        << "mute is on the master channel only";
    EXPECT_TRUE(GetRange(model_, rvd3::kFeatureUnitId, uac::kMuteControl, 0, 14).stall);
}

TEST_F(Rvd3ClassRequests, VolumeIsPerChannelWithARangeIn256thsOfADecibel)
{
    for (UCHAR channel = 1; channel <= 2; ++channel) {
        const Reply range = GetRange(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, channel, 8);
        ASSERT_FALSE(range.stall);
        ASSERT_EQ(8u, range.data.size());
        EXPECT_EQ(1u, ReadLe(range.data, 0, 2));
        EXPECT_EQ(static_cast<USHORT>(rvd3::kVolumeMin), ReadLe(range.data, 2, 2));
        EXPECT_EQ(static_cast<USHORT>(rvd3::kVolumeMax), ReadLe(range.data, 4, 2));
        EXPECT_EQ(static_cast<USHORT>(rvd3::kVolumeStep), ReadLe(range.data, 6, 2));
    }
    EXPECT_TRUE(GetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 0, 2).stall)
        << "no master volume";
    EXPECT_TRUE(SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 2, Le(0xF400, 2)));
    EXPECT_EQ(Le(0xF400, 2), GetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 2, 2).data);
    EXPECT_EQ(-12 * 256, model_.Volume(2));
    EXPECT_EQ(0, model_.Volume(1));
}

TEST_F(Rvd3ClassRequests, VolumeSnapsToTheNearestStepAndRefusesValuesOutsideTheRange)
{
    ASSERT_TRUE(
        SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 1, Le(-1000 & 0xFFFF, 2)));
    EXPECT_EQ(-1024, model_.Volume(1)) << "-3.906 dB to -4 dB";
    ASSERT_TRUE(SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 1, Le(-255 & 0xFFFF, 2)));
    EXPECT_EQ(-256, model_.Volume(1));
    EXPECT_FALSE(SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 1, Le(0x0100, 2)));
    EXPECT_FALSE(SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 1, Le(0x9000, 2)));
    EXPECT_EQ(-256, model_.Volume(1));
}

TEST_F(Rvd3ClassRequests, VolumeAcceptsSilence)
{
    ASSERT_TRUE(SetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 2, Le(0x8000, 2)));
    EXPECT_EQ(-0x8000, model_.Volume(2));
    EXPECT_EQ(Le(0x8000, 2), GetCur(model_, rvd3::kFeatureUnitId, uac::kVolumeControl, 2, 2).data);
}

TEST_F(Rvd3ClassRequests, NativeDsdRequestSwitchesEachStreamingInterface)
{
    EXPECT_FALSE(model_.NativeDsd(rvd3::kRenderInterface));
    EXPECT_TRUE(Out(model_, 0x41, 0, 1, rvd3::kRenderInterface));
    EXPECT_TRUE(model_.NativeDsd(rvd3::kRenderInterface));
    EXPECT_FALSE(model_.NativeDsd(rvd3::kCaptureInterface));
    EXPECT_TRUE(Out(model_, 0x41, 0, 1, rvd3::kCaptureInterface));
    EXPECT_TRUE(model_.NativeDsd(rvd3::kCaptureInterface));
    EXPECT_TRUE(Out(model_, 0x41, 0, 0, rvd3::kRenderInterface));
    EXPECT_FALSE(model_.NativeDsd(rvd3::kRenderInterface));
    EXPECT_TRUE(model_.NativeDsd(rvd3::kCaptureInterface));
}

TEST_F(Rvd3ClassRequests, NativeDsdRequestStallsOutsideItsExactForm)
{
    EXPECT_FALSE(Out(model_, 0x41, 0, 2, rvd3::kRenderInterface)) << "mode 2";
    EXPECT_FALSE(Out(model_, 0x41, 0, 1, rvd3::kControlInterface)) << "not a streaming interface";
    EXPECT_FALSE(Out(model_, 0x41, 0, 1, 3)) << "no interface 3";
    EXPECT_FALSE(Out(model_, 0x41, 0, 1, rvd3::kRenderInterface, {0})) << "carries data";
    EXPECT_FALSE(Out(model_, 0x40, 0, 1, rvd3::kRenderInterface)) << "device recipient";
    EXPECT_TRUE(In(model_, 0xC1, 0, 1, rvd3::kRenderInterface, 1).stall) << "device-to-host";
    EXPECT_FALSE(model_.NativeDsd(rvd3::kRenderInterface));

    Rvd3Model unconfigured;
    EXPECT_FALSE(Out(unconfigured, 0x41, 0, 1, rvd3::kRenderInterface));
    Rvd3Options noCapture;
    noCapture.capture = false;
    Rvd3Model renderOnly(noCapture);
    ASSERT_TRUE(Configure(renderOnly));
    EXPECT_FALSE(Out(renderOnly, 0x41, 0, 1, rvd3::kCaptureInterface));
}

TEST(Rvd3Descriptors, ControlInterfaceStringCarriesTheDsdMarker)
{
    Rvd3Model model;
    const DescriptorView control =
        SettingDescriptors(model.Descriptors().configuration, rvd3::kControlInterface, 0)[0];
    const Bytes text = GetDescriptor(model, 3, control.Byte(8), 256, 0x0409);
    std::string ascii;
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
        EXPECT_EQ(0u, text[i + 1]);
        ascii += static_cast<char>(text[i]);
    }
    EXPECT_EQ(rvd3::kControlInterfaceName, ascii);
    EXPECT_NE(std::string::npos, ascii.find("[DSD]"));
}

TEST(Rvd3Descriptors, AudioControlDescribesClockFeatureUnitAndTerminals)
{
    Rvd3Model model;
    const Bytes &configuration = model.Descriptors().configuration;
    const auto views = WalkAll(configuration);
    ASSERT_EQ(usb::kInterfaceAssociationDescriptor, views[1].type);
    const auto control = SettingDescriptors(configuration, rvd3::kControlInterface, 0);
    EXPECT_EQ(1u, control[0].Byte(5)) << "audio class";
    EXPECT_EQ(1u, control[0].Byte(6)) << "audio control";
    EXPECT_EQ(0x20u, control[0].Byte(7)) << "Class 2.0";
    EXPECT_EQ(0x0200u, control[1].Word(3)) << "bcdADC";
    std::vector<std::vector<UCHAR>> entities;
    for (size_t i = 2; i < control.size(); ++i)
        entities.push_back({control[i].Subtype(), control[i].Byte(3)});
    EXPECT_EQ((std::vector<std::vector<UCHAR>>{{uac::kClockSource, rvd3::kClockSourceId},
                                               {uac::kInputTerminal, rvd3::kUsbInputTerminalId},
                                               {uac::kFeatureUnit, rvd3::kFeatureUnitId},
                                               {uac::kOutputTerminal, rvd3::kSpeakerTerminalId},
                                               {uac::kInputTerminal, rvd3::kLineInTerminalId},
                                               {uac::kOutputTerminal, rvd3::kUsbOutputTerminalId}}),
              entities);
    EXPECT_EQ(0x03u, control[2].Byte(4)) << "internal programmable clock";
    EXPECT_EQ(0x07u, control[2].Byte(5)) << "frequency read/write, validity read";
    EXPECT_EQ(rvd3::kClockSourceId, control[3].Byte(7));
    EXPECT_EQ(18u, control[4].length) << "master and two channels";
    EXPECT_EQ(0x3u, ReadLe(configuration, control[4].offset + 5, 4)) << "master: mute";
    EXPECT_EQ(0xCu, ReadLe(configuration, control[4].offset + 9, 4)) << "left: volume";
    EXPECT_EQ(0xCu, ReadLe(configuration, control[4].offset + 13, 4)) << "right: volume";
    EXPECT_EQ(uac::kTerminalSpeaker, control[5].Word(4));
    EXPECT_EQ(rvd3::kFeatureUnitId, control[5].Byte(7));
}

TEST(Rvd3Descriptors, RenderSettingsCarryPcmContainersAndBothEndpoints)
{
    Rvd3Model model;
    const Bytes &configuration = model.Descriptors().configuration;
    EXPECT_EQ(1u, SettingDescriptors(configuration, rvd3::kRenderInterface, 0).size())
        << "setting 0 has no endpoints and no class descriptors";
    const UCHAR subslots[] = {2, 4, 4};
    const UCHAR bits[] = {16, 24, 32};
    for (UCHAR alt = 1; alt <= 3; ++alt) {
        const auto s = SettingDescriptors(configuration, rvd3::kRenderInterface, alt);
        ASSERT_EQ(6u, s.size()) << "interface, AS_GENERAL, FORMAT_TYPE, data, EP_GENERAL, feedback";
        EXPECT_EQ(2u, s[0].Byte(4)) << "two endpoints";
        EXPECT_EQ(rvd3::kUsbInputTerminalId, s[1].Byte(3));
        EXPECT_EQ(2u, s[1].Byte(10)) << "stereo";
        EXPECT_EQ(subslots[alt - 1], s[2].Byte(4));
        EXPECT_EQ(bits[alt - 1], s[2].Byte(5));
        EXPECT_EQ(rvd3::kRenderEndpoint, s[3].Byte(2));
        EXPECT_EQ(0x05u, s[3].Byte(3)) << "isochronous, asynchronous, data";
        EXPECT_EQ(49u * 2 * subslots[alt - 1], s[3].Word(4)) << "384 kHz plus one frame";
        EXPECT_EQ(1u, s[3].Byte(6));
        EXPECT_EQ(0x25u, s[4].type);
        EXPECT_EQ(rvd3::kFeedbackEndpoint, s[5].Byte(2));
        EXPECT_EQ(0x11u, s[5].Byte(3)) << "isochronous, feedback";
        EXPECT_EQ(4u, s[5].Word(4));
        EXPECT_EQ(4u, s[5].Byte(6)) << "every millisecond";
    }
    const auto capture = SettingDescriptors(configuration, rvd3::kCaptureInterface, 1);
    ASSERT_EQ(5u, capture.size());
    EXPECT_EQ(rvd3::kUsbOutputTerminalId, capture[1].Byte(3));
    EXPECT_EQ(4u, capture[2].Byte(4));
    EXPECT_EQ(24u, capture[2].Byte(5));
    EXPECT_EQ(rvd3::kCaptureEndpoint, capture[3].Byte(2));
    EXPECT_EQ(0x05u, capture[3].Byte(3));
}

TEST(Rvd3Descriptors, CaptureCanBeLeftOut)
{
    Rvd3Options options;
    options.capture = false;
    Rvd3Model model(options);
    EXPECT_EQ(2u, model.Descriptors().configuration[4]) << "bNumInterfaces";
    EXPECT_EQ(std::vector<UCHAR>({0, 1}), model.Layout().InterfaceNumbers());
}

} // namespace
