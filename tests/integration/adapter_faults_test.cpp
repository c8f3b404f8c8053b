// Faults while the adapter streams render and capture with the RV-D3: each ends in a recovery
// (the stream goes on, the cause reported to the miniport) or a clean stop (the device is gone,
// reported once), within a bounded stretch of virtual time, and the fixture finds nothing leaked
// when the streams close and the adapter goes.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"

#include <algorithm>

namespace {

using namespace adapter_harness;
using namespace devices::rvd3;

constexpr ULONG kUsbaTag = 0x41425355;
// Long enough for a recovery, with its back-off, and the stream's return.
constexpr ULONGLONG kSettleMs = 300;

class FaultTest : public AdapterTest {
protected:
    void SetUp() override
    {
        Start(std::make_shared<devices::Rvd3Model>());
        Miniport().SetDeviceCaptureFormat({kChannels, 4, 24});
    }
    void OpenBoth()
    {
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(false, kFormat));
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Open(true, kFormat));
    }
    void RunBoth()
    {
        OpenBoth();
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
        rig_->Play(100);
    }
    ULONGLONG Interval() { return rig_->Controller().CurrentInterval(AdapterRig::kPort); }
    // Both directions move on over the next stretch of time, or (when allowed) told their
    // stream that they cannot.
    void ExpectStreaming(bool orReported = false)
    {
        const ULONGLONG rendered = Miniport().RenderPosition();
        const ULONGLONG captured = Miniport().CaptureWritten();
        rig_->Play(100);
        const auto errors = Miniport().StreamErrors();
        for (bool capture : {false, true}) {
            const bool moved = capture ? Miniport().CaptureWritten() > captured
                                       : Miniport().RenderPosition() > rendered;
            const bool reported =
                std::any_of(errors.begin(), errors.end(),
                            [capture](const auto &error) { return error.first == capture; });
            EXPECT_TRUE(moved || (orReported && reported)) << (capture ? "capture" : "render");
        }
    }
    bool Reported(bool capture, NTSTATUS status) const
    {
        const auto errors = rig_->Miniport().StreamErrors();
        return std::find(errors.begin(), errors.end(), std::make_pair(capture, status)) !=
               errors.end();
    }

    const ClientFormat kFormat{2, 24, 48000};
};

TEST_F(FaultTest, FailedTransfersAreRecoveredAndReported)
{
    RunBoth();
    rig_->Faults().FailIsoTransfer(kRenderEndpoint, 5, USBD_STATUS_ISOCH_REQUEST_FAILED);
    rig_->Faults().FailIsoTransfer(kCaptureEndpoint, 5, USBD_STATUS_XACT_ERROR);
    rig_->Faults().FailIsoTransfer(kFeedbackEndpoint, 1, USBD_STATUS_XACT_ERROR);
    rig_->Play(kSettleMs);
    EXPECT_TRUE(Reported(false, STATUS_UNSUCCESSFUL));
    EXPECT_TRUE(Reported(true, STATUS_UNSUCCESSFUL));
    ExpectStreaming();
}

TEST_F(FaultTest, ShortAndEmptyCapturePacketsLoseOnlyTheirFrames)
{
    RunBoth();
    const ULONGLONG now = Interval();
    rig_->Faults().ShortIsoPacket(kCaptureEndpoint, now + 80, 40, 8); // one frame a packet
    rig_->Faults().ZeroLengthPackets(kCaptureEndpoint, now + 400, 40);
    rig_->Play(kSettleMs);
    const CaptureChecker &captured = Miniport().CaptureCheck();
    EXPECT_EQ(0u, captured.Mismatches());
    EXPECT_GE(captured.Gaps(), 1u);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
    ExpectStreaming();
}

TEST_F(FaultTest, DroppedFeedbackRecoversOnceThenRendersAtTheNominalRate)
{
    RunBoth();
    // A short drop: three reads fail, one recovery.
    rig_->Faults().DropFeedback(kFeedbackEndpoint, Interval(), 8 * 20);
    rig_->Play(kSettleMs);
    EXPECT_TRUE(Reported(false, STATUS_UNSUCCESSFUL));
    const size_t afterShortDrop = Miniport().StreamErrors().size();
    // A feedback endpoint gone quiet for good: render goes on without further recoveries.
    rig_->Faults().DropFeedback(kFeedbackEndpoint, Interval(), 8 * 2000);
    rig_->Play(2000);
    EXPECT_LE(Miniport().StreamErrors().size(), afterShortDrop + 1);
    ExpectStreaming();
}

