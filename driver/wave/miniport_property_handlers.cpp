#include "wave/miniport_property_handlers.h"

#include "adapter/property_requests.h"
#include "driver_trace.h"
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

} // namespace

NTSTATUS NTAPI PropertyHandler_Node(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->MajorTarget == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // The major target is one of the miniport's interfaces; which one is port class's choice,
    // so the object is found through its own interface rather than by a cast of the pointer.
    PVOID notify = nullptr;
    NTSTATUS status =
        PropertyRequest->MajorTarget->QueryInterface(IID_IMiniportUsbAudioNotify, &notify);
    if (!NT_SUCCESS(status)) {
        return STATUS_INVALID_PARAMETER;
    }
    auto miniport =
        static_cast<PCMINIPORTWAVECYCLICUSBAUDIO>(static_cast<PMINIPORTUSBAUDIONOTIFY>(notify));
    status = miniport->Adapter()->PropertyHandler_Node(PropertyRequest);
    static_cast<PMINIPORTUSBAUDIONOTIFY>(notify)->Release();
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
