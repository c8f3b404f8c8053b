#include "sample_clock.h"

#include <cmath>

namespace devices {

namespace {
constexpr ULONGLONG kPartsPerBillion = 1000000000ull;
}

SampleClock::SampleClock(ULONG intervalsPerSecond)
    : denominator_(static_cast<ULONGLONG>(intervalsPerSecond) * kPartsPerBillion)
{
}

void SampleClock::SetRate(ULONG rateHz)
{
    rate_ = rateHz;
    Recompute();
}

void SampleClock::SetOffsetPpm(double ppm)
{
    offsetPpb_ = std::llround(ppm * 1000.0);
    Recompute();
}

void SampleClock::Recompute()
{
    const LONGLONG scale = static_cast<LONGLONG>(kPartsPerBillion) + offsetPpb_;
    increment_ = scale > 0 ? static_cast<ULONGLONG>(rate_) * static_cast<ULONGLONG>(scale) : 0;
}

ULONGLONG SampleClock::Advance(ULONGLONG intervals)
{
    const unsigned __int128 total = static_cast<unsigned __int128>(increment_) * intervals + phase_;
    phase_ = static_cast<ULONGLONG>(total % denominator_);
    return static_cast<ULONGLONG>(total / denominator_);
}

ULONG SampleClock::FramesPerInterval16() const
{
    return static_cast<ULONG>((static_cast<unsigned __int128>(increment_) << 16) / denominator_);
}

} // namespace devices
