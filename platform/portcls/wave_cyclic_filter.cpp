#include "wave_cyclic_filter.h"

#include "ks_request.h"
#include "pin_connect.h"
#include "port_wave_cyclic.h"
#include "wave_cyclic_pin.h"

#include "kernel/machine.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <cstring>
#include <vector>

namespace host {

namespace {

constexpr ULONG kPinInstance = sizeof(KSP_PIN) - sizeof(KSPROPERTY);
constexpr ULONG kGet = KSPROPERTY_TYPE_GET;

void Append(std::vector<UCHAR> &bytes, const void *data, size_t size)
{
    auto at = static_cast<const UCHAR *>(data);
    bytes.insert(bytes.end(), at, at + size);
}

template <class T>
NTSTATUS AnswerList(PropertyCall &call, const T *items, ULONG count)
{
    std::vector<UCHAR> bytes;
    Append(bytes, items, sizeof(T) * count);
    return AnswerMultipleItem(call, count, bytes);
}

// A pin's data ranges as KSMULTIPLE_ITEM items, each starting on an 8-byte boundary.
NTSTATUS AnswerRanges(PropertyCall &call, const KSPIN_DESCRIPTOR &pin)
{
    std::vector<UCHAR> bytes;
    for (ULONG i = 0; i < pin.DataRangesCount; ++i) {
        Append(bytes, pin.DataRanges[i], pin.DataRanges[i]->FormatSize);
        bytes.resize(ALIGN_UP_BY(bytes.size(), 8), 0);
    }
    return AnswerMultipleItem(call, pin.DataRangesCount, bytes);
}

// The name the registry gives a pin's name (or, without one, its category) GUID.
NTSTATUS AnswerName(PropertyCall &call, const GUID *name)
{
    if (name == nullptr)
        return STATUS_NOT_FOUND;
    UNICODE_STRING text;
    if (!NT_SUCCESS(RtlStringFromGUID(*name, &text)))
        return STATUS_INSUFFICIENT_RESOURCES;
    std::u16string key =
        u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\MediaCategories\\" + ToU16(text);
    RtlFreeUnicodeString(&text);
    auto value = CurrentThread("KSPROPERTY_PIN_NAME")->machine->Registry().GetValue(key, u"Name");
    if (!value || value->type != REG_SZ)
        return STATUS_NOT_FOUND;
    std::vector<UCHAR> bytes = value->data;
    if (bytes.size() < 2 || bytes[bytes.size() - 1] != 0 || bytes[bytes.size() - 2] != 0)
        bytes.insert(bytes.end(), {0, 0}); // the value, terminated
    return AnswerValue(call, bytes.data(), ULONG(bytes.size()));
}

const PortPropertyItem kFilterItems[] = {
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, kGet, 0, sizeof(ULONG), nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CINSTANCES, kGet, kPinInstance, sizeof(KSPIN_CINSTANCES),
     nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_GLOBALCINSTANCES, kGet, kPinInstance,
     sizeof(KSPIN_CINSTANCES), nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_NECESSARYINSTANCES, kGet, kPinInstance, sizeof(ULONG),
     nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATAFLOW, kGet, kPinInstance, sizeof(ULONG), nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_COMMUNICATION, kGet, kPinInstance, sizeof(ULONG), nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_INTERFACES, kGet, kPinInstance, 0, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_MEDIUMS, kGet, kPinInstance, 0, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATARANGES, kGet, kPinInstance, 0, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CONSTRAINEDDATARANGES, kGet, kPinInstance, 0, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_DATAINTERSECTION, kGet,
     kPinInstance + sizeof(KSMULTIPLE_ITEM), 0, nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_CATEGORY, kGet, kPinInstance, sizeof(GUID), nullptr},
    {&KSPROPSETID_Pin, KSPROPERTY_PIN_NAME, kGet, kPinInstance, 0, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CATEGORIES, kGet, 0, 0, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, kGet, 0, 0, nullptr},
    {&KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_CONNECTIONS, kGet, 0, 0, nullptr},
};

// The table above with its handlers (one per set).
std::vector<PortPropertyItem> FilterItems(NTSTATUS (*pin)(void *, PropertyCall &),
                                          NTSTATUS (*topology)(void *, PropertyCall &))
{
    std::vector<PortPropertyItem> items(std::begin(kFilterItems), std::end(kFilterItems));
    for (PortPropertyItem &item : items)
        item.handler = item.set == &KSPROPSETID_Pin ? pin : topology;
    return items;
}

} // namespace

WaveCyclicFilter::WaveCyclicFilter(CPortWaveCyclic &port)
    : port_(port), instances_(port.Descriptor().PinCount, 0)
{
    port_.AddRef();
    KeInitializeMutex(&requests_, 0);
}

