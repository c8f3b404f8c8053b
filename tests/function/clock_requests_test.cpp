// Clock requests: a clock source's rate (CUR), its rates (RANGE subranges), its validity, and a
// clock selector's input and how it delegates to its inputs.
#include "audio_control_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "function/usb_audio_clock_selector.h"
#include "function/usb_audio_clock_source.h"

namespace function_tests {
namespace {

constexpr UCHAR kGet = 0xA1;
constexpr UCHAR kSet = 0x21;
constexpr UCHAR kCur = 0x01;
constexpr UCHAR kRange = 0x02;
constexpr UCHAR kTestSelectorId = 40;

class ClockRequestTest : public AudioFunctionTest {
protected:
    CUSBAudioClockEntity *Clock(UCHAR id)
    {
        CUSBAudioEntity *entity = audio_->FindEntity(id);
        EXPECT_NE(nullptr, entity);
        EXPECT_TRUE(entity != nullptr && entity->IsClockEntity());
        return static_cast<CUSBAudioClockEntity *>(entity);
    }
    CUSBAudioClockSelector *Selector(UCHAR id)
    {
        return static_cast<CUSBAudioClockSelector *>(Clock(id));
    }

    // The requests sent from log position `from` on with this bmRequestType and bRequest.
    std::vector<driver_usb_tests::LoggedControl> Sent(size_t from, UCHAR type, UCHAR request)
    {
        std::vector<driver_usb_tests::LoggedControl> sent;
        for (const auto &r : log_->Since(from))
            if (r.setup.bmRequestType == type && r.setup.bRequest == request)
                sent.push_back(r);
        return sent;
    }

    // A raw device of the test function whose clock 10 reports these subranges.
    NTSTATUS StartWithRanges(std::vector<devices::ControlSubrange> ranges)
    {
        auto model = std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High,
                                                                   Uac2Function().Serialise());
        model->FindEntityControl(kClockId, uac::kClockFrequencyControl, 0)
            ->WithRanges(std::move(ranges));
        return Start(model);
    }

    // The test function whose terminals run on clock selector 40 over `inputs`; every input id
    // but 10 is a further clock source.
    static TestFunction WithSelector(const std::vector<UCHAR> &inputs)
    {
        TestFunction f = Uac2Function();
        auto &entities = f.function.control.entities;
        for (UCHAR id : inputs)
            if (id != kClockId && id < 90)
                entities.insert(entities.begin() + 1, devices::uac2::ClockSource(id, 3, 7));
        entities.insert(entities.begin() + 1,
                        devices::uac2::ClockSelector(kTestSelectorId, inputs, 3));
        return f;
    }
};

// ---- Clock source ----------------------------------------------------------------------------

TEST_F(ClockRequestTest, SourceReadsItsRateWithGetCur)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    const size_t from = log_->Count();
    ULONG rate = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(kClockId)->GetSampleRate(&rate));
    EXPECT_EQ(devices::rvd3::kInitialRate, rate);
    auto sent = Sent(from, kGet, kCur);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0100, sent[0].setup.wValue);
    EXPECT_EQ(0x0A00, sent[0].setup.wIndex); // clock 10, interface 0
    EXPECT_EQ(4, sent[0].setup.wLength);
}

TEST_F(ClockRequestTest, SourceSetsItsRateWithSetCur)
{
    auto model = std::make_shared<devices::Rvd3Model>();
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    const size_t from = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS, Clock(kClockId)->SetSampleRate(96000));
    auto sent = Sent(from, kSet, kCur);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0100, sent[0].setup.wValue);
    EXPECT_EQ(0x0A00, sent[0].setup.wIndex);
    EXPECT_EQ((std::vector<UCHAR>{0x00, 0x77, 0x01, 0x00}), sent[0].data);
    EXPECT_EQ(96000u, model->SampleRate());
    ULONG rate = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(kClockId)->GetSampleRate(&rate));
    EXPECT_EQ(96000u, rate);
}

TEST_F(ClockRequestTest, RefusedRateIsTheRequestsFailure)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    EXPECT_FALSE(NT_SUCCESS(Clock(kClockId)->SetSampleRate(12345)));
}

TEST_F(ClockRequestTest, RangeIsReadInTwoRequests)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    const size_t from = log_->Count();
    ULONG minimum = 0;
    ULONG maximum = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(44100u, minimum);
    EXPECT_EQ(384000u, maximum);
    auto sent = Sent(from, kGet, kRange);
    ASSERT_EQ(2u, sent.size());
    EXPECT_EQ(16, sent[0].setup.wLength);
    EXPECT_EQ(2 + 12 * std::size(devices::rvd3::kRates), sent[1].setup.wLength);
    EXPECT_EQ(0x0100, sent[1].setup.wValue);
}

