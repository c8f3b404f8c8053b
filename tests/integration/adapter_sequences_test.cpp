// Random walks through what the streams of both directions may do to the adapter: open, run,
// pause, stop, close, change format, switch native DSD and run in ASIO mode, with stretches of
// streaming in between. Every walk ends with both streams closed and the device's interfaces
// back at their zero-bandwidth settings; the machine finds no leak, no verifier report and no
// hang.
#include "adapter_harness/adapter_test.h"

#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

#include <functional>
#include <random>

namespace {

using namespace adapter_harness;

constexpr int kWalks = 500;
constexpr int kStepsPerWalk = 12;

struct SequenceCase {
    const char *name;
    std::function<std::shared_ptr<devices::StreamingAudioDeviceModel>()> make;
    UCHAR renderInterface;
    UCHAR captureInterface;
    std::vector<ULONG> rates;
    std::vector<ULONG> bits;
};

class StreamSequenceTest : public AdapterTest,
                           public ::testing::WithParamInterface<SequenceCase> {};

TEST_P(StreamSequenceTest, RandomWalksEndIdleAndClean)
{
    const SequenceCase &c = GetParam();
    Start(c.make());
    std::mt19937 random(20261209);
    auto pick = [&random](size_t n) { return size_t(random() % n); };
    auto format = [&] {
        return ClientFormat{2, c.bits[pick(c.bits.size())], c.rates[pick(c.rates.size())]};
    };

    int runs = 0;
    for (int walk = 0; walk < kWalks; ++walk) {
        for (int step = 0; step < kStepsPerWalk; ++step) {
            const bool capture = pick(2) == 1;
            if (Miniport().State(capture) == StreamState::Closed) {
                Miniport().SetAsioMode(capture, !capture && pick(4) == 0);
                Miniport().Open(capture, format());
                continue;
            }
            switch (pick(8)) {
            case 0:
            case 1: runs += NT_SUCCESS(Miniport().Run(capture)) ? 1 : 0; break;
            case 2: Miniport().Pause(capture); break;
            case 3: Miniport().Stop(capture); break;
            case 4: Miniport().Close(capture); break;
            case 5: Miniport().ChangeFormat(capture, format()); break;
            case 6: Adapter().SetDsdNativeMode(USHORT(pick(2))); break;
            default: rig_->Play(pick(40)); break;
            }
        }
        rig_->Play(pick(20));
        Miniport().Close(false);
        Miniport().Close(true);
        const auto settings = rig_->WithDevice([&](devices::StreamingAudioDeviceModel &d) {
            return std::make_pair(d.AlternateSetting(c.renderInterface),
                                  d.AlternateSetting(c.captureInterface));
        });
        ASSERT_EQ(0, settings.first) << "walk " << walk;
        ASSERT_EQ(0, settings.second) << "walk " << walk;
    }
    // The walks streamed: most of them ran a stream at least once.
    EXPECT_GT(runs, kWalks);
}

INSTANTIATE_TEST_SUITE_P(
    BothDirections, StreamSequenceTest,
    ::testing::Values(SequenceCase{"Rvd3",
                                   [] { return std::make_shared<devices::Rvd3Model>(); },
                                   devices::rvd3::kRenderInterface,
                                   devices::rvd3::kCaptureInterface,
                                   {44100, 48000, 96000, 192000, 384000},
                                   {16, 24, 32}},
                      SequenceCase{"ImplicitFeedback",
                                   [] {
                                       return std::shared_ptr<devices::StreamingAudioDeviceModel>(
                                           devices::MakeImplicitFeedbackDevice());
                                   },
                                   devices::implicit_feedback::kRenderInterface,
                                   devices::implicit_feedback::kCaptureInterface,
                                   {44100, 48000, 96000},
                                   {24}}),
    [](const ::testing::TestParamInfo<SequenceCase> &info) { return info.param.name; });

} // namespace
