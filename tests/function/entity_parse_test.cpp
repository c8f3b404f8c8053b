// Entity parse and links, per class version: which class-specific descriptors become entities,
// which stop the scan and which refuse the function, and what Link() resolves.
#include "audio_control_fixture.h"

#include "devices/descriptor_variants.h"
#include "devices/rvd3_model.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_input_terminal.h"
#include "function/usb_audio_output_terminal.h"

#include <cstring>

namespace function_tests {
namespace {

using devices::DescriptorVariant;

constexpr UCHAR kExtraId = 40;
constexpr USHORT kMicrophone = 0x0201;
constexpr USHORT kHeadphones = 0x0302;

class EntityParseTest : public AudioFunctionTest {
protected:
    NTSTATUS InitializeVariant(DescriptorVariant variant)
    {
        return Initialize(devices::MakeDescriptorVariant(variant),
                          devices::DescriptorVariantSpeed(variant));
    }

    template <typename T>
    T *Entity(UCHAR id)
    {
        return static_cast<T *>(audio_->FindEntity(id));
    }

    // The test functions with one more entity descriptor right after the input terminal.
    static TestFunction Uac2With(const devices::Descriptor &extra)
    {
        TestFunction f = Uac2Function();
        auto &entities = f.function.control.entities;
        entities.insert(entities.begin() + 2, extra);
        return f;
    }
    static TestFunction Uac1With(const devices::Descriptor &extra)
    {
        TestFunction f = Uac1Function();
        auto &entities = f.function.control.entities;
        entities.insert(entities.begin() + 1, extra);
        return f;
    }
};

// ---- Class 2.0 -----------------------------------------------------------------------------

TEST_F(EntityParseTest, Rvd3EntitiesAreListedInDescriptorOrder)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    EXPECT_TRUE(audio_->IsAudioClass2);
    EXPECT_EQ("ClockSource(10) IT(1) Feature(2) OT(3) IT(4) OT(5)", EntityNames());
}

TEST_F(EntityParseTest, Rvd3LinksResolveClockAndSourceIds)
{
    using namespace devices::rvd3;
    ASSERT_EQ(STATUS_SUCCESS, Initialize(std::make_shared<devices::Rvd3Model>()));
    auto clock = Entity<CUSBAudioClockEntity>(kClockSourceId);
    auto usbIn = Entity<CUSBAudioInputTerminal>(kUsbInputTerminalId);
    auto feature = Entity<CUSBAudioFeatureUnit>(kFeatureUnitId);
    auto speaker = Entity<CUSBAudioOutputTerminal>(kSpeakerTerminalId);
    ASSERT_NE(nullptr, clock);
    ASSERT_NE(nullptr, usbIn);
    ASSERT_NE(nullptr, feature);
    ASSERT_NE(nullptr, speaker);

    EXPECT_EQ(clock, usbIn->ClockEntity);
    EXPECT_EQ(clock, usbIn->GetClockEntity());
    EXPECT_EQ(usbIn, feature->SourceEntity);
    EXPECT_EQ(feature, speaker->SourceEntity);
    EXPECT_EQ(clock, speaker->ClockEntity);
    EXPECT_EQ(clock, speaker->GetClockEntity());

    EXPECT_EQ(-1, clock->GetSourceId(0));
    EXPECT_EQ(-1, usbIn->GetSourceId(0));
    EXPECT_EQ(kUsbInputTerminalId, feature->GetSourceId(0));
    EXPECT_EQ(kFeatureUnitId, speaker->GetSourceId(0));
    EXPECT_EQ(kClockSourceId, usbIn->GetClockSourceId());
    EXPECT_EQ(kClockSourceId, speaker->GetClockSourceId());
    EXPECT_EQ(uac::kTerminalUsbStreaming, usbIn->GetTerminalType());
    EXPECT_EQ(uac::kTerminalSpeaker, speaker->GetTerminalType());
}

TEST_F(EntityParseTest, Class2MixerUnitRefusesTheFunctionKeepingTheEntitiesBeforeIt)
{
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED, InitializeVariant(DescriptorVariant::Uac2MixerUnit));
    EXPECT_EQ("ClockSource(10) IT(1)", EntityNames());
}

TEST_F(EntityParseTest, MissingSourceEntityFailsTheLink)
{
    EXPECT_EQ(STATUS_NOT_SUPPORTED, InitializeVariant(DescriptorVariant::MissingSourceEntity));
}

