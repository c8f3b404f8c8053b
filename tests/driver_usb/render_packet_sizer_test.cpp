// Render packet sizing on its own: the rate patterns, the 16.16 feedback accumulator (and its
// continuity from transfer to transfer), whole milliseconds at high speed, implicit-feedback
// packet layouts, the length-prefixed framing and transfers that do not fit one URB.
#include <gtest/gtest.h>

#include "usb/rate_pattern_table.h"
#include "usb/render_packet_sizer.h"

#include <numeric>
#include <vector>

namespace {

struct Packets {
    std::vector<USBD_ISO_PACKET_DESCRIPTOR> list = std::vector<USBD_ISO_PACKET_DESCRIPTOR>(40);
    std::vector<ULONG> Lengths(ULONG count) const
    {
        std::vector<ULONG> lengths;
        for (ULONG i = 0; i < count; ++i)
            lengths.push_back(list[i].Length);
        return lengths;
    }
    // Offsets run from 0 without gaps.
    bool Contiguous(ULONG count) const
    {
        ULONG offset = 0;
        for (ULONG i = 0; i < count; ++i) {
            if (list[i].Offset != offset)
                return false;
            offset += list[i].Length;
        }
        return true;
    }
};

RenderPattern FullSpeedPattern(ULONG rate)
{
    const RatePatternEntry *e = FindRatePattern(rate);
    return {e->FullSpeedPattern, e->FullSpeedLength};
}
RenderPattern HighSpeedPattern(ULONG rate)
{
    const RatePatternEntry *e = FindRatePattern(rate);
    return {e->HighSpeedPattern, e->HighSpeedLength};
}

const RenderPacketGeometry kFullSpeed8 = {8, 1, FALSE};
const RenderPacketGeometry kHighSpeed8 = {8, 1, TRUE};

TEST(RenderPatternPackets, FullSpeed44100SpreadsTheExtraSampleAndRestartsTheCycle)
{
    const RenderPattern pattern = FullSpeedPattern(44100);
    ULONG position = 0;
    Packets p;
    ASSERT_EQ(10u, CountPatternPackets(kFullSpeed8, 3528, pattern, position));
    EXPECT_EQ(3528u,
              LayoutPatternPackets(kFullSpeed8, 3528, pattern, &position, p.list.data(), 10));
    EXPECT_EQ((std::vector<ULONG>{360, 352, 352, 352, 352, 352, 352, 352, 352, 352}),
              p.Lengths(10));
    EXPECT_TRUE(p.Contiguous(10));
    EXPECT_EQ(0u, position);
    LayoutPatternPackets(kFullSpeed8, 3528, pattern, &position, p.list.data(), 10);
    EXPECT_EQ(360u, p.list[0].Length);
}

TEST(RenderPatternPackets, PositionCarriesOverBetweenTransfers)
{
    const RenderPattern pattern = FullSpeedPattern(44100);
    ULONG position = 0;
    Packets p;
    // Four packets, then the next transfer goes on at the fifth entry.
    LayoutPatternPackets(kFullSpeed8, 360 + 3 * 352, pattern, &position, p.list.data(), 4);
    EXPECT_EQ(4u, position);
    // Six more 44s complete the cycle, then the 45 comes round again.
    EXPECT_EQ(6u * 44, PatternSamples(pattern, position, 6));
    EXPECT_EQ(6u * 44 + 45, PatternSamples(pattern, position, 7));
}

TEST(RenderPatternPackets, HighSpeedTransferIsPaddedToWholeMilliseconds)
{
    const RenderPattern pattern = HighSpeedPattern(48000);
    ULONG position = 0;
    Packets p;
    const ULONG length = 13 * 6 * 8;
    ASSERT_EQ(16u, CountPatternPackets(kHighSpeed8, length, pattern, position));
    EXPECT_EQ(length,
              LayoutPatternPackets(kHighSpeed8, length, pattern, &position, p.list.data(), 16));
    for (ULONG i = 0; i < 13; ++i)
        EXPECT_EQ(48u, p.list[i].Length);
    for (ULONG i = 13; i < 16; ++i) {
        EXPECT_EQ(0u, p.list[i].Length);
        EXPECT_EQ(length, p.list[i].Offset);
    }
    EXPECT_EQ(0u, position); // the padding takes no pattern entries
}

TEST(RenderPatternPackets, ServiceIntervalGroupsStepsIntoOnePacket)
{
    const RenderPacketGeometry geometry = {8, 2, TRUE};
    const RenderPattern pattern = HighSpeedPattern(44100);
    ULONG position = 0;
    Packets p;
    const ULONG length = 8 * (6 + 6 + 5 + 6);
    ASSERT_EQ(4u, CountPatternPackets(geometry, length, pattern, position)); // 2 rounded to 4
    LayoutPatternPackets(geometry, length, pattern, &position, p.list.data(), 4);
    EXPECT_EQ((std::vector<ULONG>{96, 88, 0, 0}), p.Lengths(4));
}

TEST(RenderPatternPackets, TransferLongerThanOneUrbIsReported)
{
    EXPECT_GT(CountPatternPackets(kFullSpeed8, 41 * 48 * 8, FullSpeedPattern(48000), 0),
              ULONG(USB_MAX_ISO_PACKETS));
    EXPECT_GT(CountPatternPackets(kFullSpeed8, 100, RenderPattern{nullptr, 0}, 0),
              ULONG(USB_MAX_ISO_PACKETS));
}

TEST(RenderFeedbackPackets, WholeSamplesGiveEqualPackets)
{
    USHORT fraction = 0;
    Packets p;
    const ULONG length = FeedbackSamples(0, 0x60000, 32) * 8;
    EXPECT_EQ(32u * 6 * 8, length);
    ASSERT_EQ(32u, CountFeedbackPackets(kHighSpeed8, length, 0x60000, fraction));
    LayoutFeedbackPackets(kHighSpeed8, length, 0x60000, &fraction, p.list.data(), 32);
    for (ULONG i = 0; i < 32; ++i)
        EXPECT_EQ(48u, p.list[i].Length) << i;
    EXPECT_TRUE(p.Contiguous(32));
    EXPECT_EQ(0u, fraction);
}

TEST(RenderFeedbackPackets, HalfSamplesAlternate)
{
    USHORT fraction = 0;
    Packets p;
    const ULONG length = FeedbackSamples(0, 0x68000, 8) * 8;
    ASSERT_EQ(8u, CountFeedbackPackets(kHighSpeed8, length, 0x68000, fraction));
    LayoutFeedbackPackets(kHighSpeed8, length, 0x68000, &fraction, p.list.data(), 8);
    EXPECT_EQ((std::vector<ULONG>{48, 56, 48, 56, 48, 56, 48, 56}), p.Lengths(8));
}

TEST(RenderFeedbackPackets, AccumulatorCarriesTheFractionAcrossTransfers)
{
    // 44.1 kHz at high speed: 5.5125 samples per microframe.
    const ULONG feedback = 361267;
    USHORT fraction = 0;
    ULONGLONG sent = 0;
    ULONGLONG steps = 0;
    for (int transfer = 0; transfer < 1000; ++transfer) {
        const ULONG length = FeedbackSamples(fraction, feedback, 32) * 8;
        Packets p;
        const ULONG count = CountFeedbackPackets(kHighSpeed8, length, feedback, fraction);
        ASSERT_EQ(32u, count);
        ASSERT_EQ(length, LayoutFeedbackPackets(kHighSpeed8, length, feedback, &fraction,
                                                p.list.data(), count));
        for (ULONG i = 0; i < count; ++i)
            ASSERT_TRUE(p.list[i].Length == 40 || p.list[i].Length == 48) << p.list[i].Length;
        sent += length / 8;
        steps += 32;
    }
    // No sample lost or gained at the transfer boundaries.
    EXPECT_EQ(steps * feedback >> 16, sent);
}

TEST(RenderFeedbackPackets, HighSpeedTransferIsPaddedToWholeMilliseconds)
{
    // A stopping stream sends what it has: 10 microframes of data.
    USHORT fraction = 0;
    Packets p;
    ASSERT_EQ(16u, CountFeedbackPackets(kHighSpeed8, 10 * 48, 0x60000, fraction));
    LayoutFeedbackPackets(kHighSpeed8, 10 * 48, 0x60000, &fraction, p.list.data(), 16);
    EXPECT_EQ(48u, p.list[9].Length);
    EXPECT_EQ(0u, p.list[10].Length);
    EXPECT_EQ(0u, p.list[15].Length);
    EXPECT_EQ(480u, p.list[15].Offset);
}

TEST(RenderFeedbackPackets, FeedbackOfNothingCannotLoopForever)
{
    EXPECT_GT(CountFeedbackPackets(kFullSpeed8, 384, 0, 0), ULONG(USB_MAX_ISO_PACKETS));
}

const RenderPacketGeometry kImplicitFullSpeed = {8, 1, FALSE};

std::vector<ULONG> ImplicitLayout(const RenderPacketGeometry &geometry, ULONG length, ULONG nominal,
                                  BOOLEAN whole, ULONG ms = 10)
{
    const ImplicitPacketCounts counts = CountImplicitPackets(geometry, length, ms, nominal, whole);
    Packets p;
    EXPECT_EQ(length,
              LayoutImplicitPackets(geometry, length, nominal, whole, counts, p.list.data()));
    EXPECT_TRUE(p.Contiguous(counts.Total()));
    return p.Lengths(counts.Total());
}

TEST(RenderImplicitPackets, OneFrameShortGivesOneShortPacketLast)
{
    std::vector<ULONG> expected(9, 384);
    expected.push_back(376);
    EXPECT_EQ(expected, ImplicitLayout(kImplicitFullSpeed, 3832, 384, TRUE));
}

TEST(RenderImplicitPackets, OneFrameLongGivesOneLongPacketFirst)
{
    std::vector<ULONG> expected = {392};
    expected.insert(expected.end(), 9, 384);
    EXPECT_EQ(expected, ImplicitLayout(kImplicitFullSpeed, 3848, 384, TRUE));
}

TEST(RenderImplicitPackets, NominalLengthGivesNominalPackets)
{
    EXPECT_EQ(std::vector<ULONG>(10, 384), ImplicitLayout(kImplicitFullSpeed, 3840, 384, TRUE));
}

TEST(RenderImplicitPackets, FractionalRateNeverGoesBelowNominal)
{
    // 44.1 kHz: 44 frames of 8 bytes nominal; a shorter transfer is nominal packets only.
    const ImplicitPacketCounts counts =
        CountImplicitPackets(kImplicitFullSpeed, 3500, 10, 352, FALSE);
    EXPECT_EQ(0u, counts.Short);
    EXPECT_EQ(0u, counts.Long);
    EXPECT_EQ(10u, counts.Nominal); // ceil(3500 / 352)
    const std::vector<ULONG> lengths = ImplicitLayout(kImplicitFullSpeed, 3500, 352, FALSE);
    EXPECT_EQ(332u, lengths.back());
}

TEST(RenderImplicitPackets, HighSpeedIsPaddedWithShortPackets)
{
    const RenderPacketGeometry geometry = {8, 1, TRUE};
    // 1 ms at 48 kHz: 8 packets of 6 frames, one frame long.
    const ImplicitPacketCounts counts = CountImplicitPackets(geometry, 8 * 48 + 8, 1, 48, TRUE);
    EXPECT_EQ(1u, counts.Long);
    EXPECT_EQ(7u, counts.Nominal);
    EXPECT_EQ(0u, counts.Short);
    // Far more than nominal: ceil(L / l) nominal packets, padded to 16.
    const ImplicitPacketCounts many = CountImplicitPackets(geometry, 10 * 48, 1, 48, TRUE);
    EXPECT_EQ(10u + 6u, many.Total());
    EXPECT_EQ(6u, many.Short);
}

TEST(RenderLengthPrefixedPackets, EachPacketCarriesItsPayloadLength)
{
    const RenderPacketGeometry geometry = {4, 1, FALSE};
    const RenderPattern pattern = FullSpeedPattern(48000);
    std::vector<UCHAR> audio(384);
    for (size_t i = 0; i < audio.size(); ++i)
        audio[i] = UCHAR(i);
    ULONG position = 0;
    ASSERT_EQ(2u, CountPatternPackets(geometry, 384, pattern, position));
    std::vector<UCHAR> framed(2 * 4 + 384);
    Packets p;
    EXPECT_EQ(392u, FrameLengthPrefixedPackets(geometry, audio.data(), 384, pattern, &position,
                                               framed.data(), p.list.data(), 2));
    EXPECT_EQ(0u, p.list[0].Offset);
    EXPECT_EQ(196u, p.list[0].Length);
    EXPECT_EQ(196u, p.list[1].Offset);
    EXPECT_EQ(196u, p.list[1].Length);
    const std::vector<UCHAR> prefix = {192, 0, 0, 0};
    EXPECT_EQ(prefix, std::vector<UCHAR>(framed.begin(), framed.begin() + 4));
    EXPECT_EQ(prefix, std::vector<UCHAR>(framed.begin() + 196, framed.begin() + 200));
    EXPECT_TRUE(std::equal(audio.begin(), audio.begin() + 192, framed.begin() + 4));
    EXPECT_TRUE(std::equal(audio.begin() + 192, audio.end(), framed.begin() + 200));
}

} // namespace
