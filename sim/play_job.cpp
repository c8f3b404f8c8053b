#include "play_job.h"

#include "audio_files.h"
#include "driver_start.h"
#include "ntstatus_text.h"
#include "stream_plot.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace sim {
namespace {

constexpr ULONG kMonitorMs = 10;
constexpr double kFeedbackOne = 65536.0;

// Forwards what the DAC plays to the checker and, when asked, to a file.
class PlayedTee : public devices::PlaybackSink {
public:
    PlayedTee(RenderChecker &checker, AudioFileWriter &file) : checker_(checker), file_(file) {}
    void FormatChanged(const devices::PlaybackFormat &format) override
    {
        slotBytes_ = format.subslotBytes;
        checker_.FormatChanged(format);
    }
    void Played(const UCHAR *frames, ULONG frameCount) override
    {
        checker_.Played(frames, frameCount);
        file_.Write(frames, frameCount, slotBytes_);
    }
    void Silence(ULONG frameCount) override { checker_.Silence(frameCount); }

private:
    RenderChecker &checker_;
    AudioFileWriter &file_;
    ULONG slotBytes_ = 0;
};

struct Range {
    double low = 0;
    double high = 0;
    bool seen = false;
    void Add(double v)
    {
        low = seen ? std::min(low, v) : v;
        high = seen ? std::max(high, v) : v;
        seen = true;
    }
};

// The first streaming pin (a sink of the client's data or a source of it) of a direction.
bool FindStreamingPin(KsFilter &filter, bool capture, ULONG *pin)
{
    ULONG count = 0;
    if (!NT_SUCCESS(filter.PinCount(&count)))
        return false;
    for (ULONG p = 0; p < count; ++p) {
        ULONG flow = 0;
        ULONG communication = 0;
        if (NT_SUCCESS(filter.PinValue(p, KSPROPERTY_PIN_DATAFLOW, &flow)) &&
            NT_SUCCESS(filter.PinValue(p, KSPROPERTY_PIN_COMMUNICATION, &communication)) &&
            communication == KSPIN_COMMUNICATION_SINK &&
            flow == ULONG(capture ? KSPIN_DATAFLOW_OUT : KSPIN_DATAFLOW_IN)) {
            *pin = p;
            return true;
        }
    }
    return false;
}

// The format the pin's ranges give for `channels` at `rate`: the widest sample they allow.
bool CaptureFormatAt(KsFilter &filter, ULONG pin, ULONG channels, ULONG rate, ClientFormat *format)
{
    std::vector<UCHAR> result;
    if (!NT_SUCCESS(filter.Intersect(pin, PcmRange(channels, 8, 32, rate, rate), &result)) ||
        result.size() < sizeof(KSDATAFORMAT) + sizeof(WAVEFORMATEX))
        return false;
    WAVEFORMATEX wave;
    std::memcpy(&wave, result.data() + sizeof(KSDATAFORMAT), sizeof wave);
    *format = {wave.nChannels, wave.wBitsPerSample, wave.nSamplesPerSec};
    return true;
}

void Progress(FILE *out, bool bar, double done, double total, int *lastTenth)
{
    const double part = total > 0 ? std::min(done / total, 1.0) : 1.0;
    if (bar) {
        const int width = 40;
        const int filled = int(part * width);
        std::fprintf(out, "\r  [%s%s] %5.1f s of %.1f s", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), done, total);
        std::fflush(out);
        return;
    }
    const int tenth = int(part * 10);
    if (tenth > *lastTenth) {
        *lastTenth = tenth;
        std::fprintf(out, "  played %.1f s of %.1f s\n", done, total);
    }
}

} // namespace

