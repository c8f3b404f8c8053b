// The filter description's pins, nodes and connections: one pin per terminal, converter nodes
// next to the bridge pins, one node per feature-unit control group, and connections along the
// render and capture chains as the placement rules give them.
#include "filter_test_fixture.h"

#include "function/usb_audio_automation_tables.h"

#include <iterator>

namespace function_tests {
namespace {

// A speaker replaced by an output terminal of the given type.
TestFunction WithOutputTerminalType(USHORT type)
{
    TestFunction f = Uac2Function();
    f.function.control.entities[3] =
        devices::uac2::OutputTerminal(kOutputTerminalId, type, kFeatureUnitId, kClockId);
    return f;
}

TEST_F(FilterTest, TypicalRenderPathGivesRenderAndSpeakerPinsAndTheConverterBeforeTheSpeaker)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Uac2Function()));

    EXPECT_EQ(0u, filter_.Version);
    EXPECT_EQ(&FilterAutomationTable, filter_.AutomationTable);
    EXPECT_EQ(0u, filter_.CategoryCount);
    EXPECT_EQ(nullptr, filter_.Categories);
    EXPECT_EQ(sizeof(UsbAudioPinDescriptor), filter_.PinSize);
    EXPECT_EQ(sizeof(UsbAudioNodeDescriptor), filter_.NodeSize);

    ASSERT_EQ(2u, filter_.PinCount);
    // Pin 0: the render pin, a sink for the host's stream.
    EXPECT_EQ(1u, Pin(0).PcPin.MaxGlobalInstanceCount);
    EXPECT_EQ(1u, Pin(0).PcPin.MaxFilterInstanceCount);
    EXPECT_EQ(0u, Pin(0).PcPin.MinFilterInstanceCount);
    EXPECT_EQ(&RenderPinAutomationTable, Pin(0).PcPin.AutomationTable);
    EXPECT_EQ(KSPIN_DATAFLOW_IN, KsPin(0).DataFlow);
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, KsPin(0).Communication);
    EXPECT_EQ(KSCATEGORY_AUDIO, *KsPin(0).Category);
    EXPECT_EQ(nullptr, KsPin(0).Name);
    EXPECT_EQ(0u, KsPin(0).InterfacesCount);
    EXPECT_EQ(0u, KsPin(0).MediumsCount);
    EXPECT_EQ(1u, KsPin(0).DataRangesCount);
    EXPECT_EQ(kInputTerminalId, Pin(0).Element.Entity->GetId());
    EXPECT_EQ(0u, Pin(0).Element.Id);
    EXPECT_TRUE(Pin(0).Element.IsPin);
    // Pin 1: the speaker, a bridge pin with one analog data range.
    EXPECT_EQ(0u, Pin(1).PcPin.MaxGlobalInstanceCount);
    EXPECT_EQ(0u, Pin(1).PcPin.MaxFilterInstanceCount);
    EXPECT_EQ(nullptr, Pin(1).PcPin.AutomationTable);
    EXPECT_EQ(KSPIN_DATAFLOW_OUT, KsPin(1).DataFlow);
    EXPECT_EQ(KSPIN_COMMUNICATION_NONE, KsPin(1).Communication);
    EXPECT_EQ(KSNODETYPE_SPEAKER, *KsPin(1).Category);
    ASSERT_EQ(1u, KsPin(1).DataRangesCount);
    const KSDATARANGE &analog = *KsPin(1).DataRanges[0];
    EXPECT_EQ(sizeof(KSDATARANGE), analog.FormatSize);
    EXPECT_EQ(KSDATAFORMAT_TYPE_AUDIO, analog.MajorFormat);
    EXPECT_EQ(KSDATAFORMAT_SUBTYPE_ANALOG, analog.SubFormat);
    EXPECT_EQ(KSDATAFORMAT_SPECIFIER_NONE, analog.Specifier);
    EXPECT_EQ(kOutputTerminalId, Pin(1).Element.Entity->GetId());

    ASSERT_EQ(3u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(0));
    EXPECT_EQ(nullptr, Node(0).Element.Entity);
    EXPECT_EQ(nullptr, Node(0).PcNode.AutomationTable);
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(1));
    EXPECT_EQ(&MuteNodeAutomationTable, Node(1).PcNode.AutomationTable);
    EXPECT_EQ(kFeatureUnitId, NodeEntityId(1));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(2));
    EXPECT_EQ(&VolumeNodeAutomationTable, Node(2).PcNode.AutomationTable);
    EXPECT_EQ(kFeatureUnitId, NodeEntityId(2));
    for (ULONG id = 0; id < filter_.NodeCount; ++id) {
        EXPECT_EQ(id, Node(id).Element.Id);
        EXPECT_FALSE(Node(id).Element.IsPin);
        EXPECT_EQ(0u, Node(id).PcNode.Flags);
        EXPECT_EQ(nullptr, Node(id).PcNode.Name);
    }

    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, TheChainLinksOfPinsAndNodesFollowTheSignal)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Uac2Function()));
    // render pin -> volume -> mute -> DAC -> speaker
    const UsbAudioFilterElement *chain[] = {&Pin(0).Element, &Node(2).Element, &Node(1).Element,
                                            &Node(0).Element, &Pin(1).Element};
    EXPECT_EQ(nullptr, chain[0]->Previous);
    for (size_t i = 0; i + 1 < std::size(chain); ++i) {
        EXPECT_EQ(chain[i + 1], chain[i]->Next) << i;
        EXPECT_EQ(chain[i], chain[i + 1]->Previous) << i;
    }
    EXPECT_EQ(nullptr, chain[4]->Next);
}

