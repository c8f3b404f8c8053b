// The KS client library from a user process against the product driver on the emulated RV-D3:
// the filter's pins and ranges and the device list built from them, render pins that play what
// the process writes, volume and mute reaching the device, and the pin of a killed process.
#include "kslib_fixture.h"

#include "driver_session.h"
#include "stream_patterns.h"
#include "usb/usb_host_controller.h"

#include <array>

namespace {

// The RV-D3 filter's volume and mute nodes.
constexpr ULONG kVolumeNode = 3;
constexpr ULONG kMuteNode = 2;

// Channels, minimum and maximum bits, minimum and maximum rate.
using Range = std::array<ULONG, 5>;

Range Of(const FormatRange &range)
{
    return {range.channels, range.minimumBits, range.maximumBits, range.minimumRate,
            range.maximumRate};
}

class Rvd3Driver : public KsLibTest {
protected:
    Rvd3Driver() : KsLibTest(sim::QuenAudioPackage()) {}

    std::unique_lock<std::recursive_mutex> LockDevice()
    {
        return std::unique_lock<std::recursive_mutex>(pnp_->Usb().Lock());
    }
};

void ExpectRanges(const CKsPinList &pins, ULONG id, const std::vector<Range> &expected)
{
    ASSERT_EQ(1u, pins.Count());
    auto pin = static_cast<CKsAudPin *>(pins[0]);
    EXPECT_EQ(id, pin->PinId());
    ASSERT_EQ(expected.size(), pin->AudioRanges().Count());
    for (ULONG i = 0; i < expected.size(); ++i) {
        const KSDATARANGE_AUDIO &range = pin->AudioRanges()[i];
        EXPECT_EQ(expected[i], (Range{range.MaximumChannels, range.MinimumBitsPerSample,
                                      range.MaximumBitsPerSample, range.MinimumSampleFrequency,
                                      range.MaximumSampleFrequency}))
            << "pin " << id << " range " << i;
    }
}

TEST_F(Rvd3Driver, FilterAndDeviceListShowTheStreamingPinsWithTheirRanges)
{
    std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
    ASSERT_NE(nullptr, filter);
    // One range per alternate setting, each over the clock's whole range.
    ExpectRanges(
        filter->RenderSinkPins(), sim::kWaveRenderPin,
        {{2, 16, 16, 44100, 384000}, {2, 24, 24, 44100, 384000}, {2, 32, 32, 44100, 384000}});
    ExpectRanges(filter->CaptureSinkPins(), sim::kWaveCapturePin, {{2, 24, 24, 44100, 384000}});
    filter.reset();

    CDevInfo devices;
    const ActiveDeviceEntry *entry = OnlyDeviceEntry(&devices);
    ASSERT_NE(nullptr, entry);
    EXPECT_EQ(0, lstrcmpW(L"Quen DSD Audio RV-D3", entry->devName));
    EXPECT_EQ((Range{2, 16, 32, 44100, 384000}), Of(entry->renderRange));
    EXPECT_EQ((Range{2, 24, 24, 44100, 384000}), Of(entry->captureRange));
}

// Every frame a user process writes reaches the DAC once, in order and unchanged, in each
// sample size the device plays.
TEST_F(Rvd3Driver, RenderPinPlaysWhatAUserProcessWritesBitPerfect)
{
    const sim::ClientFormat formats[] = {{2, 16, 48000}, {2, 24, 96000}, {2, 32, 384000}};
    for (const sim::ClientFormat &format : formats) {
        SCOPED_TRACE(testing::Message() << format.bits << " bits at " << format.rate << " Hz");
        std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
        ASSERT_NE(nullptr, filter);
        WAVEFORMATEX wave = Pcm(WORD(format.channels), format.rate, WORD(format.bits));
        CKsAudPin *pin = filter->OpenRenderPinFor(&wave);
        ASSERT_NE(nullptr, pin);

        const ULONG packetFrames = format.rate / 100; // 10 ms
        const ULONG frames = packetFrames * 5;
        std::vector<UCHAR> data(frames * format.BlockAlign());
        for (ULONG f = 0; f < frames; ++f)
            sim::SourceFrame(f, &data[f * format.BlockAlign()], format.BlockAlign());
        sim::RenderChecker checker(format, 0, true);
        {
            auto lock = LockDevice();
            device_->AttachSink(&checker);
        }
        EXPECT_TRUE(PlayThroughPin(pin, data, packetFrames * format.BlockAlign()));
        Sleep(1000); // the driver's buffer plays out
        KSAUDIO_POSITION position = {};
        EXPECT_EQ(S_OK, pin->QueryProperty(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, &position,
                                           sizeof position));
        EXPECT_EQ(ULONGLONG(data.size()), position.WriteOffset);
        EXPECT_EQ(S_OK, pin->ClosePin());
        auto lock = LockDevice();
        device_->AttachSink(nullptr);
        EXPECT_EQ(frames, checker.FramesMatched());
        EXPECT_EQ(0u, checker.Mismatches());
    }
}

TEST_F(Rvd3Driver, VolumeAndMuteReachTheDevicesFeatureUnit)
{
    std::unique_ptr<CKsAudFilter2> filter = OpenFilter();
    ASSERT_NE(nullptr, filter);
    LONG volume = -6 * 65536; // -6 dB in 1/65536 dB
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_VOLUMELEVEL, kVolumeNode, 1,
                                KSPROPERTY_TYPE_SET, &volume));
    LONG mute = TRUE;
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_MUTE, kMuteNode, 0, KSPROPERTY_TYPE_SET,
                                &mute));
    LONG read = 0;
    EXPECT_EQ(S_OK, NodeRequest(*filter, KSPROPERTY_AUDIO_VOLUMELEVEL, kVolumeNode, 1,
                                KSPROPERTY_TYPE_GET, &read));
    EXPECT_EQ(volume, read);
    auto lock = LockDevice();
    EXPECT_EQ(-6 * 256, device_->Volume(2)) << "KS channel 1 is the device's channel 2";
    EXPECT_TRUE(device_->Muted());
}

TEST_F(Rvd3Driver, PinOfAKilledProcessClosesAndTheDeviceStopsPlaying)
{
    KillPlayerHoldingTheRenderPin();
    {
        auto lock = LockDevice();
        EXPECT_FALSE(device_->RenderPlaying());
    }
    std::unique_ptr<CKsAudFilter2> filter;
    EXPECT_NE(nullptr, OpenStreamPin(&filter, false)) << "the pin's one instance is free again";
}

} // namespace
