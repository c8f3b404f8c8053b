// The driver streaming for a host: PCM in both directions at every rate of the device and at the
// shortest and longest buffers, native DSD64 and DSD128, switches counted over ten minutes, and
// what ends a stream: settings changes, device removal and a host that crashes.
#include "asio_host_fixture.h"

#include "devices/playback_sink.h"

namespace asio_tests {
namespace {

class AsioStreaming : public AsioHostTest {
protected:
    // Streams for `ms` of machine time, then stops and releases the buffers.
    void StreamFor(AsioHost &host, ULONG ms)
    {
        ASSERT_EQ(ASE_OK, host->start());
        sim::SleepMs(ms);
        EXPECT_EQ(ASE_OK, host->stop());
        const ULONGLONG switches = host.switches;
        sim::SleepMs(50);
        EXPECT_EQ(switches, host.switches.load()) << "a switch after stop returned";
        EXPECT_EQ(ASE_OK, host->disposeBuffers());
    }

    // A host's stream checked at the DAC and in its input.
    void ExpectExact(AsioHost &host, const sim::RenderChecker &checker, ULONG rate)
    {
        EXPECT_EQ(0u, host.wrongIndex);
        EXPECT_EQ(0u, host.wrongPosition);
        EXPECT_EQ(0u, host.wrongStamp);
        EXPECT_EQ(0u, host.resets.load());
        EXPECT_EQ(0u, checker.Mismatches());
        EXPECT_GT(checker.FramesMatched() + rate / 10, host.framesSent);
        EXPECT_EQ(0u, host.input_.Gaps());
        EXPECT_EQ(0u, host.input_.Mismatches());
        EXPECT_GT(host.input_.Frames(), 0u);
    }
};

struct PcmCase {
    ULONG rate;
    LONG buffer;
};

class AsioPcm : public AsioStreaming, public ::testing::WithParamInterface<PcmCase> {};

// Both outputs and both inputs: what the host writes plays bit exact, its input holds the
// device's ramp without a gap, and every switch comes in order with its position and time.
TEST_P(AsioPcm, PlaysAndRecordsBitExact)
{
    const PcmCase c = GetParam();
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host->setSampleRate(c.rate));
    ASSERT_EQ(ASE_OK, host.Create(2, 2, c.buffer));
    EXPECT_EQ(1u, host.timeInfoAsked.load());
    sim::RenderChecker checker({2, 32, c.rate}, 32, true);
    Attach(&checker);
    StreamFor(host, 500);
    ExpectExact(host, checker, c.rate);
}

INSTANTIATE_TEST_SUITE_P(RatesAndBuffers, AsioPcm,
                         ::testing::Values(PcmCase{44100, 512}, PcmCase{48000, 64},
                                           PcmCase{88200, 1024}, PcmCase{96000, 256},
                                           PcmCase{176400, 2048}, PcmCase{192000, 7680},
                                           PcmCase{352800, 4096}, PcmCase{384000, 7680}),
                         [](const ::testing::TestParamInfo<PcmCase> &info) {
                             return std::to_string(info.param.buffer) + "At" +
                                    std::to_string(info.param.rate);
                         });

// Ten minutes of switches: as many as elapsed samples over the buffer size, none missed or
// doubled, through the plain bufferSwitch of a host without time info.
TEST_F(AsioStreaming, SwitchesFollowTheSampleClockForTenMinutes)
{
    constexpr ULONG kRate = 48000;
    constexpr LONG kBuffer = 256;
    AsioHost &host = Host();
    host.timeInfo = false;
    ASSERT_EQ(ASE_OK, host->setSampleRate(kRate));
    ASSERT_EQ(ASE_OK, host.Create(0, 2, kBuffer));
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(1000);
    const ULONGLONG startSwitches = host.switches, startMs = NowMs();
    sim::SleepMs(10 * 60 * 1000);
    const ULONGLONG switches = host.switches - startSwitches, ms = NowMs() - startMs;
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_NEAR(double(ms) * kRate / 1000 / kBuffer, double(switches), 2.0);
    EXPECT_EQ(0u, host.wrongIndex);
    EXPECT_EQ(0u, host.wrongPosition);
    EXPECT_EQ(0u, host.resets.load());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
}

class AsioDsd : public AsioStreaming, public ::testing::WithParamInterface<ULONG> {};

// Native DSD: the host's bytes reach the DAC exactly, four to a device sample, and positions
// count DSD samples.
TEST_P(AsioDsd, ReachesTheDacByteExact)
{
    const ULONG rate = GetParam();
    constexpr LONG kBuffer = 16384; // 2048 bytes per half
    AsioHost &host = Host();
    host.dsd = true;
    ASIOIoFormat format = {};
    format.FormatType = kASIODSDFormat;
    ASSERT_EQ(ASE_SUCCESS, host->future(kAsioCanDoIoFormat, &format));
    ASSERT_EQ(ASE_SUCCESS, host->future(kAsioSetIoFormat, &format));
    ASSERT_EQ(ASE_OK, host->setSampleRate(rate));
    EXPECT_EQ(ASE_NoClock, host->canSampleRate(44100));
    LONG minimum, maximum, preferred, granularity;
    ASSERT_EQ(ASE_OK, host->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(8 * 2048, preferred);
    EXPECT_EQ(ASE_InvalidParameter, host.Create(0, 2, 8200));
    ASSERT_EQ(ASE_OK, host.Create(0, 2, kBuffer));
    ASIOChannelInfo info = {0, ASIOFalse, 0, 0, 0, {}};
    ASSERT_EQ(ASE_OK, host->getChannelInfo(&info));
    EXPECT_EQ(ASIOSTDSDInt8MSB1, info.type);
    devices::RecordingSink sink;
    Attach(&sink);
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(1000);
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(0u, host.wrongPosition) << "positions step by the host's buffer in DSD samples";
    EXPECT_EQ(0u, host.wrongIndex);
    auto lock = session_->LockDevice();
    ASSERT_FALSE(sink.Segments().empty());
    const size_t segment = sink.Segments().size() - 1;
    ASSERT_TRUE(sink.Segments()[segment].format.nativeDsd);
    for (UCHAR k = 0; k < 2; ++k) {
        const devices::Bytes played = sink.DsdChannelBytes(segment, k);
        ASSERT_LE(played.size(), host.framesSent);
        EXPECT_GT(played.size() + rate / 2, host.framesSent);
        size_t wrong = 0;
        for (size_t i = 0; i < played.size(); ++i)
            wrong += played[i] != DsdByte(k, i) ? 1 : 0;
        EXPECT_EQ(0u, wrong) << "channel " << int(k);
    }
}

INSTANTIATE_TEST_SUITE_P(Dsd64AndDsd128, AsioDsd, ::testing::Values(2822400u, 5644800u));

// A host that never calls outputReady still plays, without reset requests.
TEST_F(AsioStreaming, AHostWithoutOutputReadyStillPlays)
{
    AsioHost &host = Host();
    host.callOutputReady = false;
    ASSERT_EQ(ASE_OK, host->setSampleRate(48000));
    ASSERT_EQ(ASE_OK, host.Create(0, 2, 256));
    sim::RenderChecker checker({2, 32, 48000}, 32, true);
    Attach(&checker);
    StreamFor(host, 3000);
    EXPECT_GT(host.switches.load(), 3 * 48000 / 256 - 10);
    EXPECT_EQ(0u, host.resets.load());
    EXPECT_EQ(0u, checker.Mismatches());
}

// The host sets another rate while streaming: the pins take it and the stream runs on at it,
// with the store and getSampleRate agreeing.
TEST_F(AsioStreaming, ARateChangeWhileRunningRestartsAtTheNewRate)
{
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host.Create(0, 2, 256));
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(200);
    ASSERT_EQ(ASE_OK, host->setSampleRate(96000));
    ASIOSampleRate rate = 0;
    ASSERT_EQ(ASE_OK, host->getSampleRate(&rate));
    EXPECT_EQ(96000.0, rate);
    EXPECT_EQ(96000u, StoredDword(L"sampling_rate"));
    sim::SleepMs(500); // the kernel's queue fills first, faster than the rate
    const ULONGLONG before = host.switches;
    sim::SleepMs(1000);
    EXPECT_NEAR(96000.0 / 256, double(host.switches - before), 3.0);
    EXPECT_EQ(0u, host.resets.load());
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
}

struct SettingCase {
    LPCWSTR name;
    DWORD value;
};

class AsioSettingsChange : public AsioStreaming,
                           public ::testing::WithParamInterface<SettingCase> {};

// The control panel changes a setting while the host streams: one reset request, and the
// running stream keeps its buffer size and rate.
TEST_P(AsioSettingsChange, WhileRunningAsksForOneReset)
{
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host.Create(0, 2, 512));
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(200);
    PanelWrites(L"buffer_size", 2048); // unchanged: nothing happens
    sim::SleepMs(200);
    EXPECT_EQ(0u, host.resets.load());
    PanelWrites(GetParam().name, GetParam().value);
    sim::SleepMs(300);
    PanelWrites(GetParam().name, GetParam().value);
    sim::SleepMs(300);
    EXPECT_EQ(1u, host.resets.load());
    EXPECT_EQ(0u, host.wrongPosition);
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    // Without buffers the change is adopted.
    LONG minimum, maximum, preferred, granularity;
    ASSERT_EQ(ASE_OK, host->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    ASIOSampleRate rate = 0;
    ASSERT_EQ(ASE_OK, host->getSampleRate(&rate));
    PanelWrites(L"buffer_size", 512);
    sim::SleepMs(100);
    ASSERT_EQ(ASE_OK, host->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(512, preferred);
}

INSTANTIATE_TEST_SUITE_P(BufferSizeAndRate, AsioSettingsChange,
                         ::testing::Values(SettingCase{L"buffer_size", 1024},
                                           SettingCase{L"sampling_rate", 96000}));

// The sample format changes with buffers made: refused while they stream; once stopped, the host
// is asked, once, to make its buffers again, and gets the new format.
TEST_F(AsioStreaming, AFormatChangeWithBuffersAsksForNewBuffers)
{
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host.Create(0, 2, 512));
    ASIOIoFormat dsd = {};
    dsd.FormatType = kASIODSDFormat;
    ASSERT_EQ(ASE_OK, host->start());
    EXPECT_EQ(ASE_InvalidMode, host->future(kAsioSetIoFormat, &dsd));
    EXPECT_EQ(ASE_OK, host->stop());
    EXPECT_EQ(0u, host.resets.load());
    EXPECT_EQ(ASE_SUCCESS, host->future(kAsioSetIoFormat, &dsd));
    EXPECT_EQ(1u, host.resets.load());
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    ASIOIoFormat current = {};
    ASSERT_EQ(ASE_SUCCESS, host->future(kAsioGetIoFormat, &current));
    EXPECT_EQ(kASIODSDFormat, current.FormatType);
}

// Two hosts have the driver loaded when the panel changes the buffer size: both adopt it.
TEST_F(AsioStreaming, EveryLoadedDriverSeesAPanelChange)
{
    static HANDLE ready, changed;
    ready = CreateEventW(nullptr, TRUE, FALSE, L"quen.test.ready");
    changed = CreateEventW(nullptr, TRUE, FALSE, L"quen.test.changed");
    PKPROCESS other = Start("second host", [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        LONG minimum = 0, maximum = 0, preferred = 0, granularity = 0;
        {
            AsioHost host;
            if (host.Load() != S_OK || host->init(nullptr) != ASIOTrue)
                return DWORD(1);
            SetEvent(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quen.test.ready"));
            WaitForSingleObject(OpenEventW(SYNCHRONIZE, FALSE, L"quen.test.changed"), INFINITE);
            host->getBufferSize(&minimum, &maximum, &preferred, &granularity);
        }
        CoUninitialize();
        return DWORD(preferred);
    });
    AsioHost &host = Host();
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 5000));
    PanelWrites(L"buffer_size", 512);
    sim::SleepMs(100);
    SetEvent(changed);
    EXPECT_EQ(512u, Join(other));
    LONG minimum = 0, maximum = 0, preferred = 0, granularity = 0;
    ASSERT_EQ(ASE_OK, host->getBufferSize(&minimum, &maximum, &preferred, &granularity));
    EXPECT_EQ(512, preferred);
    CloseHandle(ready);
    CloseHandle(changed);
}

