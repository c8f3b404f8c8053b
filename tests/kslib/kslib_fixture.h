// The KS client library in a user process of a machine that has the port-class test driver
// installed for the RV-D3's hardware id and the RV-D3 model plugged: its "Wave" filter is the
// KSCATEGORY_AUDIO interface the library enumerates and opens.
#pragma once

#include "portcls/portcls_fixture.h"
#include "win32/win32_fixture.h"

#include "dev_info.h"
#include "kernel/registry_store.h"
#include "ks_aud_pin.h"

#include <memory>
#include <string>
#include <vector>

class KsLibTest : public Win32Test {
protected:
    KsLibTest() { portcls_tests::SetLog(&log_); }

    void SetUp() override
    {
        pnp_ = &host::PnpManager::Of(M());
        ASSERT_EQ(STATUS_SUCCESS, pnp_->Install(portcls_tests::TestPackage()));
        node_ = pnp_->Plug(portcls_tests::kPort, std::make_shared<devices::Rvd3Model>());
        ASSERT_NE(nullptr, node_);
    }

    void TearDown() override
    {
        Win32Test::TearDown(); // removes the device, whose driver still logs
        portcls_tests::SetLog(nullptr);
    }

    // Text for the library's calls. (std::wstring is not used: the host's C++ library is built
    // for a wider wchar_t.)
    static LPCWSTR Wide(const std::u16string &text)
    {
        return reinterpret_cast<LPCWSTR>(text.c_str());
    }

    // The paths of the present KSCATEGORY_AUDIO interfaces, as SetupAPI reports them.
    static std::vector<std::u16string> AudioInterfacePaths()
    {
        std::vector<std::u16string> paths;
        HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                            DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE)
            return paths;
        SP_DEVICE_INTERFACE_DATA data = {};
        data.cbSize = sizeof data;
        for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, i, &data);
             ++i) {
            DWORD needed = 0;
            SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
            std::vector<BYTE> detail(needed);
            auto d = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data());
            d->cbSize = sizeof *d;
            if (SetupDiGetDeviceInterfaceDetailW(set, &data, d, needed, nullptr, nullptr))
                paths.emplace_back(reinterpret_cast<const char16_t *>(d->DevicePath),
                                   size_t(lstrlenW(d->DevicePath)));
        }
        SetupDiDestroyDeviceInfoList(set);
        return paths;
    }

    // The device's audio filter, opened and with its pins listed.
    std::unique_ptr<CKsAudFilter2> OpenFilter()
    {
        std::vector<std::u16string> paths = AudioInterfacePaths();
        EXPECT_EQ(1u, paths.size());
        if (paths.empty())
            return nullptr;
        HRESULT status = E_FAIL;
        auto filter = std::make_unique<CKsAudFilter2>(Wide(paths[0]), &status);
        EXPECT_EQ(S_OK, status);
        EXPECT_EQ(S_OK, filter->OpenFilter());
        EXPECT_EQ(S_OK, filter->ListPins());
        return filter;
    }

    // The device's filter with its render or capture pin made for 48 kHz 16-bit stereo; null if
    // the pin cannot be made.
    CKsAudPin *OpenStreamPin(std::unique_ptr<CKsAudFilter2> *filter, bool capture)
    {
        *filter = OpenFilter();
        if (*filter == nullptr)
            return nullptr;
        WAVEFORMATEX format = Pcm(2, portcls_tests::kMaxRate, 16);
        CKsAudPin *pin =
            capture ? (*filter)->OpenCapturePinFor(&format) : (*filter)->OpenRenderPinFor(&format);
        EXPECT_NE(nullptr, pin);
        return pin;
    }

    // The emulated bus has no composite-device parent, so the device carries its own ids rather
    // than those of its interface 0; the test gives it the id that parent would.
    void GiveInterfaceZeroId()
    {
        std::u16string id = u"USB\\VID_2FC3&PID_D003&MI_00";
        id.push_back(0);
        id.push_back(0);
        host::RegistryStore &registry = M().Registry();
        std::u16string key =
            u"\\REGISTRY\\MACHINE\\SYSTEM\\CurrentControlSet\\Enum\\" + node_->instanceId;
        ASSERT_EQ(STATUS_SUCCESS,
                  registry.SetValue(
                      key, u"HardwareID", REG_MULTI_SZ,
                      std::vector<UCHAR>(reinterpret_cast<const UCHAR *>(id.data()),
                                         reinterpret_cast<const UCHAR *>(id.data() + id.size()))));
    }

    static WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits)
    {
        WAVEFORMATEX format = {};
        format.wFormatTag = WAVE_FORMAT_PCM;
        format.nChannels = channels;
        format.nSamplesPerSec = rate;
        format.wBitsPerSample = bits;
        format.nBlockAlign = WORD(channels * bits / 8);
        format.nAvgBytesPerSec = rate * format.nBlockAlign;
        return format;
    }

    portcls_tests::TestLog log_;
    host::PnpManager *pnp_ = nullptr;
    host::DeviceNode *node_ = nullptr;
};