TEST_F(EntityParseTest, OutputTerminalWithoutClockFailsTheLink)
{
    TestFunction f = Uac2Function();
    f.function.control.entities[3] =
        devices::uac2::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, kFeatureUnitId, 77);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(EntityParseTest, EarlierLinkFailureFailsTheParseToo)
{
    // The input terminal names a clock that is not there; the entities after it link fine.
    // A terminal without its clock would leave format selection nothing to program.
    TestFunction f = Uac2Function();
    f.function.control.entities[1] =
        devices::uac2::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming, 77, 2, kStereo);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
    EXPECT_EQ(nullptr, Entity<CUSBAudioInputTerminal>(kInputTerminalId)->ClockEntity);
}

TEST_F(EntityParseTest, TerminalClockMustBeAClockEntity)
{
    // bCSourceID names the feature unit.
    TestFunction f = Uac2Function();
    f.function.control.entities[1] = devices::uac2::InputTerminal(
        kInputTerminalId, uac::kTerminalUsbStreaming, kFeatureUnitId, 2, kStereo);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(EntityParseTest, ClockSelectorLinksWithoutItsInputs)
{
    // A missing input only shows when the selector is asked for a rate.
    TestFunction f = Uac2With(devices::uac2::ClockSelector(kExtraId, {kClockId, 99}, 3));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    CUSBAudioEntity *selector = audio_->FindEntity(kExtraId);
    EXPECT_EQ(kClockId, selector->GetSourceId(0));
    EXPECT_EQ(99, selector->GetSourceId(1));
    EXPECT_EQ(-1, selector->GetSourceId(2));
}

TEST_F(EntityParseTest, ClockSelectorLoopRefusesTheFunction)
{
    // Selector 40 picks between clock 10 and selector 41, which picks selector 40.
    TestFunction f = Uac2With(devices::uac2::ClockSelector(kExtraId, {kClockId, 41}, 3));
    f.function.control.entities.insert(f.function.control.entities.begin() + 3,
                                       devices::uac2::ClockSelector(41, {kExtraId}, 3));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

TEST_F(EntityParseTest, ClockSelectorOfItselfRefusesTheFunction)
{
    EXPECT_EQ(STATUS_NOT_SUPPORTED,
              Initialize(Uac2With(devices::uac2::ClockSelector(kExtraId, {kExtraId}, 3))));
}

TEST_F(EntityParseTest, NestedClockSelectorsAreAccepted)
{
    TestFunction f = Uac2With(devices::uac2::ClockSelector(kExtraId, {41}, 3));
    f.function.control.entities.insert(f.function.control.entities.begin() + 3,
                                       devices::uac2::ClockSelector(41, {kClockId}, 3));
    EXPECT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ("ClockSource(10) IT(1) ClockSelector(40) ClockSelector(41) Feature(2) OT(3)",
              EntityNames());
}

TEST_F(EntityParseTest, ClockSelectorsNestedTooDeepRefuseTheFunction)
{
    // Selector 40 -> 41 -> ... -> 48 -> clock 10: nine selectors in a row.
    TestFunction f = Uac2Function();
    auto &entities = f.function.control.entities;
    for (UCHAR id = 48; id >= kExtraId; --id)
        entities.insert(entities.begin() + 2,
                        devices::uac2::ClockSelector(id, {UCHAR(id == 48 ? kClockId : id + 1)}, 3));
    entities[1] = devices::uac2::InputTerminal(kInputTerminalId, uac::kTerminalUsbStreaming,
                                               kExtraId, 2, kStereo);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
}

// ---- Class 1.0 -----------------------------------------------------------------------------

TEST_F(EntityParseTest, Class1EntitiesHaveNoClocks)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac1Function()));
    EXPECT_FALSE(audio_->IsAudioClass2);
    EXPECT_EQ("IT(1) Feature(2) OT(3)", EntityNames());
    auto input = Entity<CUSBAudioInputTerminal>(kInputTerminalId);
    auto output = Entity<CUSBAudioOutputTerminal>(kOutputTerminalId);
    EXPECT_EQ(nullptr, input->ClockEntity);
    EXPECT_EQ(-1, input->GetClockSourceId());
    EXPECT_EQ(nullptr, output->ClockEntity);
    EXPECT_EQ(-1, output->GetClockSourceId());
    EXPECT_EQ(audio_->FindEntity(kFeatureUnitId), output->SourceEntity);
}

