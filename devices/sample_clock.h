// A device's sample clock measured in bus intervals. It runs at the nominal rate offset by a
// number of parts per million from the bus clock and counts whole frames with an exact
// fractional remainder, so that any number of intervals costs one step.
#pragma once

#include <ntdef.h>

namespace devices {

class SampleClock {
public:
    // intervalsPerSecond: 8000 at high speed (microframes), 1000 at full speed (frames).
    explicit SampleClock(ULONG intervalsPerSecond);

    void SetRate(ULONG rateHz);
    void SetOffsetPpm(double ppm);
    ULONG Rate() const { return rate_; }
    double OffsetPpm() const { return static_cast<double>(offsetPpb_) / 1000.0; }

    // Runs the clock through `intervals` bus intervals; returns the frames that elapsed.
    ULONGLONG Advance(ULONGLONG intervals);

    // The clock's true rate in frames per bus interval, fixed point with 16 fraction bits
    // (truncated): what a device measures against the bus's start-of-frame tokens.
    ULONG FramesPerInterval16() const;

private:
    void Recompute();

    const ULONGLONG denominator_; // intervals per second x 1e9
    ULONG rate_ = 0;
    LONGLONG offsetPpb_ = 0;
    ULONGLONG increment_ = 0; // frames per interval x denominator_
    ULONGLONG phase_ = 0;     // fraction of a frame, < denominator_
};

} // namespace devices
