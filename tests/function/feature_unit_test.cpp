// Feature-unit controls: which controls a unit announces per channel and access, which
// request/length combinations it takes, and the mute and volume requests themselves in both
// class versions.
#include "audio_control_fixture.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/usb_audio_feature_unit.h"

#include <cstring>

namespace function_tests {
namespace {

constexpr UCHAR kGet = FEATURE_UNIT_DIRECTION_GET;
constexpr UCHAR kSet = FEATURE_UNIT_DIRECTION_SET;
constexpr ULONG kMute = FEATURE_UNIT_CONTROL_MUTE;
constexpr ULONG kVolume = FEATURE_UNIT_CONTROL_VOLUME;
constexpr ULONG kRead = FEATURE_UNIT_ACCESS_READ;
constexpr ULONG kWrite = FEATURE_UNIT_ACCESS_WRITE;

class FeatureUnitTest : public AudioFunctionTest {
protected:
    CUSBAudioFeatureUnit *Unit(UCHAR id = kFeatureUnitId)
    {
        CUSBAudioEntity *entity = audio_->FindEntity(id);
        EXPECT_TRUE(entity != nullptr && entity->GetSubtype() == uac::kFeatureUnit);
        return static_cast<CUSBAudioFeatureUnit *>(entity);
    }
    // The Class 2.0 test function with this feature unit channel map.
    static TestFunction Uac2WithControls(const std::vector<ULONG> &controls)
    {
        TestFunction f = Uac2Function();
        f.function.control.entities[2] =
            devices::uac2::FeatureUnit(kFeatureUnitId, kInputTerminalId, controls);
        return f;
    }
    static TestFunction Uac1WithControls(UCHAR controlSize, const std::vector<ULONG> &controls)
    {
        TestFunction f = Uac1Function();
        f.function.control.entities[1] =
            devices::uac1::FeatureUnit(kFeatureUnitId, kInputTerminalId, controlSize, controls);
        return f;
    }
    static SHORT ReadShort(const UCHAR *bytes) { return SHORT(bytes[0] | bytes[1] << 8); }
};

// ---- What the descriptor announces -----------------------------------------------------------

TEST_F(FeatureUnitTest, Rvd3HasMasterMuteAndVolumePerChannel)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_EQ(3u, unit->GetChannelCount());
    EXPECT_TRUE(unit->IsControlSupported(0, kMute, kRead));
    EXPECT_TRUE(unit->IsControlSupported(0, kMute, kWrite));
    EXPECT_FALSE(unit->IsControlSupported(0, kVolume, kRead));
    EXPECT_FALSE(unit->IsControlSupported(1, kMute, kRead));
    for (ULONG channel = 1; channel <= 2; ++channel) {
        EXPECT_TRUE(unit->IsControlSupported(channel, kVolume, kRead));
        EXPECT_TRUE(unit->IsControlSupported(channel, kVolume, kWrite));
    }
    EXPECT_FALSE(unit->IsControlSupported(3, kVolume, kRead)) << "past the last channel";
    EXPECT_TRUE(unit->HasControl(kMute));
    EXPECT_TRUE(unit->HasControl(kVolume));
    EXPECT_FALSE(unit->HasControl(2)); // bass
}

TEST_F(FeatureUnitTest, Class2ControlPairsAreReadThenWrite)
{
    // Master 0x1: mute readable only; channel 1 0x3: mute both ways; channel 2 0xC: volume.
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2WithControls({0x1, 0x3, 0xC})));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_TRUE(unit->IsControlSupported(0, kMute, kRead));
    EXPECT_FALSE(unit->IsControlSupported(0, kMute, kWrite));
    EXPECT_TRUE(unit->IsControlSupported(1, kMute, kRead));
    EXPECT_TRUE(unit->IsControlSupported(1, kMute, kWrite));
    EXPECT_TRUE(unit->IsControlSupported(2, kVolume, kRead));
    EXPECT_TRUE(unit->IsControlSupported(2, kVolume, kWrite));
    EXPECT_FALSE(unit->IsControlSupported(2, kMute, kRead));
    EXPECT_FALSE(unit->IsControlSupported(0, kMute, 3)) << "no such access";
}

TEST_F(FeatureUnitTest, Class2HighestControlsAreReadable)
{
    // Overflow (14) in bits 29..28; control 15 in bits 31..30; nothing beyond.
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2WithControls({0x30000000, 0x80000000})));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_TRUE(unit->IsControlSupported(0, 14, kRead));
    EXPECT_TRUE(unit->IsControlSupported(0, 14, kWrite));
    EXPECT_TRUE(unit->IsControlSupported(1, 15, kWrite));
    EXPECT_FALSE(unit->IsControlSupported(1, 15, kRead));
    EXPECT_FALSE(unit->IsControlSupported(0, 16, kRead));
    EXPECT_TRUE(unit->HasControl(14));
    EXPECT_FALSE(unit->HasControl(15)) << "only writable";
}

