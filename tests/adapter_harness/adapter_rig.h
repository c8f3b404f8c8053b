// A started device for the adapter's tests and benchmarks: an emulated USB host controller with
// a device model plugged in, the driver's device object attached on top of the device's PDO,
// the adapter built on it the way start-device builds it, and the fake miniport as its
// notification target. Needs a machine whose thread the caller has attached.
#pragma once

#include "adapter/adapter_usb_audio.h"
#include "adapter_harness/fake_miniport.h"
#include "devices/streaming_audio_device_model.h"
#include "usb/usb_host_controller.h"

#include <memory>

namespace adapter_harness {

class AdapterRig {
public:
    static constexpr int kPort = 1;
    // How often the fake port services its buffers (the port's usual notification interval).
    static constexpr ULONG kServiceMs = 10;

    AdapterRig(host::Machine &machine, std::shared_ptr<devices::StreamingAudioDeviceModel> device);
    // Closes the streams, releases the adapter (whose destructor waits for the USB layer) and
    // takes the device stack down.
    ~AdapterRig();
    AdapterRig(const AdapterRig &) = delete;
    AdapterRig &operator=(const AdapterRig &) = delete;

    // The adapter's Init on the device's PDO; the miniport link is set on success.
    NTSTATUS Init();

    CAdapterUsbAudio &Adapter() { return *adapter_; }
    FakeMiniport &Miniport() { return *miniport_; }
    devices::StreamingAudioDeviceModel &Device() { return *device_; }
    host::UsbHostController &Controller() { return *controller_; }
    host::UsbFaultScript &Faults() { return controller_->Faults(kPort); }
    PDEVICE_OBJECT Pdo() const { return pdo_; }

    // Lets `ms` of virtual time pass, the fake port servicing its buffers every kServiceMs.
    void Play(ULONGLONG ms);
    // Lets virtual time pass.
    static void Sleep(ULONGLONG ms);

    // The device's counters and what the playback sink saw, read under the controller's lock.
    template <typename Read>
    auto WithDevice(Read &&read)
        -> decltype(read(std::declval<devices::StreamingAudioDeviceModel &>()))
    {
        std::lock_guard<std::recursive_mutex> hold(controller_->Lock());
        return read(*device_);
    }

private:
    host::Machine &machine_;
    std::shared_ptr<devices::StreamingAudioDeviceModel> device_;
    std::unique_ptr<host::UsbHostController> controller_;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
    PDEVICE_OBJECT fdo_ = nullptr;
    CAdapterUsbAudio *adapter_ = nullptr;
    std::unique_ptr<FakeMiniport> miniport_;
};

} // namespace adapter_harness
