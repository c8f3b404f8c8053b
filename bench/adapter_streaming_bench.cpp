// What streaming through the adapter costs: render and capture together through the engine
// into the RV-D3 model, driven by the fake port as the WaveCyclic stream drives them, reported
// as simulated seconds per real second.
#include "adapter_harness/adapter_rig.h"
#include "devices/rvd3_model.h"
#include "kernel/machine.h"

#include <benchmark/benchmark.h>

#include <chrono>

namespace {

using namespace adapter_harness;

// Simulated time per benchmark iteration.
constexpr ULONGLONG kIterationMs = 10000;

void RenderAndCapture(benchmark::State &state)
{
    const ClientFormat format{2, ULONG(state.range(1)), ULONG(state.range(0))};
    host::Machine machine;
    double simulated = 0;
    double real = 0;
    {
        host::ThreadAttachment attach(machine, "benchmark");
        AdapterRig rig(machine, std::make_shared<devices::Rvd3Model>());
        if (!NT_SUCCESS(rig.Init()) || !NT_SUCCESS(rig.Miniport().Open(false, format)) ||
            !NT_SUCCESS(rig.Miniport().Open(true, format)) ||
            !NT_SUCCESS(rig.Miniport().Run(false)) || !NT_SUCCESS(rig.Miniport().Run(true))) {
            state.SkipWithError("the streams did not start");
            return;
        }
        for (auto _ : state) {
            const auto start = std::chrono::steady_clock::now();
            rig.Play(kIterationMs);
            real += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            simulated += kIterationMs / 1000.0;
        }
    }
    machine.PowerOff();
    state.counters["simulated_s_per_s"] = simulated / real;
}
BENCHMARK(RenderAndCapture)
    ->Args({48000, 24})
    ->Args({384000, 32})
    ->ArgNames({"rate", "bits"})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();
