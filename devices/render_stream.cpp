#include "render_stream.h"

#include <algorithm>

namespace devices {

RenderStream::RenderStream(ULONG capacityFrames, ULONG maxFrameBytes)
    : fifo_(capacityFrames, maxFrameBytes)
{
}

void RenderStream::Start(const PlaybackFormat &format, ULONG targetFrames)
{
    format_ = format;
    fifo_.Reset(format.FrameBytes());
    target_ = std::min(std::max<ULONG>(targetFrames, 1), fifo_.CapacityFrames());
    state_ = State::Priming;
    announced_ = false;
    counters_.fifoPeak = 0;
    counters_.fifoLow = 0;
}

void RenderStream::Stop()
{
    state_ = State::Stopped;
    fifo_.Reset(fifo_.FrameBytes());
}

void RenderStream::Announce()
{
    if (!announced_ && sink_)
        sink_->FormatChanged(format_);
    announced_ = true;
}

void RenderStream::Receive(const UCHAR *data, ULONG length)
{
    if (state_ == State::Stopped)
        return;
    ++counters_.packets;
    const ULONG frameBytes = format_.FrameBytes();
    if (frameBytes == 0 || length % frameBytes != 0)
        ++counters_.malformedPackets;
    const ULONG frames = frameBytes ? length / frameBytes : 0;
    counters_.framesReceived += frames;
    const ULONG accepted = fifo_.Push(data, frames);
    if (accepted < frames) {
        ++counters_.overruns;
        counters_.framesDropped += frames - accepted;
    }
    counters_.fifoPeak = std::max(counters_.fifoPeak, fifo_.Level());
    if ((state_ == State::Priming || state_ == State::Refilling) && fifo_.Level() >= target_) {
        if (state_ == State::Priming)
            counters_.fifoLow = fifo_.Level();
        state_ = State::Playing;
    }
}

void RenderStream::Silence(ULONGLONG frames)
{
    counters_.silenceFrames += frames;
    Announce();
    while (sink_ && frames) {
        const ULONG piece = static_cast<ULONG>(std::min<ULONGLONG>(frames, 0x7FFFFFFF));
        sink_->Silence(piece);
        frames -= piece;
    }
}

void RenderStream::Play(ULONGLONG frames)
{
    if (frames == 0)
        return;
    if (state_ == State::Refilling) {
        Silence(frames);
        return;
    }
    if (state_ != State::Playing)
        return;
    const ULONG wanted = static_cast<ULONG>(std::min<ULONGLONG>(frames, fifo_.Level()));
    if (wanted)
        Announce();
    const ULONG played = fifo_.Pop(wanted, [this](const UCHAR *piece, ULONG count) {
        if (sink_)
            sink_->Played(piece, count);
    });
    counters_.framesPlayed += played;
    counters_.fifoLow = std::min(counters_.fifoLow, fifo_.Level());
    if (played < frames) {
        ++counters_.underruns;
        state_ = State::Refilling;
        Silence(frames - played);
    }
}

} // namespace devices