TEST_F(ClockRequestTest, RangeBoundsApplyOnlyAfterTheFirstSubrange)
{
    // Discrete rates 44.1 kHz to 384 kHz: the first subrange sets both ends, later ones widen
    // them only within the bounds.
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    ULONG minimum = 0;
    ULONG maximum = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 50000, 200000));
    EXPECT_EQ(44100u, minimum);
    EXPECT_EQ(192000u, maximum);
}

TEST_F(ClockRequestTest, RangeSpansContinuousSubranges)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{44100, 48000, 0}, {88200, 192000, 0}}));
    ULONG minimum = 0;
    ULONG maximum = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(44100u, minimum);
    EXPECT_EQ(192000u, maximum);
}

TEST_F(ClockRequestTest, ContinuousSubrangeWithoutResolutionSupportsOnlyItsEnds)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{44100, 192000, 0}}));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->IsSampleRateSupported(96000));
}

TEST_F(ClockRequestTest, SubrangeResolutionDecidesWhichRatesAreSupported)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{44100, 192000, 100}}));
    CUSBAudioClockEntity *clock = Clock(kClockId);
    EXPECT_EQ(STATUS_SUCCESS, clock->IsSampleRateSupported(96000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, clock->IsSampleRateSupported(96050));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, clock->IsSampleRateSupported(192100));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, clock->IsSampleRateSupported(44000));
}

TEST_F(ClockRequestTest, ResolutionOneSupportsEveryRateInside)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{44100, 192000, 1}}));
    EXPECT_EQ(STATUS_SUCCESS, Clock(kClockId)->IsSampleRateSupported(96000));
}

TEST_F(ClockRequestTest, DiscreteSubrangeSupportsItsRate)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{44100, 44100, 0}, {96000, 96000, 0}}));
    EXPECT_EQ(STATUS_SUCCESS, Clock(kClockId)->IsSampleRateSupported(96000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->IsSampleRateSupported(48000));
}

TEST_F(ClockRequestTest, RangeReplyShorterThanItAnnouncesIsRefused)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeShortRangeReplyDevice()));
    ULONG minimum = 1;
    ULONG maximum = 1;
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(0u, minimum);
    EXPECT_EQ(0u, maximum);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->IsSampleRateSupported(44100));
}

TEST_F(ClockRequestTest, RangeAnnouncingMoreThanARequestCanCarryIsRefusedUnread)
{
    auto model = std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High,
                                                               Uac2Function().Serialise());
    model->FindEntityControl(kClockId, uac::kClockFrequencyControl, 0)->AnnounceSubranges(6000);
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    const size_t from = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->IsSampleRateSupported(48000));
    EXPECT_EQ(1u, Sent(from, kGet, kRange).size());
}

TEST_F(ClockRequestTest, RangeReplyWithoutItsCountIsRefused)
{
    auto inner = std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High,
                                                               Uac2Function().Serialise());
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<ShortReplyDevice>(
                                  inner, host::UsbControlMatch::Request(kGet, kRange, 0x0100), 1)));
    const size_t from = log_->Count();
    ULONG minimum = 0;
    ULONG maximum = 0;
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(1u, Sent(from, kGet, kRange).size());
}

TEST_F(ClockRequestTest, ImpossibleSubrangeIsRefused)
{
    ASSERT_EQ(STATUS_SUCCESS, StartWithRanges({{48000, 44100, 0}}));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->IsSampleRateSupported(44100));
}

TEST_F(ClockRequestTest, ShortRateReplyIsRefused)
{
    auto inner = std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::High,
                                                               Uac2Function().Serialise());
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<ShortReplyDevice>(
                                  inner, host::UsbControlMatch::Request(kGet, kCur, 0x0100), 2)));
    ULONG rate = 0;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kClockId)->GetSampleRate(&rate));
}

TEST_F(ClockRequestTest, FailedRangeRequestIsReturned)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    Faults().StallControl(host::UsbControlMatch::Request(kGet, kRange));
    ULONG minimum = 0;
    ULONG maximum = 0;
    const NTSTATUS status = Clock(kClockId)->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF);
    EXPECT_FALSE(NT_SUCCESS(status));
    EXPECT_NE(STATUS_NOT_SUPPORTED, status);
}

