// The product driver on a simulated PC with the RV-D3 plugged in: plug and play has loaded and
// started it, and the test reaches its "Wave" filter through the KS client.
#pragma once

#include "kernel/kernel_fixture.h"

#include "devices/rvd3_model.h"
#include "driver_session.h"

#include <list>

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

    // Plugs an RV-D3 and opens its filter.
    void Plug(double clockOffsetPpm = 0)
    {
        devices::Rvd3Options options;
        options.streaming.clockOffsetPpm = clockOffsetPpm;
        ASSERT_NE(nullptr, session_->Plug(std::make_shared<devices::Rvd3Model>(options)));
        ASSERT_EQ(host::DeviceState::Started, session_->Node()->state);
        ASSERT_NE(nullptr, session_->Filter());
    }

    // From now on what the device plays is checked against the source in `format`. The checker
    // lives as long as the machine, so a test that ends early leaves no dangling sink.
    sim::RenderChecker &CheckRender(const sim::ClientFormat &format)
    {
        checkers_.emplace_back(format, DeviceBits(format.bits), true);
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(&checkers_.back());
        return checkers_.back();
    }

    NTSTATUS Open(ULONG pin, const sim::ClientFormat &format)
    {
        return session_->CreatePin(pin, format, pin == sim::kWaveRenderPin ? &render_ : &capture_);
    }

    devices::RenderCounters DeviceRender()
    {
        auto lock = session_->LockDevice();
        return session_->Device().Render();
    }

    void Sleep(ULONG ms) { sim::SleepMs(ms); }

    // Opens the render pin in `format` and sets it to RUN.
    void StartRender(const sim::ClientFormat &format)
    {
        ASSERT_EQ(STATUS_SUCCESS, Open(sim::kWaveRenderPin, format));
        ASSERT_EQ(STATUS_SUCCESS, render_->SetState(KSSTATE_RUN));
    }

    // A client writing `frames` frames of the source to the render pin.
    sim::ClientRun RenderRun(const sim::ClientFormat &format, ULONGLONG frames)
    {
        sim::ClientRun run;
        run.render = render_.get();
        run.renderFormat = format;
        run.frames = frames;
        return run;
    }

    // Streams `frames` frames to the render pin on a thread while `during` runs; the stream's
    // status.
    NTSTATUS RenderWhile(const sim::ClientFormat &format, ULONGLONG frames,
                         const std::function<void()> &during)
    {
        const sim::ClientRun run = RenderRun(format, frames);
        NTSTATUS streamed = STATUS_PENDING;
        PKTHREAD client = M().StartThread("client", M().SystemProcess(),
                                          [&] { streamed = sim::StreamClient(M(), run).render; });
        during();
        KeWaitForSingleObject(client, Executive, KernelMode, FALSE, nullptr);
        ObDereferenceObject(client);
        return streamed;
    }

    std::list<sim::RenderChecker> checkers_; // before the session: it outlives the device
    std::unique_ptr<sim::DriverSession> session_;
    std::unique_ptr<sim::KsPin> render_;
    std::unique_ptr<sim::KsPin> capture_;
};

} // namespace wave_tests
