#include "adapter/property_requests.h"

NTSTATUS ValidatePropertyRequest(PPCPROPERTY_REQUEST Request, ULONG ValueSize, ULONG InstanceSize)
{
    if (Request == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Request->ValueSize == 0) {
        Request->ValueSize = ValueSize;
        return STATUS_BUFFER_OVERFLOW;
    }
    if (Request->ValueSize < ValueSize || Request->InstanceSize < InstanceSize ||
        (InstanceSize != 0 && Request->Instance == nullptr)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (Request->ValueSize == ValueSize && Request->Value != nullptr) {
        return STATUS_SUCCESS;
    }
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS BasicSupportDescription(PPCPROPERTY_REQUEST Request, ULONG AccessFlags,
                                 ULONG DescriptionSize, const GUID *PropTypeSet, ULONG PropTypeId,
                                 ULONG MembersListCount, PUCHAR *Members)
{
    *Members = nullptr;
    const ULONG length = Request->ValueSize;
    if (length < sizeof(ULONG)) {
        Request->ValueSize = 0;
        return STATUS_BUFFER_TOO_SMALL;
    }
    if (Request->Value == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (length < sizeof(KSPROPERTY_DESCRIPTION)) {
        *static_cast<PULONG>(Request->Value) = AccessFlags;
        Request->ValueSize = sizeof(ULONG);
        return STATUS_SUCCESS;
    }
    // Nothing of the caller's buffer goes back unwritten.
    const BOOLEAN whole = length >= DescriptionSize;
    const ULONG reply = whole ? DescriptionSize : ULONG(sizeof(KSPROPERTY_DESCRIPTION));
    RtlZeroMemory(Request->Value, reply);
    auto description = static_cast<PKSPROPERTY_DESCRIPTION>(Request->Value);
    description->AccessFlags = AccessFlags;
    description->DescriptionSize = DescriptionSize;
    description->PropTypeSet.Set = *PropTypeSet;
    description->PropTypeSet.Id = PropTypeId;
    description->PropTypeSet.Flags = 0;
    description->MembersListCount = MembersListCount;
    description->Reserved = 0;
    Request->ValueSize = reply;
    if (whole) {
        *Members = reinterpret_cast<PUCHAR>(description + 1);
    }
    return STATUS_SUCCESS;
}

NTSTATUS PropertyHandlerBasicSupport(PPCPROPERTY_REQUEST Request, ULONG AccessFlags)
{
    if (Request == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    PUCHAR members;
    return BasicSupportDescription(Request, AccessFlags, sizeof(KSPROPERTY_DESCRIPTION), &GUID_NULL,
                                   0, 0, &members);
}
