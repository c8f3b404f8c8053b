// Pipe lookup, interval validation and the re-resolution of every streaming interface's data and
// feedback pipes with their feedback periods.
#include "driver_usb_fixture.h"
#include "test_descriptors.h"

#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/audio_streaming_interface.h"

namespace driver_usb_tests {
namespace {

USBD_PIPE_INFORMATION IsoPipe(UCHAR interval)
{
    USBD_PIPE_INFORMATION pipe = {};
    pipe.EndpointAddress = 0x81;
    pipe.PipeType = UsbdPipeTypeIsochronous;
    pipe.Interval = interval;
    return pipe;
}

class PipeIntervalTest : public DriverUsbTest {
protected:
    // The status and the interval left behind.
    std::pair<NTSTATUS, UCHAR> Validate(BOOLEAN highSpeed, USBD_PIPE_INFORMATION pipe)
    {
        CUSBAudioCL audio;
        audio.HighSpeed = highSpeed;
        NTSTATUS status = audio.ValidatePipeInterval(&pipe);
        return {status, pipe.Interval};
    }
};

TEST_F(PipeIntervalTest, HighSpeedIntervalsOneToFourAreKept)
{
    for (UCHAR interval = 1; interval <= 4; ++interval)
        EXPECT_EQ(std::make_pair(STATUS_SUCCESS, interval), Validate(TRUE, IsoPipe(interval)));
}

TEST_F(PipeIntervalTest, HighSpeedIntervalsOutsideOneToFourAreReplaced)
{
    EXPECT_EQ(std::make_pair(STATUS_UNSUCCESSFUL, UCHAR(1)), Validate(TRUE, IsoPipe(0)));
    EXPECT_EQ(std::make_pair(STATUS_UNSUCCESSFUL, UCHAR(4)), Validate(TRUE, IsoPipe(5)));
    EXPECT_EQ(std::make_pair(STATUS_UNSUCCESSFUL, UCHAR(4)), Validate(TRUE, IsoPipe(8)));
}

TEST_F(PipeIntervalTest, FullSpeedIntervalMustBeOne)
{
    EXPECT_EQ(std::make_pair(STATUS_SUCCESS, UCHAR(1)), Validate(FALSE, IsoPipe(1)));
    EXPECT_EQ(std::make_pair(STATUS_UNSUCCESSFUL, UCHAR(1)), Validate(FALSE, IsoPipe(0)));
    EXPECT_EQ(std::make_pair(STATUS_UNSUCCESSFUL, UCHAR(1)), Validate(FALSE, IsoPipe(4)));
}

TEST_F(PipeIntervalTest, OtherPipeTypesAreLeftAlone)
{
    USBD_PIPE_INFORMATION pipe = IsoPipe(32);
    pipe.PipeType = UsbdPipeTypeInterrupt;
    EXPECT_EQ(std::make_pair(STATUS_SUCCESS, UCHAR(32)), Validate(TRUE, pipe));
    EXPECT_EQ(std::make_pair(STATUS_SUCCESS, UCHAR(32)), Validate(FALSE, pipe));
}

TEST_F(PipeIntervalTest, MissingPipeIsRefused)
{
    CUSBAudioCL audio;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, audio.ValidatePipeInterval(nullptr));
}

class RefreshPipesTest : public DriverUsbTest {
protected:
    // Puts the render interface into a setting the way format selection does, without a format.
    NTSTATUS UseRenderSetting(UCHAR setting)
    {
        AudioStreamingInterface *render = audio_->RenderInterface;
        NTSTATUS status = audio_->SelectAlternate(render->InterfaceNumber, setting);
        if (NT_SUCCESS(status)) {
            render->CurrentAlternateSetting = setting;
            status = audio_->RefreshPipes();
        }
        return status;
    }
};

TEST_F(RefreshPipesTest, PipesOfTheCurrentSettingAreResolved)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_EQ(STATUS_SUCCESS, UseRenderSetting(devices::rvd3::kAlternate24Bit));
    AudioStreamingInterface *render = audio_->RenderInterface;
    EXPECT_EQ(audio_->FindPipe(devices::rvd3::kRenderEndpoint), render->DataPipe);
    EXPECT_EQ(audio_->FindPipe(devices::rvd3::kFeedbackEndpoint), render->FeedbackPipe);
    ASSERT_NE(nullptr, render->DataPipe);
    ASSERT_NE(nullptr, render->FeedbackPipe);
    EXPECT_EQ(nullptr, audio_->FindPipe(0x7F));

