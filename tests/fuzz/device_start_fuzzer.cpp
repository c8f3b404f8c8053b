// libFuzzer target: one input is one device (fuzz_input.h). It is plugged into a host controller
// of its own, the driver's device object is attached above its PDO, and device start runs as the
// adapter runs it (Initialize, SelectConfiguration, BuildFilter), then the entities' requests
// (clock rate and validity, volume ranges, volume, mute) and format selection in both directions.
// A device may be refused with any status; what must never happen is a sanitizer finding, a
// verifier report, or anything of the input left in the machine afterwards (pool blocks, objects,
// kernel handles, set timers): those abort, so that libFuzzer keeps the input.
//
// One machine serves every input (booting one costs more than most inputs); the controller, the
// device, the driver object and everything the driver made go with the input, so the next input
// meets the machine as the first did.
#include "fuzz_device_model.h"
#include "fuzz_input.h"
#include "one_cpu.h"

#include "function/usb_audio_clock_selector.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_filter.h"
#include "kernel/emulated_thread.h"
#include "kernel/io_manager.h"
#include "kernel/machine.h"
#include <wdm/rtl.h>
#include "usb/usb_audio_cl.h"
#include "usb/usb_host_controller.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace fuzz {

namespace {

constexpr int kPort = 1;

struct Format {
    ULONG channels;
    ULONG bits;
    ULONG rate;
};

[[noreturn]] void Fail(const char *what)
{
    std::fprintf(stderr, "device start fuzzer: %s\n", what);
    std::abort();
}

// The formats tried on one direction: the edges of what the interface reports, and the common
// ones whether it reports them or not.
void SelectFormats(CUSBAudioCL &audio, AudioStreamingInterface *stream, ULONG direction,
                   ULONG transferMs)
{
    if (stream == nullptr)
        return;
    ULONG maxChannels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    if (NT_SUCCESS(audio.GetStreamCapabilities(stream, &maxChannels, &minBits, &maxBits, &minRate,
                                               &maxRate)) &&
        !audio.IsAudioClass2) {
        ULONG lower = minRate, upper = maxRate;
        audio.GetClass1RateBounds(stream, &lower, &upper);
    }
    const Format formats[] = {
        {maxChannels, maxBits, maxRate},
        {maxChannels, minBits, minRate},
        {2, 16, 44100},
        {2, 24, 48000},
        {2, 32, 192000},
        {1, 16, 8000},
    };
    for (const Format &f : formats) {
        if (!NT_SUCCESS(audio.SelectFormatForDirection(direction, f.channels, f.bits, f.rate)))
            continue;
        ULONG channels = 0, bits = 0, bytes = 0;
        audio.SelectStreamingFormat(direction, f.channels, f.bits, f.rate, transferMs, &channels,
                                    &bits, &bytes);
    }
    ULONG channels = 0, bits = 0, nominal = 0, bytes = 0;
    LONG below = 0, above = 0;
    audio.SelectStreamingFormatImplicit(direction, 2, 24, 48000, transferMs, &channels, &bits,
                                        &nominal, &below, &above, &bytes);
    audio.SelectStreamingFormat(direction, 0, 0, 0, transferMs, &channels, &bits, &bytes);
}

// What the adapter and the miniport ask of the entities once the device has started: names and
// sources, the clocks' rate and validity, the feature units' volume ranges, volumes and mute.
void QueryEntities(CUSBAudioCL &audio)
{
    for (CUSBAudioEntity *entity = audio.EntityList; entity != nullptr; entity = entity->Next) {
        CHAR name[64];
        entity->GetName(name, sizeof(name));
        for (ULONG i = 0; i < 4; ++i)
            entity->GetSourceId(i);
        if (entity->IsClockEntity()) {
            auto *clock = static_cast<CUSBAudioClockEntity *>(entity);
            ULONG rate = 0;
            clock->GetSampleRate(&rate);
            clock->IsValid();
            clock->IsSampleRateSupported(48000);
            UCHAR pin = 0;
            if (entity->GetSubtype() == USB_AUDIO_AC_CLOCK_SELECTOR)
                static_cast<CUSBAudioClockSelector *>(entity)->GetSelectedInput(&pin);
        } else if (entity->GetSubtype() == USB_AUDIO_AC_FEATURE_UNIT) {
            auto *unit = static_cast<CUSBAudioFeatureUnit *>(entity);
            for (UCHAR channel = 0; channel < 3; ++channel) {
                SHORT minimum = 0, maximum = 0, resolution = 0, volume = 0;
                audio.GetVolumeRange(unit, channel, &minimum, &maximum, &resolution);
                audio.GetVolume(unit, channel, &volume);
            }
            UCHAR mute = 0;
            audio.GetMute(unit, &mute);
        }
    }
    audio.IsClockStable(10);
}

// Device start and format selection against the device already plugged below `lower`.
void StartDevice(PDEVICE_OBJECT lower, ULONG transferMs)
{
    std::unique_ptr<CUSBAudioCL> audio = std::make_unique<CUSBAudioCL>();
    NTSTATUS status = audio->Initialize(lower, 0);
    if (NT_SUCCESS(status))
        status = audio->SelectConfiguration();
    if (!NT_SUCCESS(status))
        return;
    PCFILTER_DESCRIPTOR filter = {};
    status = audio->BuildFilter(&filter);
    FreeFilterDescription(&filter);
    if (!NT_SUCCESS(status))
        return;
    QueryEntities(*audio);
    SelectFormats(*audio, audio->RenderInterface, USB_AUDIO_DIRECTION_RENDER, transferMs);
    SelectFormats(*audio, audio->CaptureInterface, USB_AUDIO_DIRECTION_CAPTURE, transferMs);
}

void RunOnMachine(host::Machine &machine, const FuzzInput &input)
{
    host::ThreadAttachment attach(machine, "fuzz");
    auto controller = std::make_unique<host::UsbHostController>(machine);
    PDEVICE_OBJECT pdo =
        controller->Plug(kPort, std::make_shared<FuzzDeviceModel>(input.speed, input.descriptors,
                                                                  input.replyScript));
    if (pdo == nullptr)
        Fail("the host controller did not enumerate the device");
    PDRIVER_OBJECT driver = host::CreateDriverObject(machine, u"\\Driver\\norvane_quen_audio");
    PDEVICE_OBJECT fdo = nullptr;
    if (IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo) != STATUS_SUCCESS)
        Fail("IoCreateDevice failed");
    PDEVICE_OBJECT lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;