TEST_F(FilterTest, AMicrophoneCapturePathAddsTheAdcAsNodeZeroAndItsOwnChain)
{
    TestFunction f = Uac2Function();
    for (const devices::Descriptor &entity : Uac2CapturePath(0x0201))
        f.function.control.entities.push_back(entity);
    f.function.streaming.push_back(Uac2CaptureInterface());
    ASSERT_EQ(STATUS_SUCCESS, Build(f));

    ASSERT_EQ(4u, filter_.PinCount);
    EXPECT_EQ(KSPIN_DATAFLOW_IN, KsPin(2).DataFlow); // the microphone
    EXPECT_EQ(KSPIN_COMMUNICATION_NONE, KsPin(2).Communication);
    EXPECT_EQ(KSNODETYPE_MICROPHONE, *KsPin(2).Category);
    EXPECT_EQ(KSPIN_DATAFLOW_OUT, KsPin(3).DataFlow); // the capture pin
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, KsPin(3).Communication);
    EXPECT_EQ(KSCATEGORY_AUDIO, *KsPin(3).Category);
    EXPECT_EQ(&CapturePinAutomationTable, Pin(3).PcPin.AutomationTable);
    EXPECT_EQ(1u, KsPin(3).DataRangesCount);

    ASSERT_EQ(5u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_ADC, NodeType(0));
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(1));
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(2));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(3));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(4));
    EXPECT_EQ(5, NodeEntityId(4));

    // Capture chain first: microphone -> ADC -> volume -> capture pin.
    EXPECT_EQ("pin 2>node 0 node 0>node 4 node 4>pin 3 "
              "pin 0>node 3 node 3>node 2 node 2>node 1 node 1>pin 1",
              Connections());
}

TEST_F(FilterTest, BridgePinCategoriesAreTheNodeTypesOfTheirTerminalTypes)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithOutputTerminalType(0x0302))); // headphones
    EXPECT_EQ(KSNODETYPE_HEADPHONES, *KsPin(1).Category);
}

TEST_F(FilterTest, AnUndefinedTerminalTypeGivesABridgePinWithoutCategory)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithOutputTerminalType(0x0100)));
    EXPECT_EQ(KSPIN_COMMUNICATION_NONE, KsPin(1).Communication);
    EXPECT_EQ(nullptr, KsPin(1).Category);
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, ATerminalTypeWithoutNodeTypeGivesABridgePinWithoutCategory)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(WithOutputTerminalType(0x0800)));
    EXPECT_EQ(KSPIN_COMMUNICATION_NONE, KsPin(1).Communication);
    EXPECT_EQ(nullptr, KsPin(1).Category);
}

TEST_F(FilterTest, AFunctionWithoutTerminalsGivesAnEmptyDescription)
{
    TestFunction f = Uac2Function();
    // A clock and a unit fed by it, no terminal and no streaming interface.
    f.function.control.entities = {
        f.function.control.entities[0],
        devices::uac2::FeatureUnit(kFeatureUnitId, kClockId, {devices::uac2::ControlBits(0, 3)})};
    f.function.streaming.clear();
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    EXPECT_EQ(0u, filter_.PinCount);
    EXPECT_EQ(nullptr, filter_.Pins);
    EXPECT_EQ(0u, filter_.NodeCount);
    EXPECT_EQ(nullptr, filter_.Nodes);
    EXPECT_EQ(0u, filter_.ConnectionCount);
    EXPECT_EQ(nullptr, filter_.Connections);
    EXPECT_EQ(&FilterAutomationTable, filter_.AutomationTable);
}

