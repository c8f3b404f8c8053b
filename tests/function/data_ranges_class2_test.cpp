// Audio Class 2.0 data ranges: one KSDATARANGE_AUDIO per alternate setting, its subformat from
// bmFormats, channels and bits from the setting, and the rates of the terminal's clock. The raw
// model's clock offers 44.1 to 192 kHz.
#include "filter_test_fixture.h"

#include <vector>

namespace function_tests {
namespace {

constexpr ULONG kClockMinimum = 44100;
constexpr ULONG kClockMaximum = 192000;

// A render setting announcing the given bmFormats (and format type) instead of plain PCM.
devices::AlternateSetting Uac2Setting(ULONG formats, UCHAR subslot, UCHAR bits,
                                      UCHAR formatType = 1)
{
    devices::AlternateSetting setting = Uac2Render(subslot, bits);
    setting.classSpecific[0] =
        devices::uac2::AsGeneral(kInputTerminalId, formatType, formats, 2, kStereo);
    if (formatType != 1)
        setting.classSpecific[1] = devices::uac2::FormatTypeIII(subslot, bits);
    return setting;
}

TestFunction WithRenderSettings(const std::vector<devices::AlternateSetting> &settings)
{
    TestFunction f = Uac2Function();
    f.function.streaming[0].alternates = {devices::StreamingAlternate(devices::AudioClass::Uac2)};
    for (const devices::AlternateSetting &setting : settings)
        f.function.streaming[0].alternates.push_back(setting);
    return f;
}

class DataRangesTest : public FilterTest {
protected:
    // Pointer i of the render interface's data-range block.
    const KSDATARANGE_AUDIO *Range(ULONG setting) const
    {
        auto pointers = static_cast<const PKSDATARANGE *>(audio_->RenderInterface->DataRanges);
        return reinterpret_cast<const KSDATARANGE_AUDIO *>(pointers[setting]);
    }
    // Record i of the block, whether a pointer names it or not.
    const KSDATARANGE_AUDIO &Record(ULONG setting) const
    {
        auto pointers = static_cast<const PKSDATARANGE *>(audio_->RenderInterface->DataRanges);
        auto records = reinterpret_cast<const KSDATARANGE_AUDIO *>(
            pointers + audio_->RenderInterface->DataRangeCount);
        return records[setting];
    }
    static bool IsZero(const KSDATARANGE_AUDIO &range)
    {
        auto bytes = reinterpret_cast<const UCHAR *>(&range);
        for (size_t i = 0; i < sizeof(range); ++i)
            if (bytes[i] != 0)
                return false;
        return true;
    }
};

TEST_F(DataRangesTest, SixteenAndTwentyFourBitSettingsPublishTwoRangesWithTheClockRange)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings({Uac2Render(2, 16), Uac2Render(4, 24)})));
    ASSERT_NE(nullptr, audio_->RenderInterface->DataRanges);
    ASSERT_EQ(3u, audio_->RenderInterface->DataRangeCount);

    // The block: three pointers, then three records; entry 0 is null and record 0 zero.
    EXPECT_EQ(nullptr, Range(0));
    EXPECT_TRUE(IsZero(Record(0)));
    EXPECT_EQ(&Record(1), Range(1));
    EXPECT_EQ(&Record(2), Range(2));
    EXPECT_EQ(reinterpret_cast<const UCHAR *>(audio_->RenderInterface->DataRanges) + 3 * 8,
              reinterpret_cast<const UCHAR *>(&Record(0)));

    const ULONG bits[] = {0, 16, 24};
    for (ULONG setting = 1; setting <= 2; ++setting) {
        const KSDATARANGE_AUDIO &range = *Range(setting);
        EXPECT_EQ(88u, range.DataRange.FormatSize) << setting;
        EXPECT_EQ(0u, range.DataRange.Flags) << setting;
        EXPECT_EQ(0u, range.DataRange.SampleSize) << setting;
        EXPECT_EQ(0u, range.DataRange.Reserved) << setting;
        EXPECT_EQ(KSDATAFORMAT_TYPE_AUDIO, range.DataRange.MajorFormat) << setting;
        EXPECT_EQ(KSDATAFORMAT_SUBTYPE_PCM, range.DataRange.SubFormat) << setting;
        EXPECT_EQ(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, range.DataRange.Specifier) << setting;
        EXPECT_EQ(2u, range.MaximumChannels) << setting;
        EXPECT_EQ(bits[setting], range.MinimumBitsPerSample) << setting;
        EXPECT_EQ(bits[setting], range.MaximumBitsPerSample) << setting;
        EXPECT_EQ(kClockMinimum, range.MinimumSampleFrequency) << setting;
        EXPECT_EQ(kClockMaximum, range.MaximumSampleFrequency) << setting;
    }

    // The render pin announces the ranges of settings 1 and 2.
    ASSERT_EQ(2u, KsPin(0).DataRangesCount);
    EXPECT_EQ(static_cast<const PKSDATARANGE *>(audio_->RenderInterface->DataRanges) + 1,
              KsPin(0).DataRanges);
}