TEST_F(ClockRequestTest, SourceIsInvalidWhileItRelocks)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    CUSBAudioClockEntity *clock = Clock(kClockId);
    ASSERT_EQ(STATUS_SUCCESS, clock->SetSampleRate(88200));
    const size_t from = log_->Count();
    EXPECT_FALSE(clock->IsValid());
    auto sent = Sent(from, kGet, kCur);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0200, sent[0].setup.wValue);
    EXPECT_EQ(1, sent[0].setup.wLength);
    Sleep(25);
    EXPECT_TRUE(clock->IsValid());
}

TEST_F(ClockRequestTest, SourceWithoutReadableValidityIsValidWithoutARequest)
{
    TestFunction f = Uac2Function();
    f.function.control.entities[0] = devices::uac2::ClockSource(
        kClockId, devices::uac2::kClockInternalProgrammable, devices::uac2::ControlBits(0, 3));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectConfiguration());
    const size_t from = log_->Count();
    EXPECT_TRUE(Clock(kClockId)->IsValid());
    EXPECT_EQ(0u, ClassRequestsSince(from));
}

TEST_F(ClockRequestTest, SourceWhoseValidityCannotBeReadIsInvalid)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::Rvd3Model>()));
    Faults().StallControl(host::UsbControlMatch::Request(kGet, kCur, 0x0200));
    EXPECT_FALSE(Clock(kClockId)->IsValid());
}

// ---- Clock selector --------------------------------------------------------------------------

TEST_F(ClockRequestTest, SelectorReadsItsInputFromTheDevice)
{
    using namespace devices::clock_selector;
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeClockSelectorDevice()));
    const size_t from = log_->Count();
    UCHAR pin = 0;
    ASSERT_EQ(STATUS_SUCCESS, Selector(kSelectorId)->GetSelectedInput(&pin));
    EXPECT_EQ(2, pin);
    auto sent = Sent(from, kGet, kCur);
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ(0x0100, sent[0].setup.wValue);
    EXPECT_EQ(0x0A00, sent[0].setup.wIndex);
    EXPECT_EQ(1, sent[0].setup.wLength);
}

TEST_F(ClockRequestTest, SelectorRateIsTheSelectedSourcesRate)
{
    using namespace devices::clock_selector;
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeClockSelectorDevice()));
    ULONG rate = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(kSelectorId)->GetSampleRate(&rate));
    EXPECT_EQ(48000u, rate);
    EXPECT_TRUE(Clock(kSelectorId)->IsValid());
}

TEST_F(ClockRequestTest, SelectorMovesToTheFirstInputThatTakesTheRate)
{
    using namespace devices::clock_selector;
    auto model =
        std::shared_ptr<devices::StreamingAudioDeviceModel>(devices::MakeClockSelectorDevice());
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    const size_t from = log_->Count();
    ASSERT_EQ(STATUS_SUCCESS, Clock(kSelectorId)->SetSampleRate(88200));
    EXPECT_EQ(88200u, model->SampleRate());

    auto sets = Sent(from, kSet, kCur);
    ASSERT_EQ(2u, sets.size());
    EXPECT_EQ(kSource44kId << 8, sets[0].setup.wIndex);
    EXPECT_EQ(kSelectorId << 8, sets[1].setup.wIndex);
    EXPECT_EQ(std::vector<UCHAR>{1}, sets[1].data);
    UCHAR pin = 0;
    ASSERT_EQ(STATUS_SUCCESS, Selector(kSelectorId)->GetSelectedInput(&pin));
    EXPECT_EQ(1, pin);

    ASSERT_EQ(STATUS_SUCCESS, Clock(kSelectorId)->SetSampleRate(192000));
    ASSERT_EQ(STATUS_SUCCESS, Selector(kSelectorId)->GetSelectedInput(&pin));
    EXPECT_EQ(2, pin);
    ULONG rate = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(kSelectorId)->GetSampleRate(&rate));
    EXPECT_EQ(192000u, rate);
}

TEST_F(ClockRequestTest, SelectorRefusesARateNoInputTakesWithoutSettingAnything)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeClockSelectorDevice()));
    const size_t from = log_->Count();
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Clock(devices::clock_selector::kSelectorId)->SetSampleRate(32000));
    EXPECT_EQ(0u, Sent(from, kSet, kCur).size());
}

TEST_F(ClockRequestTest, SelectorRangeSpansItsInputs)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeClockSelectorDevice()));
    ULONG minimum = 0;
    ULONG maximum = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(devices::clock_selector::kSelectorId)
                                  ->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(44100u, minimum);
    EXPECT_EQ(192000u, maximum);
}

