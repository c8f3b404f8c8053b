#include "usb_pdo_answers.h"

namespace host {

namespace {

constexpr ULONG kTag = 'DBSU'; // "USBD"

} // namespace

NTSTATUS AnswerIdList(const std::vector<std::u16string> &ids, bool multi, PIRP irp)
{
    std::u16string text;
    for (const std::u16string &id : ids) {
        text += id;
        text.push_back(u'\0');
    }
    if (multi)
        text.push_back(u'\0');
    auto buffer =
        static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, text.size() * sizeof(WCHAR), kTag));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    for (size_t i = 0; i < text.size(); ++i)
        buffer[i] = WCHAR(text[i]);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(buffer);
    return STATUS_SUCCESS;
}

NTSTATUS AnswerCapabilities(PDEVICE_CAPABILITIES capabilities, ULONG address, bool removable)
{
    if (capabilities == nullptr || capabilities->Size < sizeof(DEVICE_CAPABILITIES))
        return STATUS_INVALID_PARAMETER;
    capabilities->Removable = removable;
    capabilities->SurpriseRemovalOK = FALSE;
    capabilities->Address = address;
    capabilities->UINumber = address;
    capabilities->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int state = PowerSystemSleeping1; state < PowerSystemMaximum; ++state)
        capabilities->DeviceState[state] = PowerDeviceD3;
    return STATUS_SUCCESS;
}

NTSTATUS AnswerTargetRelation(PDEVICE_OBJECT pdo, PIRP irp)
{
    auto relations = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), kTag));
    if (relations == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = 1;
    relations->Objects[0] = pdo;
    ObReferenceObject(pdo);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

} // namespace host
