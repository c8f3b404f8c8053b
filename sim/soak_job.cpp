#include "soak_job.h"

#include "driver_session.h"
#include "ntstatus_text.h"

#include "devices/rvd3_model.h"

#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>

namespace sim {
namespace {

constexpr double k100nsPerSecond = 1e7;
constexpr ULONG kDriftStepMs = 1000;
constexpr double kDriftStepPpm = 25;

enum class Episode { Duplex, Pauses, ClientStall, Render, Count };
const char *const kEpisodeNames[] = {"full duplex", "render with pauses", "render with a stall",
                                     "render"};

struct Totals {
    ULONGLONG runs[size_t(Episode::Count)] = {};
    ULONGLONG framesWritten = 0;
    ULONGLONG framesMissing = 0;
    ULONGLONG renderMismatches = 0;
    ULONGLONG framesRecorded = 0;
    ULONGLONG captureGaps = 0;
    ULONGLONG captureMismatches = 0;
    ULONGLONG underruns = 0;      // while the device was fed
    ULONGLONG pauseUnderruns = 0; // a paused stream lets the device run dry, as it should
    ULONGLONG overruns = 0;
    ULONGLONG failures = 0; // pins refused, state changes or streams failed
    double ppmLow = 0;
    double ppmHigh = 0;
};

class Soak {
public:
    Soak(host::Machine &machine, const SoakOptions &options, DriverSession &session,
         devices::Rvd3Model &device)
        : machine_(machine), session_(session), device_(device), random_(options.seed)
    {
    }

    // Runs one episode; what went wrong in it goes to `out`.
    void RunEpisode(Totals *totals, FILE *out);

private:
    ULONG Uniform(ULONG low, ULONG high)
    {
        return std::uniform_int_distribution<ULONG>(low, high)(random_);
    }
    void Count(NTSTATUS status, Totals *totals) { totals->failures += NT_SUCCESS(status) ? 0 : 1; }
    NTSTATUS Stream(ClientRun run, ULONGLONG from, ULONGLONG frames, Totals *totals)
    {
        run.renderFrameOffset = from;
        run.frames = frames;
        const ClientRunResult result = StreamClient(machine_, run);
        Count(result.capture, totals);
        return result.render;
    }

