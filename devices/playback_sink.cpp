#include "playback_sink.h"

namespace devices {

void RecordingSink::FormatChanged(const PlaybackFormat &format)
{
    segments_.push_back({format, bytes_.size(), 0});
}

void RecordingSink::Played(const UCHAR *frames, ULONG frameCount)
{
    const size_t frameBytes = segments_.empty() ? 0 : segments_.back().format.FrameBytes();
    bytes_.insert(bytes_.end(), frames, frames + frameCount * frameBytes);
}

void RecordingSink::Silence(ULONG frameCount)
{
    if (!segments_.empty())
        segments_.back().silenceFrames += frameCount;
}

ULONGLONG RecordingSink::SilenceFrames() const
{
    ULONGLONG total = 0;
    for (const Segment &segment : segments_)
        total += segment.silenceFrames;
    return total;
}

Bytes RecordingSink::DsdChannelBytes(size_t segment, UCHAR channel) const
{
    const Segment &s = segments_.at(segment);
    const size_t end =
        segment + 1 < segments_.size() ? segments_[segment + 1].firstByte : bytes_.size();
    const size_t frameBytes = s.format.FrameBytes();
    const size_t slot = s.format.subslotBytes;
    Bytes channelBytes;
    for (size_t frame = s.firstByte; frame + frameBytes <= end; frame += frameBytes) {
        const auto first = bytes_.begin() + static_cast<std::ptrdiff_t>(frame + channel * slot);
        channelBytes.insert(channelBytes.end(), first, first + static_cast<std::ptrdiff_t>(slot));
    }
    return channelBytes;
}

} // namespace devices
