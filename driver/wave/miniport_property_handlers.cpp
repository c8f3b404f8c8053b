#include "wave/miniport_property_handlers.h"

#include "adapter/property_requests.h"
#include "asio/asio_private_properties.h"
#include "driver_trace.h"
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"

namespace {

// The multimedia registry's manufacturer id 1 as a GUID.
const GUID kComponentManufacturer = {
    0xD5A47FA8, 0x6D98, 0x11D1, {0xA2, 0x1A, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
const GUID kComponentProduct = {
    0x1DA9A95D, 0x737B, 0x4B4D, {0x95, 0x5A, 0xC1, 0x10, 0x97, 0x5D, 0x73, 0x97}};
// The name the audio stack looks up under MediaCategories.
const GUID kComponentName = {
    0x966B99E7, 0x0D4E, 0x46EE, {0x8B, 0x5E, 0x10, 0xA4, 0x87, 0xB2, 0xC6, 0x0E}};

// Component id: basic support and get.
const ULONG kComponentIdAccess = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET;

// The native DSD modes: PCM and DSD.
const USHORT kDsdModeCount = 2;

// The miniport behind a request's major target, referenced; null if it is not ours.
PMINIPORTUSBAUDIONOTIFY MiniportOf(PPCPROPERTY_REQUEST PropertyRequest)
{
    PVOID notify = nullptr;
    if (PropertyRequest->MajorTarget == nullptr ||
        !NT_SUCCESS(
            PropertyRequest->MajorTarget->QueryInterface(IID_IMiniportUsbAudioNotify, &notify))) {
        return nullptr;
    }
    return static_cast<PMINIPORTUSBAUDIONOTIFY>(notify);
}

} // namespace

NTSTATUS NTAPI PropertyHandler_Node(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->MajorTarget == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // The major target is one of the miniport's interfaces; which one is port class's choice,
    // so the object is found through its own interface rather than by a cast of the pointer.
    PMINIPORTUSBAUDIONOTIFY notify = MiniportOf(PropertyRequest);
    if (notify == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto miniport = static_cast<PCMINIPORTWAVECYCLICUSBAUDIO>(notify);
    const NTSTATUS status = miniport->Adapter()->PropertyHandler_Node(PropertyRequest);
    notify->Release();
    if (!NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW) {
        QuenTrace(TRACE_LEVEL_WARNING, "node %lu property %lu: status 0x%08lX",
                  PropertyRequest->Node, PropertyRequest->PropertyItem->Id, status);
    }
    return status;
}

NTSTATUS NTAPI PropertyHandler_ComponentId(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->PropertyItem == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (PropertyRequest->PropertyItem->Id != KSPROPERTY_GENERAL_COMPONENTID) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (PropertyRequest->Verb & KSPROPERTY_TYPE_BASICSUPPORT) {
        return PropertyHandlerBasicSupport(PropertyRequest, kComponentIdAccess);
    }
    NTSTATUS status = ValidatePropertyRequest(PropertyRequest, sizeof(KSCOMPONENTID), 0);
    if (status == STATUS_BUFFER_OVERFLOW) {
        return status;
    }
    if (!NT_SUCCESS(status)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (PropertyRequest->Verb & KSPROPERTY_TYPE_GET) {
        auto id = static_cast<PKSCOMPONENTID>(PropertyRequest->Value);
        id->Manufacturer = kComponentManufacturer;
        id->Product = kComponentProduct;
        id->Component = GUID_NULL;
        id->Name = kComponentName;
        id->Version = 1;
        id->Revision = 0;
        PropertyRequest->ValueSize = sizeof(KSCOMPONENTID);
    }
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI PropertyHandler_AsioPrivate(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->PropertyItem == nullptr ||
        PropertyRequest->MinorTarget == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // The minor target is the pin's stream, found through its own interface.
    PVOID stream = nullptr;
    if (!NT_SUCCESS(
            PropertyRequest->MinorTarget->QueryInterface(IID_IMiniportWaveCyclicStream, &stream))) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    auto streamInterface = static_cast<PMINIPORTWAVECYCLICSTREAM>(stream);
    const NTSTATUS status = static_cast<PCMINIPORTWAVECYCLICSTREAMUSBAUDIO>(streamInterface)
                                ->AsioProperty(PropertyRequest);
    streamInterface->Release();
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_WARNING, "ASIO property %lu, verb 0x%lX: status 0x%08lX",
                  PropertyRequest->PropertyItem->Id, PropertyRequest->Verb, status);
    }
    return status;
}

NTSTATUS NTAPI PropertyHandler_AsioDsdNativeMode(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->PropertyItem == nullptr ||
        PropertyRequest->PropertyItem->Id != KSPROPERTY_ASIO_DSD_NATIVE_MODE ||
        (PropertyRequest->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // The mode can only be set: a read would succeed with nothing in it.
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_SET) == 0) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (PropertyRequest->Value == nullptr || PropertyRequest->ValueSize != sizeof(USHORT)) {
        return STATUS_INVALID_PARAMETER;
    }
    const USHORT mode = *static_cast<const USHORT *>(PropertyRequest->Value);
    if (mode >= kDsdModeCount) {
        QuenTrace(TRACE_LEVEL_WARNING, "native DSD mode %u refused", mode);
        return STATUS_INVALID_PARAMETER;
    }
    PMINIPORTUSBAUDIONOTIFY notify = MiniportOf(PropertyRequest);
    if (notify == nullptr) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const NTSTATUS status =
        static_cast<PCMINIPORTWAVECYCLICUSBAUDIO>(notify)->Adapter()->SetDsdNativeMode(mode);
    notify->Release();
    return status;
}
