#include "usb_configuration.h"

#include <usbdlib.h>

#include <algorithm>
#include <string>

namespace host {

UsbPipeAttributes PipeAttributesOf(const USB_ENDPOINT_DESCRIPTOR &endpoint, UsbSpeed speed)
{
    UsbPipeAttributes pipe;
    pipe.type = USB_ENDPOINT_TYPE_TO_PIPE_TYPE(endpoint.bmAttributes);
    bool periodic = pipe.type == UsbdPipeTypeIsochronous || pipe.type == UsbdPipeTypeInterrupt;
    USB_HIGH_SPEED_MAXPACKET maxPacket;
    maxPacket.us = endpoint.wMaxPacketSize;
    ULONG transactions = 1;
    if (speed == UsbSpeed::High && periodic)
        transactions += std::min<ULONG>(maxPacket.HSmux, 2); // 3 is reserved
    pipe.maximumPacketSize = USHORT(maxPacket.MaxPacket * transactions);

    UCHAR exponent = UCHAR(std::clamp<int>(endpoint.bInterval, 1, 16));
    pipe.interval = endpoint.bInterval;
    pipe.period = 1;
    if (pipe.type == UsbdPipeTypeIsochronous ||
        (pipe.type == UsbdPipeTypeInterrupt && speed == UsbSpeed::High)) {
        pipe.period = 1u << (exponent - 1);
    } else if (pipe.type == UsbdPipeTypeInterrupt) {
        ULONG frames = 1;
        while (frames * 2 <= endpoint.bInterval && frames < 32)
            frames *= 2;
        pipe.interval = UCHAR(frames);
        pipe.period = frames;
    }
    return pipe;
}

bool IsConfigurationDescriptor(const USB_CONFIGURATION_DESCRIPTOR *descriptor)
{
    return descriptor != nullptr && descriptor->bLength >= sizeof(USB_CONFIGURATION_DESCRIPTOR) &&
           descriptor->bDescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE &&
           descriptor->wTotalLength >= descriptor->bLength;
}

PUSB_INTERFACE_DESCRIPTOR FindInterface(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                        UCHAR interfaceNumber, UCHAR alternateSetting)
{
    return USBD_ParseConfigurationDescriptorEx(configuration, configuration, interfaceNumber,
                                               alternateSetting, -1, -1, -1);
}

bool EndpointsOf(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                 PUSB_INTERFACE_DESCRIPTOR interfaceDescriptor,
                 std::vector<PUSB_ENDPOINT_DESCRIPTOR> *endpoints)
{
    endpoints->clear();
    PUCHAR at = reinterpret_cast<PUCHAR>(interfaceDescriptor) + interfaceDescriptor->bLength;
    while (endpoints->size() < interfaceDescriptor->bNumEndpoints) {
        PUSB_COMMON_DESCRIPTOR next = USBD_ParseDescriptors(
            configuration, configuration->wTotalLength, at, USB_ENDPOINT_DESCRIPTOR_TYPE);
        if (next == nullptr || next->bLength < sizeof(USB_ENDPOINT_DESCRIPTOR))
            return false;
        // An interface descriptor before it ends this interface's endpoints.
        PUSB_COMMON_DESCRIPTOR boundary = USBD_ParseDescriptors(
            configuration, configuration->wTotalLength, at, USB_INTERFACE_DESCRIPTOR_TYPE);
        if (boundary != nullptr && boundary < next)
            return false;
        endpoints->push_back(reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(next));
        at = reinterpret_cast<PUCHAR>(next) + next->bLength;
    }
    return true;
}

UsbRequestCheck CheckInterfaceRecord(PUSB_CONFIGURATION_DESCRIPTOR configuration,
                                     const USBD_INTERFACE_INFORMATION &record, ULONG room)
{
    const ULONG smallest = GET_USBD_INTERFACE_SIZE(0);
    if (room < smallest || record.Length < smallest || record.Length > room)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       "interface record of " + std::to_string(record.Length) +
                                           " bytes in " + std::to_string(room) +
                                           " bytes left of its URB");
    PUSB_INTERFACE_DESCRIPTOR setting =
        FindInterface(configuration, record.InterfaceNumber, record.AlternateSetting);
    if (setting == nullptr)
        return UsbRequestCheck::Fail(USBD_STATUS_INTERFACE_NOT_FOUND);
    if (record.Length < GET_USBD_INTERFACE_SIZE(setting->bNumEndpoints))
        return UsbRequestCheck::Misuse(
            USBD_STATUS_INVALID_PARAMETER,
            "interface record of " + std::to_string(record.Length) + " bytes for interface " +
                std::to_string(record.InterfaceNumber) + " alternate setting " +
                std::to_string(record.AlternateSetting) + ", which has " +
                std::to_string(setting->bNumEndpoints) + " pipe(s): it needs " +
                std::to_string(GET_USBD_INTERFACE_SIZE(setting->bNumEndpoints)));
    std::vector<PUSB_ENDPOINT_DESCRIPTOR> endpoints;
    if (!EndpointsOf(configuration, setting, &endpoints))
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    for (ULONG i = 0; i < endpoints.size(); ++i)
        if (record.Pipes[i].PipeFlags & ~ULONG(USBD_PF_VALID_MASK))
            return UsbRequestCheck::Fail(USBD_STATUS_INAVLID_PIPE_FLAGS);
    return UsbRequestCheck::Ok();
}

UsbRequestCheck SelectConfigurationRecords(PURB urb,
                                           std::vector<PUSBD_INTERFACE_INFORMATION> *records)
{
    records->clear();
    auto &request = urb->UrbSelectConfiguration;
    PUSB_CONFIGURATION_DESCRIPTOR configuration = request.ConfigurationDescriptor;
    if (!IsConfigurationDescriptor(configuration))
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_CONFIGURATION_DESCRIPTOR);
    ULONG offset = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
    const ULONG end = request.Hdr.Length;
    while (offset < end && end - offset >= GET_USBD_INTERFACE_SIZE(0)) {
        auto record =
            reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(reinterpret_cast<PUCHAR>(urb) + offset);
        if (record->Length == 0)
            break; // room to spare at the end (GET_SELECT_CONFIGURATION_REQUEST_SIZE)
        UsbRequestCheck check = CheckInterfaceRecord(configuration, *record, end - offset);
        if (!check.Accepted())
            return check;
        for (PUSBD_INTERFACE_INFORMATION earlier : *records)
            if (earlier->InterfaceNumber == record->InterfaceNumber)
                return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
        records->push_back(record);
        offset += record->Length;
    }
    return UsbRequestCheck::Ok();
}

} // namespace host
