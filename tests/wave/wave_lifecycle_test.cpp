// The driver's life around its streams: node properties reaching the device, formats and pins it
// refuses, surprise removal and system sleep in the middle of a stream.
#include "wave_fixture.h"

#include "wave/wave_stream_format.h"

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
    const sim::ClientFormat refused[] = {
        {2, 16, 22050}, {2, 16, 0}, {0, 16, 48000}, {2, 20, 48000}};
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
    StartRender(format);
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
    StartRender(format);
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

// Each device's adapter binds its own physical device object: a second RV-D3 starts beside the
// first and streams on its own.
TEST_F(WaveLifecycleTest, ASecondDeviceGetsItsOwnAdapter)
{
    Plug();
    host::DeviceNode *second =
        session_->Pnp().Plug(2, std::make_shared<devices::Rvd3Model>(devices::Rvd3Options()));
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(host::DeviceState::Started, second->state);
    EXPECT_EQ(2u, sim::KsFilter::Interfaces(KSCATEGORY_AUDIO).size());
    const sim::ClientFormat format{2, 16, 48000};
    const sim::RenderChecker &checker = CheckRender(format);
    StartRender(format);
    EXPECT_EQ(STATUS_SUCCESS, sim::StreamClient(M(), RenderRun(format, 4800)).render);
    Sleep(600);
    EXPECT_EQ(4800u, checker.FramesMatched()) << "the first device plays its own stream";
}

// What a stream accepts of a pin's data format, whatever the port checked before it.
TEST(WaveStreamFormatTest, OnlyConsistentPcmFormatsAreRead)
{
    struct Case {
        const char *what;
        std::function<void(std::vector<UCHAR> &)> change;
        bool accepted;
    };
    auto wave = [](std::vector<UCHAR> &f) {
        return reinterpret_cast<WAVEFORMATEX *>(f.data() + sizeof(KSDATAFORMAT));
    };
    const Case cases[] = {
        {"as made", [](std::vector<UCHAR> &) {}, true},
        {"no channels", [&](std::vector<UCHAR> &f) { wave(f)->nChannels = 0; }, false},
        {"rate 0", [&](std::vector<UCHAR> &f) { wave(f)->nSamplesPerSec = 0; }, false},
        {"20 bits", [&](std::vector<UCHAR> &f) { wave(f)->wBitsPerSample = 20; }, false},
        {"block align 0", [&](std::vector<UCHAR> &f) { wave(f)->nBlockAlign = 0; }, false},
        {"cbSize past the format", [&](std::vector<UCHAR> &f) { wave(f)->cbSize = 64; }, false},
        {"header only",
         [](std::vector<UCHAR> &f) {
             reinterpret_cast<PKSDATAFORMAT>(f.data())->FormatSize = sizeof(KSDATAFORMAT);
         },
         false},
    };
    for (const Case &c : cases) {
        std::vector<UCHAR> format = sim::PcmFormat(2, 48000, 24);
        c.change(format);
        WAVE_STREAM_FORMAT read;
        EXPECT_EQ(c.accepted,
                  ReadWaveStreamFormat(reinterpret_cast<PKSDATAFORMAT>(format.data()), &read) != 0)
            << c.what;
    }
    WAVE_STREAM_FORMAT read;
    std::vector<UCHAR> format = sim::PcmFormat(2, 48000, 16);
    ASSERT_TRUE(ReadWaveStreamFormat(reinterpret_cast<PKSDATAFORMAT>(format.data()), &read));
    EXPECT_EQ(92160u, WaveCyclicBufferBytes(read)) << "never fewer than 23040 frames";
    format = sim::PcmFormat(2, 192000, 32);
    ASSERT_TRUE(ReadWaveStreamFormat(reinterpret_cast<PKSDATAFORMAT>(format.data()), &read));
    EXPECT_EQ(184320u, WaveCyclicBufferBytes(read));
}

} // namespace
} // namespace wave_tests