// The device goes away mid-stream: the host is asked for a reset, once, and its stop, dispose
// and release come back.
TEST_F(AsioStreaming, DeviceRemovalAsksForAResetAndNothingHangs)
{
    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host.Create(2, 2, 256));
    ASSERT_EQ(ASE_OK, host->start());
    sim::SleepMs(300);
    session_->Pnp().Unplug(*session_->Node());
    sim::SleepMs(3000);
    EXPECT_EQ(1u, host.resets.load());
    host->stop();
    EXPECT_EQ(ASE_OK, host->disposeBuffers());
    host.Unload();
}

// A host crashes while streaming; a second host then starts the driver and streams.
TEST_F(AsioStreaming, AHostCrashingMidStreamLeavesTheDriverUsable)
{
    static HANDLE streaming;
    streaming = CreateEventW(nullptr, TRUE, FALSE, L"quen.asio.streaming");
    PKPROCESS crashing = Start("crashing host", [] {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        static AsioHost *host = new AsioHost; // the process's memory, never freed by it
        if (host->Load() != S_OK || (*host)->init(nullptr) != ASIOTrue ||
            host->Create(2, 2, 256) != ASE_OK || (*host)->start() != ASE_OK)
            return DWORD(1);
        Sleep(200);
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quen.asio.streaming");
        SetEvent(event);
        Sleep(INFINITE);
        return DWORD(0);
    });
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(streaming, 5000));
    Win32().Terminate(crashing, 9);
    EXPECT_EQ(9u, Join(crashing));
    CloseHandle(streaming);

    AsioHost &host = Host();
    ASSERT_EQ(ASE_OK, host.Create(2, 2, 256));
    sim::RenderChecker checker({2, 32, 44100}, 32, true);
    Attach(&checker);
    StreamFor(host, 500);
    ExpectExact(host, checker, 44100);
}

} // namespace
} // namespace asio_tests
