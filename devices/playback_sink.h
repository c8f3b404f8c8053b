// Where a device model's output stage delivers what it plays: the frames it took from its FIFO,
// byte for byte as the host sent them (PCM samples, or DSD bytes in native DSD mode), and the
// silence it had to insert when the FIFO ran dry.
#pragma once

#include "descriptor_builder.h"

#include <ntdef.h>

#include <vector>

namespace devices {

struct PlaybackFormat {
    ULONG sampleRate = 0;
    UCHAR channels = 0;
    UCHAR subslotBytes = 0;
    UCHAR bitResolution = 0;
    bool nativeDsd = false; // each 4-byte slot carries four DSD bytes of its channel

    ULONG FrameBytes() const { return static_cast<ULONG>(channels) * subslotBytes; }
};

class PlaybackSink {
public:
    virtual ~PlaybackSink() = default;
    // A stream begins (or its format changed) before the frames that follow.
    virtual void FormatChanged(const PlaybackFormat &format) = 0;
    // Frames taken from the FIFO, frameCount x FrameBytes() bytes.
    virtual void Played(const UCHAR *frames, ULONG frameCount) = 0;
    // Frames of silence the output stage produced because the FIFO was empty.
    virtual void Silence(ULONG frameCount) = 0;
};

// Keeps everything, for tests that compare it with what they sent.
class RecordingSink : public PlaybackSink {
public:
    struct Segment {
        PlaybackFormat format;
        size_t firstByte;        // into Bytes()
        ULONGLONG silenceFrames; // inserted while this format was current
    };

    void FormatChanged(const PlaybackFormat &format) override;
    void Played(const UCHAR *frames, ULONG frameCount) override;
    void Silence(ULONG frameCount) override;

    const Bytes &PlayedBytes() const { return bytes_; }
    const std::vector<Segment> &Segments() const { return segments_; }
    ULONGLONG SilenceFrames() const;
    // The bytes of one channel of a native DSD segment, in playing order.
    Bytes DsdChannelBytes(size_t segment, UCHAR channel) const;

private:
    Bytes bytes_;
    std::vector<Segment> segments_;
};

} // namespace devices
