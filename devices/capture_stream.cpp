#include "capture_stream.h"

#include <algorithm>

namespace devices {

ULONG CaptureRampSample(ULONGLONG frame, UCHAR channel, const CaptureFormat &format)
{
    const unsigned bits = format.bitResolution;
    const ULONGLONG mask = (ULONGLONG(1) << bits) - 1;
    const ULONGLONG value = (frame + (ULONGLONG(channel) << (bits - 2))) & mask;
    return static_cast<ULONG>(value << (8 * format.subslotBytes - bits));
}

CaptureStream::CaptureStream(ULONG backlogFrames) : backlogFrames_(backlogFrames) {}

void CaptureStream::Start(const CaptureFormat &format)
{
    format_ = format;
    active_ = format.FrameBytes() != 0;
    collected_ = false;
    next_ = 0;
    available_ = 0;
}

void CaptureStream::Stop()
{
    active_ = false;
    available_ = 0;
}

void CaptureStream::Produce(ULONGLONG frames)
{
    if (!active_)
        return;
    counters_.framesProduced += frames;
    available_ += frames;
    if (available_ <= backlogFrames_)
        return;
    // Before the host first asks, the converter simply has not been listened to yet.
    const ULONGLONG lost = available_ - backlogFrames_;
    if (collected_) {
        ++counters_.overruns;
        counters_.framesDropped += lost;
    }
    next_ += lost;
    available_ = backlogFrames_;
}

ULONG CaptureStream::Fill(UCHAR *data, ULONG maxLength)
{
    if (!active_)
        return 0;
    collected_ = true;
    ++counters_.packets;
    const ULONG frameBytes = format_.FrameBytes();
    const ULONG frames =
        static_cast<ULONG>(std::min<ULONGLONG>(available_, maxLength / frameBytes));
    UCHAR *out = data;
    for (ULONG f = 0; f < frames; ++f) {
        for (UCHAR c = 0; c < format_.channels; ++c) {
            const ULONG sample = CaptureRampSample(next_ + f, c, format_);
            for (UCHAR b = 0; b < format_.subslotBytes; ++b)
                *out++ = static_cast<UCHAR>(sample >> (8 * b));
        }
    }
    next_ += frames;
    available_ -= frames;
    counters_.framesDelivered += frames;
    return frames * frameBytes;
}

} // namespace devices
