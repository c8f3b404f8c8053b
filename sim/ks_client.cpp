#include "ks_client.h"

#include <cstring>

namespace sim {

namespace {

constexpr ULONG kStreamTag = 'mrtS'; // "Strm": the client's packet buffers

KSPROPERTY Request(const GUID &set, ULONG id, ULONG flags)
{
    KSPROPERTY property = {};
    property.Set = set;
    property.Id = id;
    property.Flags = flags;
    return property;
}

KSP_PIN PinProperty(ULONG pin, ULONG id)
{
    KSP_PIN property = {};
    property.Property.Set = KSPROPSETID_Pin;
    property.Property.Id = id;
    property.Property.Flags = KSPROPERTY_TYPE_GET;
    property.PinId = pin;
    return property;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Handles

KsObjectHandle::~KsObjectHandle()
{
    if (file_ != nullptr)
        ObDereferenceObject(file_);
    if (handle_ != nullptr)
        ZwClose(handle_);
}

NTSTATUS KsObjectHandle::Attach(HANDLE handle)
{
    handle_ = handle;
    return ObReferenceObjectByHandle(handle, 0, *IoFileObjectType, KernelMode,
                                     reinterpret_cast<PVOID *>(&file_), nullptr);
}

NTSTATUS KsObjectHandle::Property(const KSPROPERTY &property, ULONG propertySize, void *value,
                                  ULONG valueSize, ULONG *returned)
{
    ULONG bytes = 0;
    NTSTATUS status = KsSynchronousIoControlDevice(file_, KernelMode, IOCTL_KS_PROPERTY,
                                                   const_cast<KSPROPERTY *>(&property),
                                                   propertySize, value, valueSize, &bytes);
    if (returned != nullptr)
        *returned = bytes;
    return status;
}

// ---------------------------------------------------------------------------------------------
// Filters

std::vector<std::u16string> KsFilter::Interfaces(const GUID &category)
{
    std::vector<std::u16string> links;
    PWSTR list = nullptr;
    if (!NT_SUCCESS(IoGetDeviceInterfaces(&category, nullptr, 0, &list)))
        return links;
    for (PWSTR at = list; *at != 0;) {
        std::u16string link;
        for (; *at != 0; ++at)
            link.push_back(char16_t(*at));
        ++at;
        links.push_back(link);
    }
    ExFreePool(list);
    return links;
}

NTSTATUS KsFilter::Open(const std::u16string &link, std::unique_ptr<KsFilter> *filter)
{
    std::vector<WCHAR> name(link.begin(), link.end());
    UNICODE_STRING objectName = {USHORT(name.size() * sizeof(WCHAR)),
                                 USHORT(name.size() * sizeof(WCHAR)), name.data()};
    HANDLE handle = nullptr;
    NTSTATUS status = OpenKsObject(nullptr, objectName, &handle);
    return NT_SUCCESS(status) ? Adopt(handle, filter) : status;
}

NTSTATUS KsFilter::PinValue(ULONG pin, ULONG id, ULONG *value)
{
    KSP_PIN property = PinProperty(pin, id);
    return Property(property.Property, sizeof property, value, sizeof *value);
}

NTSTATUS KsFilter::PinCount(ULONG *count)
{
    KSPROPERTY property = Request(KSPROPSETID_Pin, KSPROPERTY_PIN_CTYPES, KSPROPERTY_TYPE_GET);
    return Property(property, sizeof property, count, sizeof *count);
}

NTSTATUS KsFilter::DataRanges(ULONG pin, std::vector<std::vector<UCHAR>> *ranges)
{
    KSP_PIN property = PinProperty(pin, KSPROPERTY_PIN_DATARANGES);
    ULONG size = 0;
    NTSTATUS status = Property(property.Property, sizeof property, nullptr, 0, &size);
    if (status != STATUS_BUFFER_OVERFLOW)
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    std::vector<UCHAR> bytes(size);
    status = Property(property.Property, sizeof property, bytes.data(), size, &size);
    if (!NT_SUCCESS(status))
        return status;
    KSMULTIPLE_ITEM list;
    std::memcpy(&list, bytes.data(), sizeof list);
    ranges->clear();
    for (ULONG i = 0, offset = sizeof list; i < list.Count && offset < size; ++i) {
        KSDATARANGE range;
        std::memcpy(&range, bytes.data() + offset, sizeof range);
        ranges->emplace_back(bytes.begin() + offset, bytes.begin() + offset + range.FormatSize);
        offset += ULONG(ALIGN_UP_BY(range.FormatSize, 8));
    }
    return STATUS_SUCCESS;
}

NTSTATUS KsFilter::Intersect(ULONG pin, const std::vector<UCHAR> &range, std::vector<UCHAR> *format)
{
    // KSP_PIN, then a KSMULTIPLE_ITEM of the one range.
    KSP_PIN property = PinProperty(pin, KSPROPERTY_PIN_DATAINTERSECTION);
    KSMULTIPLE_ITEM list = {ULONG(sizeof list + range.size()), 1};
    std::vector<UCHAR> request(sizeof property + sizeof list + range.size());
    std::memcpy(request.data(), &property, sizeof property);
    std::memcpy(request.data() + sizeof property, &list, sizeof list);
    std::memcpy(request.data() + sizeof property + sizeof list, range.data(), range.size());
    auto header = reinterpret_cast<const KSPROPERTY *>(request.data());
    ULONG size = 0;
    NTSTATUS status = Property(*header, ULONG(request.size()), nullptr, 0, &size);
    if (status != STATUS_BUFFER_OVERFLOW)
        return NT_SUCCESS(status) ? STATUS_UNSUCCESSFUL : status;
    format->assign(size, 0);
    status = Property(*header, ULONG(request.size()), format->data(), size, &size);
    format->resize(NT_SUCCESS(status) ? size : 0);
    return status;
}

NTSTATUS KsFilter::CreatePin(ULONG pin, const std::vector<UCHAR> &format,
                             std::unique_ptr<KsPin> *made)
{
    std::vector<UCHAR> connect = PinConnectRequest(pin, format);
    auto request = reinterpret_cast<PKSPIN_CONNECT>(connect.data());
    HANDLE handle = nullptr;
    NTSTATUS status = KsCreatePin(Handle(), request, GENERIC_READ | GENERIC_WRITE, &handle);
    return NT_SUCCESS(status) ? Adopt(handle, made) : status;
}

// ---------------------------------------------------------------------------------------------
// Pins

NTSTATUS KsPin::SetState(KSSTATE state)
{
    KSPROPERTY property =
        Request(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_SET);
    return Property(property, sizeof property, &state, sizeof state);
}

NTSTATUS KsPin::State(KSSTATE *state)
{
    KSPROPERTY property =
        Request(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, KSPROPERTY_TYPE_GET);
    return Property(property, sizeof property, state, sizeof *state);
}

NTSTATUS KsPin::Position(KSAUDIO_POSITION *position)
{
    KSPROPERTY property =
        Request(KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET);
    return Property(property, sizeof property, position, sizeof *position);
}

namespace {

// One packet in flight: its buffer, header and the request carrying them.
struct Packet {
    PUCHAR bytes = nullptr;
    KSSTREAM_HEADER header = {};
    KEVENT done;
    IO_STATUS_BLOCK status = {};
    ULONG index = 0;
    bool queued = false;
};

NTSTATUS Send(PFILE_OBJECT file, bool capture, Packet &packet, ULONG length)
{
    packet.header = {};
    packet.header.Size = sizeof packet.header;
    packet.header.FrameExtent = length;
    packet.header.DataUsed = capture ? 0 : length;
    packet.header.Data = packet.bytes;
    KeClearEvent(&packet.done);
    PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
    PIRP irp = IoBuildDeviceIoControlRequest(
        capture ? IOCTL_KS_READ_STREAM : IOCTL_KS_WRITE_STREAM, device, nullptr, 0, &packet.header,
        sizeof packet.header, FALSE, &packet.done, &packet.status);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    IoGetNextIrpStackLocation(irp)->FileObject = file;
    packet.queued = true;
    NTSTATUS status = IoCallDriver(device, irp);
    return status == STATUS_PENDING ? STATUS_SUCCESS : status;
}

} // namespace

NTSTATUS KsPin::Stream(bool capture, ULONG packetBytes, ULONG packets, ULONG ahead,
                       const PacketFunction &fill)
{
    std::vector<Packet> ring(ahead);
    NTSTATUS result = STATUS_SUCCESS;
    for (Packet &packet : ring) {
        KeInitializeEvent(&packet.done, NotificationEvent, FALSE);
        packet.bytes =
            static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, packetBytes, kStreamTag));
        if (packet.bytes == nullptr)
            result = STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG sent = 0;
    for (ULONG finished = 0; NT_SUCCESS(result) && finished < packets;) {
        Packet &packet = ring[sent % ring.size()];
        if (sent < packets && !packet.queued) {
            if (!capture)
                fill(sent, packet.bytes, packetBytes);
            packet.index = sent++;
            result = Send(File(), capture, packet, packetBytes);
            continue;
        }
        Packet &oldest = ring[finished % ring.size()];
        KeWaitForSingleObject(&oldest.done, Executive, KernelMode, FALSE, nullptr);
        oldest.queued = false;
        result = oldest.status.Status;
        if (NT_SUCCESS(result) && capture)
            fill(oldest.index, oldest.bytes, oldest.header.DataUsed);
        ++finished;
    }
    for (Packet &packet : ring) {
        if (packet.queued) // a failure left it queued: the pin gives it back when it stops
            KeWaitForSingleObject(&packet.done, Executive, KernelMode, FALSE, nullptr);
        if (packet.bytes != nullptr)
            ExFreePoolWithTag(packet.bytes, kStreamTag);
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// Names and formats

std::vector<UCHAR> PinConnectRequest(ULONG pin, const std::vector<UCHAR> &format)
{
    std::vector<UCHAR> bytes(sizeof(KSPIN_CONNECT) + format.size());
    auto request = reinterpret_cast<PKSPIN_CONNECT>(bytes.data());
    request->Interface.Set = KSINTERFACESETID_Standard;
    request->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    request->Medium.Set = KSMEDIUMSETID_Standard;
    request->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    request->PinId = pin;
    request->Priority.PriorityClass = KSPRIORITY_NORMAL;
    request->Priority.PrioritySubClass = 1;
    std::memcpy(request + 1, format.data(), format.size());
    return bytes;
}

NTSTATUS OpenKsObject(HANDLE root, const UNICODE_STRING &name, HANDLE *handle)
{
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, const_cast<PUNICODE_STRING>(&name), OBJ_KERNEL_HANDLE,
                               root, nullptr);
    IO_STATUS_BLOCK status;
    return ZwCreateFile(handle, GENERIC_READ | GENERIC_WRITE, &attributes, &status, nullptr,
                        FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN, 0, nullptr, 0);
}

std::vector<UCHAR> PcmFormat(USHORT channels, ULONG rate, USHORT bits)
{
    KSDATAFORMAT_WAVEFORMATEX format = {};
    format.DataFormat.FormatSize = sizeof format;
    format.DataFormat.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    format.DataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format.DataFormat.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    format.WaveFormatEx.wFormatTag = WAVE_FORMAT_PCM;
    format.WaveFormatEx.nChannels = channels;
    format.WaveFormatEx.nSamplesPerSec = rate;
    format.WaveFormatEx.wBitsPerSample = bits;
    format.WaveFormatEx.nBlockAlign = USHORT(channels * bits / 8);
    format.WaveFormatEx.nAvgBytesPerSec = rate * format.WaveFormatEx.nBlockAlign;
    format.DataFormat.SampleSize = format.WaveFormatEx.nBlockAlign;
    auto bytes = reinterpret_cast<const UCHAR *>(&format);
    return std::vector<UCHAR>(bytes, bytes + sizeof format);
}

std::vector<UCHAR> PcmRange(ULONG channels, ULONG minBits, ULONG maxBits, ULONG minRate,
                            ULONG maxRate)
{
    KSDATARANGE_AUDIO range = {};
    range.DataRange.FormatSize = sizeof range;
    range.DataRange.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.DataRange.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    range.DataRange.Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    range.MaximumChannels = channels;
    range.MinimumBitsPerSample = minBits;
    range.MaximumBitsPerSample = maxBits;
    range.MinimumSampleFrequency = minRate;
    range.MaximumSampleFrequency = maxRate;
    auto bytes = reinterpret_cast<const UCHAR *>(&range);
    return std::vector<UCHAR>(bytes, bytes + sizeof range);
}

} // namespace sim
