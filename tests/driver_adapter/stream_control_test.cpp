// Stream control of the adapter on the RV-D3: which format changes it accepts, when it switches
// the device between PCM and native DSD, how the "DSDNativeModeSupported" value decides whether
// it may, how long a start waits for the clock, what power changes do to streams, and what it
// tells the miniport about rates and capabilities.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"

#include <wdm/zw.h>

namespace {

using namespace adapter_harness;
using namespace devices::rvd3;

const ClientFormat kFormat{2, 16, 48000};

class StreamControlTest : public AdapterTest {
protected:
    void StartRvd3(ULONG clockLockMs = 20)
    {
        devices::Rvd3Options options;
        options.streaming.clockLockMs = clockLockMs;
        Start(std::make_shared<devices::Rvd3Model>(options));
    }
    devices::Rvd3Model &Rvd3() { return static_cast<devices::Rvd3Model &>(rig_->Device()); }
    bool NativeDsd()
    {
        return rig_->WithDevice([this](devices::StreamingAudioDeviceModel &) {
            return Rvd3().NativeDsd(kRenderInterface);
        });
    }
    // Render advances over the next stretch of time.
    bool Rendering()
    {
        const ULONGLONG position = Miniport().RenderPosition();
        rig_->Play(50);
        return Miniport().RenderPosition() > position;
    }
};

struct FormatCase {
    const char *name;
    ClientFormat format;
    NTSTATUS whileRunning;
};

class FormatChangeTest : public StreamControlTest,
                         public ::testing::WithParamInterface<FormatCase> {};

TEST_P(FormatChangeTest, WhileRenderRuns)
{
    StartRvd3();
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, kFormat));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    const ClientFormat &f = GetParam().format;
    EXPECT_EQ(GetParam().whileRunning, Adapter().ChangeFormat(FALSE, f.channels, f.bits, f.rate));
    EXPECT_TRUE(Rendering());
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FormatChangeTest,
    ::testing::Values(FormatCase{"SameFormat", kFormat, STATUS_SUCCESS},
                      FormatCase{"OtherRate", {2, 16, 96000}, STATUS_UNSUCCESSFUL},
                      FormatCase{"NoChannels", {0, 16, 48000}, STATUS_INVALID_PARAMETER},
                      FormatCase{"PartialBytes", {2, 20, 48000}, STATUS_INVALID_PARAMETER},
                      FormatCase{"NoRate", {2, 16, 0}, STATUS_INVALID_PARAMETER}),
    [](const ::testing::TestParamInfo<FormatCase> &info) { return info.param.name; });

TEST_F(StreamControlTest, ARateOutsideTheRenderPatternsIsRefused)
{
    StartRvd3();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Miniport().Open(false, {2, 16, 12000}));
}

TEST_F(StreamControlTest, NativeDsdSwitchesOnlyWhileNoStreamRuns)
{
    StartRvd3();
    ASSERT_EQ(STATUS_SUCCESS, Adapter().SetDsdNativeMode(1));
    EXPECT_TRUE(NativeDsd());
    // A WaveCyclic stream plays PCM: its start switches the device back.
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, kFormat));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    EXPECT_FALSE(NativeDsd());
    EXPECT_EQ(STATUS_DEVICE_BUSY, Adapter().SetDsdNativeMode(1));
    EXPECT_FALSE(NativeDsd());
    // The mode the device already has needs no request and stops nothing.
    EXPECT_EQ(STATUS_SUCCESS, Adapter().SetDsdNativeMode(0));
    // Starting capture leaves render playing.
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(true, {2, 24, 48000}));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
    EXPECT_TRUE(Rendering());
}

TEST_F(StreamControlTest, AnAsioDsdStreamKeepsItsModeAndRefusesAPcmStream)
{
    StartRvd3();
    ASSERT_EQ(STATUS_SUCCESS, Adapter().SetDsdNativeMode(1));
    Miniport().SetAsioMode(false, true);
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, {2, 32, 352800}));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    EXPECT_TRUE(NativeDsd());
    rig_->Play(200); // the host's small halves add up to two transfers before the first goes
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(true, {2, 24, 352800}));
    EXPECT_EQ(STATUS_DEVICE_BUSY, Miniport().Run(true));
    EXPECT_TRUE(NativeDsd());
    EXPECT_TRUE(Rendering());
}

struct RegistryCase {
    const char *name;
    ULONG type; // REG_NONE: no value
    std::vector<UCHAR> data;
    bool probeFails;
    bool supported;
};

class DsdRegistryTest : public StreamControlTest,
                        public ::testing::WithParamInterface<RegistryCase> {};

TEST_P(DsdRegistryTest, DecidesWhetherNativeDsdMaySwitch)
{
    const RegistryCase &c = GetParam();
    Plug(std::make_shared<devices::Rvd3Model>());
    if (c.type != REG_NONE) {
        HANDLE key = nullptr;
        ASSERT_EQ(STATUS_SUCCESS, IoOpenDeviceRegistryKey(rig_->Pdo(), PLUGPLAY_REGKEY_DEVICE,
                                                          KEY_ALL_ACCESS, &key));
        UNICODE_STRING name;
        RtlInitUnicodeString(&name, L"DSDNativeModeSupported");
        ASSERT_EQ(STATUS_SUCCESS,
                  ZwSetValueKey(key, &name, 0, c.type, const_cast<UCHAR *>(c.data.data()),
                                ULONG(c.data.size())));
        ZwClose(key);
    }
    if (c.probeFails)
        rig_->Faults().StallControl(host::UsbControlMatch::Request(kDsdModeRequestType, 0), 1);
    ASSERT_EQ(STATUS_SUCCESS, rig_->Init());
    EXPECT_EQ(c.supported, Adapter().SetDsdNativeMode(1) != STATUS_NOT_SUPPORTED);
}

