#include "stack_descriptor_reader.h"

#include "ntstatus_text.h"

#include <usbdlib.h>
#include <usbioctl.h>

#include <algorithm>
#include <vector>

namespace sim {

namespace {

constexpr ULONG kDeviceDescriptorLength = 18;
constexpr ULONG kConfigurationHeaderLength = 9;
constexpr ULONG kMaxDescriptorLength = 255;

} // namespace

NTSTATUS StackDescriptorReader::Read(UCHAR type, UCHAR index, USHORT language, ULONG length,
                                     devices::Bytes *bytes)
{
    bytes->assign(length, 0);
    std::vector<UCHAR> urbBytes(sizeof(URB), 0);
    auto urb = reinterpret_cast<PURB>(urbBytes.data());
    UsbBuildGetDescriptorRequest(urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST), type, index,
                                 language, bytes->data(), nullptr, length, nullptr);

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK iosb = {};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, device_, nullptr, 0,
                                             nullptr, 0, TRUE, &done, &iosb);
    if (irp == nullptr) {
        bytes->clear();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = urb;
    NTSTATUS status = IoCallDriver(device_, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = iosb.Status;
    }
    const ULONG returned = urb->UrbControlDescriptorRequest.TransferBufferLength;
    bytes->resize(NT_SUCCESS(status) && returned <= length ? returned : 0);
    return status;
}

NTSTATUS StackDescriptorReader::ReadDevice(devices::Bytes *bytes)
{
    return Read(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, kDeviceDescriptorLength, bytes);
}

NTSTATUS StackDescriptorReader::ReadConfiguration(devices::Bytes *bytes, ULONG *announced)
{
    *announced = 0;
    NTSTATUS status =
        Read(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, kConfigurationHeaderLength, bytes);
    if (!NT_SUCCESS(status) || bytes->size() < 4)
        return status;
    *announced = (*bytes)[2] | (*bytes)[3] << 8;
    if (*announced <= bytes->size())
        return status;
    return Read(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, *announced, bytes);
}

USHORT StackDescriptorReader::Language()
{
    if (!languageRead_) {
        languageRead_ = true;
        devices::Bytes list;
        if (NT_SUCCESS(Read(USB_STRING_DESCRIPTOR_TYPE, 0, 0, kMaxDescriptorLength, &list)) &&
            list.size() >= 4)
            language_ = USHORT(list[2] | list[3] << 8);
    }
    return language_;
}

std::string StackDescriptorReader::String(UCHAR index)
{
    if (index == 0)
        return "";
    auto known = strings_.find(index);
    if (known != strings_.end())
        return known->second;

    std::string text;
    const USHORT language = Language();
    devices::Bytes bytes;
    const NTSTATUS status = language == 0 ? STATUS_NOT_FOUND
                                          : Read(USB_STRING_DESCRIPTOR_TYPE, index, language,
                                                 kMaxDescriptorLength, &bytes);
    if (!NT_SUCCESS(status)) {
        text = "<not readable: " + NtStatusText(status) + ">";
    } else {
        // bLength bounds the text, and so does what arrived; non-ASCII code units print as '?'.
        const size_t end = bytes.size() >= 2 ? std::min<size_t>(bytes[0], bytes.size()) : 0;
        for (size_t i = 2; i + 1 < end; i += 2) {
            const unsigned unit = bytes[i] | bytes[i + 1] << 8;
            text += unit >= 0x20 && unit < 0x7F ? char(unit) : '?';
        }
    }
    strings_[index] = text;
    return text;
}

} // namespace sim