// Placement: a unit node goes after the first chain element, the chain's last one excluded,
// that is its source; a unit whose source is in no chain keeps a node without connection.
TEST_F(FilterTest, AUnitWhoseSourceIsInNoChainKeepsANodeWithoutConnection)
{
    TestFunction f = Uac2Function();
    f.function.control.entities.push_back(
        devices::uac2::FeatureUnit(7, kClockId, {devices::uac2::ControlBits(0, 3)}));
    ASSERT_EQ(STATUS_SUCCESS, Build(f));

    ASSERT_EQ(4u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(3));
    EXPECT_EQ(7, NodeEntityId(3));
    EXPECT_EQ(nullptr, Node(3).Element.Previous);
    EXPECT_EQ(nullptr, Node(3).Element.Next);
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, AUnitFedByTheLastElementOfAChainIsNotPlaced)
{
    TestFunction f = Uac2Function();
    // Fed by the speaker, which ends the render chain.
    f.function.control.entities.push_back(
        devices::uac2::FeatureUnit(7, kOutputTerminalId, {devices::uac2::ControlBits(0, 3)}));
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    ASSERT_EQ(4u, filter_.NodeCount);
    EXPECT_EQ(nullptr, Node(3).Element.Previous);
    EXPECT_EQ(nullptr, Node(3).Element.Next);
    EXPECT_EQ(4u, filter_.ConnectionCount);
}

TEST_F(FilterTest, AUnitFedByAnotherUnitGoesRightAfterTheFirstNodeOfThatUnit)
{
    TestFunction f = Uac2Function();
    // IT 1 -> FU 2 (mute, volume) -> FU 7 (mute) -> OT 3.
    f.function.control.entities.insert(
        f.function.control.entities.begin() + 3,
        devices::uac2::FeatureUnit(7, kFeatureUnitId, {devices::uac2::ControlBits(0, 3)}));
    f.function.control.entities[4] =
        devices::uac2::OutputTerminal(kOutputTerminalId, uac::kTerminalSpeaker, 7, kClockId);
    ASSERT_EQ(STATUS_SUCCESS, Build(f));

    ASSERT_EQ(4u, filter_.NodeCount);
    EXPECT_EQ(7, NodeEntityId(3));
    // FU 7's node follows the first element of FU 2 in the chain: its volume node.
    EXPECT_EQ("pin 0>node 2 node 2>node 3 node 3>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, EveryFeatureUnitControlGroupGetsOneNodeInTheListedOrder)
{
    TestFunction f = Uac2Function();
    // Master channel: every control from mute (0) to overflow (14) readable.
    ULONG all = 0;
    for (unsigned control = 0; control <= 14; ++control)
        all |= devices::uac2::ControlBits(control, 1);
    f.function.control.entities[2] =
        devices::uac2::FeatureUnit(kFeatureUnitId, kInputTerminalId, {all, 0, 0});
    ASSERT_EQ(STATUS_SUCCESS, Build(f));

    const GUID expected[] = {
        KSNODETYPE_DAC,          KSNODETYPE_MUTE,         KSNODETYPE_VOLUME,
        KSNODETYPE_TONE,         KSNODETYPE_EQUALIZER,    KSNODETYPE_AGC,
        KSNODETYPE_DELAY,        KSNODETYPE_LOUDNESS,     KSNODETYPE_DEV_SPECIFIC,
        KSNODETYPE_DEV_SPECIFIC, KSNODETYPE_DEV_SPECIFIC, KSNODETYPE_DEV_SPECIFIC,
        KSNODETYPE_DEV_SPECIFIC};
    ASSERT_EQ(std::size(expected), filter_.NodeCount);
    for (ULONG id = 0; id < filter_.NodeCount; ++id) {
        EXPECT_EQ(expected[id], NodeType(id)) << "node " << id;
        if (id >= 3) {
            EXPECT_EQ(nullptr, Node(id).PcNode.AutomationTable) << "node " << id;
        }
    }
    // The unit's nodes all follow the render pin, so they run in reverse.
    EXPECT_EQ("pin 0>node 12 node 12>node 11 node 11>node 10 node 10>node 9 node 9>node 8 "
              "node 8>node 7 node 7>node 6 node 6>node 5 node 5>node 4 node 4>node 3 "
              "node 3>node 2 node 2>node 1 node 1>node 0 node 0>pin 1",
              Connections());
}

TEST_F(FilterTest, AnyToneControlGivesOneToneNodeAndOnlyReadableControlsCount)
{
    TestFunction f = Uac2Function();
    // Bass boost (8) readable; mute only writable (not counted); volume readable on channel 2.
    f.function.control.entities[2] = devices::uac2::FeatureUnit(
        kFeatureUnitId, kInputTerminalId,
        {devices::uac2::ControlBits(8, 1) | devices::uac2::ControlBits(0, 2), 0,
         devices::uac2::ControlBits(1, 1)});
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    ASSERT_EQ(3u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(0));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(1));
    EXPECT_EQ(KSNODETYPE_TONE, NodeType(2));
}

TEST_F(FilterTest, AClass1FunctionGetsTheSameRenderTopology)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Uac1Function()));
    ASSERT_EQ(2u, filter_.PinCount);
    EXPECT_EQ(KSNODETYPE_SPEAKER, *KsPin(1).Category);
    ASSERT_EQ(3u, filter_.NodeCount);
    EXPECT_EQ(KSNODETYPE_DAC, NodeType(0));
    EXPECT_EQ(KSNODETYPE_MUTE, NodeType(1));
    EXPECT_EQ(KSNODETYPE_VOLUME, NodeType(2));
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

