// Audio Class 1.0 data ranges: channels, bits and rates from the FORMAT_TYPE descriptor (the
// lowest and highest of a discrete rate list, or the bounds of a continuous range) and the
// subformat from wFormatTag.
#include "filter_test_fixture.h"

#include <vector>

namespace function_tests {
namespace {

// A Class 1.0 render setting with its own AS_GENERAL and FORMAT_TYPE.
devices::AlternateSetting Uac1Setting(USHORT formatTag, const devices::Descriptor &formatType)
{
    devices::AlternateSetting setting = Uac1Render();
    setting.classSpecific = {devices::uac1::AsGeneral(kInputTerminalId, 1, formatTag), formatType};
    return setting;
}

TestFunction WithRenderSettings(const std::vector<devices::AlternateSetting> &settings)
{
    TestFunction f = Uac1Function();
    f.function.streaming[0].alternates = {devices::StreamingAlternate(devices::AudioClass::Uac1)};
    for (const devices::AlternateSetting &setting : settings)
        f.function.streaming[0].alternates.push_back(setting);
    return f;
}

class Class1DataRangesTest : public FilterTest {
protected:
    const KSDATARANGE_AUDIO &Range(ULONG setting) const
    {
        auto pointers = static_cast<const PKSDATARANGE *>(audio_->RenderInterface->DataRanges);
        return *reinterpret_cast<const KSDATARANGE_AUDIO *>(pointers[setting]);
    }
};

TEST_F(Class1DataRangesTest, ADiscreteRateListGivesItsLowestAndHighestRate)
{
    const devices::Descriptor unordered =
        devices::uac1::FormatTypeI(2, 3, 24, {48000, 8000, 96000, 22050});
    ASSERT_EQ(STATUS_SUCCESS,
              Build(WithRenderSettings({Uac1Render({44100, 48000}), Uac1Setting(1, unordered)})));
    ASSERT_EQ(3u, audio_->RenderInterface->DataRangeCount);

    const KSDATARANGE_AUDIO &first = Range(1);
    EXPECT_EQ(88u, first.DataRange.FormatSize);
    EXPECT_EQ(KSDATAFORMAT_TYPE_AUDIO, first.DataRange.MajorFormat);
    EXPECT_EQ(KSDATAFORMAT_SUBTYPE_PCM, first.DataRange.SubFormat);
    EXPECT_EQ(KSDATAFORMAT_SPECIFIER_WAVEFORMATEX, first.DataRange.Specifier);
    EXPECT_EQ(2u, first.MaximumChannels);
    EXPECT_EQ(16u, first.MinimumBitsPerSample);
    EXPECT_EQ(16u, first.MaximumBitsPerSample);
    EXPECT_EQ(44100u, first.MinimumSampleFrequency);
    EXPECT_EQ(48000u, first.MaximumSampleFrequency);

    const KSDATARANGE_AUDIO &second = Range(2);
    EXPECT_EQ(24u, second.MinimumBitsPerSample);
    EXPECT_EQ(24u, second.MaximumBitsPerSample);
    EXPECT_EQ(8000u, second.MinimumSampleFrequency);
    EXPECT_EQ(96000u, second.MaximumSampleFrequency);
    EXPECT_EQ(2u, KsPin(0).DataRangesCount);
}

TEST_F(Class1DataRangesTest, ASingleRateGivesThatRateAsBothBounds)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings({Uac1Render({48000})})));
    EXPECT_EQ(48000u, Range(1).MinimumSampleFrequency);
    EXPECT_EQ(48000u, Range(1).MaximumSampleFrequency);
}

TEST_F(Class1DataRangesTest, AContinuousRangeGivesItsLowerAndUpperRate)
{
    const devices::Descriptor continuous =
        devices::uac1::FormatTypeIContinuous(1, 2, 16, 8000, 96000);
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings({Uac1Setting(1, continuous)})));
    const KSDATARANGE_AUDIO &range = Range(1);
    EXPECT_EQ(1u, range.MaximumChannels);
    EXPECT_EQ(16u, range.MaximumBitsPerSample);
    EXPECT_EQ(8000u, range.MinimumSampleFrequency);
    EXPECT_EQ(96000u, range.MaximumSampleFrequency);
}

TEST_F(Class1DataRangesTest, TheSubformatFollowsTheFormatTag)
{
    struct Case {
        USHORT tag;
        GUID subFormat;
    };
    const Case cases[] = {
        {0x0001, KSDATAFORMAT_SUBTYPE_PCM},        {0x0002, KSDATAFORMAT_SUBTYPE_PCM},
        {0x0003, KSDATAFORMAT_SUBTYPE_IEEE_FLOAT}, {0x0004, KSDATAFORMAT_SUBTYPE_ALAW},
        {0x0005, KSDATAFORMAT_SUBTYPE_MULAW},      {0x1001, GUID_NULL}, // MPEG: not Type I
    };
    std::vector<devices::AlternateSetting> settings;
    for (const Case &c : cases)
        settings.push_back(
            Uac1Setting(c.tag, devices::uac1::FormatTypeI(2, 2, 16, {44100, 48000})));
    ASSERT_EQ(STATUS_SUCCESS, Build(WithRenderSettings(settings)));
    for (ULONG i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(cases[i].subFormat, Range(i + 1).DataRange.SubFormat)
            << "wFormatTag 0x" << std::hex << cases[i].tag;
        // An unknown tag still describes the setting.
        EXPECT_EQ(16u, Range(i + 1).MaximumBitsPerSample);
        EXPECT_EQ(48000u, Range(i + 1).MaximumSampleFrequency);
    }
}

} // namespace
} // namespace function_tests
