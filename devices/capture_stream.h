// The input stage of an asynchronous capture endpoint. The device clock produces frames of a
// deterministic signal (a per-channel ramp, so that a test can check every sample it receives
// and see any frame that was lost); each IN packet carries the frames produced since the last
// one. Frames the host does not collect in time are lost once the backlog exceeds its capacity.
#pragma once

#include "playback_sink.h"

#include <deque>

#include <ntdef.h>

namespace devices {

struct CaptureFormat {
    UCHAR channels = 0;
    UCHAR subslotBytes = 0;
    UCHAR bitResolution = 0;

    ULONG FrameBytes() const { return static_cast<ULONG>(channels) * subslotBytes; }
};

// The container value of sample `frame` of `channel`: a bitResolution-bit counter that starts
// at channel << (bitResolution - 2) and rises by one per frame, left-justified in the subslot.
ULONG CaptureRampSample(ULONGLONG frame, UCHAR channel, const CaptureFormat &format);

struct CaptureCounters {
    ULONGLONG packets = 0;
    ULONGLONG framesProduced = 0;
    ULONGLONG framesDelivered = 0;
    ULONGLONG overruns = 0; // times frames were lost to a full backlog
    ULONGLONG framesDropped = 0;
};

class CaptureStream {
public:
    explicit CaptureStream(ULONG backlogFrames);

    // An alternate setting with this format was selected: frame numbering restarts at 0.
    void Start(const CaptureFormat &format);
    void Stop();
    bool Active() const { return active_; }

    // The device clock ticked `frames` frames.
    void Produce(ULONGLONG frames);
    // Fills one IN packet with at most maxLength bytes of whole frames; returns the length.
    ULONG Fill(UCHAR *data, ULONG maxLength);

    const CaptureCounters &Counters() const { return counters_; }

    // Loopback: the frames the output stage plays come back in place of the ramp, each sample
    // cut to this stream's resolution; frames older than the first played one are silence.
    void SetLoopback(bool on);
    void Loop(const UCHAR *frames, ULONG frameCount, const PlaybackFormat &played);
    void LoopSilence(ULONG frameCount);

private:
    void TrimLooped();

    const ULONG backlogFrames_;
    CaptureFormat format_;
    bool active_ = false;
    bool collected_ = false; // the host has asked for a packet since the start
    ULONGLONG next_ = 0;     // number of the next frame to deliver
    ULONGLONG available_ = 0;
    CaptureCounters counters_;
    bool loopback_ = false;
    std::deque<UCHAR> looped_; // the newest played frames, in this stream's format
};

} // namespace devices
