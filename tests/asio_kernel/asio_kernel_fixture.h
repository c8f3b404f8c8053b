// The product driver on a simulated PC with the RV-D3 plugged in, reached from a user process
// the way the ASIO driver reaches it (asio_client.h).
#pragma once

#include "win32/win32_fixture.h"

#include "asio_kernel/asio_client.h"
#include "devices/rvd3_model.h"
#include "driver_session.h"

namespace asio_kernel_tests {

class AsioKernelTest : public Win32Test {
protected:
    void SetUp() override
    {
        session_ = std::make_unique<sim::DriverSession>(M(), sim::QuenAudioPackage());
        ASSERT_EQ(STATUS_SUCCESS, session_->InstallStatus());
        ASSERT_NE(nullptr, session_->Plug(std::make_shared<devices::Rvd3Model>()));
        session_->CloseFilter();
        filter_ = OpenFilter();
        ASSERT_NE(nullptr, filter_);
    }

    void TearDown() override
    {
        filter_.reset();
        Win32Test::TearDown();
    }

    // A pin of the filter in stereo at 48 kHz in its widest sample (render 32-bit, capture
    // 24-bit, the only size the device records); owned by the filter.
    CKsAudPin *OpenPin(bool capture)
    {
        WAVEFORMATEX format = Pcm(2, 48000, capture ? kCaptureBits : 32);
        return capture ? filter_->OpenCapturePinFor(&format) : filter_->OpenRenderPinFor(&format);
    }

    std::unique_ptr<sim::DriverSession> session_;
    std::unique_ptr<CKsAudFilter2> filter_;
};

} // namespace asio_kernel_tests