TEST_F(EntityParseTest, Class1ProcessingUnitIsParsed)
{
    ASSERT_EQ(STATUS_SUCCESS, InitializeVariant(DescriptorVariant::Uac1ProcessingUnit));
    EXPECT_EQ("IT(1) Processing(7) Feature(2) OT(3)", EntityNames());
    CUSBAudioEntity *unit = audio_->FindEntity(devices::variant_ids::kUnitId);
    EXPECT_EQ(-1, unit->GetSourceId(0));
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED, unit->Link());
}

TEST_F(EntityParseTest, Class1ProcessingUnitLastGivesItsLinkStatus)
{
    TestFunction f = Uac1Function();
    f.function.control.entities.push_back(
        devices::uac1::ProcessingUnit(kExtraId, 0x0001, {kOutputTerminalId}, 2, kStereo));
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED, Initialize(f));
}

TEST_F(EntityParseTest, AsManyEntitiesAsThereAreIdsAreParsed)
{
    // The input terminal, 252 processing units, the feature unit and the output terminal.
    TestFunction f = Uac1Function();
    auto &entities = f.function.control.entities;
    for (int id = 255; id >= 4; --id)
        entities.insert(entities.begin() + 1, RawEntity({uac::kUac1ProcessingUnit, UCHAR(id)}));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(255u, Entities().size());
}

TEST_F(EntityParseTest, MoreEntitiesThanThereAreIdsRefuseTheFunction)
{
    TestFunction f = Uac1Function();
    auto &entities = f.function.control.entities;
    for (int id = 255; id >= 3; --id)
        entities.insert(entities.begin() + 1, RawEntity({uac::kUac1ProcessingUnit, UCHAR(id)}));
    EXPECT_EQ(STATUS_NOT_SUPPORTED, Initialize(f));
    EXPECT_EQ(255u, Entities().size());
}

// ---- The subtype table -----------------------------------------------------------------------

struct SubtypeCase {
    bool class2;
    UCHAR subtype;
    NTSTATUS status;
    const char *entities;
};

void PrintTo(const SubtypeCase &c, std::ostream *os)
{
    *os << (c.class2 ? "class 2.0" : "class 1.0") << " subtype " << int(c.subtype);
}

class EntitySubtypeTableTest : public EntityParseTest,
                               public ::testing::WithParamInterface<SubtypeCase> {
protected:
    // A descriptor of the subtype, id 40, that holds the fields of whatever entity it makes.
    static devices::Descriptor Extra(bool class2, UCHAR subtype)
    {
        switch (subtype) {
        case 2:
            return class2 ? devices::uac2::InputTerminal(kExtraId, kMicrophone, kClockId, 1, 0)
                          : devices::uac1::InputTerminal(kExtraId, kMicrophone, 1, 0);
        case 3:
            return class2 ? devices::uac2::OutputTerminal(kExtraId, kHeadphones, kInputTerminalId,
                                                          kClockId)
                          : devices::uac1::OutputTerminal(kExtraId, kHeadphones, kInputTerminalId);
        case 6:
            return class2 ? devices::uac2::FeatureUnit(kExtraId, kInputTerminalId, {0})
                          : devices::uac1::FeatureUnit(kExtraId, kInputTerminalId, 1, {0});
        case 10: return devices::uac2::ClockSource(kExtraId, 1, 0);
        case 11: return devices::uac2::ClockSelector(kExtraId, {kClockId}, 0);
        default: return RawEntity({subtype, kExtraId, kInputTerminalId, 1, 0, 0, 0, 0, 0, 0});
        }
    }
};

TEST_P(EntitySubtypeTableTest, SubtypeIsParsedStoppedAtOrRefused)
{
    const SubtypeCase &c = GetParam();
    const devices::Descriptor extra = Extra(c.class2, c.subtype);
    EXPECT_EQ(c.status, Initialize(c.class2 ? Uac2With(extra) : Uac1With(extra)));
    EXPECT_EQ(c.entities, EntityNames());
}

constexpr const char *kStopped2 = "ClockSource(10) IT(1)";
constexpr const char *kStopped1 = "IT(1)";

