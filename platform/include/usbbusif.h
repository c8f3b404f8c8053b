// Host version of <usbbusif.h>: the USB bus interface a client driver obtains with
// IRP_MN_QUERY_INTERFACE (USB_BUS_INTERFACE_USBDI_GUID) from its physical device object.
#pragma once

#include "usb.h"

DEFINE_GUID(USB_BUS_INTERFACE_USBDI_GUID, 0xb1a96a13, 0x3de0, 0x4574, 0x9b, 0x01, 0xc0, 0x8f, 0xea,
            0xb3, 0x18, 0xd6);

#define USB_BUSIF_USBDI_VERSION_0 0x0000
#define USB_BUSIF_USBDI_VERSION_1 0x0001
#define USB_BUSIF_USBDI_VERSION_2 0x0002
#define USB_BUSIF_USBDI_VERSION_3 0x0003

#define USB_BUSIFFN

typedef void(USB_BUSIFFN *PUSB_BUSIFFN_GETUSBDI_VERSION)(
    PVOID BusContext, PUSBD_VERSION_INFORMATION VersionInformation, PULONG HcdCapabilities);
// The current 1 ms USB frame number (at high speed too: not the microframe).
typedef NTSTATUS(USB_BUSIFFN *PUSB_BUSIFFN_QUERY_BUS_TIME)(PVOID BusContext,
                                                           PULONG CurrentUsbFrame);
typedef NTSTATUS(USB_BUSIFFN *PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB)(PVOID BusContext, PURB Urb);
typedef NTSTATUS(USB_BUSIFFN *PUSB_BUSIFFN_QUERY_BUS_INFORMATION)(
    PVOID BusContext, ULONG Level, PVOID BusInformationBuffer, PULONG BusInformationBufferLength,
    PULONG BusInformationActualLength);
typedef BOOLEAN(USB_BUSIFFN *PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED)(PVOID BusContext);

// HcdCapabilities bits of GetUSBDIVersion.
#define USB_HCD_CAPS_SUPPORTS_RT_THREADS 0x00000001

typedef struct _USB_BUS_INTERFACE_USBDI_V0 {
    USHORT Size;
    USHORT Version;
    PVOID BusContext;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
    PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;
    PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
    PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
} USB_BUS_INTERFACE_USBDI_V0, *PUSB_BUS_INTERFACE_USBDI_V0;

typedef struct _USB_BUS_INTERFACE_USBDI_V1 {
    USHORT Size;
    USHORT Version;
    PVOID BusContext;
    PINTERFACE_REFERENCE InterfaceReference;
    PINTERFACE_DEREFERENCE InterfaceDereference;
    PUSB_BUSIFFN_GETUSBDI_VERSION GetUSBDIVersion;
    PUSB_BUSIFFN_QUERY_BUS_TIME QueryBusTime;
    PUSB_BUSIFFN_SUBMIT_ISO_OUT_URB SubmitIsoOutUrb;
    PUSB_BUSIFFN_QUERY_BUS_INFORMATION QueryBusInformation;
    PUSB_BUSIFFN_IS_DEVICE_HIGH_SPEED IsDeviceHighSpeed;
} USB_BUS_INTERFACE_USBDI_V1, *PUSB_BUS_INTERFACE_USBDI_V1;

static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V0) == 64, "USB_BUS_INTERFACE_USBDI_V0 layout");
static_assert(sizeof(USB_BUS_INTERFACE_USBDI_V1) == 72, "USB_BUS_INTERFACE_USBDI_V1 layout");
