// PnP, power and WMI requests at a USB physical device object, answered as a bus driver answers
// them for its children: identifiers, capabilities, the bus interface, start/stop/remove
// bookkeeping. Requests a bus driver does not handle complete with the status they came with.
#include "usb_physical_device.h"

#include "usb_composite_parent.h"
#include "usb_device.h"
#include "usb_host_controller.h"
#include "usb_pdo_answers.h"

#include "kernel/wide_string.h"

#include <cstdio>
#include <string>

namespace host {

namespace {

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

std::u16string Format(const char *format, unsigned a, unsigned b, unsigned c = 0)
{
    char text[64];
    std::snprintf(text, sizeof text, format, a, b, c);
    return FromUtf8(text);
}

NTSTATUS QueryId(UsbDevice &device, BUS_QUERY_ID_TYPE type, PIRP irp)
{
    const USB_DEVICE_DESCRIPTOR &d = device.Descriptor();
    std::u16string deviceId = Format("USB\\VID_%04X&PID_%04X", d.idVendor, d.idProduct);
    switch (type) {
    case BusQueryDeviceID: return AnswerIdList({deviceId}, false, irp);
    case BusQueryHardwareIDs:
        return AnswerIdList(
            {Format("USB\\VID_%04X&PID_%04X&REV_%04X", d.idVendor, d.idProduct, d.bcdDevice),
             deviceId},
            true, irp);
    case BusQueryCompatibleIDs: {
        std::vector<std::u16string> ids = {
            Format("USB\\Class_%02X&SubClass_%02X&Prot_%02X", d.bDeviceClass, d.bDeviceSubClass,
                   d.bDeviceProtocol),
            Format("USB\\Class_%02X&SubClass_%02X", d.bDeviceClass, d.bDeviceSubClass),
            Format("USB\\Class_%02X", d.bDeviceClass, 0)};
        if (device.Composite())
            ids.push_back(kUsbCompositeId); // the generic parent driver's match
        return AnswerIdList(ids, true, irp);
    }
    case BusQueryInstanceID:
        return AnswerIdList({Format("%u", unsigned(device.Port()), 0)}, false, irp);
    default: return irp->IoStatus.Status;
    }
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
        return Complete(irp, AnswerCapabilities(stack->Parameters.DeviceCapabilities.Capabilities,
                                                ULONG(extension.device->Port()), true));
    case IRP_MN_QUERY_ID:
        return Complete(irp, QueryId(*extension.device, stack->Parameters.QueryId.IdType, irp));
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation)
            return Complete(irp, AnswerTargetRelation(pdo, irp));
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