bool RunPlayJob(host::Machine &machine, const std::string &device, const PlayOptions &options,
                FILE *out)
{
    std::string description;
    std::shared_ptr<devices::StreamingAudioDeviceModel> model =
        MakeStreamingDevice(device, &description, out);
    if (model == nullptr)
        return false;
    model->SetClockOffsetPpm(options.clockOffsetPpm);

    std::string error;
    AudioFileContents file;
    ClientFormat render{options.channels, options.bits, options.rate};
    FrameSource source = SourceFrame;
    ULONGLONG frames = ULONGLONG(options.seconds * options.rate);
    if (!options.input.empty()) {
        if (!ReadAudioFile(options.input, options.bits, &file, &error)) {
            std::fprintf(out, "quen-sim: %s\n", error.c_str());
            return false;
        }
        render = {file.channels, options.bits, file.rate};
        frames = file.frames.size() / render.BlockAlign();
        source = [&file](ULONGLONG frame, UCHAR *bytes, ULONG length) {
            const ULONGLONG at = frame * length;
            if (at + length <= file.frames.size())
                std::memcpy(bytes, file.frames.data() + at, length);
            else
                std::memset(bytes, 0, length);
        };
    }

    // The client writes whole packets; a file's last one is padded with silence.
    const ULONG packetFrames = render.rate * ClientRun().packetMs / 1000;
    if (packetFrames != 0)
        frames = (frames + packetFrames - 1) / packetFrames * packetFrames;

    std::unique_ptr<DriverSession> started = StartDriver(machine, model, description, out);
    if (started == nullptr)
        return false;
    DriverSession &session = *started;
    KsFilter *filter = session.Filter();
    ULONG renderPin = 0;
    ULONG capturePin = 0;
    if (filter == nullptr || !FindStreamingPin(*filter, false, &renderPin)) {
        std::fprintf(out, "quen-sim: the device's filter has no render pin\n");
        return false;
    }
    ClientFormat capture;
    const bool duplex = FindStreamingPin(*filter, true, &capturePin) &&
                        CaptureFormatAt(*filter, capturePin, 2, render.rate, &capture);

    std::unique_ptr<KsPin> renderHandle;
    std::unique_ptr<KsPin> captureHandle;
    NTSTATUS status = session.CreatePin(renderPin, render, &renderHandle);
    std::fprintf(out, "render pin %u: %u ch, %u-bit, %u Hz, %s: %s\n", renderPin, render.channels,
                 render.bits, render.rate,
                 options.input.empty() ? "test signal" : options.input.c_str(),
                 NtStatusName(status));
    if (!NT_SUCCESS(status))
        return false;
    if (duplex) {
        status = session.CreatePin(capturePin, capture, &captureHandle);
        std::fprintf(out, "capture pin %u: %u ch, %u-bit, %u Hz: %s\n", capturePin,
                     capture.channels, capture.bits, capture.rate, NtStatusName(status));
        if (!NT_SUCCESS(status))
            return false;
    } else {
        std::fprintf(out, "capture: the device records nothing at this rate\n");
    }
    std::fprintf(out, "device clock: %+.1f ppm against the bus; %.1f s of audio\n",
                 options.clockOffsetPpm, double(frames) / render.rate);

    RenderChecker renderChecker(render, 0, true, source);
    CaptureChecker captureChecker;
    captureChecker.Reset(capture,
                         {UCHAR(capture.channels), UCHAR(capture.bits / 8), UCHAR(capture.bits)});
    AudioFileWriter played;
    AudioFileWriter recorded;
    if ((!options.playedFile.empty() &&
         !played.Open(options.playedFile, render.rate, render.channels, 32, &error)) ||
        (duplex && !options.recordedFile.empty() &&
         !recorded.Open(options.recordedFile, capture.rate, capture.channels, capture.bits,
                        &error))) {
        std::fprintf(out, "quen-sim: %s\n", error.c_str());
        return false;
    }
    PlayedTee tee(renderChecker, played);
    {
        auto lock = session.LockDevice();
        model->AttachSink(&tee);
    }

    ClientRun run;
    run.render = renderHandle.get();
    run.renderFormat = render;
    run.source = source;
    run.frames = frames;
    if (duplex) {
        run.capture = captureHandle.get();
        run.captureFormat = capture;
        run.captureChecker = &captureChecker;
        run.captured = [&](const UCHAR *bytes, ULONG length) {
            recorded.Write(bytes, length / capture.BlockAlign(), capture.bits / 8);
        };
    }
    if (duplex)
        captureHandle->SetState(KSSTATE_RUN);
    renderHandle->SetState(KSSTATE_RUN);

    // The monitor samples the device and the client's position while the client streams.
    std::atomic<bool> streaming{true};
    std::vector<StreamSample> samples;
    Range feedback, fifo, latency;
    double latencySum = 0;
    ULONGLONG latencyCount = 0;
    int lastTenth = 0;
    auto sample = [&](double seconds) {
        ULONGLONG playedFrames;
        StreamSample s{seconds, 0, 0};
        {
            auto lock = session.LockDevice();
            s.feedback = model->FeedbackValue() / kFeedbackOne;
            s.fifoFrames = model->RenderFifoLevel();
            playedFrames = renderChecker.FramesMatched() + renderChecker.Mismatches();
        }
        if (model->RenderPlaying()) {
            feedback.Add(s.feedback);
            fifo.Add(s.fifoFrames);
        }
        samples.push_back(s);
        KSAUDIO_POSITION position;
        if (NT_SUCCESS(renderHandle->Position(&position)) && position.PlayOffset != 0) {
            const double ms = double(position.WriteOffset - position.PlayOffset) /
                              render.BlockAlign() * 1000.0 / render.rate;
            latency.Add(ms);
            latencySum += ms;
            ++latencyCount;
        }
        Progress(out, options.progressBar, double(playedFrames) / render.rate,
                 double(frames) / render.rate, &lastTenth);
    };
    PKTHREAD monitor = machine.StartThread("monitor", machine.SystemProcess(), [&] {
        for (ULONG tick = 0; streaming; ++tick) {
            sample(tick * kMonitorMs / 1000.0);
            SleepMs(kMonitorMs);
        }
    });
    const ClientRunResult result = StreamClient(machine, run);
    WaitUntilPlayed(session, renderChecker, frames);
    streaming = false;
    KeWaitForSingleObject(monitor, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(monitor);
    if (options.progressBar)
        std::fprintf(out, "\n");
    renderHandle->SetState(KSSTATE_STOP);
    if (duplex)
        captureHandle->SetState(KSSTATE_STOP);

    devices::RenderCounters counters;
    devices::CaptureCounters deviceCapture;
    {
        auto lock = session.LockDevice();
        model->AttachSink(nullptr);
        counters = model->Render();
        deviceCapture = model->Capture();
    }
    renderHandle.reset();
    captureHandle.reset();
    session.CloseFilter();

    std::fprintf(out, "client: render %s, capture %s\n", NtStatusName(result.render),
                 duplex ? NtStatusName(result.capture) : "none");
    std::fprintf(out,
                 "device: %lu under-run(s), %lu over-run(s) playing; %lu over-run(s) "
                 "recording\n",
                 counters.underruns, counters.overruns, deviceCapture.overruns);
    std::fprintf(out, "feedback: %.4f to %.4f frames per bus interval\n", feedback.low,
                 feedback.high);
    std::fprintf(out, "device FIFO: %.0f to %.0f frames (%.2f to %.2f ms)\n", fifo.low, fifo.high,
                 fifo.low * 1000 / render.rate, fifo.high * 1000 / render.rate);
    std::fprintf(out, "latency: %.1f ms on average, %.1f ms at most (written, not yet played)\n",
                 latencyCount ? latencySum / latencyCount : 0.0, latency.high);

    const bool renderExact = NT_SUCCESS(result.render) && renderChecker.Mismatches() == 0 &&
                             renderChecker.FramesMatched() == frames;
    const bool captureExact =
        !duplex || (NT_SUCCESS(result.capture) && captureChecker.Mismatches() == 0 &&
                    captureChecker.Gaps() == 0 && captureChecker.Frames() >= frames);
    std::fprintf(out,
                 "render: %lu of %lu frame(s) arrived once, in order, unchanged; "
                 "%lu mismatch(es): %s\n",
                 renderChecker.FramesMatched(), frames, renderChecker.Mismatches(),
                 renderExact ? "bit-perfect" : "NOT bit-perfect");
    if (duplex)
        std::fprintf(out,
                     "capture: %lu frame(s) recorded, %lu gap(s), %lu mismatch(es) "
                     "against the device's signal: %s\n",
                     captureChecker.Frames(), captureChecker.Gaps(), captureChecker.Mismatches(),
                     captureExact ? "bit-perfect" : "NOT bit-perfect");
    if (!options.plotFile.empty()) {
        if (WriteStreamPlot(options.plotFile, description, samples, &error))
            std::fprintf(out, "plot: %s\n", options.plotFile.c_str());
        else
            std::fprintf(out, "plot: %s\n", error.c_str());
    }
    return renderExact && captureExact && counters.underruns == 0 && counters.overruns == 0;
}

} // namespace sim