WaveCyclicFilter::~WaveCyclicFilter()
{
    port_.FilterClosed();
    port_.Release();
}

void WaveCyclicFilter::Close() { delete this; }

void WaveCyclicFilter::PinClosed(ULONG pin) { port_.RemovePinInstance(pin, &instances_[pin]); }

NTSTATUS WaveCyclicFilter::DeviceControl(PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    if (location->Parameters.DeviceIoControl.IoControlCode != IOCTL_KS_PROPERTY) {
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    static const std::vector<PortPropertyItem> items = FilterItems(PinProperty, TopologyProperty);
    const PCFILTER_DESCRIPTOR &descriptor = port_.Descriptor();
    PropertyTarget target{this,        items.data(),     items.size(), descriptor.AutomationTable,
                          &descriptor, port_.Miniport(), nullptr};
    KeWaitForSingleObject(&requests_, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = DispatchProperty(irp, target);
    KeReleaseMutex(&requests_, FALSE);
    return status;
}

NTSTATUS WaveCyclicFilter::PinProperty(void *object, PropertyCall &call)
{
    auto filter = static_cast<WaveCyclicFilter *>(object);
    CPortWaveCyclic &port = filter->port_;
    const PCFILTER_DESCRIPTOR &descriptor = port.Descriptor();
    if (call.property->Id == KSPROPERTY_PIN_CTYPES) {
        std::memcpy(call.value, &descriptor.PinCount, sizeof(ULONG));
        return STATUS_SUCCESS;
    }
    const ULONG pin = *static_cast<const ULONG *>(call.instance);
    if (pin >= descriptor.PinCount)
        return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR &ks = PinDescriptorOf(descriptor, pin).KsPinDescriptor;
    switch (call.property->Id) {
    case KSPROPERTY_PIN_CINSTANCES:
    case KSPROPERTY_PIN_GLOBALCINSTANCES: {
        KSPIN_CINSTANCES counts = port.Instances(
            pin, filter->instances_[pin], call.property->Id == KSPROPERTY_PIN_GLOBALCINSTANCES);
        std::memcpy(call.value, &counts, sizeof counts);
        return STATUS_SUCCESS;
    }
    case KSPROPERTY_PIN_NECESSARYINSTANCES: {
        ULONG necessary = port.NecessaryInstances(pin);
        std::memcpy(call.value, &necessary, sizeof necessary);
        return STATUS_SUCCESS;
    }
    case KSPROPERTY_PIN_DATAFLOW:
        std::memcpy(call.value, &ks.DataFlow, sizeof(ULONG));
        return STATUS_SUCCESS;
    case KSPROPERTY_PIN_COMMUNICATION:
        std::memcpy(call.value, &ks.Communication, sizeof(ULONG));
        return STATUS_SUCCESS;
    case KSPROPERTY_PIN_INTERFACES: {
        const KSPIN_INTERFACE standard = {
            {{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0}}};
        return ks.InterfacesCount != 0 ? AnswerList(call, ks.Interfaces, ks.InterfacesCount)
                                       : AnswerList(call, &standard, 1);
    }
    case KSPROPERTY_PIN_MEDIUMS: {
        const KSPIN_MEDIUM standard = {{{KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0}}};
        return ks.MediumsCount != 0 ? AnswerList(call, ks.Mediums, ks.MediumsCount)
                                    : AnswerList(call, &standard, 1);
    }
    case KSPROPERTY_PIN_DATARANGES:
    case KSPROPERTY_PIN_CONSTRAINEDDATARANGES: return AnswerRanges(call, ks);
    case KSPROPERTY_PIN_DATAINTERSECTION: return filter->DataIntersection(pin, call);
    case KSPROPERTY_PIN_CATEGORY:
        if (ks.Category == nullptr)
            return STATUS_NOT_FOUND;
        std::memcpy(call.value, ks.Category, sizeof(GUID));
        return STATUS_SUCCESS;
    case KSPROPERTY_PIN_NAME: return AnswerName(call, ks.Name != nullptr ? ks.Name : ks.Category);
    default: return STATUS_NOT_FOUND;
    }
}

NTSTATUS WaveCyclicFilter::DataIntersection(ULONG pin, PropertyCall &call)
{
    // Instance: the pin id, then a KSMULTIPLE_ITEM of the client's ranges.
    auto ranges = static_cast<const UCHAR *>(call.instance) + kPinInstance;
    const ULONG available = call.instanceSize - kPinInstance;
    KSMULTIPLE_ITEM list;
    std::memcpy(&list, ranges, sizeof list);
    if (list.Size < sizeof list || list.Size > available)
        return STATUS_INVALID_BUFFER_SIZE;
    const KSPIN_DESCRIPTOR &ks = PinDescriptorOf(port_.Descriptor(), pin).KsPinDescriptor;
    ULONG offset = sizeof list;
    for (ULONG i = 0; i < list.Count; ++i) {
        if (list.Size - offset < sizeof(KSDATARANGE))
            return STATUS_INVALID_BUFFER_SIZE;
        auto client = reinterpret_cast<PKSDATARANGE>(const_cast<UCHAR *>(ranges + offset));
        if (client->FormatSize < sizeof(KSDATARANGE) || client->FormatSize > list.Size - offset)
            return STATUS_INVALID_BUFFER_SIZE;
        for (ULONG r = 0; r < ks.DataRangesCount; ++r) {
            if (!RangesMayIntersect(*client, *ks.DataRanges[r]))
                continue;
            ULONG length = 0;
            NTSTATUS status = port_.Miniport()->DataRangeIntersection(
                pin, client, ks.DataRanges[r], call.valueSize, call.value, &length);
            if (status == STATUS_NO_MATCH || status == STATUS_NOT_IMPLEMENTED)
                continue;
            call.information = length;
            return status;
        }
        offset += ULONG(ALIGN_UP_BY(client->FormatSize, 8));
        if (offset > list.Size)
            break;
    }
    return STATUS_NO_MATCH;
}

NTSTATUS WaveCyclicFilter::TopologyProperty(void *object, PropertyCall &call)
{
    CPortWaveCyclic &port = static_cast<WaveCyclicFilter *>(object)->port_;
    const PCFILTER_DESCRIPTOR &descriptor = port.Descriptor();
    switch (call.property->Id) {
    case KSPROPERTY_TOPOLOGY_CATEGORIES: {
        std::vector<GUID> categories = port.InterfaceClasses();
        return AnswerList(call, categories.data(), ULONG(categories.size()));
    }
    case KSPROPERTY_TOPOLOGY_NODES: {
        std::vector<GUID> types;
        auto nodes = reinterpret_cast<const UCHAR *>(descriptor.Nodes);
        for (ULONG i = 0; i < descriptor.NodeCount; ++i) {
            auto node =
                reinterpret_cast<const PCNODE_DESCRIPTOR *>(nodes + i * descriptor.NodeSize);
            types.push_back(node->Type != nullptr ? *node->Type : GUID_NULL);
        }
        return AnswerList(call, types.data(), ULONG(types.size()));
    }
    case KSPROPERTY_TOPOLOGY_CONNECTIONS:
        static_assert(sizeof(PCCONNECTION_DESCRIPTOR) == sizeof(KSTOPOLOGY_CONNECTION),
                      "the connection records share their layout");
        return AnswerList(call,
                          reinterpret_cast<const KSTOPOLOGY_CONNECTION *>(descriptor.Connections),
                          descriptor.ConnectionCount);
    default: return STATUS_NOT_FOUND;
    }
}

NTSTATUS WaveCyclicFilter::CreateChild(PIRP irp, PFILE_OBJECT file, KsObject **child)
{
    // "<KSSTRING_Pin>\" followed by the KSPIN_CONNECT and its data format.
    static const WCHAR kPin[] = KSSTRING_Pin;
    const ULONG prefix = sizeof kPin; // the terminator's place holds the '\'
    const UNICODE_STRING &name = file->FileName;
    if (name.Length < prefix || name.Buffer[prefix / sizeof(WCHAR) - 1] != L'\\' ||
        !EqualIgnoreCase(ToU16(name.Buffer, prefix / sizeof(WCHAR) - 1), ToU16(kPin)))
        return STATUS_OBJECT_NAME_NOT_FOUND; // no other object type is created on a filter
    // KS captures the request out of the name, where the characters before it leave it
    // unaligned, so the pin and the miniport read an aligned copy.
    const ULONG bytes = name.Length - prefix;
    std::vector<ULONGLONG> captured((bytes + sizeof(ULONGLONG) - 1) / sizeof(ULONGLONG));
    std::memcpy(captured.data(), reinterpret_cast<const UCHAR *>(name.Buffer) + prefix, bytes);
    const KSPIN_CONNECT *connect = nullptr;
    const KSDATAFORMAT *format = nullptr;
    NTSTATUS status =
        ValidatePinConnect(port_.Descriptor(), reinterpret_cast<const UCHAR *>(captured.data()),
                           bytes, &connect, &format);
    if (!NT_SUCCESS(status))
        return status;
    const ULONG pin = connect->PinId;
    if (!port_.AddPinInstance(pin, &instances_[pin]))
        return STATUS_INSUFFICIENT_RESOURCES; // the pin's instance limit is reached
    WaveCyclicPin *created = nullptr;
    status = WaveCyclicPin::Create(*this, pin, *format, irp, &created);
    if (!NT_SUCCESS(status)) {
        PinClosed(pin);
        return status;
    }
    *child = created;
    return STATUS_SUCCESS;
}

} // namespace host