TEST_F(FaultTest, FeedbackOutOfRangeGivesWayToTheNominalRate)
{
    RunBoth();
    // 20 % fast: more than a sample per microframe from nominal at 48 kHz.
    rig_->WithDevice([](devices::StreamingAudioDeviceModel &d) {
        d.SetClockOffsetPpm(200000);
        return 0;
    });
    rig_->Play(kSettleMs);
    EXPECT_TRUE(Miniport().StreamErrors().empty());
    ExpectStreaming();
}

TEST_F(FaultTest, StalledRateRequestFailsTheStartCleanly)
{
    OpenBoth();
    // The clock's sampling frequency SET_CUR.
    rig_->Faults().StallControl(host::UsbControlMatch::Request(0x21, 0x01, 0x0100), 1);
    EXPECT_NE(STATUS_SUCCESS, Miniport().Run(false));
    // The next start goes through.
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
    rig_->Play(100);
    ExpectStreaming();
}

class LowResourcesAtStartTest : public FaultTest, public ::testing::WithParamInterface<int> {};

TEST_P(LowResourcesAtStartTest, StartsOrFailsCleanly)
{
    OpenBoth();
    M().KernelPool().FailAllocations(kUsbaTag, size_t(GetParam()), 1);
    const NTSTATUS render = Miniport().Run(false);
    const NTSTATUS capture = Miniport().Run(true);
    rig_->Play(kSettleMs);
    EXPECT_TRUE(render == STATUS_SUCCESS || render == STATUS_INSUFFICIENT_RESOURCES)
        << std::hex << ULONG(render);
    EXPECT_TRUE(capture == STATUS_SUCCESS || capture == STATUS_INSUFFICIENT_RESOURCES)
        << std::hex << ULONG(capture);
    if (render == STATUS_SUCCESS && capture == STATUS_SUCCESS)
        ExpectStreaming(true);
}

// Every allocation the two starts and their first transfers make, and a few past the last.
INSTANTIATE_TEST_SUITE_P(EveryAllocation, LowResourcesAtStartTest, ::testing::Range(0, 60));

enum class RemovalState { Opened, Paused, RenderRunning, CaptureRunning, BothRunning, AsioRender };
const char *const kRemovalStateNames[] = {"Opened",         "Paused",      "RenderRunning",
                                          "CaptureRunning", "BothRunning", "AsioRender"};

class SurpriseRemovalTest : public FaultTest, public ::testing::WithParamInterface<RemovalState> {};

TEST_P(SurpriseRemovalTest, EndsTheStreamsCleanly)
{
    const RemovalState state = GetParam();
    OpenBoth();
    const bool render = state == RemovalState::RenderRunning ||
                        state == RemovalState::BothRunning || state == RemovalState::AsioRender ||
                        state == RemovalState::Paused;
    const bool capture = state == RemovalState::CaptureRunning ||
                         state == RemovalState::BothRunning || state == RemovalState::Paused;
    Miniport().SetAsioMode(false, state == RemovalState::AsioRender);
    if (render) {
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(false));
    }
    if (capture) {
        ASSERT_EQ(STATUS_SUCCESS, Miniport().Run(true));
    }
    rig_->Play(50);
    if (state == RemovalState::Paused) {
        Miniport().Pause(false);
        Miniport().Pause(true);
    }
    rig_->Faults().RemoveAtInterval(Interval() + 8 * 3);
    rig_->Play(kSettleMs);
    const bool running = state != RemovalState::Opened && state != RemovalState::Paused;
    if (running) {
        EXPECT_TRUE(Reported(capture && !render, STATUS_DEVICE_NOT_CONNECTED));
    }
    // A start on a removed device fails and leaves nothing running.
    Miniport().Pause(false);
    Miniport().Pause(true);
    EXPECT_NE(STATUS_SUCCESS, Miniport().Run(false));
    rig_->Play(kSettleMs);
}

INSTANTIATE_TEST_SUITE_P(EachState, SurpriseRemovalTest,
                         ::testing::Values(RemovalState::Opened, RemovalState::Paused,
                                           RemovalState::RenderRunning,
                                           RemovalState::CaptureRunning, RemovalState::BothRunning,
                                           RemovalState::AsioRender),
                         [](const ::testing::TestParamInfo<RemovalState> &info) {
                             return std::string(kRemovalStateNames[int(info.param)]);
                         });

} // namespace