TEST_F(DataRangesTest, TheSubformatIsTheFirstTypeIFormatOfBmFormats)
{
    struct Case {
        ULONG formats;
        GUID subFormat;
    };
    const Case cases[] = {
        {0x01, KSDATAFORMAT_SUBTYPE_PCM},        {0x02, KSDATAFORMAT_SUBTYPE_PCM}, // PCM8
        {0x04, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT}, {0x08, KSDATAFORMAT_SUBTYPE_ALAW},
        {0x10, KSDATAFORMAT_SUBTYPE_MULAW},      {0x05, KSDATAFORMAT_SUBTYPE_PCM},
        {0x0C, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT}, {0x18, KSDATAFORMAT_SUBTYPE_ALAW},
    };
    std::vector<devices::AlternateSetting> settings;
    for (const Case &c : cases)
        settings.push_back(Uac2Setting(c.formats, 4, 24));
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings(settings)));
    for (ULONG i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].subFormat, Range(i + 1)->DataRange.SubFormat)
            << "bmFormats 0x" << std::hex << cases[i].formats;
}

TEST_F(DataRangesTest, ASettingWithOnlyTheRawDataBitGetsAZeroSubformat)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings({Uac2Setting(0x80000000, 4, 32)})));
    const KSDATARANGE_AUDIO &range = *Range(1);
    EXPECT_EQ(GUID_NULL, range.DataRange.SubFormat);
    // The rest of the range is filled as for any Type I setting.
    EXPECT_EQ(88u, range.DataRange.FormatSize);
    EXPECT_EQ(KSDATAFORMAT_TYPE_AUDIO, range.DataRange.MajorFormat);
    EXPECT_EQ(2u, range.MaximumChannels);
    EXPECT_EQ(32u, range.MaximumBitsPerSample);
    EXPECT_EQ(kClockMaximum, range.MaximumSampleFrequency);
}

TEST_F(DataRangesTest, ANonTypeISettingKeepsAZeroRangeInItsPlace)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Build(WithRenderSettings(
                  {Uac2Render(4, 24), Uac2Setting(0x01, 4, 24, 3), Uac2Render(2, 16)})));
    ASSERT_EQ(4u, audio_->RenderInterface->DataRangeCount);
    EXPECT_EQ(24u, Range(1)->MaximumBitsPerSample);
    // Pin data range k stays alternate setting k + 1.
    EXPECT_EQ(&Record(2), Range(2));
    EXPECT_TRUE(IsZero(Record(2)));
    EXPECT_EQ(16u, Range(3)->MaximumBitsPerSample);
    EXPECT_EQ(3u, KsPin(0).DataRangesCount);
}

TEST_F(DataRangesTest, AnUnreadableClockRangeGivesZeroRatesAndStillSucceeds)
{
    // Every RANGE request of the sampling frequency control of clock 10 stalls.
    Faults().StallControl(host::UsbControlMatch::Request(0xA1, 0x02, 0x0100, kClockId << 8));
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings({Uac2Render(4, 24)})));
    const KSDATARANGE_AUDIO &range = *Range(1);
    EXPECT_EQ(KSDATAFORMAT_SUBTYPE_PCM, range.DataRange.SubFormat);
    EXPECT_EQ(24u, range.MaximumBitsPerSample);
    EXPECT_EQ(0u, range.MinimumSampleFrequency);
    EXPECT_EQ(0u, range.MaximumSampleFrequency);
}

// A device answers class requests only once configured, and the data ranges are built before
// that: the filter description reads the clock range again.
TEST_F(DataRangesTest, TheClockRangeIsReadAgainOnceTheDeviceIsConfigured)
{
    TestFunction f = WithRenderSettings({Uac2Render(4, 24)});
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(24u, Range(1)->MaximumBitsPerSample);
    EXPECT_EQ(0u, Range(1)->MinimumSampleFrequency);
    EXPECT_EQ(0u, Range(1)->MaximumSampleFrequency);

    ASSERT_EQ(STATUS_SUCCESS, audio_->SelectConfiguration());
    ASSERT_EQ(STATUS_SUCCESS, audio_->BuildFilter(&filter_));
    EXPECT_EQ(kClockMinimum, Range(1)->MinimumSampleFrequency);
    EXPECT_EQ(kClockMaximum, Range(1)->MaximumSampleFrequency);
}

TEST_F(DataRangesTest, TheCaptureInterfaceGetsItsOwnRanges)
{
    TestFunction f = Uac2Function();
    for (const devices::Descriptor &entity : Uac2CapturePath(uac::kTerminalLineConnector))
        f.function.control.entities.push_back(entity);
    f.function.streaming.push_back(Uac2CaptureInterface());
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    AudioStreamingInterface *capture = audio_->CaptureInterface;
    ASSERT_NE(nullptr, capture);
    ASSERT_EQ(2u, capture->DataRangeCount);
    auto range = reinterpret_cast<const KSDATARANGE_AUDIO *>(
        static_cast<const PKSDATARANGE *>(capture->DataRanges)[1]);
    EXPECT_EQ(24u, range->MaximumBitsPerSample);
    EXPECT_EQ(kClockMinimum, range->MinimumSampleFrequency);
    EXPECT_EQ(1u, KsPin(3).DataRangesCount);
    EXPECT_EQ(&static_cast<const PKSDATARANGE *>(capture->DataRanges)[1], KsPin(3).DataRanges);
}

} // namespace
} // namespace function_tests
