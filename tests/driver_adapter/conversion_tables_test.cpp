// The pure conversions of the adapter, table by table: sample containers between client and
// device, the feedback values the render engine believes, and volumes between KS and the audio
// class.
#include <gtest/gtest.h>

#include "adapter/feedback_validation.h"
#include "adapter/frame_conversion.h"
#include "adapter/volume_conversion.h"

#include <vector>

namespace {

struct FrameCase {
    const char *name;
    ULONG sourceChannels, sourceBits, destinationChannels, destinationBits;
    std::vector<UCHAR> source, expected;
};

class ConvertFramesTest : public ::testing::TestWithParam<FrameCase> {};

TEST_P(ConvertFramesTest, WritesTheDestinationContainer)
{
    const FrameCase &c = GetParam();
    std::vector<UCHAR> out(c.expected.size() + 1, 0xEE);
    ConvertFrames(out.data(), c.source.data(), ULONG(c.source.size()), c.destinationChannels,
                  c.destinationBits, c.sourceChannels, c.sourceBits);
    EXPECT_EQ(c.expected, std::vector<UCHAR>(out.begin(), out.end() - 1));
    EXPECT_EQ(0xEE, out.back()) << "wrote past the converted frames";
}

INSTANTIATE_TEST_SUITE_P(
    Containers, ConvertFramesTest,
    ::testing::Values(
        FrameCase{"SameFormatCopies", 2, 16, 2, 16, {1, 2, 3, 4}, {1, 2, 3, 4}},
        FrameCase{"Widens16To24", 2, 16, 2, 24, {1, 2, 3, 4}, {0, 1, 2, 0, 3, 4}},
        FrameCase{"Widens16To32", 1, 16, 1, 32, {0x34, 0x12}, {0, 0, 0x34, 0x12}},
        FrameCase{"Unsigned8To16", 1, 8, 1, 16, {0x80, 0xFF, 0x00}, {0, 0, 0, 0x7F, 0, 0x80}},
        FrameCase{"Narrows32To24KeepsTop", 1, 32, 1, 24, {1, 2, 3, 4}, {2, 3, 4}},
        FrameCase{"Narrows16ToUnsigned8", 2, 16, 2, 8, {0x11, 0x00, 0x22, 0xFF}, {0x80, 0x7F}},
        FrameCase{"MissingChannelIsSilent", 1, 16, 2, 16, {5, 6}, {5, 6, 0, 0}},
        FrameCase{"MissingUnsignedChannelIs80", 1, 16, 2, 8, {0, 0x10}, {0x90, 0x80}},
        FrameCase{"ExtraSourceChannelsSkipped",
                  3,
                  16,
                  2,
                  24,
                  {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12},
                  {0, 1, 2, 0, 3, 4, 0, 7, 8, 0, 9, 10}},
        FrameCase{
            "PartialFrameLeftAlone", 2, 16, 2, 32, {1, 2, 3, 4, 5, 6}, {0, 0, 1, 2, 0, 0, 3, 4}}),
    [](const ::testing::TestParamInfo<FrameCase> &info) { return info.param.name; });

TEST(ConvertedByteCount, CountsWholeFramesOnly)
{
    EXPECT_EQ(12u, ConvertedByteCount(9, 4, 6)); // two whole frames of 4 bytes become 2 of 6
    EXPECT_EQ(0u, ConvertedByteCount(100, 0, 6));
    EXPECT_EQ(0u, ConvertedByteCount(100, 4, 0));
}

struct FeedbackCase {
    ULONG value, nominal, expected;
};

class FeedbackValidationTest : public ::testing::TestWithParam<FeedbackCase> {};

TEST_P(FeedbackValidationTest, KeepsValuesWithinOneSampleOfNominal)
{
    const FeedbackCase &c = GetParam();
    EXPECT_EQ(c.expected, ValidFeedbackValue(c.value, c.nominal))
        << std::hex << "value 0x" << c.value << ", nominal 0x" << c.nominal;
}

INSTANTIATE_TEST_SUITE_P(
    FullAndHighSpeed, FeedbackValidationTest,
    ::testing::Values(FeedbackCase{0x2F8000, 0x300000, 0x2F8000}, // 47.5 at 48 kHz full speed
                      FeedbackCase{0x310000, 0x300000, 0x310000}, // 49.0
                      FeedbackCase{0x2EFFFF, 0x300000, 0x300000},
                      FeedbackCase{0x310001, 0x300000, 0x300000},
                      FeedbackCase{0, 0x2C1999, 0x2C1999},     // no reading
                      FeedbackCase{0x68000, 0x60000, 0x68000}, // high speed, 6.5 samples
                      FeedbackCase{0xFFFF, 0x8000, 0x8000},    // below one sample
                      FeedbackCase{0x10000, 0x8000, 0x10000},  // nominal under one sample
                      FeedbackCase{0xFFFFFFFF, 0x60000, 0x60000}));

struct VolumeCase {
    LONG ks;
    SHORT minimum, maximum, usb;
};

class VolumeConversionTest : public ::testing::TestWithParam<VolumeCase> {};

TEST_P(VolumeConversionTest, SetsAValueWithinTheDeviceRange)
{
    const VolumeCase &c = GetParam();
    EXPECT_EQ(c.usb, UsbVolumeFromKs(c.ks, c.minimum, c.maximum)) << "KS value " << c.ks;
}

INSTANTIATE_TEST_SUITE_P(
    KsToUsb, VolumeConversionTest,
    ::testing::Values(VolumeCase{LONG(0x80000000), -24576, 0, SHORT(-0x8000)}, // silence
                      VolumeCase{-1, -24576, 0, 0}, VolumeCase{-65536, -24576, 0, -255},
                      VolumeCase{0x7FFFFFFF, -24576, 0, 0},            // no overflow to silence
                      VolumeCase{LONG(0x80000001), -24576, 0, -24576}, // quietest, not full volume
                      VolumeCase{0x7FFFFFFF, USB_VOLUME_MINIMUM, USB_VOLUME_MAXIMUM, 0x7FFF},
                      VolumeCase{LONG(0x80000001), USB_VOLUME_MINIMUM, USB_VOLUME_MAXIMUM,
                                 -0x7FFF}));

TEST(VolumeConversion, ReadsBackInKsUnits)
{
    EXPECT_EQ(LONG(0x80000000), KsVolumeFromUsb(SHORT(-0x8000)));
    EXPECT_EQ(0x10000, KsVolumeFromUsb(0x0100));
    EXPECT_EQ(-0x10000, KsVolumeFromUsbStep(-0x0100));
}

} // namespace
