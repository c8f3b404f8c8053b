// The RV-D3's filter: the render chain render pin -> volume -> mute -> DAC -> speaker, and with
// the capture path the line input -> ADC -> capture pin; the render pin's data ranges are the
// 16-, 24- and 32-bit settings over the whole clock range.
#include "filter_test_fixture.h"

#include "devices/rvd3_model.h"

namespace function_tests {
namespace {

namespace rvd3 = devices::rvd3;

std::shared_ptr<devices::Rvd3Model> Rvd3(bool capture)
{
    devices::Rvd3Options options;
    options.capture = capture;
    return std::make_shared<devices::Rvd3Model>(options);
}

TEST_F(FilterTest, TheRvd3RendersThroughVolumeMuteAndDacToItsSpeaker)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Rvd3(false)));

    ASSERT_EQ(2u, filter_.PinCount);
    EXPECT_EQ(rvd3::kUsbInputTerminalId, Pin(0).Element.Entity->GetId());
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, KsPin(0).Communication);
    EXPECT_EQ(rvd3::kSpeakerTerminalId, Pin(1).Element.Entity->GetId());
    EXPECT_EQ(KSNODETYPE_SPEAKER, *KsPin(1).Category);

    ASSERT_EQ(3u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(0));
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(1));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(2));
    EXPECT_EQ(rvd3::kFeatureUnitId, NodeEntityId(1));
    EXPECT_EQ(rvd3::kFeatureUnitId, NodeEntityId(2));
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, TheRvd3RenderPinAnnouncesItsThreePcmSettingsOverTheClockRange)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Rvd3(false)));
    ASSERT_EQ(3u, KsPin(0).DataRangesCount);
    const ULONG bits[] = {16, 24, 32};
    for (ULONG k = 0; k < 3; ++k) {
        auto range = reinterpret_cast<const KSDATARANGE_AUDIO *>(KsPin(0).DataRanges[k]);
        EXPECT_EQ(KSDATAFORMAT_SUBTYPE_PCM, range->DataRange.SubFormat) << k;
        EXPECT_EQ(ULONG(rvd3::kChannels), range->MaximumChannels) << k;
        EXPECT_EQ(bits[k], range->MinimumBitsPerSample) << k;
        EXPECT_EQ(bits[k], range->MaximumBitsPerSample) << k;
        EXPECT_EQ(44100u, range->MinimumSampleFrequency) << k;
        EXPECT_EQ(384000u, range->MaximumSampleFrequency) << k;
    }
}

TEST_F(FilterTest, TheRvd3CapturePathRunsFromTheLineInputThroughTheAdc)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Rvd3(true)));

    ASSERT_EQ(4u, filter_.PinCount);
    EXPECT_EQ(rvd3::kLineInTerminalId, Pin(2).Element.Entity->GetId());
    EXPECT_EQ(KSPIN_DATAFLOW_IN, KsPin(2).DataFlow);
    EXPECT_EQ(KSNODETYPE_LINE_CONNECTOR, *KsPin(2).Category);
    EXPECT_EQ(rvd3::kUsbOutputTerminalId, Pin(3).Element.Entity->GetId());
    EXPECT_EQ(KSPIN_DATAFLOW_OUT, KsPin(3).DataFlow);
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, KsPin(3).Communication);
    ASSERT_EQ(1u, KsPin(3).DataRangesCount);
    auto capture = reinterpret_cast<const KSDATARANGE_AUDIO *>(KsPin(3).DataRanges[0]);
    EXPECT_EQ(24u, capture->MaximumBitsPerSample);

    ASSERT_EQ(4u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_ADC, NodeType(0));
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(1));
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(2));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(3));
    EXPECT_EQ("pin 2>node 0 node 0>pin 3 pin 0>node 3 node 3>node 2 node 2>node 1 node 1>pin 1",
              Connections());
}

} // namespace
} // namespace function_tests