    host::Machine &machine_;
    DriverSession &session_;
    devices::Rvd3Model &device_;
    std::mt19937 random_;
};

void Soak::RunEpisode(Totals *totals, FILE *out)
{
    const auto episode = Episode(Uniform(0, ULONG(Episode::Count) - 1));
    const ULONG rate = devices::rvd3::kRates[Uniform(0, std::size(devices::rvd3::kRates) - 1)];
    const ULONG bits = 8 * Uniform(2, 4);
    const ClientFormat render{2, bits, rate};
    const ULONG packetFrames = rate / 100;
    const ULONGLONG frames = ULONGLONG(Uniform(2, 30)) * 100 * packetFrames;
    ++totals->runs[size_t(episode)];

    RenderChecker checker(render, 0, true);
    CaptureChecker captureChecker;
    {
        auto lock = session_.LockDevice();
        device_.AttachSink(&checker);
    }
    std::unique_ptr<KsPin> renderPin;
    std::unique_ptr<KsPin> capturePin;
    NTSTATUS status = session_.CreatePin(kWaveRenderPin, render, &renderPin);
    Count(status, totals);
    const ClientFormat capture{2, 24, rate};
    if (NT_SUCCESS(status) && episode == Episode::Duplex) {
        status = session_.CreatePin(kWaveCapturePin, capture, &capturePin);
        Count(status, totals);
        captureChecker.Reset(capture, {2, 4, 24});
        if (NT_SUCCESS(status))
            Count(capturePin->SetState(KSSTATE_RUN), totals);
    }
    if (NT_SUCCESS(status))
        status = renderPin->SetState(KSSTATE_RUN);
    Count(status, totals);
    devices::RenderCounters before;
    {
        auto lock = session_.LockDevice();
        before = device_.Render();
    }
    if (NT_SUCCESS(status)) {
        ClientRun run;
        run.render = renderPin.get();
        run.renderFormat = render;
        if (capturePin != nullptr) {
            run.capture = capturePin.get();
            run.captureFormat = capture;
            run.captureChecker = &captureChecker;
        }
        if (episode == Episode::Pauses) {
            NTSTATUS streamed = STATUS_PENDING;
            PKTHREAD client = machine_.StartThread("soak client", machine_.SystemProcess(), [&] {
                streamed = Stream(run, 0, frames, totals);
            });
            for (ULONG pause = Uniform(1, 3); pause != 0; --pause) {
                SleepMs(Uniform(200, 2000));
                Count(renderPin->SetState(KSSTATE_PAUSE), totals);
                SleepMs(Uniform(10, 500));
                Count(renderPin->SetState(KSSTATE_RUN), totals);
            }
            KeWaitForSingleObject(client, Executive, KernelMode, FALSE, nullptr);
            ObDereferenceObject(client);
            Count(streamed, totals);
        } else if (episode == Episode::ClientStall) {
            const ULONGLONG half = frames / packetFrames / 2 * packetFrames;
            Count(Stream(run, 0, half, totals), totals);
            SleepMs(Uniform(50, 1000)); // the client stalls: the driver plays silence meanwhile
            Count(Stream(run, half, frames - half, totals), totals);
        } else {
            Count(Stream(run, 0, frames, totals), totals);
        }
        WaitUntilPlayed(session_, checker, frames);
    }
    if (renderPin != nullptr)
        Count(renderPin->SetState(KSSTATE_STOP), totals);
    if (capturePin != nullptr)
        Count(capturePin->SetState(KSSTATE_STOP), totals);
    renderPin.reset();
    capturePin.reset();

    auto lock = session_.LockDevice();
    device_.AttachSink(nullptr);
    const devices::RenderCounters after = device_.Render();
    const ULONGLONG underruns = after.underruns - before.underruns;
    (episode == Episode::Pauses ? totals->pauseUnderruns : totals->underruns) += underruns;
    totals->overruns += after.overruns - before.overruns;
    const ULONGLONG missing = frames - std::min(frames, checker.FramesMatched());
    if (missing != 0 || checker.Mismatches() != 0 || captureChecker.Gaps() != 0 ||
        captureChecker.Mismatches() != 0)
        std::fprintf(out,
                     "  !! %s at %u Hz, %u bits, clock %+.0f ppm: %lu of %lu frame(s) missing, "
                     "%lu mismatch(es); capture %lu gap(s), %lu mismatch(es)\n",
                     kEpisodeNames[size_t(episode)], rate, bits, device_.ClockOffsetPpm(), missing,
                     frames, checker.Mismatches(), captureChecker.Gaps(),
                     captureChecker.Mismatches());
    totals->framesWritten += frames;
    totals->framesMissing += missing;
    totals->renderMismatches += checker.Mismatches();
    totals->framesRecorded += captureChecker.Frames();
    totals->captureGaps += captureChecker.Gaps();
    totals->captureMismatches += captureChecker.Mismatches();
}

} // namespace

bool RunSoakJob(host::Machine &machine, const SoakOptions &options, FILE *out)
{
    auto device = std::make_shared<devices::Rvd3Model>();
    DriverSession session(machine, QuenAudioPackage());
    host::DeviceNode *node = session.Plug(device);
    if (node == nullptr || node->state != host::DeviceState::Started ||
        session.Filter() == nullptr) {
        std::fprintf(out, "soak: the driver did not start the RV-D3: %s\n",
                     NtStatusText(node != nullptr ? node->problem : STATUS_NO_SUCH_DEVICE).c_str());
        return false;
    }
    std::fprintf(out, "soak: %.2f simulated hour(s), seed %u, device clock within +-%.0f ppm\n",
                 options.hours, options.seed, options.maxPpm);

    Totals totals;
    std::atomic<bool> running{true};
    PKTHREAD drift = machine.StartThread("clock drift", machine.SystemProcess(), [&] {
        std::mt19937 random(options.seed ^ 0x5eed);
        std::uniform_real_distribution<double> step(-kDriftStepPpm, kDriftStepPpm);
        double ppm = 0;
        while (running) {
            SleepMs(kDriftStepMs);
            ppm = std::clamp(ppm + step(random), -options.maxPpm, options.maxPpm);
            totals.ppmLow = std::min(totals.ppmLow, ppm);
            totals.ppmHigh = std::max(totals.ppmHigh, ppm);
            auto lock = session.LockDevice();
            device->SetClockOffsetPpm(ppm);
        }
    });

    Soak soak(machine, options, session, *device);
    const ULONGLONG start = machine.Clock().Now();
    const double seconds = options.hours * 3600;
    int lastTenth = 0;
    for (double elapsed = 0; elapsed < seconds;
         elapsed = (machine.Clock().Now() - start) / k100nsPerSecond) {
        soak.RunEpisode(&totals, out);
        const int tenth = int(elapsed * 10 / seconds);
        if (tenth > lastTenth) {
            lastTenth = tenth;
            std::fprintf(out, "  %.2f of %.2f hour(s)\n", elapsed / 3600, options.hours);
            std::fflush(out);
        }
    }
    running = false;
    KeWaitForSingleObject(drift, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(drift);
    session.CloseFilter();

    ULONGLONG runs = 0;
    for (size_t e = 0; e < size_t(Episode::Count); ++e) {
        std::fprintf(out, "  %-22s %lu run(s)\n", kEpisodeNames[e], totals.runs[e]);
        runs += totals.runs[e];
    }
    std::fprintf(out, "soak: %lu run(s); device clock between %+.0f and %+.0f ppm\n", runs,
                 totals.ppmLow, totals.ppmHigh);
    std::fprintf(out, "render: %lu frame(s) written, %lu missing, %lu mismatch(es)\n",
                 totals.framesWritten, totals.framesMissing, totals.renderMismatches);
    std::fprintf(out, "capture: %lu frame(s) recorded, %lu gap(s), %lu mismatch(es)\n",
                 totals.framesRecorded, totals.captureGaps, totals.captureMismatches);
    std::fprintf(out,
                 "device: %lu under-run(s) while fed, %lu over-run(s); %lu under-run(s) "
                 "during pauses\n",
                 totals.underruns, totals.overruns, totals.pauseUnderruns);
    std::fprintf(out, "refused or failed requests: %lu\n", totals.failures);
    return totals.framesMissing == 0 && totals.renderMismatches == 0 && totals.captureGaps == 0 &&
           totals.captureMismatches == 0 && totals.underruns == 0 && totals.overruns == 0 &&
           totals.failures == 0;
}

} // namespace sim
