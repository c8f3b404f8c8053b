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
    void TearDown() override
    {
        rig_.reset();
        KernelTest::TearDown();
    }

    CAdapterUsbAudio &Adapter() { return rig_->Adapter(); }
    FakeMiniport &Miniport() { return rig_->Miniport(); }

    std::unique_ptr<AdapterRig> rig_;
};

} // namespace adapter_harness
