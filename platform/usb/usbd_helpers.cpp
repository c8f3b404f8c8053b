// The USBD library (usbd.sys) as client drivers link it: configuration-descriptor parsing and
// the select-configuration request builder. Exports implemented here: USBD_GetUSBDIVersion,
// USBD_ParseDescriptors, USBD_ParseConfigurationDescriptorEx, USBD_CreateConfigurationRequestEx.
//
// The parsers walk descriptors by bLength and never read outside the given bytes: a descriptor
// shorter than its two-byte header, or one that claims more bytes than are left, ends the walk,
// as does an interface descriptor shorter than USB_INTERFACE_DESCRIPTOR (its fields could not be
// read without leaving it).
#include <usbdlib.h>

#include <cstring>

namespace {

constexpr ULONG kUsbdTag = 'DBSU'; // "USBD"

PUCHAR BytesOf(PVOID p) { return static_cast<PUCHAR>(p); }

} // namespace

extern "C" {

void USBD_GetUSBDIVersion(PUSBD_VERSION_INFORMATION VersionInformation)
{
    if (VersionInformation == nullptr)
        return;
    VersionInformation->USBDI_Version = USBDI_VERSION;
    VersionInformation->Supported_USB_Version = 0x0200;
}

PUSB_COMMON_DESCRIPTOR USBD_ParseDescriptors(PVOID DescriptorBuffer, ULONG TotalLength,
                                             PVOID StartPosition, LONG DescriptorType)
{
    if (DescriptorBuffer == nullptr || StartPosition == nullptr)
        return nullptr;
    PUCHAR begin = BytesOf(DescriptorBuffer);
    PUCHAR end = begin + TotalLength;
    PUCHAR at = BytesOf(StartPosition);
    if (at < begin || at > end)
        return nullptr;
    while (size_t(end - at) >= sizeof(USB_COMMON_DESCRIPTOR)) {
        auto descriptor = reinterpret_cast<PUSB_COMMON_DESCRIPTOR>(at);
        if (descriptor->bLength < sizeof(USB_COMMON_DESCRIPTOR) ||
            descriptor->bLength > size_t(end - at))
            return nullptr;
        if (descriptor->bDescriptorType == DescriptorType)
            return descriptor;
        at += descriptor->bLength;
    }
    return nullptr;
}

PUSB_INTERFACE_DESCRIPTOR
USBD_ParseConfigurationDescriptorEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                    PVOID StartPosition, LONG InterfaceNumber,
                                    LONG AlternateSetting, LONG InterfaceClass,
                                    LONG InterfaceSubClass, LONG InterfaceProtocol)
{
    if (ConfigurationDescriptor == nullptr)
        return nullptr;
    auto matches = [](LONG wanted, UCHAR actual) { return wanted == -1 || wanted == actual; };
    PVOID start = StartPosition;
    for (;;) {
        auto found = reinterpret_cast<PUSB_INTERFACE_DESCRIPTOR>(
            USBD_ParseDescriptors(ConfigurationDescriptor, ConfigurationDescriptor->wTotalLength,
                                  start, USB_INTERFACE_DESCRIPTOR_TYPE));
        if (found == nullptr || found->bLength < sizeof(USB_INTERFACE_DESCRIPTOR))
            return nullptr;
        if (matches(InterfaceNumber, found->bInterfaceNumber) &&
            matches(AlternateSetting, found->bAlternateSetting) &&
            matches(InterfaceClass, found->bInterfaceClass) &&
            matches(InterfaceSubClass, found->bInterfaceSubClass) &&
            matches(InterfaceProtocol, found->bInterfaceProtocol))
            return found;
        start = BytesOf(found) + found->bLength;
    }
}

PURB USBD_CreateConfigurationRequestEx(PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor,
                                       PUSBD_INTERFACE_LIST_ENTRY InterfaceList)
{
    if (ConfigurationDescriptor == nullptr || InterfaceList == nullptr)
        return nullptr;
    size_t size = offsetof(struct _URB_SELECT_CONFIGURATION, Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry)
        size += GET_USBD_INTERFACE_SIZE(entry->InterfaceDescriptor->bNumEndpoints);
    if (size > MAXUSHORT)
        return nullptr; // the URB's Length could not describe it

    auto urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kUsbdTag));
    if (urb == nullptr)
        return nullptr;
    std::memset(static_cast<void *>(urb), 0, size);
    UsbBuildSelectConfigurationRequest(urb, USHORT(size), ConfigurationDescriptor);

    PUCHAR next = BytesOf(&urb->UrbSelectConfiguration.Interface);
    for (PUSBD_INTERFACE_LIST_ENTRY entry = InterfaceList; entry->InterfaceDescriptor != nullptr;
         ++entry) {
        PUSB_INTERFACE_DESCRIPTOR descriptor = entry->InterfaceDescriptor;
        auto info = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(next);
        info->Length = USHORT(GET_USBD_INTERFACE_SIZE(descriptor->bNumEndpoints));
        info->InterfaceNumber = descriptor->bInterfaceNumber;
        info->AlternateSetting = descriptor->bAlternateSetting;
        info->NumberOfPipes = descriptor->bNumEndpoints;
        for (ULONG i = 0; i < info->NumberOfPipes; ++i)
            info->Pipes[i].MaximumTransferSize = USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE;
        entry->Interface = info;
        next += info->Length;
    }
    return urb;
}

} // extern "C"
