#include "frame_fifo.h"

#include <cstring>

namespace devices {

FrameFifo::FrameFifo(ULONG capacityFrames, ULONG maxFrameBytes)
    : ring_(static_cast<size_t>(capacityFrames) * maxFrameBytes), capacity_(capacityFrames)
{
}

void FrameFifo::Reset(ULONG frameBytes)
{
    frameBytes_ = frameBytes;
    written_ = read_ = 0;
}

ULONG FrameFifo::Push(const UCHAR *data, ULONG frames)
{
    const ULONG free = capacity_ - Level();
    ULONG remaining = frames < free ? frames : free;
    const ULONG total = remaining;
    while (remaining) {
        const ULONG slot = static_cast<ULONG>(written_ % capacity_);
        const ULONG run = remaining < capacity_ - slot ? remaining : capacity_ - slot;
        std::memcpy(&ring_[static_cast<size_t>(slot) * frameBytes_], data,
                    static_cast<size_t>(run) * frameBytes_);
        data += static_cast<size_t>(run) * frameBytes_;
        written_ += run;
        remaining -= run;
    }
    return total;
}

} // namespace devices