    ASSERT_EQ(STATUS_SUCCESS, UseRenderSetting(0));
    EXPECT_EQ(nullptr, render->DataPipe);
    EXPECT_EQ(nullptr, render->FeedbackPipe);
}

TEST_F(RefreshPipesTest, SettingWhosePipesAreNotOpenIsNotSupported)
{
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    // The record claims setting 2 while the stack still has setting 0 open.
    audio_->RenderInterface->CurrentAlternateSetting = devices::rvd3::kAlternate24Bit;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, audio_->RefreshPipes());
    EXPECT_EQ(nullptr, audio_->RenderInterface->DataPipe);
    EXPECT_EQ(nullptr, audio_->RenderInterface->FeedbackPipe);
}

TEST_F(RefreshPipesTest, HighSpeedFeedbackEveryMillisecondIsClampedToFour)
{
    // bInterval 4 at high speed: 2^3 microframes = 1 ms.
    Plug(std::make_shared<devices::Rvd3Model>());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_EQ(STATUS_SUCCESS, UseRenderSetting(devices::rvd3::kAlternate16Bit));
    ASSERT_NE(nullptr, audio_->RenderInterface->FeedbackPipe);
    EXPECT_EQ(4, audio_->RenderInterface->FeedbackPipe->Interval);
    EXPECT_EQ(4u, audio_->RenderInterface->FeedbackPeriodMs);
}

TEST_F(RefreshPipesTest, FullSpeedFeedbackPeriodIsClampedToFour)
{
    Plug(devices::MakeFullSpeedUac2Device());
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_EQ(STATUS_SUCCESS, UseRenderSetting(1));
    ASSERT_NE(nullptr, audio_->RenderInterface->FeedbackPipe);
    EXPECT_EQ(1, audio_->RenderInterface->FeedbackPipe->Interval);
    EXPECT_EQ(4u, audio_->RenderInterface->FeedbackPeriodMs);
}

class Class1FeedbackPeriodTest : public RefreshPipesTest,
                                 public ::testing::WithParamInterface<std::pair<UCHAR, ULONG>> {};

TEST_P(Class1FeedbackPeriodTest, SynchEndpointRefreshGivesThePeriod)
{
    // Audio Class 1.0: 2^bRefresh milliseconds, clamped to 4..1024.
    devices::DescriptorSet set = devices::MakeUac1SynchEndpointDevice()->Descriptors();
    PatchEndpoints(&set.configuration, devices::uac1_synch::kSynchEndpoint, 7, GetParam().first);
    Plug(std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::Full, set));
    ASSERT_EQ(STATUS_SUCCESS, Start());
    ASSERT_EQ(STATUS_SUCCESS, UseRenderSetting(1));
    ASSERT_NE(nullptr, audio_->RenderInterface->FeedbackPipe);
    EXPECT_EQ(GetParam().second, audio_->RenderInterface->FeedbackPeriodMs);
}

INSTANTIATE_TEST_SUITE_P(
    Refresh, Class1FeedbackPeriodTest,
    ::testing::Values(std::make_pair(UCHAR(0), 4UL), std::make_pair(UCHAR(2), 4UL),
                      std::make_pair(UCHAR(5), 32UL), std::make_pair(UCHAR(10), 1024UL),
                      std::make_pair(UCHAR(11), 1024UL), std::make_pair(UCHAR(255), 1024UL)));

} // namespace
} // namespace driver_usb_tests