    StartDevice(lower, input.transferMs);

    IoDetachDevice(lower);
    IoDeleteDevice(fdo);
    ObDereferenceObject(driver);
    controller.reset();
}

} // namespace

} // namespace fuzz

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::KeepToOneCpu();
    fuzz::HandOverWithoutPreemption();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Taken down at exit: its teardown checks run once more there.
    static host::Machine *machine = [] {
        auto *made = new host::Machine();
        host::ThreadAttachment attach(*made, "fuzz");
        // Nobody reads the driver's trace here; unformatted it costs nothing.
        DbgSetDebugFilterState(DPFLTR_IHVAUDIO_ID, ~ULONG(0), FALSE);
        std::atexit([] {
            machine->PowerOff();
            delete machine;
        });
        return made;
    }();
    static const host::MachineHoldings empty = machine->Holdings();
    const fuzz::FuzzInput input = fuzz::ReadFuzzInput(data, size);
    fuzz::RunOnMachine(*machine, input);
    if (machine->Checks().Count() != 0)
        fuzz::Fail("verifier reports (printed above)");
    const host::MachineHoldings left = machine->Holdings();
    if (!(left == empty)) {
        std::fprintf(stderr, "device start fuzzer: the machine held %s before and %s after\n",
                     empty.Text().c_str(), left.Text().c_str());
        fuzz::Fail("the input left something behind");
    }
    return 0;
}
