// What the emulated port class costs, on the test wave driver (tests/portcls) behind the
// PnP manager, driven by the KS client:
// - one 10 ms period of a render stream: the device's tick DPC, the port's Notify, the service
//   DPC with GetPosition and the CopyTo of one 10 ms packet (48 kHz 16-bit stereo), the
//   packet's completion and the client's next packet;
// - one property request round trip: from the client's request through the dispatcher to a
//   port handler (KSPROPERTY_PIN_DATAFLOW) and to a miniport node handler (volume).
#include "devices/rvd3_model.h"
#include "kernel/machine.h"
#include "ks_client.h"
#include "pnp/pnp_manager.h"
#include "portcls/test_wave_driver.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

using namespace portcls_tests;

constexpr ULONG kPacketBytes = kMaxRate / 100 * 4;

// A machine with the test wave driver started on the RV-D3 and its filter open.
struct Bench {
    TestLog log;
    host::Machine machine;
    std::unique_ptr<host::ThreadAttachment> attach;
    std::unique_ptr<sim::KsFilter> filter;

    Bench()
    {
        SetLog(&log);
        attach = std::make_unique<host::ThreadAttachment>(machine, "bench");
        host::PnpManager &pnp = host::PnpManager::Of(machine);
        host::DriverPackage package;
        package.service = u"quen_test_wave";
        package.image = u"quen_test_wave.sys";
        package.entry = TestWaveDriverEntry;
        package.hardwareIds = {u"USB\\VID_2FC3&PID_D003"};
        (void)pnp.Install(package);
        pnp.Plug(1, std::make_shared<devices::Rvd3Model>());
        sim::KsFilter::Open(sim::KsFilter::Interfaces(KSCATEGORY_AUDIO).at(0), &filter);
    }
    ~Bench()
    {
        filter.reset();
        attach.reset();
        machine.PowerOff();
        SetLog(nullptr);
    }
};

void BM_RenderPeriod(benchmark::State &state)
{
    Bench bench;
    std::unique_ptr<sim::KsPin> pin;
    bench.filter->CreatePin(kRenderPin, sim::PcmFormat(2, kMaxRate, 16), &pin);
    pin->SetState(KSSTATE_RUN);
    const ULONG packets = 1000;
    for (auto _ : state)
        pin->Stream(false, kPacketBytes, packets, 3, [](ULONG index, UCHAR *bytes, ULONG length) {
            std::memset(bytes, int(index), length);
        });
    state.SetItemsProcessed(state.iterations() * packets);
    state.SetLabel("items: 10 ms periods");
}
BENCHMARK(BM_RenderPeriod)->Unit(benchmark::kMillisecond);

void BM_PortPropertyRoundTrip(benchmark::State &state)
{
    Bench bench;
    ULONG flow = 0;
    for (auto _ : state)
        bench.filter->PinValue(kRenderPin, KSPROPERTY_PIN_DATAFLOW, &flow);
    benchmark::DoNotOptimize(flow);
}
BENCHMARK(BM_PortPropertyRoundTrip);

void BM_NodePropertyRoundTrip(benchmark::State &state)
{
    Bench bench;
    KSNODEPROPERTY_AUDIO_CHANNEL property = {};
    property.NodeProperty.Property.Set = KSPROPSETID_Audio;
    property.NodeProperty.Property.Id = KSPROPERTY_AUDIO_VOLUMELEVEL;
    property.NodeProperty.Property.Flags = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_TOPOLOGY;
    property.NodeProperty.NodeId = kVolumeNode;
    LONG volume = 0;
    for (auto _ : state)
        bench.filter->Property(property.NodeProperty.Property, sizeof property, &volume,
                               sizeof volume);
    benchmark::DoNotOptimize(volume);
}
BENCHMARK(BM_NodePropertyRoundTrip);

} // namespace

BENCHMARK_MAIN();
