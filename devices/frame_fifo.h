// A ring of audio frames with free-running write and read counters; the level is their
// difference. The storage is allocated once; Reset only changes the frame size.
#pragma once

#include <ntdef.h>

#include <vector>

namespace devices {

class FrameFifo {
public:
    FrameFifo(ULONG capacityFrames, ULONG maxFrameBytes);

    // Empties the ring and sets the frame size (at most maxFrameBytes).
    void Reset(ULONG frameBytes);

    ULONG FrameBytes() const { return frameBytes_; }
    ULONG CapacityFrames() const { return capacity_; }
    ULONG Level() const { return static_cast<ULONG>(written_ - read_); }

    // Appends up to `frames` frames; returns how many fitted.
    ULONG Push(const UCHAR *data, ULONG frames);

    // Removes up to `frames` frames, handing them to consume(pointer, frames) in at most two
    // contiguous pieces; returns how many were removed.
    template <typename Consume>
    ULONG Pop(ULONG frames, Consume &&consume)
    {
        ULONG remaining = frames < Level() ? frames : Level();
        const ULONG total = remaining;
        while (remaining) {
            const ULONG slot = static_cast<ULONG>(read_ % capacity_);
            const ULONG run = remaining < capacity_ - slot ? remaining : capacity_ - slot;
            consume(&ring_[static_cast<size_t>(slot) * frameBytes_], run);
            read_ += run;
            remaining -= run;
        }
        return total;
    }

private:
    std::vector<UCHAR> ring_;
    const ULONG capacity_;
    ULONG frameBytes_ = 1;
    ULONGLONG written_ = 0;
    ULONGLONG read_ = 0;
};

} // namespace devices
