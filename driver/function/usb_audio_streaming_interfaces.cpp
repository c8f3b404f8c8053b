// The audio streaming interfaces of CUSBAudioCL: enumeration (interfaces numbered right after
// the audio control interface), the description of every alternate setting (data and feedback
// endpoints, class-specific descriptors), the terminal each interface links to and the choice
// of the render and capture interfaces.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_descriptor_checks.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_terminal.h"

// Isochronous endpoints with a bInterval at or above these are never used.
#define ISO_INTERVAL_LIMIT_FULL_SPEED 16
#define ISO_INTERVAL_LIMIT_HIGH_SPEED 5

// Interface numbers and alternate settings are bytes.
#define MAX_INTERFACE_NUMBER 255
#define MAX_ALTERNATE_SETTING 255

namespace {

UCHAR TransferType(const USB_ENDPOINT_DESCRIPTOR *Endpoint)
{
    return Endpoint->bmAttributes & USB_ENDPOINT_TYPE_MASK;
}

UCHAR UsageType(const USB_ENDPOINT_DESCRIPTOR *Endpoint)
{
    return Endpoint->bmAttributes & USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_MASK;
}

BOOLEAN IsDataUsage(const USB_ENDPOINT_DESCRIPTOR *Endpoint)
{
    return UsageType(Endpoint) == USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_DATA_ENDOINT ||
           UsageType(Endpoint) ==
               USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_IMPLICIT_FEEDBACK_DATA_ENDPOINT;
}

// The first class-specific descriptor of a type and subtype in [From, End), or null.
PUCHAR FindClassSpecific(PUSB_CONFIGURATION_DESCRIPTOR Configuration, PUCHAR From, PUCHAR End,
                         UCHAR Type, UCHAR Subtype)
{
    PUCHAR position = From;
    for (;;) {
        auto descriptor = reinterpret_cast<PUCHAR>(
            USBD_ParseDescriptors(Configuration, Configuration->wTotalLength, position, Type));
        if (descriptor == nullptr || descriptor >= End)
            return nullptr;
        if (descriptor[USB_AUDIO_SUBTYPE_OFFSET] == Subtype)
            return descriptor;
        position = descriptor + descriptor[0];
    }
}

void FreeStreamingInterface(AudioStreamingInterface *Interface)
{
    if (Interface->DataRanges != nullptr)
        ExFreePoolWithTag(Interface->DataRanges, USBA_POOL_TAG);
    if (Interface->AlternateSettings != nullptr)
        ExFreePoolWithTag(Interface->AlternateSettings, USBA_POOL_TAG);
    ExFreePoolWithTag(Interface, USBA_POOL_TAG);
}

} // namespace

PUSB_INTERFACE_DESCRIPTOR CUSBAudioCL::FindStreamingAlternate(UCHAR InterfaceNumber,
                                                              ULONG AlternateSetting) const
{
    return UsbAudioFindInterface(ConfigurationDescriptor, InterfaceNumber, LONG(AlternateSetting),
                                 GetAudioInterfaceClass(), USB_AUDIO_SUBCLASS_STREAMING);
}

