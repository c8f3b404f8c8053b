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
    looped_.clear();
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
    if (available_ <= backlogFrames_) {
        TrimLooped();
        return;
    }
    // Before the host first asks, the converter simply has not been listened to yet.
    const ULONGLONG lost = available_ - backlogFrames_;
    if (collected_) {
        ++counters_.overruns;
        counters_.framesDropped += lost;
    }
    next_ += lost;
    available_ = backlogFrames_;
    TrimLooped();
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
    const ULONGLONG queued = looped_.size() / frameBytes;
    for (ULONG f = 0; f < frames; ++f) {
        if (loopback_) {
            const bool played = f + queued >= available_;
            for (ULONG b = 0; b < frameBytes; ++b) {
                *out++ = played ? looped_.front() : 0;
                if (played)
                    looped_.pop_front();
            }
            continue;
        }
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

void CaptureStream::SetLoopback(bool on)
{
    loopback_ = on;
    looped_.clear();
}

void CaptureStream::Loop(const UCHAR *frames, ULONG frameCount, const PlaybackFormat &played)
{
    if (!loopback_ || !active_ || played.subslotBytes == 0 || played.subslotBytes > 4)
        return;
    const unsigned lowBits = 8 * format_.subslotBytes - format_.bitResolution;
    for (ULONG f = 0; f < frameCount; ++f, frames += played.FrameBytes()) {
        for (UCHAR c = 0; c < format_.channels; ++c) {
            ULONG value = 0;
            for (UCHAR b = 0; c < played.channels && b < played.subslotBytes; ++b)
                value |= ULONG(frames[c * played.subslotBytes + b]) << (8 * b);
            // The sample's top bytes, as the converter's input stage would take them.
            value <<= 8 * (4 - played.subslotBytes);
            value >>= 8 * (4 - format_.subslotBytes);
            value &= ~((ULONG(1) << lowBits) - 1);
            for (UCHAR b = 0; b < format_.subslotBytes; ++b)
                looped_.push_back(static_cast<UCHAR>(value >> (8 * b)));
        }
    }
}

void CaptureStream::LoopSilence(ULONG frameCount)
{
    if (loopback_ && active_)
        looped_.insert(looped_.end(), ULONGLONG(frameCount) * format_.FrameBytes(), 0);
}

// Once a tick has played and produced, no more played frames are kept than there are frames to
// deliver: the newest of those are the ones played.
void CaptureStream::TrimLooped()
{
    const ULONG frameBytes = format_.FrameBytes();
    const ULONGLONG limit = available_ * frameBytes;
    while (looped_.size() > limit)
        looped_.erase(looped_.begin(), looped_.begin() + frameBytes);
}

} // namespace devices