TEST_F(FeatureUnitTest, Class1BitMapAnnouncesBothAccesses)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac1Function()));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_EQ(3u, unit->GetChannelCount());
    EXPECT_TRUE(unit->IsControlSupported(0, kMute, kRead));
    EXPECT_TRUE(unit->IsControlSupported(0, kMute, kWrite));
    EXPECT_TRUE(unit->IsControlSupported(1, kVolume, kRead));
    EXPECT_TRUE(unit->IsControlSupported(2, kVolume, kWrite));
    EXPECT_FALSE(unit->IsControlSupported(1, kMute, kRead));
    EXPECT_FALSE(unit->IsControlSupported(0, 8, kRead)) << "beyond a one-byte map";
}

TEST_F(FeatureUnitTest, Class1TwoByteMapReadsLittleEndian)
{
    // bmaControls(1) = 0x0002 (volume), bmaControls(2) = 0x0200 (loudness, control 9).
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac1WithControls(2, {0x0001, 0x0002, 0x0200})));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_EQ(3u, unit->GetChannelCount());
    EXPECT_TRUE(unit->IsControlSupported(1, kVolume, kRead));
    EXPECT_TRUE(unit->IsControlSupported(1, kVolume, kWrite));
    EXPECT_FALSE(unit->IsControlSupported(1, 9, kRead));
    EXPECT_TRUE(unit->IsControlSupported(2, 9, kRead));
    EXPECT_FALSE(unit->IsControlSupported(2, kVolume, kRead));
    EXPECT_TRUE(unit->HasControl(9));
}

TEST_F(FeatureUnitTest, Class1WideMapReadsFourBytesAtMost)
{
    // bControlSize 5: the fifth byte of each channel is never read.
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac1WithControls(5, {0x80000001, 0x2})));
    CUSBAudioFeatureUnit *unit = Unit();
    EXPECT_EQ(2u, unit->GetChannelCount());
    EXPECT_TRUE(unit->IsControlSupported(0, 31, kRead));
    EXPECT_FALSE(unit->IsControlSupported(0, 32, kRead));
    EXPECT_TRUE(unit->IsControlSupported(1, kVolume, kRead));
}

// ---- Requests --------------------------------------------------------------------------------

TEST_F(FeatureUnitTest, VolumeAndMuteReachTheDevice)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    CUSBAudioFeatureUnit *unit = Unit();
    UCHAR volume[2] = {0x00, 0xF6}; // -10 dB
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(1, kVolume, kSet, 1, volume, 2));
    EXPECT_EQ(-10 * 256, model->Volume(1));
    UCHAR read[2] = {};
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(1, kVolume, kGet, 1, read, 2));
    EXPECT_EQ(-10 * 256, ReadShort(read));

    UCHAR mute = 1;
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(0, kMute, kSet, 1, &mute, 1));
    EXPECT_TRUE(model->Muted());
    UCHAR muted = 0;
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(0, kMute, kGet, 1, &muted, 1));
    EXPECT_EQ(1, muted);
}

TEST_F(FeatureUnitTest, Class2RequestsCarrySelectorChannelAndUnit)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    const size_t from = log_->Count();
    UCHAR volume[2] = {};
    ASSERT_EQ(STATUS_SUCCESS, Unit()->ControlRequest(2, kVolume, kGet, 1, volume, 2));
    UCHAR mute = 0;
    ASSERT_EQ(STATUS_SUCCESS, Unit()->ControlRequest(0, kMute, kSet, 1, &mute, 1));
    auto sent = log_->Since(from);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(0xA1, sent[0].setup.bmRequestType);
    EXPECT_EQ(0x01, sent[0].setup.bRequest);
    EXPECT_EQ(0x0202, sent[0].setup.wValue); // volume, channel 2
    EXPECT_EQ(0x0200, sent[0].setup.wIndex); // unit 2, interface 0
    EXPECT_EQ(2, sent[0].setup.wLength);
    EXPECT_EQ(0x21, sent[1].setup.bmRequestType);
    EXPECT_EQ(0x01, sent[1].setup.bRequest);
    EXPECT_EQ(0x0100, sent[1].setup.wValue); // mute, master
}

TEST_F(FeatureUnitTest, Class2VolumeRangeGivesTheFirstSubrange)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    UCHAR range[8] = {};
    ASSERT_EQ(STATUS_SUCCESS, Unit()->ControlRequest(1, kVolume, kGet, 2, range, 8));
    EXPECT_EQ(1, ReadShort(range));
    EXPECT_EQ(devices::rvd3::kVolumeMin, ReadShort(range + 2));
    EXPECT_EQ(devices::rvd3::kVolumeMax, ReadShort(range + 4));
    EXPECT_EQ(devices::rvd3::kVolumeStep, ReadShort(range + 6));
}

