#include "ks_property.h"

#include "ks_request.h"

#include "kernel/machine.h"

#include <cstring>

namespace host {

namespace {

const ULONG kVerbs = KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT |
                     KSPROPERTY_TYPE_SETSUPPORT;

// The item of (set, id) in a miniport's table; *setKnown tells whether the set appears at all.
const PCPROPERTY_ITEM *FindTableItem(const PCAUTOMATION_TABLE *table, const KSPROPERTY &property,
                                     bool *setKnown)
{
    if (table == nullptr || table->PropertyCount == 0)
        return nullptr;
    if (table->PropertyItemSize < sizeof(PCPROPERTY_ITEM)) {
        CurrentThread("KS property")
            ->machine->Checks()
            .Report(VerifierCheck::Usage, "an automation table with PropertyItemSize " +
                                              std::to_string(table->PropertyItemSize));
        return nullptr;
    }
    auto at = reinterpret_cast<const UCHAR *>(table->Properties);
    for (ULONG i = 0; i < table->PropertyCount; ++i, at += table->PropertyItemSize) {
        auto item = reinterpret_cast<const PCPROPERTY_ITEM *>(at);
        if (item->Set == nullptr || !IsEqualGUIDAligned(*item->Set, property.Set))
            continue;
        *setKnown = true;
        if (item->Id == property.Id)
            return item;
    }
    return nullptr;
}

const PortPropertyItem *FindPortItem(const PropertyTarget &target, const KSPROPERTY &property,
                                     bool *setKnown)
{
    for (size_t i = 0; i < target.itemCount; ++i) {
        const PortPropertyItem &item = target.items[i];
        if (!IsEqualGUIDAligned(*item.set, property.Set))
            continue;
        *setKnown = true;
        if (item.id == property.Id)
            return &item;
    }
    return nullptr;
}

// Basic support on an item's behalf: its access flags, or a description of them.
NTSTATUS DefaultBasicSupport(PropertyCall &call, ULONG itemVerbs)
{
    const ULONG access =
        (itemVerbs & (KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET)) | KSPROPERTY_TYPE_BASICSUPPORT;
    if (call.valueSize >= sizeof(KSPROPERTY_DESCRIPTION)) {
        KSPROPERTY_DESCRIPTION description = {};
        description.AccessFlags = access;
        description.DescriptionSize = sizeof description;
        description.PropTypeSet.Set = KSPROPTYPESETID_General;
        std::memcpy(call.value, &description, sizeof description);
        call.information = sizeof description;
        return STATUS_SUCCESS;
    }
    if (call.valueSize >= sizeof(ULONG)) {
        std::memcpy(call.value, &access, sizeof access);
        call.information = sizeof access;
        return STATUS_SUCCESS;
    }
    call.information = sizeof(KSPROPERTY_DESCRIPTION);
    return call.valueSize == 0 ? STATUS_BUFFER_OVERFLOW : STATUS_BUFFER_TOO_SMALL;
}

NTSTATUS CallPortItem(const PropertyTarget &target, const PortPropertyItem &item,
                      PropertyCall &call)
{
    if (call.verb == KSPROPERTY_TYPE_BASICSUPPORT)
        return DefaultBasicSupport(call, item.verbs);
    if (call.instanceSize < item.minimumInstance)
        return STATUS_INVALID_BUFFER_SIZE;
    if (item.valueSize != 0) {
        call.information = item.valueSize;
        if (call.valueSize == 0)
            return STATUS_BUFFER_OVERFLOW;
        if (call.valueSize < item.valueSize)
            return STATUS_BUFFER_TOO_SMALL;
        call.valueSize = item.valueSize;
    }
    return item.handler(target.object, call);
}

NTSTATUS CallMiniportItem(const PropertyTarget &target, const PCPROPERTY_ITEM &item, ULONG node,
                          PropertyCall &call)
{
    if (call.verb == KSPROPERTY_TYPE_BASICSUPPORT &&
        (item.Flags & KSPROPERTY_TYPE_BASICSUPPORT) == 0)
        return DefaultBasicSupport(call, item.Flags);
    if (item.Handler == nullptr)
        return STATUS_INVALID_DEVICE_REQUEST;
    PCPROPERTY_REQUEST request = {};
    request.MajorTarget = target.majorTarget;
    request.MinorTarget = target.minorTarget;
    request.Node = node;
    request.PropertyItem = &item;
    request.Verb = call.property->Flags;
    request.InstanceSize = call.instanceSize;
    request.Instance = call.instance;
    request.ValueSize = call.valueSize;
    request.Value = call.value;
    request.Irp = call.irp;
    NTSTATUS status = item.Handler(&request);
    Machine &machine = *CurrentThread("property handler")->machine;
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        machine.Checks().Report(VerifierCheck::Irql,
                                "a property handler returned above PASSIVE_LEVEL");
    if (status == STATUS_PENDING) {
        machine.Checks().Report(VerifierCheck::Usage,
                                "a property handler returned STATUS_PENDING (pending property "
                                "requests are not emulated)");
        return STATUS_NOT_SUPPORTED;
    }
    if (NT_SUCCESS(status) || status == STATUS_BUFFER_OVERFLOW)
        call.information = request.ValueSize;
    if (NT_SUCCESS(status) && request.ValueSize > call.valueSize) {
        machine.Checks().Report(VerifierCheck::Usage,
                                "a property handler returned " + std::to_string(request.ValueSize) +
                                    " bytes into a " + std::to_string(call.valueSize) +
                                    "-byte buffer");
        call.information = call.valueSize;
    }
    return status;
}

NTSTATUS Dispatch(const PropertyTarget &target, const KsRequestBuffers &buffers, PIRP irp,
                  ULONG_PTR *information)
{
    if (buffers.inputLength < sizeof(KSPROPERTY) || buffers.input == nullptr)
        return STATUS_INVALID_BUFFER_SIZE;
    const auto &property = *static_cast<const KSPROPERTY *>(buffers.input);
    const bool topology = (property.Flags & KSPROPERTY_TYPE_TOPOLOGY) != 0;
    const ULONG verb = property.Flags & ~ULONG(KSPROPERTY_TYPE_TOPOLOGY);
    if ((verb & ~kVerbs) != 0 || verb == 0 || (verb & (verb - 1)) != 0)
        return STATUS_INVALID_PARAMETER; // exactly one verb

    ULONG header = sizeof(KSPROPERTY);
    ULONG node = ULONG(-1);
    const PCAUTOMATION_TABLE *table = target.table;
    const PortPropertyItem *portItem = nullptr;
    const PCPROPERTY_ITEM *miniportItem = nullptr;
    bool setKnown = false;
    if (topology) {
        if (buffers.inputLength < sizeof(KSNODEPROPERTY))
            return STATUS_INVALID_BUFFER_SIZE;
        header = sizeof(KSNODEPROPERTY);
        node = static_cast<const KSNODEPROPERTY *>(buffers.input)->NodeId;
        const PCFILTER_DESCRIPTOR *descriptor = target.descriptor;
        if (descriptor == nullptr || node >= descriptor->NodeCount)
            return STATUS_INVALID_PARAMETER;
        auto nodes = reinterpret_cast<const UCHAR *>(descriptor->Nodes);
        table =
            reinterpret_cast<const PCNODE_DESCRIPTOR *>(nodes + size_t(node) * descriptor->NodeSize)
                ->AutomationTable;
    } else {
        portItem = FindPortItem(target, property, &setKnown);
    }
    if (portItem == nullptr)
        miniportItem = FindTableItem(table, property, &setKnown);
    if (!setKnown)
        return STATUS_PROPSET_NOT_FOUND;
    if (verb == KSPROPERTY_TYPE_SETSUPPORT)
        return STATUS_SUCCESS;
    if (portItem == nullptr && miniportItem == nullptr)
        return STATUS_NOT_FOUND;
    const ULONG declared = portItem != nullptr ? portItem->verbs : miniportItem->Flags;
    if (verb != KSPROPERTY_TYPE_BASICSUPPORT && (declared & verb) == 0)
        return STATUS_INVALID_DEVICE_REQUEST;

    PropertyCall call = {};
    call.verb = verb;
    call.property = &property;
    call.instanceSize = buffers.inputLength - header;
    call.instance = call.instanceSize != 0 ? static_cast<UCHAR *>(buffers.input) + header : nullptr;
    call.value = buffers.output;
    call.valueSize = buffers.outputLength;
    call.irp = irp;
    NTSTATUS status = portItem != nullptr ? CallPortItem(target, *portItem, call)
                                          : CallMiniportItem(target, *miniportItem, node, call);
    *information = (NT_SUCCESS(status) || status == STATUS_BUFFER_OVERFLOW) ? call.information : 0;
    return status;
}

} // namespace

NTSTATUS DispatchProperty(PIRP irp, const PropertyTarget &target)
{
    KsRequestBuffers buffers;
    NTSTATUS status = CaptureKsRequest(irp, &buffers);
    ULONG_PTR information = 0;
    if (NT_SUCCESS(status))
        status = Dispatch(target, buffers, irp, &information);
    CompleteKsRequest(irp, buffers, status, information);
    return status;
}

NTSTATUS AnswerValue(PropertyCall &call, const void *bytes, ULONG size)
{
    call.information = size;
    if (call.valueSize == 0)
        return STATUS_BUFFER_OVERFLOW;
    if (call.valueSize < size)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(call.value, bytes, size);
    return STATUS_SUCCESS;
}

NTSTATUS AnswerMultipleItem(PropertyCall &call, ULONG count, const std::vector<UCHAR> &items)
{
    KSMULTIPLE_ITEM header;
    header.Size = ULONG(sizeof header + items.size());
    header.Count = count;
    if (call.valueSize == sizeof(ULONG)) {
        std::memcpy(call.value, &header.Size, sizeof(ULONG));
        call.information = sizeof(ULONG);
        return STATUS_SUCCESS;
    }
    if (call.valueSize == sizeof header) {
        std::memcpy(call.value, &header, sizeof header);
        call.information = sizeof header;
        return STATUS_SUCCESS;
    }
    call.information = header.Size;
    if (call.valueSize == 0)
        return STATUS_BUFFER_OVERFLOW;
    if (call.valueSize < header.Size)
        return STATUS_BUFFER_TOO_SMALL;
    std::memcpy(call.value, &header, sizeof header);
    if (!items.empty())
        std::memcpy(static_cast<UCHAR *>(call.value) + sizeof header, items.data(), items.size());
    return STATUS_SUCCESS;
}

} // namespace host