INSTANTIATE_TEST_SUITE_P(
    Values, DsdRegistryTest,
    ::testing::Values(RegistryCase{"AbsentDeviceAccepts", REG_NONE, {}, false, true},
                      RegistryCase{"AbsentDeviceRefuses", REG_NONE, {}, true, false},
                      RegistryCase{"Zero", REG_DWORD, {0, 0, 0, 0}, false, false},
                      RegistryCase{"OneWithoutProbe", REG_DWORD, {1, 0, 0, 0}, true, true},
                      RegistryCase{"StringIsIgnored", REG_SZ, {'1', 0}, true, false},
                      RegistryCase{"ShortBinaryIsIgnored", REG_BINARY, {1}, false, true}),
    [](const ::testing::TestParamInfo<RegistryCase> &info) { return info.param.name; });

struct ClockCase {
    const char *name;
    ULONG lockMs;
    NTSTATUS start;
};

class ClockLockTest : public StreamControlTest, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(ClockLockTest, RenderStartWaitsAboutASecondForTheClock)
{
    StartRvd3(GetParam().lockMs);
    // 96 kHz: a new rate, so the clock relocks.
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, {2, 16, 96000}));
    EXPECT_EQ(GetParam().start, Miniport().Run(false));
    if (GetParam().start != STATUS_SUCCESS) {
        // Nothing was left running; once the clock has locked, a start goes through.
        EXPECT_FALSE(Rendering());
        rig_->Play(GetParam().lockMs);
        EXPECT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    }
    EXPECT_TRUE(Rendering());
}

INSTANTIATE_TEST_SUITE_P(LockTimes, ClockLockTest,
                         ::testing::Values(ClockCase{"Quick", 50, STATUS_SUCCESS},
                                           ClockCase{"Slow", 900, STATUS_SUCCESS},
                                           ClockCase{"TooSlow", 2500, STATUS_UNSUCCESSFUL}),
                         [](const ::testing::TestParamInfo<ClockCase> &info) {
                             return info.param.name;
                         });

TEST_F(StreamControlTest, LeavingD0EndsTheStreamsAndD0ResetsTheInterfaces)
{
    StartRvd3();
    ASSERT_EQ(STATUS_SUCCESS, Adapter().SetDsdNativeMode(1));
    Miniport().SetAsioMode(false, true);
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, kFormat));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    ASSERT_TRUE(Rendering());
    POWER_STATE state;
    state.DeviceState = PowerDeviceD3;
    Adapter().PowerChangeState(state);
    EXPECT_FALSE(Rendering());
    state.DeviceState = PowerDeviceD0;
    Adapter().PowerChangeState(state);
    EXPECT_EQ(0, rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) {
        return d.AlternateSetting(kRenderInterface);
    }));
    EXPECT_TRUE(NativeDsd());
    // The stream runs again from its pin's next run.
    Miniport().Pause(false);
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    EXPECT_TRUE(Rendering());
}

TEST_F(StreamControlTest, RateRangeOfEachPinFollowsTheDeviceClock)
{
    StartRvd3();
    const PPCFILTER_DESCRIPTOR filter = Adapter().GetFilterDescriptor();
    ULONG checked = 0;
    for (ULONG pin = 0; pin < filter->PinCount; ++pin) {
        ULONG minimum = 0;
        ULONG maximum = 1000000;
        ASSERT_EQ(STATUS_SUCCESS, Adapter().GetRateRange(pin, 2, 16, 32, &minimum, &maximum));
        EXPECT_EQ(44100u, minimum) << "pin " << pin;
        EXPECT_EQ(384000u, maximum) << "pin " << pin;
        minimum = 44100;
        maximum = 100000;
        ASSERT_EQ(STATUS_SUCCESS, Adapter().GetRateRange(pin, 2, 16, 32, &minimum, &maximum));
        EXPECT_EQ(44100u, minimum) << "pin " << pin;
        EXPECT_EQ(96000u, maximum) << "pin " << pin;
        ++checked;
    }
    EXPECT_GE(checked, 2u);
    ULONG minimum = 0;
    ULONG maximum = 0;
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              Adapter().GetRateRange(filter->PinCount, 2, 16, 32, &minimum, &maximum));
}

TEST_F(StreamControlTest, CapabilitiesOfferEightBitSamplesByConversion)
{
    StartRvd3();
    ULONG channels = 0, minBits = 0, maxBits = 0, minRate = 0, maxRate = 0;
    ASSERT_EQ(STATUS_SUCCESS, Adapter().GetStreamCapabilities(FALSE, &channels, &minBits, &maxBits,
                                                              &minRate, &maxRate));
    EXPECT_EQ(2u, channels);
    EXPECT_EQ(8u, minBits);
    EXPECT_EQ(32u, maxBits);
    EXPECT_EQ(44100u, minRate);
    EXPECT_EQ(384000u, maxRate);
}

} // namespace
