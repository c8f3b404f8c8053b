// The product driver on a simulated PC with the RV-D3 plugged in: plug and play has loaded and
// started it, and the test reaches its "Wave" filter through the KS client.
#pragma once

#include "kernel/kernel_fixture.h"

#include "devices/rvd3_model.h"
#include "driver_session.h"

namespace wave_tests {

// The RV-D3 container a client sample size plays in.
inline ULONG DeviceBits(ULONG bits) { return bits == 16 ? 16 : 32; }

// The RV-D3's capture format: 24-bit samples in 4-byte subslots.
inline devices::CaptureFormat Rvd3Capture() { return {2, 4, 24}; }

class WaveDriverTest : public KernelTest {
protected:
    void SetUp() override
    {
        session_ = std::make_unique<sim::DriverSession>(M(), sim::QuenAudioPackage());
        ASSERT_EQ(STATUS_SUCCESS, session_->InstallStatus());
    }

    void TearDown() override
    {
        render_.reset();
        capture_.reset();
        session_->CloseFilter();
        KernelTest::TearDown();
    }

    // Plugs an RV-D3 whose output goes to `sink` and opens its filter.
    void Plug(devices::PlaybackSink *sink, double clockOffsetPpm = 0)
    {
        devices::Rvd3Options options;
        options.streaming.clockOffsetPpm = clockOffsetPpm;
        auto model = std::make_shared<devices::Rvd3Model>(options);
        model->AttachSink(sink);
        ASSERT_NE(nullptr, session_->Plug(model));
        ASSERT_EQ(host::DeviceState::Started, session_->Node()->state);
        ASSERT_NE(nullptr, session_->Filter());
    }

    NTSTATUS Open(ULONG pin, const sim::ClientFormat &format)
    {
        return session_->CreatePin(pin, format,
                                   pin == sim::kWaveRenderPin ? &render_ : &capture_);
    }

    devices::RenderCounters DeviceRender()
    {
        auto lock = session_->LockDevice();
        return session_->Device().Render();
    }

    void Sleep(ULONGLONG ms)
    {
        LARGE_INTEGER interval = RelativeMs(LONGLONG(ms));
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }

    std::unique_ptr<sim::DriverSession> session_;
    std::unique_ptr<sim::KsPin> render_;
    std::unique_ptr<sim::KsPin> capture_;
};

} // namespace wave_tests
