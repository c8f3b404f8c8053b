// The fixture of the adapter's tests: a machine with the test's thread attached and an adapter
// rig built on it. Any verifier report, a pool block left behind included, fails the test.
#pragma once

#include "adapter_harness/adapter_rig.h"
#include "kernel/kernel_fixture.h"

#include <memory>

namespace adapter_harness {

class AdapterTest : public KernelTest {
protected:
    // Plugs the device and starts the adapter on it.
    void Start(std::shared_ptr<devices::StreamingAudioDeviceModel> device)
    {
        Plug(std::move(device));
        ASSERT_EQ(STATUS_SUCCESS, rig_->Init());
    }
    // Plugs the device; the test starts the adapter itself.
    void Plug(std::shared_ptr<devices::StreamingAudioDeviceModel> device)
    {
        rig_ = std::make_unique<AdapterRig>(M(), std::move(device));
    }
    // Checks everything the device plays from here on against the render source.
    RenderChecker &CheckRender(const ClientFormat &client, ULONG deviceBits,
                               bool allowSilence = false)
    {
        checker_ = std::make_unique<RenderChecker>(client, deviceBits, allowSilence);
        rig_->WithDevice([this](devices::StreamingAudioDeviceModel &d) {
            d.AttachSink(checker_.get());
            return 0;
        });
        return *checker_;
    }
    // The device's render counters now.
    devices::RenderCounters RenderCounters()
    {
        return rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) { return d.Render(); });
    }
    void TearDown() override
    {
        if (rig_ != nullptr) {
            rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) {
                d.AttachSink(nullptr);
                return 0;
            });
        }
        rig_.reset();
        checker_.reset();
        KernelTest::TearDown();
    }

    CAdapterUsbAudio &Adapter() { return rig_->Adapter(); }
    FakeMiniport &Miniport() { return rig_->Miniport(); }

    std::unique_ptr<AdapterRig> rig_;
    std::unique_ptr<RenderChecker> checker_;
};

} // namespace adapter_harness
