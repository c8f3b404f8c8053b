// The output stage of an asynchronous render endpoint: packets from the host fill a FIFO, the
// device's own clock drains it. Playback begins once the FIFO holds the target fill; when it
// runs dry the stage plays silence (an underrun) and waits for the target fill again. Frames
// that do not fit are dropped (an overrun). Played frames and inserted silence go to the sink.
#pragma once

#include "frame_fifo.h"
#include "playback_sink.h"

namespace devices {

struct RenderCounters {
    ULONGLONG packets = 0;
    ULONGLONG framesReceived = 0;
    ULONGLONG framesPlayed = 0;
    ULONGLONG silenceFrames = 0;    // inserted after playback had begun
    ULONGLONG underruns = 0;        // times the FIFO ran dry while playing
    ULONGLONG overruns = 0;         // packets that did not fit whole
    ULONGLONG framesDropped = 0;    // frames of those packets that were lost
    ULONGLONG malformedPackets = 0; // not a whole number of frames, or bad framing
    ULONG fifoPeak = 0;             // highest level after a packet, since the stream started
    ULONG fifoLow = 0;              // lowest level after playing, since playback began
};

class RenderStream {
public:
    RenderStream(ULONG capacityFrames, ULONG maxFrameBytes);

    void AttachSink(PlaybackSink *sink) { sink_ = sink; }

    // An alternate setting with this format was selected (or the format changed): the FIFO
    // empties and fills again up to targetFrames before playing.
    void Start(const PlaybackFormat &format, ULONG targetFrames);
    void Stop();
    bool Active() const { return state_ != State::Stopped; }
    bool Playing() const { return state_ == State::Playing; }

    // One packet of whole frames; a trailing partial frame is dropped and counted.
    void Receive(const UCHAR *data, ULONG length);
    // The device clock ticked `frames` frames.
    void Play(ULONGLONG frames);

    ULONG Level() const { return fifo_.Level(); }
    ULONG TargetFrames() const { return target_; }
    const RenderCounters &Counters() const { return counters_; }
    void CountMalformedPacket() { ++counters_.malformedPackets; }

private:
    enum class State { Stopped, Priming, Playing, Refilling };

    void Announce();
    void Silence(ULONGLONG frames);

    FrameFifo fifo_;
    PlaybackSink *sink_ = nullptr;
    PlaybackFormat format_;
    State state_ = State::Stopped;
    ULONG target_ = 0;
    bool announced_ = false;
    RenderCounters counters_;
};

} // namespace devices