// A chain has one pin at each end: a further pin of the same place stays unconnected instead of
// being connected to the first pin.
TEST_F(FilterTest, ASecondOutputBridgePinStaysOutOfTheRenderChain)
{
    TestFunction f = Uac2Function();
    f.function.control.entities.push_back(
        devices::uac2::OutputTerminal(7, uac::kTerminalLineConnector, kFeatureUnitId, kClockId));
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    ASSERT_EQ(3u, filter_.PinCount);
    EXPECT_EQ(KSNODETYPE_LINE_CONNECTOR, *KsPin(2).Category);
    EXPECT_EQ(nullptr, Pin(2).Element.Previous);
    EXPECT_EQ(nullptr, Pin(2).Element.Next);
    ASSERT_EQ(3u, filter_.NodeCount);
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, ASecondUsbStreamingInputTerminalStaysOutOfTheRenderChain)
{
    TestFunction f = Uac2Function();
    f.function.control.entities.push_back(
        devices::uac2::InputTerminal(8, uac::kTerminalUsbStreaming, kClockId, 2, kStereo));
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    ASSERT_EQ(3u, filter_.PinCount);
    EXPECT_EQ(KSPIN_COMMUNICATION_SINK, KsPin(2).Communication);
    EXPECT_EQ(KSPIN_DATAFLOW_IN, KsPin(2).DataFlow);
    EXPECT_EQ(nullptr, Pin(2).Element.Next);
    EXPECT_EQ("pin 0>node 2 node 2>node 1 node 1>node 0 node 0>pin 1", Connections());
}

TEST_F(FilterTest, ARenderPinWithoutStreamingInterfaceAnnouncesNoDataRanges)
{
    TestFunction f = Uac2Function();
    f.function.streaming.clear();
    ASSERT_EQ(STATUS_SUCCESS, Build(f));
    ASSERT_EQ(2u, filter_.PinCount);
    EXPECT_EQ(0u, KsPin(0).DataRangesCount);
    EXPECT_EQ(nullptr, KsPin(0).DataRanges);
}

TEST_F(FilterTest, TheDescriptionIsTraced)
{
    ASSERT_EQ(STATUS_SUCCESS, Build(Uac2Function()));
    const std::string log = host::DebugLogOf(M()).Text();
    EXPECT_NE(std::string::npos, log.find("filter: 2 pins, 3 nodes, 4 connections"));
    EXPECT_NE(std::string::npos,
              log.find("pin 0: IT(1), data flow in, sink, 1 data ranges, USB streaming"));
    EXPECT_NE(std::string::npos,
              log.find("pin 1: OT(3), data flow out, bridge, 1 data ranges, SPEAKER"));
    EXPECT_NE(std::string::npos, log.find("node 0: DAC , -"));
    EXPECT_NE(std::string::npos, log.find("node 2: VOLUME , Feature(2)"));
    EXPECT_NE(std::string::npos, log.find("connection 3: node 0 -> pin 1"));
}

} // namespace
} // namespace function_tests
