#include "hostile_filter.h"

#include <ksmedia.h>

#include <algorithm>
#include <cstring>

namespace kslib_tests {

namespace {

template <typename T>
std::vector<UCHAR> Bytes(const T &value)
{
    auto bytes = reinterpret_cast<const UCHAR *>(&value);
    return std::vector<UCHAR>(bytes, bytes + sizeof value);
}

const std::vector<UCHAR> *Find(const HostileReplies &replies, const KSPROPERTY &property)
{
    if (IsEqualGUID(property.Set, KSPROPSETID_Topology) && property.Id == KSPROPERTY_TOPOLOGY_NODES)
        return &replies.nodes;
    if (!IsEqualGUID(property.Set, KSPROPSETID_Pin))
        return nullptr;
    auto found = replies.pin.find(property.Id);
    return found != replies.pin.end() ? &found->second : nullptr;
}

// Buffers are the caller's (METHOD_NEITHER), read and written in its context.
NTSTATUS Control(PDEVICE_OBJECT device, PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    const auto &parameters = location->Parameters.DeviceIoControl;
    const auto &replies = **static_cast<const HostileReplies **>(device->DeviceExtension);
    NTSTATUS status = STATUS_NOT_FOUND;
    ULONG_PTR information = 0;
    KSPROPERTY property;
    const std::vector<UCHAR> *reply = nullptr;
    if (parameters.IoControlCode == IOCTL_KS_PROPERTY &&
        parameters.InputBufferLength >= sizeof property) {
        std::memcpy(&property, parameters.Type3InputBuffer, sizeof property);
        reply = Find(replies, property);
    }
    if (reply != nullptr && parameters.OutputBufferLength == 0 && !reply->empty()) {
        status = STATUS_BUFFER_OVERFLOW;
        information = reply->size();
    } else if (reply != nullptr) {
        information = std::min<size_t>(reply->size(), parameters.OutputBufferLength);
        std::memcpy(irp->UserBuffer, reply->data(), information);
        information += replies.overstated;
        status = STATUS_SUCCESS;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

HostileFilter::HostileFilter(host::Machine &machine, const HostileReplies &replies)
    : device_(machine, u"QuenHostile", Control, sizeof(const HostileReplies *))
{
    if (device_.Device() != nullptr)
        device_.Extension<const HostileReplies *>() = &replies;
}

std::vector<UCHAR> MultipleItem(ULONG size, ULONG count, const std::vector<UCHAR> &items)
{
    KSMULTIPLE_ITEM header = {size, count};
    std::vector<UCHAR> list(sizeof header + items.size());
    std::memcpy(list.data(), &header, sizeof header);
    std::copy(items.begin(), items.end(), list.begin() + sizeof header);
    return list;
}

std::vector<UCHAR> AudioRange(ULONG formatSize)
{
    KSDATARANGE_AUDIO range = {};
    range.DataRange.FormatSize = formatSize;
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    range.MaximumChannels = 2;
    range.MinimumBitsPerSample = 16;
    range.MaximumBitsPerSample = 24;
    range.MinimumSampleFrequency = 44100;
    range.MaximumSampleFrequency = 48000;
    std::vector<UCHAR> bytes = Bytes(range);
    bytes.resize(std::max<size_t>(formatSize, 8), 0);
    return bytes;
}

HostileReplies WellFormedReplies()
{
    HostileReplies replies;
    KSPIN_INTERFACE streaming = {{{KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING, 0}}};
    KSPIN_MEDIUM medium = {{{KSMEDIUMSETID_Standard, KSMEDIUM_TYPE_ANYINSTANCE, 0}}};
    KSPIN_CINSTANCES instances = {1, 0};
    std::vector<UCHAR> range = AudioRange(sizeof(KSDATARANGE_AUDIO));
    replies.pin[KSPROPERTY_PIN_CTYPES] = Bytes(ULONG(1));
    replies.pin[KSPROPERTY_PIN_COMMUNICATION] = Bytes(KSPIN_COMMUNICATION_SINK);
    replies.pin[KSPROPERTY_PIN_DATAFLOW] = Bytes(KSPIN_DATAFLOW_IN);
    replies.pin[KSPROPERTY_PIN_CINSTANCES] = Bytes(instances);
    replies.pin[KSPROPERTY_PIN_GLOBALCINSTANCES] = Bytes(instances);
    replies.pin[KSPROPERTY_PIN_CATEGORY] = Bytes(KSNODETYPE_SPEAKER);
    replies.pin[KSPROPERTY_PIN_NAME] = Bytes(u"Render");
    replies.pin[KSPROPERTY_PIN_INTERFACES] =
        MultipleItem(sizeof(KSMULTIPLE_ITEM) + sizeof streaming, 1, Bytes(streaming));
    replies.pin[KSPROPERTY_PIN_MEDIUMS] =
        MultipleItem(sizeof(KSMULTIPLE_ITEM) + sizeof medium, 1, Bytes(medium));
    replies.pin[KSPROPERTY_PIN_DATARANGES] =
        MultipleItem(ULONG(sizeof(KSMULTIPLE_ITEM) + range.size()), 1, range);
    replies.nodes =
        MultipleItem(sizeof(KSMULTIPLE_ITEM) + sizeof(GUID), 1, Bytes(KSNODETYPE_VOLUME));
    return replies;
}

} // namespace kslib_tests
