// The product's kernel driver on a simulated PC: its package installed for the RV-D3's hardware
// id, a device plugged in and started by plug and play, and the "Wave" filter opened through the
// KS client. A client then streams through the whole driver: render and capture pins in one
// format each, a source written ahead in packets, what comes back checked against the device's
// ramp. The calling thread must be attached to the machine.
#pragma once

#include "ks_client.h"
#include "stream_patterns.h"

#include "devices/streaming_audio_device_model.h"
#include "pnp/pnp_manager.h"

#include <memory>
#include <optional>

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName);

namespace sim {

// The streaming pins of the driver's "Wave" filter on the RV-D3.
constexpr ULONG kWaveRenderPin = 0;
constexpr ULONG kWaveCapturePin = 3;

// The driver package as its INF installs it; "DSDNativeModeSupported" is written when given.
host::DriverPackage QuenAudioPackage(std::optional<ULONG> dsdNativeModeSupported = 1);

// The device id "USB\VID_xxxx&PID_xxxx" of a model's device descriptor.
std::u16string HardwareId(const devices::UsbAudioDeviceModel &model);

class DriverSession {
public:
    DriverSession(host::Machine &machine, const host::DriverPackage &package);
    NTSTATUS InstallStatus() const { return installed_; }

    // Plugs the model into port 1 (plug and play starts the driver on it) and opens its filter.
    // The node the package's driver serves (the device, or its function of a composite device),
    // or null when the device could not be plugged or the package serves no part of it.
    host::DeviceNode *Plug(std::shared_ptr<devices::StreamingAudioDeviceModel> model);
    host::DeviceNode *Node() const { return node_; }
    KsFilter *Filter() const { return filter_.get(); }
    devices::StreamingAudioDeviceModel &Device() const { return *model_; }
    host::PnpManager &Pnp() const { return *pnp_; }
    // Takes the host controller's lock, under which the device model may be read.
    std::unique_lock<std::recursive_mutex> LockDevice() const;

    // Creates a streaming pin in a PCM format.
    NTSTATUS CreatePin(ULONG pin, const ClientFormat &format, std::unique_ptr<KsPin> *made) const;
    void CloseFilter() { filter_.reset(); }

private:
    host::PnpManager *pnp_;
    std::u16string service_;
    NTSTATUS installed_;
    std::shared_ptr<devices::StreamingAudioDeviceModel> model_;
    host::DeviceNode *node_ = nullptr;
    std::unique_ptr<KsFilter> filter_;
};

// One run of a client on a render and (optionally) a capture pin, both set to RUN first. The
// render side writes `frames` frames of the source in packets of `packetMs`, `ahead` of them
// queued; the capture side reads as many frames and checks them against the device's ramp.
struct ClientRun {
    KsPin *render = nullptr;
    ClientFormat renderFormat;
    FrameSource source = SourceFrame;
    ULONGLONG renderFrameOffset = 0; // the first source frame written
    KsPin *capture = nullptr;
    ClientFormat captureFormat;
    CaptureChecker *captureChecker = nullptr;
    std::function<void(const UCHAR *bytes, ULONG length)> captured; // after the checker
    ULONGLONG frames = 0;
    ULONG packetMs = 10;
    ULONG ahead = 3;
};

struct ClientRunResult {
    NTSTATUS render = STATUS_SUCCESS;
    NTSTATUS capture = STATUS_SUCCESS;
};

// Streams both directions at once (render on a thread of its own) and waits for both.
ClientRunResult StreamClient(host::Machine &machine, const ClientRun &run);

// Waits `ms` of machine time.
void SleepMs(ULONG ms);

// Waits, up to `limitMs` of machine time, until the device has played `frames` frames into the
// checker (what the driver still buffers after the client's last write).
void WaitUntilPlayed(const DriverSession &session, const RenderChecker &checker, ULONGLONG frames,
                     ULONG limitMs = 2000);

} // namespace sim