TEST_F(ClockRequestTest, SelectorSupportsWhatAnyInputSupports)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(devices::MakeClockSelectorDevice()));
    CUSBAudioClockEntity *selector = Clock(devices::clock_selector::kSelectorId);
    EXPECT_EQ(STATUS_SUCCESS, selector->IsSampleRateSupported(176400));
    EXPECT_EQ(STATUS_SUCCESS, selector->IsSampleRateSupported(96000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, selector->IsSampleRateSupported(8000));
}

TEST_F(ClockRequestTest, SelectorWithOneInputIsOnPinOneWithoutAsking)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::RawDescriptorModel>(
                                  host::UsbSpeed::High, WithSelector({kClockId}).Serialise())));
    const size_t from = log_->Count();
    UCHAR pin = 0;
    ASSERT_EQ(STATUS_SUCCESS, Selector(kTestSelectorId)->GetSelectedInput(&pin));
    EXPECT_EQ(1, pin);
    EXPECT_EQ(0u, ClassRequestsSince(from));
}

TEST_F(ClockRequestTest, SelectorOnPinThreeUsesItsThirdInput)
{
    auto model = std::make_shared<devices::RawDescriptorModel>(
        host::UsbSpeed::High, WithSelector({kClockId, 11, 12}).Serialise());
    model->FindEntityControl(kTestSelectorId, uac::kClockSelectorControl, 0)->ReadBy([] {
        return 3;
    });
    const UCHAR rate[] = {0x00, 0x77, 0x01, 0x00}; // 96000
    model->FindEntityControl(12, uac::kClockFrequencyControl, 0)->WriteCur(rate, sizeof(rate));
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    ULONG current = 0;
    ASSERT_EQ(STATUS_SUCCESS, Clock(kTestSelectorId)->GetSampleRate(&current));
    EXPECT_EQ(96000u, current);
}

TEST_F(ClockRequestTest, SelectorReportingAPinItLacksHasNoClock)
{
    auto model = std::make_shared<devices::RawDescriptorModel>(
        host::UsbSpeed::High, WithSelector({kClockId, 11}).Serialise());
    model->FindEntityControl(kTestSelectorId, uac::kClockSelectorControl, 0)->ReadBy([] {
        return 5;
    });
    ASSERT_EQ(STATUS_SUCCESS, Start(model));
    UCHAR pin = 0;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Selector(kTestSelectorId)->GetSelectedInput(&pin));
    ULONG rate = 0;
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Clock(kTestSelectorId)->GetSampleRate(&rate));
    EXPECT_FALSE(Clock(kTestSelectorId)->IsValid());
}

TEST_F(ClockRequestTest, SelectorWithAMissingInputFailsWhenItReachesIt)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::RawDescriptorModel>(
                                  host::UsbSpeed::High, WithSelector({kClockId, 99}).Serialise())));
    CUSBAudioClockEntity *selector = Clock(kTestSelectorId);
    ULONG minimum = 0;
    ULONG maximum = 0;
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              selector->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(STATUS_SUCCESS, selector->IsSampleRateSupported(48000)); // pin 1 answers first
    EXPECT_EQ(STATUS_NOT_SUPPORTED, selector->IsSampleRateSupported(12345));
    EXPECT_EQ(STATUS_SUCCESS, selector->SetSampleRate(48000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, selector->SetSampleRate(12345));
}

TEST_F(ClockRequestTest, SelectorWithoutInputsHasNoRate)
{
    ASSERT_EQ(STATUS_SUCCESS, Start(std::make_shared<devices::RawDescriptorModel>(
                                  host::UsbSpeed::High, WithSelector({}).Serialise())));
    CUSBAudioClockSelector *selector = Selector(kTestSelectorId);
    UCHAR pin = 0;
    EXPECT_EQ(STATUS_UNSUCCESSFUL, selector->GetSelectedInput(&pin));
    ULONG rate = 0;
    EXPECT_FALSE(NT_SUCCESS(selector->GetSampleRate(&rate)));
    EXPECT_FALSE(selector->IsValid());
    EXPECT_EQ(STATUS_NOT_SUPPORTED, selector->IsSampleRateSupported(48000));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, selector->SetSampleRate(48000));
    ULONG minimum = 1;
    ULONG maximum = 1;
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              selector->GetSampleRateRange(&minimum, &maximum, 0, 0xFFFFFFFF));
    EXPECT_EQ(0u, minimum);
    EXPECT_EQ(0u, maximum);
}

} // namespace
} // namespace function_tests
