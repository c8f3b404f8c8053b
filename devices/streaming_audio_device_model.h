// An audio device model that streams: one sample clock (a configurable offset from the bus
// clock, and a lock time after every rate change during which it reads invalid and stands
// still), an asynchronous render path (FIFO, optional explicit feedback endpoint, optional
// length-prefixed packet framing) and an asynchronous capture path (which may also be the
// implicit feedback source of the render path). Selecting an alternate setting restarts the
// path it belongs to. Moving through any number of bus intervals costs one step.
//
// Once plugged into a host controller the model is driven from the controller's thread under
// its lock: take host::UsbHostController::Lock() to change the clock offset or read counters
// (and a sink's contents) while the controller runs.
#pragma once

#include "capture_stream.h"
#include "render_stream.h"
#include "sample_clock.h"
#include "usb_audio_device_model.h"

#include <optional>

namespace devices {

enum class FeedbackFormat {
    Samples16_16, // 4 bytes: frames per bus interval, 16.16 (high speed)
    Samples10_14, // 3 bytes: frames per bus interval, 10.14 (full speed)
};

// How render packets carry their frames.
enum class PacketFraming {
    Plain,
    LengthPrefixed, // a 32-bit little-endian payload length, then the payload
};

// The stream format of one alternate setting.
struct AlternateFormat {
    UCHAR alternateSetting;
    UCHAR channels;
    UCHAR subslotBytes;
    UCHAR bitResolution;
};

struct RenderPath {
    UCHAR interfaceNumber = 0;
    UCHAR dataEndpoint = 0;     // OUT endpoint address
    UCHAR feedbackEndpoint = 0; // IN address of the explicit feedback endpoint, 0 for none
    FeedbackFormat feedbackFormat = FeedbackFormat::Samples16_16;
    PacketFraming framing = PacketFraming::Plain;
    std::vector<AlternateFormat> alternates;
};

struct CapturePath {
    UCHAR interfaceNumber = 0;
    UCHAR dataEndpoint = 0; // IN endpoint address
    std::vector<AlternateFormat> alternates;
};

struct StreamingPaths {
    std::optional<RenderPath> render;
    std::optional<CapturePath> capture;
};

struct StreamingOptions {
    double clockOffsetPpm = 0;        // the sample clock against the bus clock
    ULONG clockLockMs = 0;            // bus time the clock stays invalid after a rate change
    ULONG fifoFrames = 8192;          // render FIFO capacity
    ULONG targetFillUs = 2000;        // FIFO fill playback starts at and feedback steers to
    ULONG captureBacklogFrames = 512; // capture frames kept for the host
};

class StreamingAudioDeviceModel : public UsbAudioDeviceModel {
public:
    void IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                        ULONG length) override;
    ULONG IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                        ULONG maxLength) override;
    void AdvanceTo(ULONGLONG interval) override;

    // The sink receives every frame the render path plays (none attached: frames are only
    // counted). The sink must outlive the model or be detached with nullptr.
    void AttachSink(PlaybackSink *sink) { tap_.sink = sink; }
    // Loopback mode: the capture path returns what the output stage plays, in place of its ramp.
    void SetLoopback(bool on) { capture_.SetLoopback(on); }
    void SetClockOffsetPpm(double ppm) { clock_.SetOffsetPpm(ppm); }
    double ClockOffsetPpm() const { return clock_.OffsetPpm(); }

    ULONG SampleRate() const { return clock_.Rate(); }
    bool ClockValid() const { return Now() >= validAt_; }
    bool RenderNativeDsd() const { return nativeDsd_; }
    // What the feedback endpoint would report now: frames per bus interval, 16.16 (the
    // clock's rate corrected toward the FIFO's target fill).
    ULONG FeedbackValue() const;

    const RenderCounters &Render() const { return render_.Counters(); }
    ULONG RenderFifoLevel() const { return render_.Level(); }
    ULONG RenderTargetFrames() const { return render_.TargetFrames(); }
    bool RenderPlaying() const { return render_.Playing(); }
    const CaptureCounters &Capture() const { return capture_.Counters(); }

protected:
    StreamingAudioDeviceModel(host::UsbSpeed speed, DescriptorSet descriptors, StreamingPaths paths,
                              const StreamingOptions &options, ULONG initialRate);

    // The clock's rate changed (a write to a frequency control): the clock relocks and the
    // streams restart in the new format.
    void SetSampleRate(ULONG rateHz);
    void SetRenderNativeDsd(bool nativeDsd);

    void OnAlternateSetting(UCHAR interfaceNumber, UCHAR alternateSetting) override;

    // Controls of a typical function, wired to the streaming state.
    // Audio Class 2.0 clock source frequency: CUR read/write, RANGE of discrete rates; a write
    // sets the model's rate.
    AudioControl &AddClockFrequencyControl(UCHAR clockId, const std::vector<ULONG> &rates,
                                           ULONG initialRate);
    // Audio Class 2.0 clock validity: CUR read only, false during the lock time.
    void AddClockValidityControl(UCHAR clockId);
    // Audio Class 1.0 endpoint sampling frequency (3 bytes, GET_MIN/MAX/RES from the first
    // subrange); a write sets the model's rate.
    void AddEndpointFrequencyControl(UCHAR endpoint, std::vector<ControlSubrange> rates);
    void AddMuteControl(UCHAR unitId, UCHAR channel);
    // Volume in 1/256 dB; written values are rounded to the range's steps, and 0x8000
    // (silence) is accepted too.
    void AddVolumeControl(UCHAR unitId, UCHAR channel, const ControlSubrange &range);

    static std::vector<ControlSubrange> DiscreteRanges(const std::vector<ULONG> &rates);

private:
    ULONGLONG Now() const
    {
        return advancedTo_ > RequestInterval() ? advancedTo_ : RequestInterval();
    }
    void StartRender(UCHAR alternateSetting);
    void StartCapture(UCHAR alternateSetting);
    void ReceiveRenderPacket(const UCHAR *data, ULONG length);

    const StreamingPaths paths_;
    const StreamingOptions options_;
    SampleClock clock_;
    // Between the output stage and the attached sink: feeds the capture path in loopback mode.
    struct LoopbackTap : PlaybackSink {
        explicit LoopbackTap(CaptureStream &capture) : capture(capture) {}
        void FormatChanged(const PlaybackFormat &changed) override
        {
            format = changed;
            if (sink != nullptr)
                sink->FormatChanged(changed);
        }
        void Played(const UCHAR *frames, ULONG frameCount) override
        {
            capture.Loop(frames, frameCount, format);
            if (sink != nullptr)
                sink->Played(frames, frameCount);
        }
        void Silence(ULONG frameCount) override
        {
            capture.LoopSilence(frameCount);
            if (sink != nullptr)
                sink->Silence(frameCount);
        }
        CaptureStream &capture;
        PlaybackFormat format;
        PlaybackSink *sink = nullptr;
    };

    RenderStream render_;
    CaptureStream capture_;
    LoopbackTap tap_{capture_};
    bool nativeDsd_ = false;
    ULONGLONG advancedTo_ = 0;
    ULONGLONG validAt_ = 0;
};

} // namespace devices
