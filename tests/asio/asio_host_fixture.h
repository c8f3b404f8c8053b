// The simulated PC with the product driver installed and the RV-D3 plugged in, quen_asio
// installed on its disk and registered the way its installer does (regsvr32), and the test
// process as an ASIO host with COM initialised.
#pragma once

#include "win32/win32_fixture.h"

#include "asio_host.h"
#include "devices/rvd3_model.h"
#include "driver_session.h"
#include "regsvr32.h"

#include <memory>

namespace asio_tests {

constexpr WCHAR kModulePath[] = L"C:\\Program Files\\Norvane\\RV-D3\\quen_asio.dll";

class AsioHostTest : public Win32Test {
protected:
    void SetUp() override
    {
        session_ = std::make_unique<sim::DriverSession>(M(), sim::QuenAudioPackage());
        ASSERT_EQ(STATUS_SUCCESS, session_->InstallStatus());
        ASSERT_NE(nullptr, session_->Plug(device_));
        session_->CloseFilter();
        Win32().InstallFile(host::ToU16(kModulePath), QUEN_ASIO_MODULE_FILE);
        ASSERT_EQ(S_OK, Register(false));
        ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }

    void TearDown() override
    {
        if (sink_ != nullptr)
            Attach(nullptr);
        host_.reset();
        CoUninitialize();
        Win32Test::TearDown();
    }

    HRESULT Register(bool unregister)
    {
        return host::win32::RegisterServer(Win32(), host::ToU16(kModulePath), unregister);
    }

    // A host with the driver loaded and initialised.
    AsioHost &Host()
    {
        host_ = std::make_unique<AsioHost>();
        EXPECT_EQ(S_OK, host_->Load());
        if (host_->Driver() != nullptr) {
            EXPECT_EQ(ASIOTrue, (*host_)->init(nullptr));
        }
        return *host_;
    }

    void Attach(devices::PlaybackSink *sink)
    {
        auto lock = session_->LockDevice();
        session_->Device().AttachSink(sink);
        sink_ = sink;
    }

    // A value of the per-user settings, written as the control panel writes it, and the panel's
    // change signal.
    void PanelWrites(LPCWSTR name, DWORD value)
    {
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Norvane_Quen\\Quen RV-D3", 0,
                                  nullptr, 0, KEY_WRITE, nullptr, &key, nullptr));
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExW(key, name, 0, REG_DWORD,
                                                reinterpret_cast<const BYTE *>(&value), 4));
        RegCloseKey(key);
        HANDLE listening =
            OpenEventW(SYNCHRONIZE, FALSE, L"{C47B9E05-3D21-4A8C-9F6E-81B2D05A7C94}0");
        ASSERT_NE(nullptr, listening) << "no driver listens";
        CloseHandle(listening);
        HANDLE change =
            OpenEventW(EVENT_MODIFY_STATE, FALSE, L"{C47B9E05-3D21-4A8C-9F6E-81B2D05A7C94}1");
        ASSERT_NE(nullptr, change);
        SetEvent(change);
        CloseHandle(change);
    }

    // A value of the per-user settings as stored (its bytes), or empty.
    std::vector<UCHAR> Stored(LPCWSTR name)
    {
        std::vector<UCHAR> bytes(512);
        DWORD size = DWORD(bytes.size());
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Norvane_Quen\\Quen RV-D3", 0, KEY_READ,
                          &key) != ERROR_SUCCESS)
            return {};
        if (RegQueryValueExW(key, name, nullptr, nullptr, bytes.data(), &size) != ERROR_SUCCESS)
            size = 0;
        RegCloseKey(key);
        bytes.resize(size);
        return bytes;
    }
    DWORD StoredDword(LPCWSTR name)
    {
        std::vector<UCHAR> bytes = Stored(name);
        DWORD value = 0xFFFFFFFF;
        if (bytes.size() == sizeof value)
            std::memcpy(&value, bytes.data(), sizeof value);
        return value;
    }

    std::shared_ptr<devices::Rvd3Model> device_ = std::make_shared<devices::Rvd3Model>();
    std::unique_ptr<sim::DriverSession> session_;
    std::unique_ptr<AsioHost> host_;
    devices::PlaybackSink *sink_ = nullptr;
};

} // namespace asio_tests