TEST_F(FeatureUnitTest, Class1RequestsCarryTheDirectionInBRequest)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeUac1SynchEndpointDevice()));
    CUSBAudioFeatureUnit *unit = Unit(devices::uac1_synch::kFeatureUnitId);
    const size_t from = log_->Count();
    UCHAR value[2] = {};
    for (UCHAR request = 1; request <= 4; ++request)
        ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(1, kVolume, kGet, request, value, 2));
    const UCHAR cur[2] = {0x00, 0xFB}; // -5 dB
    std::memcpy(value, cur, 2);
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(1, kVolume, kSet, 1, value, 2));
    UCHAR mute = 0;
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(0, kMute, kGet, 1, &mute, 1));

    auto sent = log_->Since(from);
    ASSERT_EQ(6u, sent.size());
    const UCHAR expected[] = {0x81, 0x82, 0x83, 0x84, 0x01, 0x81};
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(expected[i], sent[i].setup.bRequest);
        EXPECT_FALSE(sent[i].stalled);
    }
    EXPECT_EQ(0x0201, sent[0].setup.wValue);
    EXPECT_EQ(0x0100, sent[5].setup.wValue);
    UCHAR read[2] = {};
    ASSERT_EQ(STATUS_SUCCESS, unit->ControlRequest(1, kVolume, kGet, 1, read, 2));
    EXPECT_EQ(-5 * 256, ReadShort(read));
}

struct RefusedRequest {
    const char *name;
    UCHAR channel;
    ULONG control;
    UCHAR direction;
    UCHAR request;
    ULONG length;
};

TEST_F(FeatureUnitTest, Class2RefusesOtherCombinationsWithoutARequest)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    const RefusedRequest refused[] = {
        {"volume CUR of 4 bytes", 1, kVolume, kGet, 1, 4},
        {"volume RANGE of 6 bytes", 1, kVolume, kGet, 2, 6},
        {"volume MAX", 1, kVolume, kGet, 3, 2},
        {"mute CUR of 2 bytes", 0, kMute, kGet, 1, 2},
        {"mute RANGE", 0, kMute, kGet, 2, 1},
        {"bass", 1, 2, kGet, 1, 1},
        {"mute on a channel without it", 1, kMute, kSet, 1, 1},
        {"volume on the master channel", 0, kVolume, kGet, 1, 2},
        {"volume past the last channel", 3, kVolume, kGet, 1, 2},
        {"unknown direction", 1, kVolume, 0x40, 1, 2},
    };
    const size_t from = log_->Count();
    UCHAR buffer[8] = {};
    for (const RefusedRequest &r : refused) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(STATUS_NOT_SUPPORTED, Unit()->ControlRequest(r.channel, r.control, r.direction,
                                                               r.request, buffer, r.length));
    }
    EXPECT_EQ(from, log_->Count());
}

TEST_F(FeatureUnitTest, Class2RefusesWritingAReadOnlyControl)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Start(std::make_shared<devices::RawDescriptorModel>(
                  host::UsbSpeed::High, Uac2WithControls({0x1, 0x4, 0x4}).Serialise())));
    const size_t from = log_->Count();
    UCHAR value[2] = {};
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Unit()->ControlRequest(0, kMute, kSet, 1, value, 1));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Unit()->ControlRequest(1, kVolume, kSet, 1, value, 2));
    EXPECT_EQ(from, log_->Count());
    EXPECT_EQ(STATUS_SUCCESS, Unit()->ControlRequest(1, kVolume, kGet, 1, value, 2));
}

TEST_F(FeatureUnitTest, Class1RefusesRangeSizedVolumeRequests)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeUac1SynchEndpointDevice()));
    const size_t from = log_->Count();
    UCHAR buffer[8] = {};
    CUSBAudioFeatureUnit *unit = Unit(devices::uac1_synch::kFeatureUnitId);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, unit->ControlRequest(1, kVolume, kGet, 2, buffer, 8));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, unit->ControlRequest(1, kVolume, kGet, 5, buffer, 2));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, unit->ControlRequest(0, kMute, kGet, 2, buffer, 1));
    EXPECT_EQ(from, log_->Count());
}

TEST_F(FeatureUnitTest, StalledRequestIsReturned)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    // -200 dB is outside the device's range: it stalls the write.
    UCHAR volume[2] = {0x00, 0x38};
    const NTSTATUS status = Unit()->ControlRequest(1, kVolume, kSet, 1, volume, 2);
    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_NE(STATUS_NOT_SUPPORTED, status);
}

TEST_F(FeatureUnitTest, ShortReplyIsRefused)
{
    auto inner = std::make_shared<devices::Rvd3Model>();
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<ShortReplyDevice>(
                                  inner, host::UsbControlMatch::Request(0xA1, 1, 0x0201), 1)));
    UCHAR volume[2] = {};
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Unit()->ControlRequest(1, kVolume, kGet, 1, volume, 2));
    EXPECT_EQ(STATUS_SUCCESS, Unit()->ControlRequest(2, kVolume, kGet, 1, volume, 2));
}

} // namespace
} // namespace function_tests