INSTANTIATE_TEST_SUITE_P(
    Class2, EntitySubtypeTableTest,
    ::testing::Values(
        SubtypeCase{true, 0, STATUS_SUCCESS, kStopped2},
        SubtypeCase{true, 1, STATUS_SUCCESS, kStopped2},
        SubtypeCase{true, 2, STATUS_SUCCESS, "ClockSource(10) IT(1) IT(40) Feature(2) OT(3)"},
        SubtypeCase{true, 3, STATUS_SUCCESS, "ClockSource(10) IT(1) OT(40) Feature(2) OT(3)"},
        SubtypeCase{true, 4, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 5, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 6, STATUS_SUCCESS, "ClockSource(10) IT(1) Feature(40) Feature(2) OT(3)"},
        SubtypeCase{true, 7, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 8, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 9, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 10, STATUS_SUCCESS,
                    "ClockSource(10) IT(1) ClockSource(40) Feature(2) OT(3)"},
        SubtypeCase{true, 11, STATUS_SUCCESS,
                    "ClockSource(10) IT(1) ClockSelector(40) Feature(2) OT(3)"},
        SubtypeCase{true, 12, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 13, STATUS_NOT_IMPLEMENTED, kStopped2},
        SubtypeCase{true, 14, STATUS_SUCCESS, kStopped2},
        SubtypeCase{true, 0xFF, STATUS_SUCCESS, kStopped2}));

INSTANTIATE_TEST_SUITE_P(
    Class1, EntitySubtypeTableTest,
    ::testing::Values(SubtypeCase{false, 0, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 1, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 2, STATUS_SUCCESS, "IT(1) IT(40) Feature(2) OT(3)"},
                      SubtypeCase{false, 3, STATUS_SUCCESS, "IT(1) OT(40) Feature(2) OT(3)"},
                      SubtypeCase{false, 4, STATUS_NOT_IMPLEMENTED, kStopped1},
                      SubtypeCase{false, 5, STATUS_NOT_IMPLEMENTED, kStopped1},
                      SubtypeCase{false, 6, STATUS_SUCCESS, "IT(1) Feature(40) Feature(2) OT(3)"},
                      SubtypeCase{false, 7, STATUS_SUCCESS,
                                  "IT(1) Processing(40) Feature(2) OT(3)"},
                      SubtypeCase{false, 8, STATUS_NOT_IMPLEMENTED, kStopped1},
                      SubtypeCase{false, 9, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 10, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 11, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 12, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 13, STATUS_SUCCESS, kStopped1},
                      SubtypeCase{false, 14, STATUS_SUCCESS, kStopped1}));

// ---- Lookup and names ------------------------------------------------------------------------

TEST_F(EntityParseTest, FindEntityReturnsTheFirstWithTheIdOrNone)
{
    // A second entity with id 2 (a clock source) after the feature unit.
    TestFunction f = Uac2Function();
    f.function.control.entities.push_back(devices::uac2::ClockSource(kFeatureUnitId, 1, 0));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    EXPECT_EQ(Entities()[2], audio_->FindEntity(kFeatureUnitId));
    EXPECT_EQ(nullptr, audio_->FindEntity(99));
}

TEST_F(EntityParseTest, NamesAreCutToTheBufferAndAlwaysTerminated)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function()));
    CUSBAudioEntity *feature = audio_->FindEntity(kFeatureUnitId);
    char name[16];
    EXPECT_EQ(STATUS_SUCCESS, feature->GetName(name, 11)); // "Feature(2)" and its zero
    EXPECT_STREQ("Feature(2)", name);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, feature->GetName(name, 10));
    EXPECT_STREQ("Feature(2", name);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, feature->GetName(name, 1));
    EXPECT_STREQ("", name);

    std::memset(name, 'x', sizeof(name));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, feature->GetName(name, 0));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, feature->GetName(name, 0x80000000UL));
    EXPECT_EQ('x', name[0]);
}

TEST_F(EntityParseTest, NamesCarryThreeDigitIds)
{
    TestFunction f = Uac2Function();
    f.function.control.entities.push_back(devices::uac2::ClockSource(255, 1, 0));
    ASSERT_EQ(STATUS_SUCCESS, Initialize(f));
    char name[32];
    ASSERT_EQ(STATUS_SUCCESS, audio_->FindEntity(255)->GetName(name, sizeof(name)));
    EXPECT_STREQ("ClockSource(255)", name);
}

TEST_F(EntityParseTest, DumpTracesTheDescriptorHeader)
{
    ASSERT_EQ(STATUS_SUCCESS, Initialize(Uac2Function()));
    audio_->FindEntity(kFeatureUnitId)->Dump();
    EXPECT_TRUE(
        M().Log().Contains("bLength 18 bDescriptorType 0x24 bDescriptorSubtype 6 bUnitID 2"))
        << M().Log().Text();
}

} // namespace
} // namespace function_tests
