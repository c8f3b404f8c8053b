#include "usb/rate_pattern_table.h"

namespace {

constexpr ULONG Gcd(ULONG a, ULONG b)
{
    while (b != 0) {
        const ULONG r = a % b;
        a = b;
        b = r;
    }
    return a;
}

constexpr ULONGLONG CeilDiv(ULONGLONG a, ULONGLONG b) { return (a + b - 1) / b; }

// Samples per interval for Rate at Frequency intervals per second, built at compile time.
template <ULONG Rate, ULONG Frequency>
struct SamplePattern {
    static constexpr ULONG Length = Frequency / Gcd(Rate, Frequency);
    ULONG Counts[Length];

    constexpr SamplePattern() : Counts()
    {
        for (ULONG i = 0; i < Length; ++i) {
            Counts[i] = static_cast<ULONG>(CeilDiv(ULONGLONG(i + 1) * Rate, Frequency) -
                                           CeilDiv(ULONGLONG(i) * Rate, Frequency));
        }
    }
};

template <ULONG Rate>
struct RatePatterns {
    static constexpr SamplePattern<Rate, 1000> FullSpeed{};
    static constexpr SamplePattern<Rate, 8000> HighSpeed{};
    static constexpr RatePatternEntry Entry{Rate, FullSpeed.Length, FullSpeed.Counts,
                                            HighSpeed.Length, HighSpeed.Counts};
};

} // namespace

const RatePatternEntry RatePatternTable[RATE_PATTERN_COUNT] = {
    RatePatterns<384000>::Entry, RatePatterns<352800>::Entry, RatePatterns<192000>::Entry,
    RatePatterns<176400>::Entry, RatePatterns<96000>::Entry,  RatePatterns<88200>::Entry,
    RatePatterns<48000>::Entry,  RatePatterns<44100>::Entry,  RatePatterns<32000>::Entry,
    RatePatterns<22050>::Entry,  RatePatterns<16000>::Entry,  RatePatterns<11025>::Entry,
    RatePatterns<8000>::Entry,
};

const RatePatternEntry *FindRatePattern(ULONG Rate)
{
    for (const RatePatternEntry &entry : RatePatternTable) {
        if (entry.Rate == Rate) {
            return &entry;
        }
    }
    return nullptr;
}
