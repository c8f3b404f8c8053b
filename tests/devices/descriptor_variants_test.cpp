// The broken and unusual descriptor sets: each carries exactly the defect its name promises,
// and the raw model serves every one of them without tripping over it.
#include "device_requests.h"

#include "devices/descriptor_variants.h"
#include "devices/usb_constants.h"

#include <algorithm>

namespace {

using namespace devices;
using namespace device_tests;

const DescriptorView *FindEntity(const std::vector<DescriptorView> &views, UCHAR subtype)
{
    for (const DescriptorView &v : views) {
        if (v.type == uac::kCsInterface && v.Subtype() == subtype)
            return &v;
    }
    return nullptr;
}

std::vector<UCHAR> Alternates(const Bytes &configuration, UCHAR interfaceNumber)
{
    std::vector<UCHAR> alternates;
    for (const DescriptorView &v : WalkDescriptors(configuration)) {
        if (v.type == usb::kInterfaceDescriptor && v.Byte(2) == interfaceNumber)
            alternates.push_back(v.Byte(3));
    }
    return alternates;
}

class EveryVariant : public ::testing::TestWithParam<DescriptorVariant> {};

TEST_P(EveryVariant, RawModelServesItAndConfigures)
{
    const DescriptorSet set = MakeDescriptorVariant(GetParam());
    RawDescriptorModel model(DescriptorVariantSpeed(GetParam()), set);
    EXPECT_EQ(18u, GetDescriptor(model, 1, 0, 18).size());
    const Bytes header = GetDescriptor(model, 2, 0, 9);
    ASSERT_EQ(9u, header.size());
    const Bytes whole = GetDescriptor(model, 2, 0, static_cast<USHORT>(ReadLe(header, 2, 2)));
    EXPECT_EQ(set.configuration, whole);
    EXPECT_EQ((Bytes{4, 3, 0x09, 0x04}), GetDescriptor(model, 3, 0, 4));
    EXPECT_TRUE(Configure(model));
    SelectAlternate(model, variant_ids::kRenderInterface, 1);
    for (ULONGLONG i = 0; i < 100; ++i) {
        model.AdvanceTo(i);
        UCHAR packet[1024] = {};
        model.IsochronousOut(0x01, i, packet, 48);
        model.IsochronousIn(0x81, i, packet, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(DescriptorVariants, EveryVariant,
                         ::testing::ValuesIn(AllDescriptorVariants()),
                         [](const ::testing::TestParamInfo<DescriptorVariant> &info) {
                             return std::string(DescriptorVariantName(info.param));
                         });

TEST(DescriptorVariants, ZeroLengthDescriptorStopsTheWalkAtTheFeatureUnit)
{
    const Bytes c = MakeDescriptorVariant(DescriptorVariant::ZeroLengthDescriptor).configuration;
    bool complete = true;
    const auto views = WalkDescriptors(c, &complete);
    EXPECT_FALSE(complete);
    const size_t stop = views.back().offset + views.back().length;
    EXPECT_EQ(0u, c[stop]);
    EXPECT_EQ(uac::kFeatureUnit, c[stop + 2]);
}

TEST(DescriptorVariants, DescriptorPastEndRunsBeyondTheConfiguration)
{
    const Bytes c = MakeDescriptorVariant(DescriptorVariant::DescriptorPastEnd).configuration;
    bool complete = true;
    const auto views = WalkDescriptors(c, &complete);
    EXPECT_FALSE(complete);
    const size_t last = views.back().offset + views.back().length;
    EXPECT_EQ(usb::kEndpointDescriptor, c[last + 1]);
    EXPECT_GT(last + c[last], c.size());
    EXPECT_EQ(c.size(), ReadLe(c, 2, 2)) << "wTotalLength itself is right";
}

TEST(DescriptorVariants, ConfigurationShorterThanItsTotalLength)
{
    const Bytes c =
        MakeDescriptorVariant(DescriptorVariant::ConfigurationShorterThanTotal).configuration;
    EXPECT_EQ(c.size() + 16, ReadLe(c, 2, 2));
    WalkAll(c);
}

TEST(DescriptorVariants, ControlHeaderTotalRunsIntoTheNextInterface)
{
    const Bytes c =
        MakeDescriptorVariant(DescriptorVariant::ControlHeaderOverrunsInterface).configuration;
    const auto views = WalkAll(c);
    const DescriptorView *header = FindEntity(views, uac::kHeader);
    ASSERT_TRUE(header);
    size_t next = 0;
    for (const DescriptorView &v : views) {
        if (v.type == usb::kInterfaceDescriptor && v.offset > header->offset) {
            next = v.offset;
            break;
        }
    }
    EXPECT_EQ(next - header->offset + 20, header->Word(6));
}

TEST(DescriptorVariants, FeatureUnitIsTooShortForAStereoChannelMap)
{
    const Bytes c =
        MakeDescriptorVariant(DescriptorVariant::FeatureUnitShorterThanChannels).configuration;
    const auto views = WalkAll(c);
    const DescriptorView *terminal = FindEntity(views, uac::kInputTerminal);
    const DescriptorView *unit = FindEntity(views, uac::kFeatureUnit);
    ASSERT_TRUE(terminal && unit);
    EXPECT_EQ(2u, terminal->Byte(8)) << "the terminal is stereo";
    EXPECT_EQ(16u, unit->length);
    EXPECT_NE(0u, (unit->length - 6) % 4) << "not a whole number of channel bit maps";
    EXPECT_LT((unit->length - 6) / 4, 1u + 2) << "fewer than master and two channels";
}

TEST(DescriptorVariants, Class1FeatureUnitHasControlSizeZero)
{
    const Bytes c =
        MakeDescriptorVariant(DescriptorVariant::FeatureUnitControlSizeZero).configuration;
    const auto views = WalkAll(c);
    const DescriptorView *unit = FindEntity(views, uac::kFeatureUnit);
    ASSERT_TRUE(unit);
    EXPECT_EQ(0u, unit->Byte(5));
    EXPECT_EQ(7u, unit->length);
    RawDescriptorModel model(host::UsbSpeed::Full,
                             MakeDescriptorVariant(DescriptorVariant::FeatureUnitControlSizeZero));
    EXPECT_EQ(nullptr, model.FindEntityControl(variant_ids::kFeatureUnitId, 1, 0));
}

TEST(DescriptorVariants, ControlStringRunsPastA256ByteBufferWithTheMarkerAcrossTheEdge)
{
    const DescriptorSet set = MakeDescriptorVariant(DescriptorVariant::StringLongerThanBuffer);
    RawDescriptorModel model(host::UsbSpeed::High, set);
    const UCHAR index = SettingDescriptors(set.configuration, 0, 0)[0].Byte(8);
    const Bytes buffer = GetDescriptor(model, 3, index, 256, 0x0409);
    ASSERT_EQ(256u, buffer.size());
    EXPECT_EQ(0xFFu, buffer[0]);
    EXPECT_EQ('[', buffer[254]);
    const Bytes whole = GetDescriptor(model, 3, index, 1024, 0x0409);
    EXPECT_EQ(402u, whole.size());
    EXPECT_EQ('D', whole[256]);
}

TEST(DescriptorVariants, FeatureUnitNamesAMissingSource)
{
    const Bytes c = MakeDescriptorVariant(DescriptorVariant::MissingSourceEntity).configuration;
    const auto views = WalkAll(c);
    const DescriptorView *unit = FindEntity(views, uac::kFeatureUnit);
    ASSERT_TRUE(unit);
    for (const DescriptorView &v : views) {
        if (v.type == uac::kCsInterface && v.Subtype() != uac::kHeader) {
            EXPECT_NE(unit->Byte(4), v.Byte(3)) << "entity " << int(v.Byte(3));
        }
    }
}

TEST(DescriptorVariants, StreamingInterfaceAlternatesAreMissingOrOutOfSequence)
{
    EXPECT_EQ(
        std::vector<UCHAR>({0}),
        Alternates(
            MakeDescriptorVariant(DescriptorVariant::StreamingWithoutAlternate1).configuration,
            variant_ids::kRenderInterface));
    EXPECT_EQ(
        std::vector<UCHAR>({0, 1, 3}),
        Alternates(MakeDescriptorVariant(DescriptorVariant::AlternateSettingGap).configuration,
                   variant_ids::kRenderInterface));
}

TEST(DescriptorVariants, UnitVariantsCarryTheirUnitBetweenTerminalAndFeatureUnit)
{
    const std::pair<DescriptorVariant, UCHAR> cases[] = {
        {DescriptorVariant::Uac2MixerUnit, uac::kMixerUnit},
        {DescriptorVariant::Uac2SelectorUnit, uac::kSelectorUnit},
        {DescriptorVariant::Uac2ProcessingUnit, uac::kUac2ProcessingUnit},
        {DescriptorVariant::Uac2ExtensionUnit, uac::kUac2ExtensionUnit},
        {DescriptorVariant::Uac1ProcessingUnit, uac::kUac1ProcessingUnit},
        {DescriptorVariant::Uac1SelectorUnit, uac::kSelectorUnit},
        {DescriptorVariant::Uac1ExtensionUnit, uac::kUac1ExtensionUnit},
    };
    for (const auto &c : cases) {
        const DescriptorSet set = MakeDescriptorVariant(c.first);
        const ConfigurationLayout layout = ReadConfigurationLayout(set.configuration);
        const bool class2 = std::string(DescriptorVariantName(c.first)).rfind("Uac2", 0) == 0;
        EXPECT_EQ(class2, layout.audioClass2) << DescriptorVariantName(c.first);
        std::vector<UCHAR> subtypes;
        for (const DescriptorView &v : layout.audioControlEntities)
            subtypes.push_back(v.Subtype());
        std::vector<UCHAR> expected = {uac::kInputTerminal, c.second, uac::kFeatureUnit,
                                       uac::kOutputTerminal};
        if (class2)
            expected.insert(expected.begin(), uac::kClockSource);
        EXPECT_EQ(expected, subtypes) << DescriptorVariantName(c.first);
        const DescriptorView &unit = layout.audioControlEntities[class2 ? 2 : 1];
        EXPECT_EQ(variant_ids::kUnitId, unit.Byte(3));
        const size_t sourceOffset =
            c.second == uac::kMixerUnit || c.second == uac::kSelectorUnit ? 5 : 7;
        EXPECT_EQ(variant_ids::kInputTerminalId, unit.Byte(sourceOffset))
            << DescriptorVariantName(c.first);
    }
}

TEST(DescriptorVariants, TypeIIIFormatAndContinuousRates)
{
    const DescriptorSet typeIII = MakeDescriptorVariant(DescriptorVariant::Uac2FormatTypeIII);
    const auto alt2 = SettingDescriptors(typeIII.configuration, variant_ids::kRenderInterface, 2);
    ASSERT_GE(alt2.size(), 3u);
    EXPECT_EQ(3u, alt2[1].Byte(5)) << "AS_GENERAL bFormatType";
    EXPECT_EQ(3u, alt2[2].Byte(3)) << "FORMAT_TYPE III";

    const DescriptorSet continuous = MakeDescriptorVariant(DescriptorVariant::Uac1ContinuousRates);
    const auto alt1 =
        SettingDescriptors(continuous.configuration, variant_ids::kRenderInterface, 1);
    EXPECT_EQ(0u, alt1[2].Byte(7)) << "bSamFreqType 0";
    RawDescriptorModel model(host::UsbSpeed::Full, continuous);
    ASSERT_TRUE(Configure(model));
    ASSERT_TRUE(SelectAlternate(model, variant_ids::kRenderInterface, 1));
    EXPECT_TRUE(Out(model, 0x22, 0x01, 0x0100, 0x01, Le(32000, 3)));
    EXPECT_EQ(32000u, model.SampleRate());
    EXPECT_FALSE(Out(model, 0x22, 0x01, 0x0100, 0x01, Le(96000, 3)));
}

TEST(DescriptorVariants, ShortRangeReplyAnnouncesMoreSubrangesThanItCarries)
{
    auto model = MakeShortRangeReplyDevice();
    ASSERT_TRUE(Configure(*model));
    const Reply reply = GetRange(*model, variant_ids::kClockSourceId, 1, 0, 2 + 8 * 12);
    ASSERT_FALSE(reply.stall);
    EXPECT_EQ(8u, ReadLe(reply.data, 0, 2));
    EXPECT_EQ(2u + 2 * 12, reply.data.size());
}

} // namespace
