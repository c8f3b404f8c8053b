// CUSBAudioCL::BuildFilter. The two signal chains grow while pins and nodes are made:
//
//   capture:  input bridge pin -> ADC -> unit nodes -> capture pin (USB streaming OT)
//   render:   render pin (USB streaming IT) -> unit nodes -> DAC -> output bridge pin
//
// Unit nodes follow their unit's source (GetSourceId(0)): a node goes right after the first
// chain element whose entity is that source, so the nodes of one feature unit end up in the
// reverse of their creation order (render pin, volume, mute). A unit whose source is in no chain
// keeps its node but gets no connection. The connections are the adjacent pairs of each chain.
//
// A chain starts with one pin the signal enters through and ends with one it leaves through.
// A further pin of the same place (a second speaker, a second render terminal) stays out of the
// chains: chaining it behind the first would connect two filter pins to each other, which is no
// valid KS topology.
#include "function/usb_audio_filter.h"

#include "driver_trace.h"
#include "function/ks_node_types.h"
#include "function/usb_audio_automation_tables.h"
#include "function/usb_audio_data_ranges.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_filter_chain.h"
#include "function/usb_audio_filter_trace.h"
#include "function/usb_audio_terminal.h"
#include "usb/usb_audio_cl.h"

namespace {

// Node pins of a connection: a node is left through pin 0 and entered through pin 1.
const ULONG kNodeOutputPin = 0;
const ULONG kNodeInputPin = 1;

// A GUID from the field list of a STATIC_ identifier, which is what STATICGUIDOF gives.
constexpr GUID MakeGuid(ULONG l, USHORT w1, USHORT w2, UCHAR a, UCHAR b, UCHAR c, UCHAR d, UCHAR e,
                        UCHAR f, UCHAR g, UCHAR h)
{
    return {l, w1, w2, {a, b, c, d, e, f, g, h}};
}

// The one data range of a bridge pin: an analog signal.
KSDATARANGE BridgeDataRange = {{sizeof(KSDATARANGE),                                 // FormatSize
                                0,                                                   // Flags
                                0,                                                   // SampleSize
                                0,                                                   // Reserved
                                MakeGuid(STATICGUIDOF(KSDATAFORMAT_TYPE_AUDIO)),     // MajorFormat
                                MakeGuid(STATICGUIDOF(KSDATAFORMAT_SUBTYPE_ANALOG)), // SubFormat
                                MakeGuid(STATICGUIDOF(KSDATAFORMAT_SPECIFIER_NONE))}}; // Specifier
const PKSDATARANGE BridgeDataRanges[] = {&BridgeDataRange};

// A feature unit gets one node per control group that some channel can read.
struct FeatureControlGroup {
    ULONG Controls; // bit n: control index n (0 mute, 1 volume, 2 bass ... 14 overflow)
    const GUID *Type;
    const PCAUTOMATION_TABLE *AutomationTable;
};

constexpr ULONG ControlBit(ULONG Control) { return 1UL << Control; }

const FeatureControlGroup FeatureControlGroups[] = {
    {ControlBit(FEATURE_UNIT_CONTROL_MUTE), &KSNODETYPE_MUTE, &MuteNodeAutomationTable},
    {ControlBit(FEATURE_UNIT_CONTROL_VOLUME), &KSNODETYPE_VOLUME, &VolumeNodeAutomationTable},
    // Bass, mid, treble and bass boost.
    {ControlBit(2) | ControlBit(3) | ControlBit(4) | ControlBit(8), &KSNODETYPE_TONE, nullptr},
    {ControlBit(5), &KSNODETYPE_EQUALIZER, nullptr}, // graphic equaliser
    {ControlBit(6), &KSNODETYPE_AGC, nullptr},
    {ControlBit(7), &KSNODETYPE_DELAY, nullptr},
    {ControlBit(9), &KSNODETYPE_LOUDNESS, nullptr},
    {ControlBit(10), &KSNODETYPE_DEV_SPECIFIC, nullptr}, // input gain
    {ControlBit(11), &KSNODETYPE_DEV_SPECIFIC, nullptr}, // input gain pad
    {ControlBit(12), &KSNODETYPE_DEV_SPECIFIC, nullptr}, // phase inverter
    {ControlBit(13), &KSNODETYPE_DEV_SPECIFIC, nullptr}, // underflow
    {ControlBit(14), &KSNODETYPE_DEV_SPECIFIC, nullptr}, // overflow
};
const ULONG kHighestFeatureControl = 14;

// What BuildFilter works on: the description and the two chains.
struct FilterBuild {
    PPCFILTER_DESCRIPTOR Filter;
    UsbAudioFilterChain Capture;
    UsbAudioFilterChain Render;

