// The physical device objects (PDOs) of the emulated USB bus: what their device extension holds
// and the dispatch routines the bus driver object gives them.
#pragma once

#include <wdm.h>

namespace host {

class UsbHostController;
class UsbDevice;

struct UsbPdoExtension {
    UsbHostController *controller;
    UsbDevice *device;
};

inline UsbPdoExtension &PdoExtensionOf(PDEVICE_OBJECT pdo)
{
    return *static_cast<UsbPdoExtension *>(pdo->DeviceExtension);
}

// IRP_MJ_INTERNAL_DEVICE_CONTROL: URBs and the USB internal I/O controls (usb_urb_dispatch.cpp).
NTSTATUS DispatchUsbInternalDeviceControl(PDEVICE_OBJECT pdo, PIRP irp);
// IRP_MJ_PNP, IRP_MJ_POWER and IRP_MJ_SYSTEM_CONTROL, as a bus driver answers them for its
// children (usb_physical_device.cpp).
NTSTATUS DispatchUsbPnp(PDEVICE_OBJECT pdo, PIRP irp);
NTSTATUS DispatchUsbPower(PDEVICE_OBJECT pdo, PIRP irp);
NTSTATUS DispatchUsbSystemControl(PDEVICE_OBJECT pdo, PIRP irp);

// IRP_MN_QUERY_INTERFACE for USB_BUS_INTERFACE_USBDI_GUID (usb_bus_interface.cpp): the status
// the request completes with, or the IRP's own status for another interface type.
NTSTATUS QueryUsbBusInterface(PDEVICE_OBJECT pdo, PIRP irp);

} // namespace host