NTSTATUS CUSBAudioCL::EnumerateStreamingInterfaces()
{
    PAGED_CODE();
    FreeStreamingInterfaces();
    AudioStreamingInterface **tail = &StreamingInterfaceList;
    for (ULONG number = ULONG(AudioControlInterface->bInterfaceNumber) + 1;
         number <= MAX_INTERFACE_NUMBER; ++number) {
        if (FindStreamingAlternate(UCHAR(number), 0) == nullptr)
            break;
        auto record = static_cast<AudioStreamingInterface *>(
            ExAllocatePoolWithTag(NonPagedPoolNx, sizeof(AudioStreamingInterface), USBA_POOL_TAG));
        if (record == nullptr)
            return STATUS_INSUFFICIENT_RESOURCES;
        RtlZeroMemory(record, sizeof(*record));
        record->InterfaceNumber = UCHAR(number);
        record->VendorRequestValue = 0;
        KeInitializeSpinLock(&record->FeedbackLock);
        const NTSTATUS status = DescribeStreamingInterface(record);
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_ERROR, "interface %lu: 0x%08lX", number, status);
            FreeStreamingInterface(record);
            return status;
        }
        *tail = record;
        tail = &record->Next;
        ++StreamingInterfaceCount;
    }
    QuenTrace(TRACE_LEVEL_INFORMATION, "%lu streaming interfaces", StreamingInterfaceCount);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::DescribeStreamingInterface(AudioStreamingInterface *Interface)
{
    PAGED_CODE();
    const UCHAR number = Interface->InterfaceNumber;
    PUSB_INTERFACE_DESCRIPTOR first = FindStreamingAlternate(number, 1);
    if (first == nullptr || first->bNumEndpoints == 0) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u: no alternate setting 1 with endpoints", number);
        return STATUS_NOT_SUPPORTED;
    }
    auto endpoint = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(USBD_ParseDescriptors(
        ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength,
        reinterpret_cast<PUCHAR>(first) + first->bLength, USB_ENDPOINT_DESCRIPTOR_TYPE));
    if (endpoint == nullptr || reinterpret_cast<PUCHAR>(endpoint) >= GetNextInterface(first)) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u: alternate setting 1 has no endpoint", number);
        return STATUS_NOT_SUPPORTED;
    }
    Interface->IsInput = USB_ENDPOINT_DIRECTION_IN(endpoint->bEndpointAddress) ? TRUE : FALSE;
    Interface->CurrentAlternateSetting = 0;

    ULONG count = 2;
    while (count <= MAX_ALTERNATE_SETTING && FindStreamingAlternate(number, count) != nullptr)
        ++count;
    const SIZE_T size = count * sizeof(AlternateSettingInfo);
    auto settings = static_cast<AlternateSettingInfo *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (settings == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(settings, size);
    Interface->AlternateSettings = settings;
    Interface->AlternateSettingCount = count;

    for (ULONG i = 0; i < count; ++i) {
        PUSB_INTERFACE_DESCRIPTOR setting = FindStreamingAlternate(number, i);
        const NTSTATUS status = setting != nullptr ? DescribeAlternateSetting(setting, &settings[i])
                                                   : STATUS_NOT_SUPPORTED;
        if (!NT_SUCCESS(status)) {
            QuenTrace(TRACE_LEVEL_ERROR, "interface %u alternate setting %lu: 0x%08lX", number, i,
                      status);
            ExFreePoolWithTag(settings, USBA_POOL_TAG);
            Interface->AlternateSettings = nullptr;
            Interface->AlternateSettingCount = 0;
            return status;
        }
    }
    QuenTrace(TRACE_LEVEL_INFORMATION, "interface %u: %s, %lu alternate settings", number,
              Interface->IsInput ? "in" : "out", count);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::DescribeAlternateSetting(PUSB_INTERFACE_DESCRIPTOR Setting,
                                               AlternateSettingInfo *Info) const
{
    PAGED_CODE();
    Info->InterfaceDescriptor = Setting;
    if (Setting->bNumEndpoints == 0)
        return STATUS_SUCCESS;

    const PUCHAR end = GetNextInterface(Setting);
    const ULONG intervalLimit =
        HighSpeed ? ISO_INTERVAL_LIMIT_HIGH_SPEED : ISO_INTERVAL_LIMIT_FULL_SPEED;
    auto usable = [intervalLimit](const USB_ENDPOINT_DESCRIPTOR *endpoint) {
        return TransferType(endpoint) != USB_ENDPOINT_TYPE_ISOCHRONOUS ||
               endpoint->bInterval < intervalLimit;
    };

    // The setting's endpoints: up to bNumEndpoints endpoint descriptors before its end.
    auto nextEndpoint = [this, Setting, end](PUSB_ENDPOINT_DESCRIPTOR previous, PULONG seen) {
        if (*seen >= Setting->bNumEndpoints)
            return PUSB_ENDPOINT_DESCRIPTOR(nullptr);
        PUCHAR from = previous == nullptr ? reinterpret_cast<PUCHAR>(Setting) + Setting->bLength
                                          : reinterpret_cast<PUCHAR>(previous) + previous->bLength;
        auto endpoint = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
            USBD_ParseDescriptors(ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength,
                                  from, USB_ENDPOINT_DESCRIPTOR_TYPE));
        if (endpoint == nullptr || reinterpret_cast<PUCHAR>(endpoint) >= end)
            return PUSB_ENDPOINT_DESCRIPTOR(nullptr);
        ++*seen;
        return endpoint;
    };

    // Class 2.0 marks its feedback endpoint; a Class 1.0 data endpoint names its synch endpoint,
    // which has no synchronisation type of its own.
    auto isFeedback = [this, Info](const USB_ENDPOINT_DESCRIPTOR *endpoint) {
        if (IsAudioClass2)
            return UsageType(endpoint) == USB_ENDPOINT_TYPE_ISOCHRONOUS_USAGE_FEEDBACK_ENDPOINT;
        const PUSB_ENDPOINT_DESCRIPTOR data = Info->DataEndpoint;
        return data != nullptr && data->bLength >= USB_AUDIO_ENDPOINT_LENGTH1 &&
               (endpoint->bmAttributes & USB_ENDPOINT_TYPE_ISOCHRONOUS_SYNCHRONIZATION_MASK) == 0 &&
               endpoint->bEndpointAddress ==
                   reinterpret_cast<const UCHAR *>(data)[USB_AUDIO_ENDPOINT_SYNCH_ADDRESS1];
    };

    ULONG seen = 0;
    for (PUSB_ENDPOINT_DESCRIPTOR endpoint = nextEndpoint(nullptr, &seen); endpoint != nullptr;
         endpoint = nextEndpoint(endpoint, &seen)) {
        if (IsDataUsage(endpoint) && (!IsAudioClass2 || usable(endpoint))) {
            Info->DataEndpoint = endpoint;
            break;
        }
    }
    seen = 0;
    for (PUSB_ENDPOINT_DESCRIPTOR endpoint = nextEndpoint(nullptr, &seen); endpoint != nullptr;
         endpoint = nextEndpoint(endpoint, &seen)) {
        if (endpoint != Info->DataEndpoint && usable(endpoint) && isFeedback(endpoint)) {
            Info->FeedbackEndpoint = endpoint;
            break;
        }
    }
    if (Info->DataEndpoint == nullptr) {
        QuenTrace(TRACE_LEVEL_WARNING, "interface %u alternate setting %u: no data endpoint",
                  Setting->bInterfaceNumber, Setting->bAlternateSetting);
    }

    const PUCHAR after = reinterpret_cast<PUCHAR>(Setting) + Setting->bLength;
    Info->AsGeneral = FindClassSpecific(ConfigurationDescriptor, after, end, USB_AUDIO_CS_INTERFACE,
                                        USB_AUDIO_AS_GENERAL);
    Info->FormatType = FindClassSpecific(ConfigurationDescriptor, after, end,
                                         USB_AUDIO_CS_INTERFACE, USB_AUDIO_AS_FORMAT_TYPE);
    if (Info->DataEndpoint != nullptr) {
        Info->EpGeneral = FindClassSpecific(ConfigurationDescriptor,
                                            reinterpret_cast<PUCHAR>(Info->DataEndpoint) +
                                                Info->DataEndpoint->bLength,
                                            end, USB_AUDIO_CS_ENDPOINT, USB_AUDIO_EP_GENERAL);
    }
    if (!UsbAudioStreamingDescriptorsFit(Info->AsGeneral, Info->FormatType, Info->EpGeneral,
                                         IsAudioClass2)) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u alternate setting %u: malformed format",
                  Setting->bInterfaceNumber, Setting->bAlternateSetting);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioCL::LinkStreamingInterfaces()
{
    PAGED_CODE();
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        const PUCHAR general = stream->AlternateSettings[1].AsGeneral;
        CUSBAudioEntity *entity =
            general != nullptr ? FindEntity(general[USB_AUDIO_AS_TERMINAL_LINK]) : nullptr;
        // Only a terminal can be a stream's end: the rest of the driver reads its clock.
        if (entity == nullptr || !entity->IsTerminal()) {
            QuenTrace(TRACE_LEVEL_ERROR, "interface %u: no terminal for its stream",
                      stream->InterfaceNumber);
            return STATUS_NOT_SUPPORTED;
        }
        stream->Terminal = static_cast<CUSBAudioTerminal *>(entity);
    }
    RenderInterface = nullptr;
    CaptureInterface = nullptr;
    for (AudioStreamingInterface *stream = StreamingInterfaceList; stream != nullptr;
         stream = stream->Next) {
        if (stream->IsInput && CaptureInterface == nullptr)
            CaptureInterface = stream;
        if (!stream->IsInput && RenderInterface == nullptr)
            RenderInterface = stream;
    }
    return STATUS_SUCCESS;
}

void CUSBAudioCL::FreeStreamingInterfaces()
{
    RenderInterface = nullptr;
    CaptureInterface = nullptr;
    while (StreamingInterfaceList != nullptr) {
        AudioStreamingInterface *stream = StreamingInterfaceList;
        StreamingInterfaceList = stream->Next;
        FreeStreamingInterface(stream);
    }
    StreamingInterfaceCount = 0;
}
