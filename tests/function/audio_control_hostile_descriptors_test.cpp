// Hostile descriptors: a device whose descriptors are broken (lengths that overrun, fields cut
// off, values nothing could work with) is refused with STATUS_NOT_SUPPORTED, or parsed up to the
// point where the parse stops anyway, and never makes the driver read outside the configuration
// descriptor, loop or crash. Every case runs through device start on the emulated stack, whose
// special pool puts a guard page behind the configuration descriptor copy.
#include "audio_control_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/descriptor_walker.h"
#include "devices/rvd3_model.h"

namespace function_tests {
namespace {

using devices::DescriptorVariant;

// ---- The malformed descriptor sets of the device models -------------------------------------

struct VariantCase {
    DescriptorVariant variant;
    NTSTATUS status;
};

void PrintTo(const VariantCase &c, std::ostream *os)
{
    *os << devices::DescriptorVariantName(c.variant);
}

class DescriptorVariantTest : public AudioFunctionTest,
                              public ::testing::WithParamInterface<VariantCase> {};

TEST_P(DescriptorVariantTest, StartGivesTheStatusOfTheParseRules)
{
    const DescriptorVariant variant = GetParam().variant;
    EXPECT_EQ(GetParam().status, Start(std::make_shared<devices::RawDescriptorModel>(
                                     devices::DescriptorVariantSpeed(variant),
                                     devices::MakeDescriptorVariant(variant))));
}

INSTANTIATE_TEST_SUITE_P(
    Variants, DescriptorVariantTest,
    ::testing::Values(
        VariantCase{DescriptorVariant::ZeroLengthDescriptor, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::DescriptorPastEnd, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::ConfigurationShorterThanTotal, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::ControlHeaderOverrunsInterface, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::FeatureUnitShorterThanChannels, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::FeatureUnitControlSizeZero, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::StringLongerThanBuffer, STATUS_SUCCESS},
        VariantCase{DescriptorVariant::MissingSourceEntity, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::StreamingWithoutAlternate1, STATUS_NOT_SUPPORTED},
        VariantCase{DescriptorVariant::AlternateSettingGap, STATUS_SUCCESS},
        VariantCase{DescriptorVariant::Uac2MixerUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac2SelectorUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac2ProcessingUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac2ExtensionUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac2FormatTypeIII, STATUS_SUCCESS},
        VariantCase{DescriptorVariant::Uac1ProcessingUnit, STATUS_SUCCESS},
        VariantCase{DescriptorVariant::Uac1SelectorUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac1ExtensionUnit, STATUS_NOT_IMPLEMENTED},
        VariantCase{DescriptorVariant::Uac1ContinuousRates, STATUS_SUCCESS}),
    [](const ::testing::TestParamInfo<VariantCase> &info) {
        return std::string(devices::DescriptorVariantName(info.param.variant));
    });

TEST(DescriptorVariantCoverage, EveryVariantHasAnExpectedStatus)
{
    EXPECT_EQ(19u, devices::AllDescriptorVariants().size())
        << "a new variant needs its case in DescriptorVariantTest";
}

// ---- Descriptors cut short or holding impossible values --------------------------------------

constexpr UCHAR kCs = uac::kCsInterface;

devices::Bytes Serialised(const devices::Descriptor &descriptor)
{
    devices::Bytes bytes;
    devices::AppendDescriptor(&bytes, descriptor);
    return bytes;
}

void AddToTotalLength(devices::Bytes *configuration, int delta)
{
    const int total = ((*configuration)[2] | (*configuration)[3] << 8) + delta;
    (*configuration)[2] = UCHAR(total);
    (*configuration)[3] = UCHAR(total >> 8);
}

enum class Where { AudioControl, Streaming };

// The serialised function with the first descriptor of `type` and class-specific `subtype` in
// the audio control interface or in the streaming interface's alternate setting 1 replaced by
// raw bytes; wTotalLength, and the audio control header's when an entity changes size, follow.
devices::DescriptorSet Replaced(const TestFunction &f, UCHAR type, UCHAR subtype,
                                const devices::Bytes &replacement,
                                Where where = Where::AudioControl)
{
    devices::DescriptorSet set = f.Serialise();
    devices::Bytes &bytes = set.configuration;
    size_t header = 0;
    bool inStreaming = false;
    for (const devices::DescriptorView &view : devices::WalkDescriptors(bytes)) {
        if (view.type == kCs && view.Subtype() == uac::kHeader && header == 0)
            header = view.offset;
        if (view.type == usb::kInterfaceDescriptor)
            inStreaming = view.Byte(2) == 1 && view.Byte(3) == 1;
        if (view.type != type || view.Subtype() != subtype ||
            inStreaming != (where == Where::Streaming))
            continue;
        const int delta = int(replacement.size()) - int(view.length);
        const size_t offset = view.offset;
        bytes.erase(bytes.begin() + std::ptrdiff_t(offset),
                    bytes.begin() + std::ptrdiff_t(offset + view.length));
        bytes.insert(bytes.begin() + std::ptrdiff_t(offset), replacement.begin(),
                     replacement.end());
        AddToTotalLength(&bytes, delta);
        const bool class2 = bytes[header + 3] == 0x00 && bytes[header + 4] == 0x02;
        const size_t at = header + (class2 ? 6 : 5);
        const int block = bytes[at] | bytes[at + 1] << 8;
        if (header != 0 && offset > header && offset < header + size_t(block)) {
            bytes[at] = UCHAR(block + delta);
            bytes[at + 1] = UCHAR((block + delta) >> 8);
        }
        return set;
    }
    ADD_FAILURE() << "descriptor to replace not found";
    return set;
}

// The serialised function with raw bytes appended to the configuration.
devices::DescriptorSet Appended(const TestFunction &f, const devices::Bytes &tail)
{
    devices::DescriptorSet set = f.Serialise();
    set.configuration.insert(set.configuration.end(), tail.begin(), tail.end());
    AddToTotalLength(&set.configuration, int(tail.size()));
    return set;
}

struct HostileCase {
    const char *name;
    std::function<devices::DescriptorSet()> make;
    host::UsbSpeed speed;
    NTSTATUS status;
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

const host::UsbSpeed kHigh = host::UsbSpeed::High;
const host::UsbSpeed kFull = host::UsbSpeed::Full;

std::vector<HostileCase> HostileCases()
{
    const TestFunction uac2 = Uac2Function();
    const TestFunction uac1 = Uac1Function();
    return {
        // The configuration's own structure.
        {"TrailingByteAfterTheLastDescriptor", [=] { return Appended(uac2, {0}); }, kHigh,
         STATUS_NOT_SUPPORTED},
        {"InterfaceDescriptorTooShort",
         [=] {
             return Appended(uac2, {5, 4, 9, 0, 0});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"EndpointDescriptorTooShort",
         [=] {
             return Appended(uac2, {5, 5, 0x83, 3, 8});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"ClassSpecificDescriptorWithoutSubtype",
         [=] {
             return Appended(uac2, {2, kCs});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"AudioControlNumberAndSettingTakenByAnEarlierInterface",
         [=] {
             // The USB stack would configure this vendor interface 0 setting 0, not the audio
             // control interface behind it.
             devices::DescriptorSet set = uac2.Serialise();
             const devices::Bytes vendor = {9, usb::kInterfaceDescriptor, 0, 0, 1, 0xFF, 0, 0, 0};
             set.configuration.insert(set.configuration.begin() + 9, vendor.begin(), vendor.end());
             AddToTotalLength(&set.configuration, int(vendor.size()));
             return set;
         },
         kHigh, STATUS_NOT_SUPPORTED},
        // Entities.
        {"HeaderTooShortForItsTotalLength",
         [=] {
             return Replaced(uac2, kCs, uac::kHeader, {7, kCs, 1, 0x00, 0x02, 0x0A, 0x00});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"InputTerminalWithoutClockId",
         [=] {
             return Replaced(uac2, kCs, uac::kInputTerminal,
                             {7, kCs, uac::kInputTerminal, kInputTerminalId, 0x01, 0x01, 0});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"OutputTerminalWithoutClockId",
         [=] {
             return Replaced(
                 uac2, kCs, uac::kOutputTerminal,
                 {8, kCs, uac::kOutputTerminal, kOutputTerminalId, 0x01, 0x03, 0, kFeatureUnitId});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"ClockSourceWithoutControls",
         [=] {
             return Replaced(uac2, kCs, uac::kClockSource,
                             {5, kCs, uac::kClockSource, kClockId, 3});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"ClockSelectorWithMorePinsThanBytes",
         [=] {
             return Replaced(uac2, kCs, uac::kClockSource,
                             {7, kCs, uac::kClockSelector, kClockId, 4, kClockId, 0});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"FeatureUnitWithoutMasterChannel",
         [=] {
             return Replaced(uac2, kCs, uac::kFeatureUnit,
                             {6, kCs, uac::kFeatureUnit, kFeatureUnitId, kInputTerminalId, 0});
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"Class1FeatureUnitWithoutControlSize",
         [=] {
             return Replaced(uac1, kCs, uac::kFeatureUnit,
                             {5, kCs, uac::kFeatureUnit, kFeatureUnitId, kInputTerminalId});
         },
         kFull, STATUS_NOT_SUPPORTED},
        {"Class1FeatureUnitWithHalfAChannel",
         [=] {
             return Replaced(uac1, kCs, uac::kFeatureUnit,
                             {12, kCs, uac::kFeatureUnit, kFeatureUnitId, kInputTerminalId, 2, 1, 0,
                              2, 0, 2, 0});
         },
         kFull, STATUS_NOT_SUPPORTED},
        // Streaming interfaces.
        {"AsGeneralTooShort",
         [=] {
             devices::Bytes general = Serialised(devices::uac2::AsGeneral(
                 kInputTerminalId, uac::kFormatTypeI, uac::kUac2FormatPcm, 2, kStereo));
             general.resize(10);
             general[0] = 10;
             return Replaced(uac2, kCs, uac::kAsGeneral, general, Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"AsGeneralWithoutChannels",
         [=] {
             return Replaced(uac2, kCs, uac::kAsGeneral,
                             Serialised(devices::uac2::AsGeneral(
                                 kInputTerminalId, uac::kFormatTypeI, uac::kUac2FormatPcm, 0, 0)),
                             Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"FormatTypeICutShort",
         [=] {
             return Replaced(uac2, kCs, uac::kFormatType, {5, kCs, uac::kFormatType, 1, 4},
                             Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"FormatTypeIWithoutSubslot",
         [=] {
             return Replaced(uac2, kCs, uac::kFormatType, {6, kCs, uac::kFormatType, 1, 0, 24},
                             Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"FormatTypeIWithMoreBitsThanItsSubslot",
         [=] {
             return Replaced(uac2, kCs, uac::kFormatType, {6, kCs, uac::kFormatType, 1, 2, 24},
                             Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"EpGeneralTooShort",
         [=] {
             return Replaced(uac2, uac::kCsEndpoint, uac::kEpGeneral, {3, uac::kCsEndpoint, 1},
                             Where::Streaming);
         },
         kHigh, STATUS_NOT_SUPPORTED},
        {"Class1AsGeneralTooShort",
         [=] {
             return Replaced(uac1, kCs, uac::kAsGeneral,
                             {6, kCs, uac::kAsGeneral, kInputTerminalId, 1, 1}, Where::Streaming);
         },
         kFull, STATUS_NOT_SUPPORTED},
        {"Class1RateTableShorterThanAnnounced",
         [=] {
             return Replaced(
                 uac1, kCs, uac::kFormatType,
                 {14, kCs, uac::kFormatType, 1, 2, 2, 16, 4, 0x44, 0xAC, 0x00, 0x80, 0xBB, 0x00},
                 Where::Streaming);
         },
         kFull, STATUS_NOT_SUPPORTED},
        {"Class1ContinuousRangeWithoutUpperRate",
         [=] {
             return Replaced(uac1, kCs, uac::kFormatType,
                             {11, kCs, uac::kFormatType, 1, 2, 2, 16, 0, 0x44, 0xAC, 0x00},
                             Where::Streaming);
         },
         kFull, STATUS_NOT_SUPPORTED},
        {"Class1FormatWithoutChannels",
         [=] {
             return Replaced(uac1, kCs, uac::kFormatType,
                             {11, kCs, uac::kFormatType, 1, 0, 2, 16, 1, 0x44, 0xAC, 0x00},
                             Where::Streaming);
         },
         kFull, STATUS_NOT_SUPPORTED},
        {"FirstEndpointBeyondTheInterface",
         [=] {
             // Alternate setting 1 announces an endpoint but has none; the next interface's
             // endpoint is not its own.
             TestFunction f = uac2;
             f.function.streaming[0].alternates[1].endpoints.clear();
             devices::Interface vendor;
             devices::AlternateSetting setting;
             setting.interfaceClass = 0xFF;
             devices::EndpointDescriptor interrupt;
             interrupt.address = 0x83;
             interrupt.attributes = 3;
             interrupt.maxPacketSize = 8;
             setting.endpoints = {interrupt};
             vendor.alternates = {setting};
             f.otherInterfaces = {vendor};
             devices::DescriptorSet set = f.Serialise();
             for (const devices::DescriptorView &view :
                  devices::WalkDescriptors(set.configuration)) {
                 if (view.type == usb::kInterfaceDescriptor && view.Byte(2) == 1 &&
                     view.Byte(3) == 1)
                     set.configuration[view.offset + 4] = 1;
             }
             return set;
         },
         kHigh, STATUS_NOT_SUPPORTED},
        // Legitimate short descriptors stay accepted.
        {"Class2TypeIVFormatIsAccepted",
         [=] {
             TestFunction f = uac2;
             devices::AlternateSetting typeIV = Uac2Render(4, 24);
             typeIV.classSpecific = {devices::uac2::AsGeneral(kInputTerminalId, 4, 0, 2, kStereo),
                                     RawEntity({uac::kFormatType, 4})};
             f.function.streaming[0].alternates.push_back(typeIV);
             return f.Serialise();
         },
         kHigh, STATUS_SUCCESS},
    };
}

class HostileDescriptorTest : public AudioFunctionTest,
                              public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileDescriptorTest, StartGivesTheStatusOfTheParseRules)
{
    EXPECT_EQ(GetParam().status, Start(std::make_shared<devices::RawDescriptorModel>(
                                     GetParam().speed, GetParam().make())));
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileDescriptorTest, ::testing::ValuesIn(HostileCases()),
                         [](const ::testing::TestParamInfo<HostileCase> &info) {
                             return std::string(info.param.name);
                         });

// ---- Every descriptor length of a working device, broken one at a time ----------------------

enum class LengthChange { Zero, One, Two, OneLess, OneMore, Maximum };

struct LengthCase {
    bool rvd3; // else the Class 1.0 test function
    int descriptor;
    LengthChange change;
};

class DescriptorLengthSweepTest : public AudioFunctionTest,
                                  public ::testing::WithParamInterface<LengthCase> {};

devices::DescriptorSet SweepBase(bool rvd3)
{
    return rvd3 ? devices::Rvd3Model().Descriptors() : Uac1Function().Serialise();
}

TEST_P(DescriptorLengthSweepTest, BrokenLengthNeverCrashesTheParse)
{
    const LengthCase &c = GetParam();
    devices::DescriptorSet set = SweepBase(c.rvd3);
    const size_t offset = devices::WalkDescriptors(set.configuration)[size_t(c.descriptor)].offset;
    UCHAR &length = set.configuration[offset];
    switch (c.change) {
    case LengthChange::Zero: length = 0; break;
    case LengthChange::One: length = 1; break;
    case LengthChange::Two: length = 2; break;
    case LengthChange::OneLess: --length; break;
    case LengthChange::OneMore: ++length; break;
    case LengthChange::Maximum: length = 0xFF; break;
    }
    const NTSTATUS status = Initialize(std::make_shared<devices::RawDescriptorModel>(
        c.rvd3 ? host::UsbSpeed::High : host::UsbSpeed::Full, set));
    EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_NOT_SUPPORTED ||
                status == STATUS_NOT_IMPLEMENTED)
        << "status 0x" << std::hex << ULONG(status);
    if (c.change == LengthChange::Zero || c.change == LengthChange::One) {
        EXPECT_EQ(STATUS_NOT_SUPPORTED, status);
    }
    // What the device makes of its own broken descriptors is its business; the driver goes on
    // to configure whatever it accepted.
    if (NT_SUCCESS(status))
        audio_->SelectConfiguration();
}

std::vector<LengthCase> LengthCases(bool rvd3)
{
    std::vector<LengthCase> cases;
    const size_t count = devices::WalkDescriptors(SweepBase(rvd3).configuration).size();
    for (size_t i = 0; i < count; ++i)
        for (LengthChange change :
             {LengthChange::Zero, LengthChange::One, LengthChange::Two, LengthChange::OneLess,
              LengthChange::OneMore, LengthChange::Maximum})
            cases.push_back({rvd3, int(i), change});
    return cases;
}

std::string LengthCaseName(const ::testing::TestParamInfo<LengthCase> &info)
{
    static const char *const names[] = {"Zero", "One", "Two", "OneLess", "OneMore", "Maximum"};
    return "Descriptor" + std::to_string(info.param.descriptor) + names[int(info.param.change)];
}

INSTANTIATE_TEST_SUITE_P(Rvd3, DescriptorLengthSweepTest, ::testing::ValuesIn(LengthCases(true)),
                         LengthCaseName);
INSTANTIATE_TEST_SUITE_P(Class1, DescriptorLengthSweepTest, ::testing::ValuesIn(LengthCases(false)),
                         LengthCaseName);

} // namespace
} // namespace function_tests
