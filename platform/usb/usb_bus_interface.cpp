// The USB bus interface (USB_BUS_INTERFACE_USBDI_GUID, versions 0 and 1) a client obtains from
// its PDO. Its context is the PDO's extension, which lives as long as the PDO.
#include "usb_device.h"
#include "usb_host_controller.h"
#include "usb_physical_device.h"

#include <usbbusif.h>
#include <usbdlib.h>

namespace host {

namespace {

UsbPdoExtension &ExtensionOf(PVOID context) { return *static_cast<UsbPdoExtension *>(context); }

void InterfaceReference(PVOID context) { ++ExtensionOf(context).device->BusInterfaceReferences(); }

void InterfaceDereference(PVOID context)
{
    --ExtensionOf(context).device->BusInterfaceReferences();
}

void GetUSBDIVersion(PVOID, PUSBD_VERSION_INFORMATION versionInformation, PULONG hcdCapabilities)
{
    USBD_GetUSBDIVersion(versionInformation);
    if (hcdCapabilities != nullptr)
        *hcdCapabilities = 0;
}

// The 1 ms frame number, at high speed as well (QueryBusTimeEx of version 3 would give
// microframes).
NTSTATUS QueryBusTime(PVOID context, PULONG currentUsbFrame)
{
    if (currentUsbFrame == nullptr)
        return STATUS_INVALID_PARAMETER;
    *currentUsbFrame = ExtensionOf(context).controller->CurrentFrame();
    return STATUS_SUCCESS;
}

NTSTATUS SubmitIsoOutUrb(PVOID, PURB)
{
    return STATUS_NOT_SUPPORTED; // as on Windows: isochronous URBs go through IRPs
}

NTSTATUS QueryBusInformation(PVOID context, ULONG level, PVOID, PULONG, PULONG)
{
    ExtensionOf(context).controller->ReportMisuse("QueryBusInformation (level " +
                                                  std::to_string(level) +
                                                  ") is not emulated by the host USB stack");
    return STATUS_NOT_SUPPORTED;
}

BOOLEAN IsDeviceHighSpeed(PVOID context)
{
    return ExtensionOf(context).device->Speed() == UsbSpeed::High;
}

} // namespace

NTSTATUS QueryUsbBusInterface(PDEVICE_OBJECT pdo, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto &query = stack->Parameters.QueryInterface;
    if (query.InterfaceType == nullptr || *query.InterfaceType != USB_BUS_INTERFACE_USBDI_GUID)
        return irp->IoStatus.Status; // not ours: left as it came
    UsbPdoExtension &extension = PdoExtensionOf(pdo);
    if (query.Version > USB_BUSIF_USBDI_VERSION_1) {
        extension.controller->ReportMisuse("USB bus interface version " +
                                           std::to_string(query.Version) +
                                           " is not emulated (versions 0 and 1 are)");
        return STATUS_NOT_SUPPORTED;
    }
    USHORT size = query.Version == USB_BUSIF_USBDI_VERSION_0 ? sizeof(USB_BUS_INTERFACE_USBDI_V0)
                                                             : sizeof(USB_BUS_INTERFACE_USBDI_V1);
    if (query.Interface == nullptr || query.Size < size)
        return STATUS_INVALID_PARAMETER;
    auto busInterface = reinterpret_cast<PUSB_BUS_INTERFACE_USBDI_V1>(query.Interface);
    busInterface->Size = size;
    busInterface->Version = query.Version;
    busInterface->BusContext = &extension;
    busInterface->InterfaceReference = InterfaceReference;
    busInterface->InterfaceDereference = InterfaceDereference;
    busInterface->GetUSBDIVersion = GetUSBDIVersion;
    busInterface->QueryBusTime = QueryBusTime;
    busInterface->SubmitIsoOutUrb = SubmitIsoOutUrb;
    busInterface->QueryBusInformation = QueryBusInformation;
    if (query.Version == USB_BUSIF_USBDI_VERSION_1)
        busInterface->IsDeviceHighSpeed = IsDeviceHighSpeed;
    InterfaceReference(&extension); // the caller holds a reference, as the rules want
    return STATUS_SUCCESS;
}

} // namespace host
