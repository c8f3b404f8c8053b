// PnP, power and WMI requests at a USB physical device object, answered as a bus driver answers
// them for its children: identifiers, capabilities, the bus interface, start/stop/remove
// bookkeeping. Requests a bus driver does not handle complete with the status they came with.
#include "usb_physical_device.h"

#include "usb_device.h"
#include "usb_host_controller.h"

#include <cstdio>
#include <string>

namespace host {

namespace {

constexpr ULONG kIdTag = 'DBSU'; // "USBD"

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

// A REG_MULTI_SZ-style list (each string ended, then an empty one) in paged pool, which the
// PnP manager frees. A single id is the one-entry list without the final empty string.
NTSTATUS IdList(const std::vector<std::string> &ids, bool multi, ULONG_PTR *information)
{
    std::u16string text;
    for (const std::string &id : ids) {
        text.append(id.begin(), id.end());
        text.push_back(u'\0');
    }
    if (multi)
        text.push_back(u'\0');
    auto buffer =
        static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, text.size() * sizeof(WCHAR), kIdTag));
    if (buffer == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    for (size_t i = 0; i < text.size(); ++i)
        buffer[i] = WCHAR(text[i]);
    *information = reinterpret_cast<ULONG_PTR>(buffer);
    return STATUS_SUCCESS;
}

std::string Format(const char *format, unsigned a, unsigned b, unsigned c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return text;
}

NTSTATUS QueryId(UsbDevice &device, BUS_QUERY_ID_TYPE type, PIRP irp)
{
    const USB_DEVICE_DESCRIPTOR &d = device.Descriptor();
    std::string deviceId = Format("USB\\VID_%04X&PID_%04X", d.idVendor, d.idProduct);
    switch (type) {
    case BusQueryDeviceID: return IdList({deviceId}, false, &irp->IoStatus.Information);
    case BusQueryHardwareIDs:
        return IdList(
            {Format("USB\\VID_%04X&PID_%04X&REV_%04X", d.idVendor, d.idProduct, d.bcdDevice),
             deviceId},
            true, &irp->IoStatus.Information);
    case BusQueryCompatibleIDs: {
        std::vector<std::string> ids = {
            Format("USB\\Class_%02X&SubClass_%02X&Prot_%02X", d.bDeviceClass, d.bDeviceSubClass,
                   d.bDeviceProtocol),
            Format("USB\\Class_%02X&SubClass_%02X", d.bDeviceClass, d.bDeviceSubClass),
            Format("USB\\Class_%02X", d.bDeviceClass, 0)};
        if (device.Composite())
            ids.push_back("USB\\COMPOSITE"); // the generic parent driver's match
        return IdList(ids, true, &irp->IoStatus.Information);
    }
    case BusQueryInstanceID:
        return IdList({std::to_string(device.Port())}, false, &irp->IoStatus.Information);
    default: return irp->IoStatus.Status;
    }
}

NTSTATUS QueryCapabilities(UsbDevice &device, PDEVICE_CAPABILITIES capabilities)
{
    if (capabilities == nullptr || capabilities->Size < sizeof(DEVICE_CAPABILITIES))
        return STATUS_INVALID_PARAMETER;
    capabilities->Removable = TRUE;
    capabilities->SurpriseRemovalOK = FALSE;
    capabilities->Address = ULONG(device.Port());
    capabilities->UINumber = ULONG(device.Port());
    capabilities->DeviceState[PowerSystemWorking] = PowerDeviceD0;
    for (int state = PowerSystemSleeping1; state < PowerSystemMaximum; ++state)
        capabilities->DeviceState[state] = PowerDeviceD3;
    return STATUS_SUCCESS;
}

NTSTATUS QueryTargetRelation(PDEVICE_OBJECT pdo, PIRP irp)
{
    auto relations = static_cast<PDEVICE_RELATIONS>(
        ExAllocatePoolWithTag(PagedPool, sizeof(DEVICE_RELATIONS), kIdTag));
    if (relations == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = 1;
    relations->Objects[0] = pdo;
    ObReferenceObject(pdo);
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

} // namespace

NTSTATUS DispatchUsbPnp(PDEVICE_OBJECT pdo, PIRP irp)
{
    UsbPdoExtension &extension = PdoExtensionOf(pdo);
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL: return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE: {
        UsbHostController &controller = *extension.controller;
        UsbDevice &device = *extension.device;
        Complete(irp, STATUS_SUCCESS);
        controller.PhysicalDeviceRemoved(device); // deletes the PDO of an unplugged device
        return STATUS_SUCCESS;
    }
    case IRP_MN_QUERY_INTERFACE: return Complete(irp, QueryUsbBusInterface(pdo, irp));
    case IRP_MN_QUERY_CAPABILITIES:
        return Complete(irp, QueryCapabilities(*extension.device,
                                               stack->Parameters.DeviceCapabilities.Capabilities));
    case IRP_MN_QUERY_ID:
        return Complete(irp, QueryId(*extension.device, stack->Parameters.QueryId.IdType, irp));
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation)
            return Complete(irp, QueryTargetRelation(pdo, irp));
        return Complete(irp, irp->IoStatus.Status);
    default: return Complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS DispatchUsbPower(PDEVICE_OBJECT pdo, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER: return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_WAIT_WAKE:
        PdoExtensionOf(pdo).controller->ReportMisuse(
            "IRP_MN_WAIT_WAKE: remote wake-up is not emulated");
        return Complete(irp, STATUS_NOT_SUPPORTED);
    default: return Complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS DispatchUsbSystemControl(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, irp->IoStatus.Status);
}

} // namespace host