    UsbAudioPinDescriptor *Pins()
    {
        return reinterpret_cast<UsbAudioPinDescriptor *>(
            const_cast<PCPIN_DESCRIPTOR *>(Filter->Pins));
    }
    UsbAudioNodeDescriptor *Nodes()
    {
        return reinterpret_cast<UsbAudioNodeDescriptor *>(
            const_cast<PCNODE_DESCRIPTOR *>(Filter->Nodes));
    }
};

// Units are the entities that are neither terminals nor clock entities.
BOOLEAN IsUnit(CUSBAudioEntity *Entity)
{
    return !Entity->IsTerminal() && !Entity->IsClockEntity();
}

BOOLEAN HasControlGroup(const CUSBAudioFeatureUnit *Unit, ULONG Controls)
{
    for (ULONG control = 0; control <= kHighestFeatureControl; ++control)
        if ((Controls & ControlBit(control)) != 0 && Unit->HasControl(control))
            return TRUE;
    return FALSE;
}

void SetNode(UsbAudioNodeDescriptor *Node, ULONG Id, const GUID *Type,
             const PCAUTOMATION_TABLE *AutomationTable, CUSBAudioEntity *Entity)
{
    Node->PcNode.Flags = 0;
    Node->PcNode.AutomationTable = AutomationTable;
    Node->PcNode.Type = Type;
    Node->PcNode.Name = nullptr;
    Node->Element.Entity = Entity;
    Node->Element.Id = Id;
    Node->Element.IsPin = FALSE;
}

// The nodes of one unit from node id First on; with Nodes null only counts them.
ULONG MakeUnitNodes(CUSBAudioEntity *Unit, UsbAudioNodeDescriptor *Nodes, ULONG First)
{
    if (Unit->GetSubtype() != USB_AUDIO_AC_FEATURE_UNIT) {
        if (Nodes != nullptr)
            SetNode(&Nodes[First], First, &KSNODETYPE_DEV_SPECIFIC, nullptr, Unit);
        return 1;
    }
    auto featureUnit = static_cast<CUSBAudioFeatureUnit *>(Unit);
    ULONG count = 0;
    for (const FeatureControlGroup &group : FeatureControlGroups) {
        if (!HasControlGroup(featureUnit, group.Controls))
            continue;
        if (Nodes != nullptr)
            SetNode(&Nodes[First + count], First + count, group.Type, group.AutomationTable, Unit);
        ++count;
    }
    return count;
}

// Puts a pin at the head (data flow in) or the tail (data flow out) of a chain, unless a pin of
// the same data flow is already there.
void ChainPin(UsbAudioFilterChain *Chain, UsbAudioPinDescriptor *Pin)
{
    const BOOLEAN isInput = Pin->PcPin.KsPinDescriptor.DataFlow == KSPIN_DATAFLOW_IN;
    UsbAudioFilterElement *end = isInput ? Chain->Head : Chain->Tail;
    if (end != nullptr) {
        const UsbAudioPinDescriptor *endPin =
            CONTAINING_RECORD(end, UsbAudioPinDescriptor, Element);
        if (endPin->PcPin.KsPinDescriptor.DataFlow == Pin->PcPin.KsPinDescriptor.DataFlow) {
            QuenTrace(TRACE_LEVEL_WARNING,
                      "pin %lu: pin %lu already ends that chain, no connection", Pin->Element.Id,
                      end->Id);
            return;
        }
    }
    if (isInput)
        Chain->InsertHead(&Pin->Element);
    else
        Chain->InsertTail(&Pin->Element);
}

// A USB streaming terminal is the render pin (input terminal) or the capture pin (output
// terminal); any other terminal a bridge pin to the outside world.
void MakePin(CUSBAudioCL *AudioCL, FilterBuild *Build, CUSBAudioTerminal *Terminal,
             UsbAudioPinDescriptor *Pin, ULONG Id)
{
    const BOOLEAN isInput = Terminal->GetSubtype() == USB_AUDIO_AC_INPUT_TERMINAL;
    const USHORT terminalType = Terminal->GetTerminalType();
    KSPIN_DESCRIPTOR &ks = Pin->PcPin.KsPinDescriptor;
    Pin->Element.Entity = Terminal;
    Pin->Element.Id = Id;
    Pin->Element.IsPin = TRUE;
    ks.DataFlow = isInput ? KSPIN_DATAFLOW_IN : KSPIN_DATAFLOW_OUT;
    if (terminalType == USB_AUDIO_TERMINAL_TYPE_USB_STREAMING) {
        Pin->PcPin.MaxGlobalInstanceCount = 1;
        Pin->PcPin.MaxFilterInstanceCount = 1;
        Pin->PcPin.MinFilterInstanceCount = 0;
        ks.Communication = KSPIN_COMMUNICATION_SINK;
        ks.Category = &KSCATEGORY_AUDIO;
        if (isInput) {
            Pin->PcPin.AutomationTable = &RenderPinAutomationTable;
            ks.DataRanges = GetPinDataRanges(AudioCL->RenderInterface, &ks.DataRangesCount);
            ChainPin(&Build->Render, Pin);
        } else {
            Pin->PcPin.AutomationTable = &CapturePinAutomationTable;
            ks.DataRanges = GetPinDataRanges(AudioCL->CaptureInterface, &ks.DataRangesCount);
            ChainPin(&Build->Capture, Pin);
        }
        return;
    }
    ks.Communication = KSPIN_COMMUNICATION_NONE;
    ks.DataRangesCount = SIZEOF_ARRAY(BridgeDataRanges);
    ks.DataRanges = BridgeDataRanges;
    ks.Category = CUSBAudioCL::GetKsNodeTypeForTerminal(terminalType);
    ChainPin(isInput ? &Build->Capture : &Build->Render, Pin);
}

NTSTATUS MakePins(CUSBAudioCL *AudioCL, FilterBuild *Build)
{
    ULONG count = 0;
    for (CUSBAudioEntity *entity = AudioCL->EntityList; entity != nullptr; entity = entity->Next)
        if (entity->IsTerminal())
            ++count;
    if (count == 0) {
        QuenTrace(TRACE_LEVEL_WARNING, "the function has no terminals: empty filter");
        return STATUS_SUCCESS;
    }
    const SIZE_T size = SIZE_T(count) * sizeof(UsbAudioPinDescriptor);
    auto pins = static_cast<UsbAudioPinDescriptor *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (pins == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no memory for %lu pins", count);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(pins, size);
    Build->Filter->Pins = &pins->PcPin;
    Build->Filter->PinCount = count;
    ULONG id = 0;
    for (CUSBAudioEntity *entity = AudioCL->EntityList; entity != nullptr; entity = entity->Next) {
        if (!entity->IsTerminal())
            continue;
        MakePin(AudioCL, Build, static_cast<CUSBAudioTerminal *>(entity), &pins[id], id);
        ++id;
    }
    return STATUS_SUCCESS;
}

// Node ids: the ADC (when the capture chain has pins), the DAC (when the render chain has), then
// the unit nodes in entity order.
NTSTATUS MakeNodes(CUSBAudioCL *AudioCL, FilterBuild *Build)
{
    ULONG count = (Build->Capture.Count != 0 ? 1 : 0) + (Build->Render.Count != 0 ? 1 : 0);
    for (CUSBAudioEntity *entity = AudioCL->EntityList; entity != nullptr; entity = entity->Next)
        if (IsUnit(entity))
            count += MakeUnitNodes(entity, nullptr, 0);
    const SIZE_T size = SIZE_T(count) * sizeof(UsbAudioNodeDescriptor);
    auto nodes = static_cast<UsbAudioNodeDescriptor *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (nodes == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no memory for %lu nodes", count);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(nodes, size);
    Build->Filter->Nodes = &nodes->PcNode;
    Build->Filter->NodeCount = count;
    ULONG id = 0;
    if (Build->Capture.Count != 0) {
        SetNode(&nodes[id], id, &KSNODETYPE_ADC, nullptr, nullptr);
        ++id;
    }
    if (Build->Render.Count != 0) {
        SetNode(&nodes[id], id, &KSNODETYPE_DAC, nullptr, nullptr);
        ++id;
    }
    for (CUSBAudioEntity *entity = AudioCL->EntityList; entity != nullptr; entity = entity->Next)
        if (IsUnit(entity))
            id += MakeUnitNodes(entity, nodes, id);
    return STATUS_SUCCESS;
}

// The first element of a chain, its last one excluded, whose entity has that id.
UsbAudioFilterElement *FindSource(const UsbAudioFilterChain &Chain, int SourceId)
{
    for (UsbAudioFilterElement *element = Chain.Head; element != nullptr && element != Chain.Tail;
         element = element->Next)
        if (element->Entity != nullptr && int(element->Entity->GetId()) == SourceId)
            return element;
    return nullptr;
}

void PlaceUnitNodes(FilterBuild *Build)
{
    UsbAudioNodeDescriptor *nodes = Build->Nodes();
    UsbAudioFilterChain *const chains[] = {&Build->Capture, &Build->Render};
    for (ULONG id = 0; id < Build->Filter->NodeCount; ++id) {
        UsbAudioFilterElement *node = &nodes[id].Element;
        if (node->Entity == nullptr)
            continue;
        const int sourceId = node->Entity->GetSourceId(0);
        BOOLEAN placed = FALSE;
        for (UsbAudioFilterChain *chain : chains) {
            UsbAudioFilterElement *source = FindSource(*chain, sourceId);
            if (source != nullptr) {
                chain->InsertAfter(source, node);
                placed = TRUE;
                break;
            }
        }
        if (!placed)
            QuenTrace(TRACE_LEVEL_WARNING, "node %lu: source %d is in no chain, no connection", id,
                      sourceId);
    }
}

UsbAudioFilterElement *FindConverterNode(FilterBuild *Build, const GUID &Type)
{
    UsbAudioNodeDescriptor *nodes = Build->Nodes();
    for (ULONG id = 0; id < Build->Filter->NodeCount; ++id)
        if (nodes[id].PcNode.Type != nullptr && IsEqualGUID(*nodes[id].PcNode.Type, Type))
            return &nodes[id].Element;
    return nullptr;
}

// The ADC follows the input bridge pin of the capture chain and the DAC precedes the output
// bridge pin of the render chain.
void PlaceConverterNodes(FilterBuild *Build)
{
    UsbAudioFilterElement *adc = FindConverterNode(Build, KSNODETYPE_ADC);
    UsbAudioFilterElement *dac = FindConverterNode(Build, KSNODETYPE_DAC);
    UsbAudioPinDescriptor *pins = Build->Pins();
    for (ULONG id = 0; id < Build->Filter->PinCount; ++id) {
        const KSPIN_DESCRIPTOR &ks = pins[id].PcPin.KsPinDescriptor;
        if (ks.Communication != KSPIN_COMMUNICATION_NONE &&
            ks.Communication != KSPIN_COMMUNICATION_BRIDGE)
            continue;
        UsbAudioFilterElement *pin = &pins[id].Element;
        if (ks.DataFlow == KSPIN_DATAFLOW_IN && adc != nullptr && Build->Capture.Contains(pin))
            Build->Capture.InsertAfter(pin, adc);
        else if (ks.DataFlow == KSPIN_DATAFLOW_OUT && dac != nullptr && Build->Render.Contains(pin))
            Build->Render.InsertBefore(pin, dac);
    }
}

ULONG ConnectionsOf(const UsbAudioFilterChain &Chain)
{
    return Chain.Count != 0 ? Chain.Count - 1 : 0;
}

// One connection per adjacent pair, capture chain first.
NTSTATUS MakeConnections(FilterBuild *Build)
{
    const ULONG count = ConnectionsOf(Build->Capture) + ConnectionsOf(Build->Render);
    if (count == 0)
        return STATUS_SUCCESS;
    const SIZE_T size = SIZE_T(count) * sizeof(PCCONNECTION_DESCRIPTOR);
    auto connections = static_cast<PCCONNECTION_DESCRIPTOR *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (connections == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no memory for %lu connections", count);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    Build->Filter->Connections = connections;
    Build->Filter->ConnectionCount = count;
    const UsbAudioFilterChain *const chains[] = {&Build->Capture, &Build->Render};
    ULONG index = 0;
    for (const UsbAudioFilterChain *chain : chains) {
        for (const UsbAudioFilterElement *from = chain->Head;
             from != nullptr && from->Next != nullptr; from = from->Next) {
            const UsbAudioFilterElement *to = from->Next;
            PCCONNECTION_DESCRIPTOR &connection = connections[index++];
            connection.FromNode = from->IsPin ? PCFILTER_NODE : from->Id;
            connection.FromNodePin = from->IsPin ? from->Id : kNodeOutputPin;
            connection.ToNode = to->IsPin ? PCFILTER_NODE : to->Id;
            connection.ToNodePin = to->IsPin ? to->Id : kNodeInputPin;
        }
    }
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS CUSBAudioCL::BuildFilter(PPCFILTER_DESCRIPTOR Filter)
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry");
    // The data ranges were built before the configuration was selected; the clocks answer now.
    if (IsAudioClass2) {
        UpdateDataRangeClockRates(RenderInterface);
        UpdateDataRangeClockRates(CaptureInterface);
    }
    RtlZeroMemory(Filter, sizeof(*Filter));
    Filter->AutomationTable = &FilterAutomationTable;
    Filter->PinSize = sizeof(UsbAudioPinDescriptor);
    Filter->NodeSize = sizeof(UsbAudioNodeDescriptor);

    FilterBuild build;
    build.Filter = Filter;
    build.Capture.Initialize();
    build.Render.Initialize();
    NTSTATUS status = MakePins(this, &build);
    if (NT_SUCCESS(status) && Filter->PinCount != 0) {
        status = MakeNodes(this, &build);
        if (NT_SUCCESS(status)) {
            PlaceUnitNodes(&build);
            PlaceConverterNodes(&build);
            status = MakeConnections(&build);
        }
    }
    if (!NT_SUCCESS(status)) {
        FreeFilterDescription(Filter);
        QuenTrace(TRACE_LEVEL_ERROR, "failed, status 0x%08lX", status);
        return status;
    }
    TraceFilterDescription(Filter);
    QuenTrace(TRACE_LEVEL_VERBOSE, "exit, success");
    return STATUS_SUCCESS;
}

void FreeFilterDescription(PPCFILTER_DESCRIPTOR Filter)
{
    if (Filter->Pins != nullptr)
        ExFreePoolWithTag(const_cast<PCPIN_DESCRIPTOR *>(Filter->Pins), USBA_POOL_TAG);
    if (Filter->Nodes != nullptr)
        ExFreePoolWithTag(const_cast<PCNODE_DESCRIPTOR *>(Filter->Nodes), USBA_POOL_TAG);
    if (Filter->Connections != nullptr)
        ExFreePoolWithTag(const_cast<PCCONNECTION_DESCRIPTOR *>(Filter->Connections),
                          USBA_POOL_TAG);
    Filter->Pins = nullptr;
    Filter->PinCount = 0;
    Filter->Nodes = nullptr;
    Filter->NodeCount = 0;
    Filter->Connections = nullptr;
    Filter->ConnectionCount = 0;
}
