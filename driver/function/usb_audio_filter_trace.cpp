#include "function/usb_audio_filter_trace.h"

#include "driver_trace.h"
#include "function/ks_node_types.h"
#include "function/usb_audio_entity.h"
#include "function/usb_audio_filter.h"

namespace {

// Entity names are short ("Feature(255)"); a longer one is cut, which the trace can live with.
const ULONG kNameSize = 32;

void GetEntityName(CUSBAudioEntity *Entity, PCHAR Name)
{
    if (Entity == nullptr) {
        Name[0] = '-';
        Name[1] = '\0';
        return;
    }
    Entity->GetName(Name, kNameSize);
}

PCSTR DataFlowName(KSPIN_DATAFLOW DataFlow) { return DataFlow == KSPIN_DATAFLOW_IN ? "in" : "out"; }

PCSTR CommunicationName(KSPIN_COMMUNICATION Communication)
{
    return Communication == KSPIN_COMMUNICATION_SINK ? "sink" : "bridge";
}

// "pin 3" or "node 2".
PCSTR EndKind(ULONG Node) { return Node == PCFILTER_NODE ? "pin" : "node"; }
ULONG EndId(ULONG Node, ULONG NodePin) { return Node == PCFILTER_NODE ? NodePin : Node; }

} // namespace

void TraceFilterDescription(const PCFILTER_DESCRIPTOR *Filter)
{
    QuenTrace(TRACE_LEVEL_INFORMATION, "filter: %lu pins, %lu nodes, %lu connections",
              Filter->PinCount, Filter->NodeCount, Filter->ConnectionCount);
    CHAR name[kNameSize];
    auto pins = reinterpret_cast<const UsbAudioPinDescriptor *>(Filter->Pins);
    for (ULONG i = 0; i < Filter->PinCount; ++i) {
        const KSPIN_DESCRIPTOR &ks = pins[i].PcPin.KsPinDescriptor;
        GetEntityName(pins[i].Element.Entity, name);
        QuenTrace(TRACE_LEVEL_INFORMATION, "pin %lu: %s, data flow %s, %s, %lu data ranges, %s", i,
                  name, DataFlowName(ks.DataFlow), CommunicationName(ks.Communication),
                  ks.DataRangesCount, GetKsNodeTypeName(ks.Category));
    }
    auto nodes = reinterpret_cast<const UsbAudioNodeDescriptor *>(Filter->Nodes);
    for (ULONG i = 0; i < Filter->NodeCount; ++i) {
        GetEntityName(nodes[i].Element.Entity, name);
        QuenTrace(TRACE_LEVEL_INFORMATION, "node %lu: %s, %s", i,
                  GetKsNodeTypeName(nodes[i].PcNode.Type), name);
    }
    for (ULONG i = 0; i < Filter->ConnectionCount; ++i) {
        const PCCONNECTION_DESCRIPTOR &c = Filter->Connections[i];
        QuenTrace(TRACE_LEVEL_INFORMATION, "connection %lu: %s %lu -> %s %lu", i,
                  EndKind(c.FromNode), EndId(c.FromNode, c.FromNodePin), EndKind(c.ToNode),
                  EndId(c.ToNode, c.ToNodePin));
    }
}
