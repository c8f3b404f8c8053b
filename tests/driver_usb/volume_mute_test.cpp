// Volume and mute requests through the feature unit: the requests each class version sends and
// how the answers are read.
#include "driver_usb_fixture.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/usb_audio_feature_unit.h"

namespace driver_usb_tests {
namespace {

class VolumeMuteTest : public DriverUsbTest {
protected:
    void StartWith(std::shared_ptr<host::UsbDeviceModel> model, UCHAR featureUnitId)
    {
        Plug(std::move(model));
        ASSERT_EQ(STATUS_SUCCESS, Start());
        unit_ = static_cast<CUSBAudioFeatureUnit *>(audio_->FindEntity(featureUnitId));
        ASSERT_NE(nullptr, unit_);
    }

    CUSBAudioFeatureUnit *unit_ = nullptr;
};

TEST_F(VolumeMuteTest, Class2VolumeAndMuteReachTheDevice)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    StartWith(model, devices::rvd3::kFeatureUnitId);

    ASSERT_EQ(STATUS_SUCCESS, audio_->SetVolume(unit_, 1, -20 * 256));
    SHORT volume = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetVolume(unit_, 1, &volume));
    EXPECT_EQ(-20 * 256, volume);
    EXPECT_EQ(-20 * 256, model->Volume(1));

    ASSERT_EQ(STATUS_SUCCESS, audio_->SetMute(unit_, 1));
    UCHAR mute = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetMute(unit_, &mute));
    EXPECT_EQ(1, mute);
    EXPECT_TRUE(model->Muted());
}

TEST_F(VolumeMuteTest, Class2VolumeRangeIsTheFirstSubrange)
{
    StartWith(std::make_shared<devices::Rvd3Model>(), devices::rvd3::kFeatureUnitId);
    const size_t before = log_->Count();
    SHORT minimum = 0, maximum = 0, resolution = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetVolumeRange(unit_, 1, &minimum, &maximum, &resolution));
    EXPECT_EQ(devices::rvd3::kVolumeMin, minimum);
    EXPECT_EQ(devices::rvd3::kVolumeMax, maximum);
    EXPECT_EQ(devices::rvd3::kVolumeStep, resolution);
    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x02, sent[0].setup.bRequest); // RANGE
    EXPECT_EQ(8, sent[0].setup.wLength);
    EXPECT_EQ(0x0201, sent[0].setup.wValue);
}

TEST_F(VolumeMuteTest, Class1VolumeRangeAsksMinimumMaximumAndResolution)
{
    StartWith(devices::MakeUac1SynchEndpointDevice(), devices::uac1_synch::kFeatureUnitId);
    const size_t before = log_->Count();
    SHORT minimum = 0, maximum = 0, resolution = 0;
    ASSERT_EQ(STATUS_SUCCESS, audio_->GetVolumeRange(unit_, 1, &minimum, &maximum, &resolution));
    EXPECT_LT(minimum, maximum);
    EXPECT_GT(resolution, 0);
    const std::vector<LoggedControl> sent = log_->Since(before);
    ASSERT_EQ(3u, sent.size());
    EXPECT_EQ(0x82, sent[0].setup.bRequest);
    EXPECT_EQ(0x83, sent[1].setup.bRequest);
    EXPECT_EQ(0x84, sent[2].setup.bRequest);
}

TEST_F(VolumeMuteTest, MissingFeatureUnitIsAnInvalidParameter)
{
    CUSBAudioCL audio;
    SHORT value = 0;
    UCHAR mute = 0;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.SetVolume(nullptr, 0, 0));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.GetVolume(nullptr, 0, &value));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.GetVolumeRange(nullptr, 0, &value, &value, &value));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.SetMute(nullptr, 0));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.GetMute(nullptr, &mute));
}

} // namespace
} // namespace driver_usb_tests
