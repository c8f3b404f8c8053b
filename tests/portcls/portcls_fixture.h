// A machine with the test wave driver installed for the RV-D3's hardware id and, once plugged,
// the RV-D3 model on port 1: its device started by the PnP manager with the test driver on top.
// The test talks to the "Wave" filter through the KS client, on its own (attached) thread.
#pragma once

#include "kernel/kernel_fixture.h"
#include "test_wave_driver.h"

#include "devices/rvd3_model.h"
#include "ks_client.h"
#include "pnp/pnp_manager.h"

#include <memory>

namespace portcls_tests {

constexpr int kPort = 1;

inline host::DriverPackage TestPackage()
{
    host::DriverPackage package;
    package.service = u"quen_test_wave";
    package.image = u"quen_test_wave.sys";
    package.entry = TestWaveDriverEntry;
    package.hardwareIds = {u"USB\\VID_2FC3&PID_D003"};
    package.description = u"Quen Test Wave Device";
    package.hardwareKeyValues = {
        host::PackageRegistryValue::Dword(u"", u"DSDNativeModeSupported", 1)};
    package.machineValues = {host::PackageRegistryValue::Dword(
        u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance", u"param1", 4)};
    return package;
}

class PortClsTest : public KernelTest {
protected:
    PortClsTest() { SetLog(&log_); }

    void SetUp() override
    {
        pnp_ = &host::PnpManager::Of(M());
        ASSERT_EQ(STATUS_SUCCESS, pnp_->Install(TestPackage()));
    }

    void TearDown() override
    {
        KernelTest::TearDown(); // removes the device and unloads the driver, which still logs
        SetLog(nullptr);
    }

    host::DeviceNode *Plug()
    {
        host::DeviceNode *node = pnp_->Plug(kPort, std::make_shared<devices::Rvd3Model>());
        EXPECT_NE(nullptr, node);
        return node;
    }

    // Plugs the device and opens its filter through its audio interface.
    std::unique_ptr<sim::KsFilter> PlugAndOpen()
    {
        node_ = Plug();
        return Open();
    }

    std::unique_ptr<sim::KsFilter> Open()
    {
        std::unique_ptr<sim::KsFilter> filter;
        std::vector<std::u16string> links = sim::KsFilter::Interfaces(KSCATEGORY_AUDIO);
        EXPECT_EQ(1u, links.size());
        if (!links.empty()) {
            EXPECT_EQ(STATUS_SUCCESS, sim::KsFilter::Open(links[0], &filter));
        }
        return filter;
    }

    // The render pin in the highest format its range allows.
    std::unique_ptr<sim::KsPin> CreatePin(sim::KsFilter &filter, ULONG pin = kRenderPin,
                                          ULONG rate = kMaxRate, USHORT bits = 16)
    {
        std::unique_ptr<sim::KsPin> made;
        EXPECT_EQ(STATUS_SUCCESS,
                  filter.CreatePin(pin, sim::PcmFormat(kMaxChannels, rate, bits), &made));
        return made;
    }

    void Sleep(ULONGLONG ms)
    {
        LARGE_INTEGER interval = RelativeMs(LONGLONG(ms));
        KeDelayExecutionThread(KernelMode, FALSE, &interval);
    }

    TestLog log_;
    host::PnpManager *pnp_ = nullptr;
    host::DeviceNode *node_ = nullptr;
};

// The same with the device plugged and its filter open from the start.
class OpenFilterTest : public PortClsTest {
protected:
    void SetUp() override
    {
        PortClsTest::SetUp();
        filter_ = PlugAndOpen();
        ASSERT_NE(nullptr, filter_);
    }
    void TearDown() override
    {
        pin_.reset();
        filter_.reset();
        PortClsTest::TearDown();
    }

    std::unique_ptr<sim::KsFilter> filter_;
    std::unique_ptr<sim::KsPin> pin_;
};

} // namespace portcls_tests
