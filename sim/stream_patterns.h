// What the tests stream and how they check it: a render source whose every byte is a function of
// its frame number and position, the device frames the engine must make of it, a playback sink
// that compares what the device plays with them, and a checker for captured frames against the
// device's ramp.
#pragma once

#include "devices/capture_stream.h"
#include "devices/playback_sink.h"

#include <ntdef.h>

#include <functional>

namespace sim {

struct ClientFormat {
    ULONG channels = 2;
    ULONG bits = 16;
    ULONG rate = 48000;

    ULONG BlockAlign() const { return channels * (bits / 8); }
};

// Render source frame `frame` into `bytes` bytes: every byte a function of the frame number and
// its place, so that a lost, repeated or shifted frame shows.
void SourceFrame(ULONGLONG frame, UCHAR *out, ULONG bytes);

// A render source: client frame `frame` into `bytes` bytes.
using FrameSource = std::function<void(ULONGLONG frame, UCHAR *out, ULONG bytes)>;

// Compares every frame the device plays with the source converted to the device's container
// (deviceBits, or the container the device announces when it is 0):
// each sample's bytes at the top of its slot, zero bytes below. Frames of silence the engine put
// in for a starving stream are counted apart when allowed.
class RenderChecker : public devices::PlaybackSink {
public:
    RenderChecker(const ClientFormat &client, ULONG deviceBits, bool allowSilence = false,
                  FrameSource source = SourceFrame)
        : client_(client), deviceBits_(deviceBits), allowSilence_(allowSilence),
          source_(std::move(source))
    {
    }
    void FormatChanged(const devices::PlaybackFormat &format) override;
    void Played(const UCHAR *frames, ULONG frameCount) override;
    void Silence(ULONG frameCount) override { deviceSilence_ += frameCount; }

    ULONGLONG FramesMatched() const { return next_ - mismatches_; }
    ULONGLONG Mismatches() const { return mismatches_; }
    ULONGLONG EngineSilenceFrames() const { return engineSilence_; }
    ULONGLONG DeviceSilenceFrames() const { return deviceSilence_; }

private:
    bool Matches(const UCHAR *frame, ULONGLONG index);
    bool IsSilence(const UCHAR *frame) const;

    const ClientFormat client_;
    ULONG deviceBits_;
    const bool allowSilence_;
    const FrameSource source_;
    ULONG frameBytes_ = 0;
    UCHAR expected_[64] = {};
    ULONGLONG next_ = 0;
    ULONGLONG mismatches_ = 0;
    ULONGLONG engineSilence_ = 0;
    ULONGLONG deviceSilence_ = 0;
};

// Follows captured client frames through the device's ramp: consecutive frames must be
// consecutive ramp frames; a jump to a later ramp frame is a gap (frames lost), anything else a
// mismatch.
class CaptureChecker {
public:
    void Reset(const ClientFormat &client, const devices::CaptureFormat &device);
    void Check(const UCHAR *frames, ULONG bytes);

    ULONGLONG Frames() const { return frames_; }
    ULONGLONG Gaps() const { return gaps_; }
    ULONGLONG Mismatches() const { return mismatches_; }

private:
    bool Matches(const UCHAR *frame, ULONGLONG index) const;
    // The ramp frame number a client frame shows on its first channel.
    ULONGLONG FrameOf(const UCHAR *frame) const;

    ClientFormat client_;
    devices::CaptureFormat device_;
    bool started_ = false;
    ULONGLONG expected_ = 0;
    ULONGLONG frames_ = 0;
    ULONGLONG gaps_ = 0;
    ULONGLONG mismatches_ = 0;
};

} // namespace sim
