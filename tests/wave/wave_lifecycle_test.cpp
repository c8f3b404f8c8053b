// The driver's life around its streams: node properties reaching the device, formats and pins it
// refuses, surprise removal and system sleep in the middle of a stream.
#include "wave_fixture.h"

#include <cstring>

namespace wave_tests {
namespace {

// The RV-D3 filter's volume and mute nodes.
constexpr ULONG kVolumeNode = 3;
constexpr ULONG kMuteNode = 2;

class WaveLifecycleTest : public WaveDriverTest {
protected:
    // A set of one LONG on a channel of a node.
    NTSTATUS SetNode(ULONG id, ULONG node, LONG channel, LONG value)
    {
        KSNODEPROPERTY_AUDIO_CHANNEL request = {};
        request.NodeProperty.Property.Set = KSPROPSETID_Audio;
        request.NodeProperty.Property.Id = id;
        request.NodeProperty.Property.Flags = KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_TOPOLOGY;
        request.NodeProperty.NodeId = node;
        request.Channel = channel;
        return session_->Filter()->Property(request.NodeProperty.Property, sizeof request, &value,
                                            sizeof value);
    }

    // Streams `frames` of the source on a thread while `during` runs; the stream's status.
    NTSTATUS RenderWhile(const sim::ClientFormat &format, ULONGLONG frames,
                         const std::function<void()> &during)
    {
        sim::ClientRun run;
        run.render = render_.get();
        run.renderFormat = format;
        run.frames = frames;
        NTSTATUS streamed = STATUS_PENDING;
        PKTHREAD client = M().StartThread("client", M().SystemProcess(),
                                          [&] { streamed = sim::StreamClient(M(), run).render; });
        during();
        KeWaitForSingleObject(client, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(client);
        return streamed;
    }
};

TEST_F(WaveLifecycleTest, VolumeAndMuteReachTheDevicesFeatureUnit)
{
    Plug();
    auto &device = static_cast<devices::Rvd3Model &>(session_->Device());
    EXPECT_EQ(STATUS_SUCCESS, SetNode(KSPROPERTY_AUDIO_VOLUMELEVEL, kVolumeNode, 1, -6 * 65536));
    EXPECT_EQ(STATUS_SUCCESS, SetNode(KSPROPERTY_AUDIO_MUTE, kMuteNode, 0, TRUE));
    auto lock = session_->LockDevice();
    EXPECT_EQ(-6 * 256, device.Volume(2));
    EXPECT_EQ(0, device.Volume(1));
    EXPECT_TRUE(device.Muted());
}

TEST_F(WaveLifecycleTest, FormatsAndPinsTheDriverRefuses)
{
    Plug();
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, {2, 16, 48000}));
    std::unique_ptr<sim::KsPin> second;
    EXPECT_FALSE(NT_SUCCESS(session_->CreatePin(sim::kWaveRenderPin, {2, 16, 48000}, &second)))
        << "one stream per direction";
    render_.reset();
    const sim::ClientFormat refused[] = {{2, 16, 22050}, {2, 16, 0}, {0, 16, 48000}, {2, 20, 48000}};
    for (const sim::ClientFormat &format : refused)
        EXPECT_FALSE(NT_SUCCESS(Open(sim::kWaveRenderPin, format)))
            << format.channels << " x " << format.bits << " bits at " << format.rate;
    EXPECT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, {2, 32, 384000}));
}

// The port tries the pin's ranges in order (16, 24, then 32 bits); the first that matches gives
// its highest rate and sample size.
TEST_F(WaveLifecycleTest, IntersectionGivesTheHighestFormatBothRangesAndTheClockAllow)
{
    Plug();
    std::vector<UCHAR> result;
    ASSERT_EQ(STATUS_SUCCESS,
              session_->Filter()->Intersect(sim::kWaveRenderPin,
                                            sim::PcmRange(2, 24, 24, 44100, 96000), &result));
    ASSERT_EQ(104u, result.size());
    WAVEFORMATEXTENSIBLE wave;
    std::memcpy(&wave, result.data() + sizeof(KSDATAFORMAT), sizeof wave);
    EXPECT_EQ(WAVE_FORMAT_EXTENSIBLE, wave.Format.wFormatTag);
    EXPECT_EQ(2, wave.Format.nChannels);
    EXPECT_EQ(24, wave.Format.wBitsPerSample);
    EXPECT_EQ(96000u, wave.Format.nSamplesPerSec);
    EXPECT_EQ(6, wave.Format.nBlockAlign);
    EXPECT_EQ(576000u, wave.Format.nAvgBytesPerSec);
    EXPECT_EQ(3u, wave.dwChannelMask);

    EXPECT_EQ(STATUS_NO_MATCH,
              session_->Filter()->Intersect(sim::kWaveRenderPin,
                                            sim::PcmRange(1, 16, 24, 44100, 96000), &result));
    std::vector<UCHAR> header = sim::PcmRange(2, 16, 24, 44100, 96000);
    header.resize(sizeof(KSDATARANGE));
    reinterpret_cast<PKSDATARANGE>(header.data())->FormatSize = sizeof(KSDATARANGE);
    EXPECT_FALSE(NT_SUCCESS(session_->Filter()->Intersect(sim::kWaveRenderPin, header, &result)))
        << "a range too short for its audio fields";
}

TEST_F(WaveLifecycleTest, SurpriseRemovalMidStreamFailsTheClientAndUnloadsTheDriver)
{
    const sim::ClientFormat format{2, 24, 96000};
    Plug();
    CheckRender(format);
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, format));
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
    const NTSTATUS streamed = RenderWhile(format, format.rate * 2, [&] {
        Sleep(300);
        session_->Pnp().Unplug(*session_->Node());
        // The audio stack stops the pin once it hears that the device has gone.
        EXPECT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_STOP));
    });
    EXPECT_FALSE(NT_SUCCESS(streamed));
    EXPECT_EQ(host::DeviceState::SurpriseRemoved, session_->Node()->state);
    render_.reset();
    session_->CloseFilter();
    Sleep(1); // the PnP manager removes the device on its own thread
    EXPECT_EQ(host::DeviceState::Removed, session_->Node()->state);
    EXPECT_EQ(nullptr, session_->Node()->driver) << "the driver is unloaded";
}

TEST_F(WaveLifecycleTest, SleepAndResumeMidStreamLoseNothing)
{
    const sim::ClientFormat format{2, 16, 48000};
    Plug();
    const sim::RenderChecker &checker = CheckRender(format);
    ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, format));
    ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
    EXPECT_EQ(STATUS_SUCCESS, RenderWhile(format, format.rate, [&] {
                  Sleep(300);
                  ASSERT_EQ(STATUS_SUCCESS, session_->Pnp().Sleep());
                  Sleep(1000);
                  ASSERT_EQ(STATUS_SUCCESS, session_->Pnp().Resume());
              }));
    Sleep(1000); // the cyclic buffer holds up to 480 ms at 48 kHz
    EXPECT_EQ(format.rate, checker.FramesMatched());
    EXPECT_EQ(0u, checker.Mismatches());
}

} // namespace
} // namespace wave_tests
