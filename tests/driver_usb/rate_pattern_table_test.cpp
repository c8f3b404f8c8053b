// The render rate pattern table: its rates, the pattern lengths, and the rule every pattern
// follows (first entry rounded up, samples spread evenly, a cycle carrying exactly the rate).
#include <gtest/gtest.h>

#include "usb/rate_pattern_table.h"

#include <numeric>
#include <vector>

namespace {

std::vector<ULONG> Pattern(const ULONG *counts, ULONG length)
{
    return std::vector<ULONG>(counts, counts + length);
}

TEST(RatePatternTable, HoldsThirteenRatesFromHighestToLowest)
{
    const ULONG rates[] = {384000, 352800, 192000, 176400, 96000, 88200, 48000,
                           44100,  32000,  22050,  16000,  11025, 8000};
    ASSERT_EQ(std::size(rates), size_t(RATE_PATTERN_COUNT));
    for (size_t i = 0; i < std::size(rates); ++i)
        EXPECT_EQ(rates[i], RatePatternTable[i].Rate);
}

TEST(RatePatternTable, PatternLengthsAreTheIntervalsOfOneWholeCycle)
{
    const struct {
        ULONG rate, fullSpeed, highSpeed;
    } expected[] = {{384000, 1, 1}, {352800, 5, 10},  {192000, 1, 1}, {176400, 5, 20},
                    {96000, 1, 1},  {88200, 5, 40},   {48000, 1, 1},  {44100, 10, 80},
                    {32000, 1, 1},  {22050, 20, 160}, {16000, 1, 1},  {11025, 40, 320},
                    {8000, 1, 1}};
    for (const auto &e : expected) {
        const RatePatternEntry *entry = FindRatePattern(e.rate);
        ASSERT_NE(nullptr, entry) << e.rate;
        EXPECT_EQ(e.fullSpeed, entry->FullSpeedLength) << e.rate;
        EXPECT_EQ(e.highSpeed, entry->HighSpeedLength) << e.rate;
    }
}

TEST(RatePatternTable, EveryCycleCarriesExactlyTheRate)
{
    for (const RatePatternEntry &entry : RatePatternTable) {
        const ULONG fs = std::accumulate(entry.FullSpeedPattern,
                                         entry.FullSpeedPattern + entry.FullSpeedLength, 0UL);
        const ULONG hs = std::accumulate(entry.HighSpeedPattern,
                                         entry.HighSpeedPattern + entry.HighSpeedLength, 0UL);
        EXPECT_EQ(ULONGLONG(entry.Rate) * entry.FullSpeedLength / 1000, fs) << entry.Rate;
        EXPECT_EQ(ULONGLONG(entry.Rate) * entry.HighSpeedLength / 8000, hs) << entry.Rate;
    }
}

TEST(RatePatternTable, FirstEntryTakesTheRoundedUpShare)
{
    const RatePatternEntry *r44 = FindRatePattern(44100);
    ASSERT_NE(nullptr, r44);
    EXPECT_EQ((std::vector<ULONG>{45, 44, 44, 44, 44, 44, 44, 44, 44, 44}),
              Pattern(r44->FullSpeedPattern, r44->FullSpeedLength));
    EXPECT_EQ((std::vector<ULONG>{6, 6, 5, 6, 5, 6}), Pattern(r44->HighSpeedPattern, 6));

    const RatePatternEntry *r352 = FindRatePattern(352800);
    ASSERT_NE(nullptr, r352);
    EXPECT_EQ((std::vector<ULONG>{353, 353, 353, 353, 352}),
              Pattern(r352->FullSpeedPattern, r352->FullSpeedLength));

    const RatePatternEntry *r48 = FindRatePattern(48000);
    ASSERT_NE(nullptr, r48);
    EXPECT_EQ((std::vector<ULONG>{48}), Pattern(r48->FullSpeedPattern, r48->FullSpeedLength));
    EXPECT_EQ((std::vector<ULONG>{6}), Pattern(r48->HighSpeedPattern, r48->HighSpeedLength));
}

TEST(RatePatternTable, RatesOutsideTheTableHaveNoPattern)
{
    EXPECT_EQ(nullptr, FindRatePattern(12000));
    EXPECT_EQ(nullptr, FindRatePattern(0));
    EXPECT_EQ(nullptr, FindRatePattern(768000));
}

} // namespace
