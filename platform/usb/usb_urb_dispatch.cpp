// IRP_MJ_INTERNAL_DEVICE_CONTROL of the USB physical device objects: the URBs a client submits
// (IOCTL_INTERNAL_USB_SUBMIT_URB) are checked as the Windows stack checks them and turned into
// the controller's transfers; the port status and port reset controls are answered too.
//
// URB functions served: SELECT_CONFIGURATION, SELECT_INTERFACE, ABORT_PIPE,
// SYNC_RESET_PIPE_AND_CLEAR_STALL, SYNC_RESET_PIPE, SYNC_CLEAR_STALL, GET_CURRENT_FRAME_NUMBER,
// CONTROL_TRANSFER(_EX), BULK_OR_INTERRUPT_TRANSFER, ISOCH_TRANSFER, GET/SET_DESCRIPTOR_*,
// SET/CLEAR_FEATURE_*, GET_STATUS_*, VENDOR_* and CLASS_* for every recipient,
// GET_CONFIGURATION, GET_INTERFACE. The frame-length functions fail as on Windows; the other
// functions Windows knows are reported as not emulated.
#include "usb_device.h"
#include "usb_host_controller.h"
#include "usb_physical_device.h"

#include "kernel/machine.h"

#include <usbdlib.h>

namespace host {

namespace {

// Every URB that carries data has its length, buffer and MDL at the same offsets.
static_assert(offsetof(struct _URB_CONTROL_DESCRIPTOR_REQUEST, TransferBufferLength) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferLength) &&
                  offsetof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST, TransferBufferMDL) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferMDL) &&
                  offsetof(struct _URB_CONTROL_GET_STATUS_REQUEST, TransferBuffer) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBuffer) &&
                  offsetof(struct _URB_CONTROL_TRANSFER_EX, TransferBufferMDL) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferMDL) &&
                  offsetof(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferMDL) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferMDL) &&
                  offsetof(struct _URB_ISOCH_TRANSFER, TransferBufferMDL) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferMDL) &&
                  offsetof(struct _URB_CONTROL_GET_INTERFACE_REQUEST, TransferBufferMDL) ==
                      offsetof(struct _URB_CONTROL_TRANSFER, TransferBufferMDL),
              "URB transfer fields");

std::string Hex(ULONG value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

// The Length a fixed-size request block must have; 0 for the variable-length ones.
ULONG FixedLengthOf(USHORT function)
{
    switch (function) {
    case URB_FUNCTION_SELECT_CONFIGURATION:
    case URB_FUNCTION_SELECT_INTERFACE:
    case URB_FUNCTION_ISOCH_TRANSFER: return 0;
    case URB_FUNCTION_ABORT_PIPE:
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
    case URB_FUNCTION_SYNC_RESET_PIPE:
    case URB_FUNCTION_SYNC_CLEAR_STALL: return sizeof(struct _URB_PIPE_REQUEST);
    case URB_FUNCTION_GET_CURRENT_FRAME_NUMBER: return sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER);
    case URB_FUNCTION_CONTROL_TRANSFER: return sizeof(struct _URB_CONTROL_TRANSFER);
    case URB_FUNCTION_CONTROL_TRANSFER_EX: return sizeof(struct _URB_CONTROL_TRANSFER_EX);
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        return sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
    case URB_FUNCTION_GET_STATUS_FROM_DEVICE:
    case URB_FUNCTION_GET_STATUS_FROM_INTERFACE:
    case URB_FUNCTION_GET_STATUS_FROM_ENDPOINT:
    case URB_FUNCTION_GET_STATUS_FROM_OTHER: return sizeof(struct _URB_CONTROL_GET_STATUS_REQUEST);
    case URB_FUNCTION_SET_FEATURE_TO_DEVICE:
    case URB_FUNCTION_SET_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_SET_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_SET_FEATURE_TO_OTHER:
    case URB_FUNCTION_CLEAR_FEATURE_TO_DEVICE:
    case URB_FUNCTION_CLEAR_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_CLEAR_FEATURE_TO_OTHER: return sizeof(struct _URB_CONTROL_FEATURE_REQUEST);
    case URB_FUNCTION_GET_CONFIGURATION:
        return sizeof(struct _URB_CONTROL_GET_CONFIGURATION_REQUEST);
    case URB_FUNCTION_GET_INTERFACE: return sizeof(struct _URB_CONTROL_GET_INTERFACE_REQUEST);
    default: // descriptor, class and vendor requests
        return sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST);
    }
}

// Recipient (bits 4..0 of bmRequestType) of the request functions that name one.
UCHAR RecipientOf(USHORT function)
{
    switch (function) {
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_INTERFACE:
    case URB_FUNCTION_SET_DESCRIPTOR_TO_INTERFACE:
    case URB_FUNCTION_GET_STATUS_FROM_INTERFACE:
    case URB_FUNCTION_SET_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_CLEAR_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_CLASS_INTERFACE: return BMREQUEST_TO_INTERFACE;
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_ENDPOINT:
    case URB_FUNCTION_SET_DESCRIPTOR_TO_ENDPOINT:
    case URB_FUNCTION_GET_STATUS_FROM_ENDPOINT:
    case URB_FUNCTION_SET_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_CLASS_ENDPOINT: return BMREQUEST_TO_ENDPOINT;
    case URB_FUNCTION_GET_STATUS_FROM_OTHER:
    case URB_FUNCTION_SET_FEATURE_TO_OTHER:
    case URB_FUNCTION_CLEAR_FEATURE_TO_OTHER:
    case URB_FUNCTION_VENDOR_OTHER:
    case URB_FUNCTION_CLASS_OTHER: return BMREQUEST_TO_OTHER;
    default: return BMREQUEST_TO_DEVICE;
    }
}

UCHAR RequestType(bool in, UCHAR type, UCHAR recipient)
{
    return UCHAR((in ? 0x80 : 0) | (type << 5) | recipient);
}

class UrbBuilder {
public:
    UrbBuilder(UsbHostController &controller, PURB urb)
        : controller_(controller), urb_(urb), transfer_(std::make_unique<UsbTransfer>())
    {
        transfer_->urb = urb;
    }

    // The transfer the URB asks for, or the verdict against it.
    UsbRequestCheck Build();
    std::unique_ptr<UsbTransfer> Take() { return std::move(transfer_); }

private:
    UsbRequestCheck BindBuffer();
    UsbRequestCheck Control(UCHAR bmRequestType, UCHAR bRequest, USHORT wValue, USHORT wIndex);
    UsbRequestCheck PipeRequest(UsbRequestKind kind);

    UsbHostController &controller_;
    PURB urb_;
    std::unique_ptr<UsbTransfer> transfer_;
};

UsbRequestCheck UrbBuilder::BindBuffer()
{
    auto &fields = urb_->UrbControlTransfer;
    std::string why;
    if (!transfer_->buffer.Bind(fields.TransferBuffer, fields.TransferBufferMDL,
                                fields.TransferBufferLength, &why))
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       "URB function " + Hex(urb_->UrbHeader.Function) + ": " +
                                           why);
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UrbBuilder::Control(UCHAR bmRequestType, UCHAR bRequest, USHORT wValue,
                                    USHORT wIndex)
{
    ULONG length = urb_->UrbControlTransfer.TransferBufferLength;
    if (length > MAXUSHORT) // a setup packet's wLength
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
    UsbRequestCheck check = BindBuffer();
    if (!check.Accepted())
        return check;
    transfer_->kind = UsbRequestKind::Control;
    transfer_->setup = {bmRequestType, bRequest, wValue, wIndex, USHORT(length)};
    transfer_->transferLength = &urb_->UrbControlTransfer.TransferBufferLength;
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UrbBuilder::PipeRequest(UsbRequestKind kind)
{
    // These requests wait for the bus; Windows takes them at PASSIVE_LEVEL only.
    KIRQL irql = KeGetCurrentIrql();
    if (irql != PASSIVE_LEVEL) {
        controller_.Owner().Checks().Report(
            VerifierCheck::Irql, "USB: URB function " + Hex(urb_->UrbHeader.Function) +
                                     " (pipe reset or abort) at IRQL " + std::to_string(irql));
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
    }
    transfer_->kind = kind;
    transfer_->pipeHandle = urb_->UrbPipeRequest.PipeHandle;
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UrbBuilder::Build()
{
    const USHORT function = urb_->UrbHeader.Function;
    const ULONG length = urb_->UrbHeader.Length;
    switch (function) {
    case URB_FUNCTION_TAKE_FRAME_LENGTH_CONTROL:
    case URB_FUNCTION_RELEASE_FRAME_LENGTH_CONTROL:
    case URB_FUNCTION_GET_FRAME_LENGTH:
    case URB_FUNCTION_SET_FRAME_LENGTH:
        return UsbRequestCheck::Fail(USBD_STATUS_NOT_SUPPORTED); // gone since Windows 2000
    case URB_FUNCTION_RESERVED_0X0016:
    case URB_FUNCTION_RESERVE_0X001D:
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_URB_FUNCTION);
    case URB_FUNCTION_GET_MS_FEATURE_DESCRIPTOR:
    case URB_FUNCTION_SET_PIPE_IO_POLICY:
    case URB_FUNCTION_GET_PIPE_IO_POLICY:
    case URB_FUNCTION_OPEN_STATIC_STREAMS:
    case URB_FUNCTION_CLOSE_STATIC_STREAMS:
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER_USING_CHAINED_MDL:
    case URB_FUNCTION_ISOCH_TRANSFER_USING_CHAINED_MDL:
        return UsbRequestCheck::Misuse(USBD_STATUS_NOT_SUPPORTED,
                                       "URB function " + Hex(function) +
                                           " is not emulated by the host USB stack");
    default:
        if (function > URB_FUNCTION_ISOCH_TRANSFER_USING_CHAINED_MDL ||
            (function > URB_FUNCTION_GET_MS_FEATURE_DESCRIPTOR &&
             function < URB_FUNCTION_SYNC_RESET_PIPE))
            return UsbRequestCheck::Fail(USBD_STATUS_INVALID_URB_FUNCTION);
        break;
    }

    ULONG fixed = FixedLengthOf(function);
    if (fixed != 0 && length != fixed)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       "URB function " + Hex(function) + " with Length " +
                                           std::to_string(length) + "; its request block is " +
                                           std::to_string(fixed) + " bytes");

    const UCHAR recipient = RecipientOf(function);
    switch (function) {
    case URB_FUNCTION_SELECT_CONFIGURATION:
        if (length < offsetof(struct _URB_SELECT_CONFIGURATION, Interface))
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                           "select-configuration URB with Length " +
                                               std::to_string(length));
        transfer_->kind = UsbRequestKind::SelectConfiguration;
        return UsbRequestCheck::Ok();
    case URB_FUNCTION_SELECT_INTERFACE:
        if (length < offsetof(struct _URB_SELECT_INTERFACE, Interface) + GET_USBD_INTERFACE_SIZE(0))
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                           "select-interface URB with Length " +
                                               std::to_string(length));
        transfer_->kind = UsbRequestKind::SelectInterface;
        return UsbRequestCheck::Ok();
    case URB_FUNCTION_ABORT_PIPE: return PipeRequest(UsbRequestKind::AbortPipe);
    case URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL:
        return PipeRequest(UsbRequestKind::ResetPipeAndClearStall);
    case URB_FUNCTION_SYNC_RESET_PIPE: return PipeRequest(UsbRequestKind::ResetPipe);
    case URB_FUNCTION_SYNC_CLEAR_STALL: return PipeRequest(UsbRequestKind::ClearStall);
    case URB_FUNCTION_ISOCH_TRANSFER: {
        if (length < offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket))
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                           "isochronous URB with Length " + std::to_string(length));
        transfer_->kind = UsbRequestKind::Isochronous;
        transfer_->pipeHandle = urb_->UrbIsochronousTransfer.PipeHandle;
        return BindBuffer();
    }
    case URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER:
        transfer_->kind = UsbRequestKind::BulkOrInterrupt;
        transfer_->pipeHandle = urb_->UrbBulkOrInterruptTransfer.PipeHandle;
        transfer_->transferLength = &urb_->UrbBulkOrInterruptTransfer.TransferBufferLength;
        return BindBuffer();
    case URB_FUNCTION_CONTROL_TRANSFER:
    case URB_FUNCTION_CONTROL_TRANSFER_EX: {
        const auto &request = urb_->UrbControlTransfer;
        const UCHAR *setup = function == URB_FUNCTION_CONTROL_TRANSFER
                                 ? request.SetupPacket
                                 : urb_->UrbControlTransferEx.SetupPacket;
        if (!(request.TransferFlags & USBD_DEFAULT_PIPE_TRANSFER) && request.PipeHandle != nullptr)
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PIPE_HANDLE,
                                           "control transfer on a pipe handle: the device "
                                           "has no control pipe but the default one");
        // The data stage is as long as the buffer the client gave.
        return Control(setup[0], setup[1], USHORT(setup[2] | setup[3] << 8),
                       USHORT(setup[4] | setup[5] << 8));
    }
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_INTERFACE:
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_ENDPOINT:
    case URB_FUNCTION_SET_DESCRIPTOR_TO_DEVICE:
    case URB_FUNCTION_SET_DESCRIPTOR_TO_INTERFACE:
    case URB_FUNCTION_SET_DESCRIPTOR_TO_ENDPOINT: {
        const auto &request = urb_->UrbControlDescriptorRequest;
        bool get = function == URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE ||
                   function == URB_FUNCTION_GET_DESCRIPTOR_FROM_INTERFACE ||
                   function == URB_FUNCTION_GET_DESCRIPTOR_FROM_ENDPOINT;
        return Control(RequestType(get, BMREQUEST_STANDARD, recipient),
                       get ? USB_REQUEST_GET_DESCRIPTOR : USB_REQUEST_SET_DESCRIPTOR,
                       USB_DESCRIPTOR_MAKE_TYPE_AND_INDEX(request.DescriptorType, request.Index),
                       request.LanguageId);
    }
    case URB_FUNCTION_GET_STATUS_FROM_DEVICE:
    case URB_FUNCTION_GET_STATUS_FROM_INTERFACE:
    case URB_FUNCTION_GET_STATUS_FROM_ENDPOINT:
    case URB_FUNCTION_GET_STATUS_FROM_OTHER:
        return Control(RequestType(true, BMREQUEST_STANDARD, recipient), USB_REQUEST_GET_STATUS, 0,
                       urb_->UrbControlGetStatusRequest.Index);
    case URB_FUNCTION_SET_FEATURE_TO_DEVICE:
    case URB_FUNCTION_SET_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_SET_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_SET_FEATURE_TO_OTHER:
    case URB_FUNCTION_CLEAR_FEATURE_TO_DEVICE:
    case URB_FUNCTION_CLEAR_FEATURE_TO_INTERFACE:
    case URB_FUNCTION_CLEAR_FEATURE_TO_ENDPOINT:
    case URB_FUNCTION_CLEAR_FEATURE_TO_OTHER: {
        const auto &request = urb_->UrbControlFeatureRequest;
        bool set = function == URB_FUNCTION_SET_FEATURE_TO_DEVICE ||
                   function == URB_FUNCTION_SET_FEATURE_TO_INTERFACE ||
                   function == URB_FUNCTION_SET_FEATURE_TO_ENDPOINT ||
                   function == URB_FUNCTION_SET_FEATURE_TO_OTHER;
        transfer_->kind = UsbRequestKind::Control;
        transfer_->setup = {RequestType(false, BMREQUEST_STANDARD, recipient),
                            UCHAR(set ? USB_REQUEST_SET_FEATURE : USB_REQUEST_CLEAR_FEATURE),
                            request.FeatureSelector, request.Index, 0};
        return UsbRequestCheck::Ok();
    }
    case URB_FUNCTION_GET_CONFIGURATION:
        return Control(RequestType(true, BMREQUEST_STANDARD, BMREQUEST_TO_DEVICE),
                       USB_REQUEST_GET_CONFIGURATION, 0, 0);
    case URB_FUNCTION_GET_INTERFACE:
        return Control(RequestType(true, BMREQUEST_STANDARD, BMREQUEST_TO_INTERFACE),
                       USB_REQUEST_GET_INTERFACE, 0, urb_->UrbControlGetInterfaceRequest.Interface);
    case URB_FUNCTION_VENDOR_DEVICE:
    case URB_FUNCTION_VENDOR_INTERFACE:
    case URB_FUNCTION_VENDOR_ENDPOINT:
    case URB_FUNCTION_VENDOR_OTHER:
    case URB_FUNCTION_CLASS_DEVICE:
    case URB_FUNCTION_CLASS_INTERFACE:
    case URB_FUNCTION_CLASS_ENDPOINT:
    case URB_FUNCTION_CLASS_OTHER: {
        const auto &request = urb_->UrbControlVendorClassRequest;
        bool vendor =
            function == URB_FUNCTION_VENDOR_DEVICE || function == URB_FUNCTION_VENDOR_INTERFACE ||
            function == URB_FUNCTION_VENDOR_ENDPOINT || function == URB_FUNCTION_VENDOR_OTHER;
        UCHAR type = RequestType(request.TransferFlags & USBD_TRANSFER_DIRECTION_IN,
                                 vendor ? BMREQUEST_VENDOR : BMREQUEST_CLASS, recipient);
        return Control(UCHAR(type | request.RequestTypeReservedBits), request.Request,
                       request.Value, request.Index);
    }
    default: return UsbRequestCheck::Fail(USBD_STATUS_INVALID_URB_FUNCTION);
    }
}

NTSTATUS SubmitUrb(UsbHostController &controller, UsbDevice &device, PIRP irp, PURB urb)
{
    if (urb == nullptr) {
        controller.ReportMisuse("IOCTL_INTERNAL_USB_SUBMIT_URB without a URB");
        return controller.CompleteAtOnce(irp, nullptr, USBD_STATUS_INVALID_PARAMETER);
    }
    if (urb->UrbHeader.Function == URB_FUNCTION_GET_CURRENT_FRAME_NUMBER &&
        urb->UrbHeader.Length == sizeof(struct _URB_GET_CURRENT_FRAME_NUMBER)) {
        bool gone;
        {
            std::lock_guard<std::recursive_mutex> guard(controller.Lock());
            gone = device.Gone();
        }
        if (!gone)
            urb->UrbGetCurrentFrameNumber.FrameNumber = controller.CurrentFrame();
        return controller.CompleteAtOnce(irp, urb,
                                         gone ? USBD_STATUS_DEVICE_GONE : USBD_STATUS_SUCCESS);
    }
    UrbBuilder builder(controller, urb);
    UsbRequestCheck check = builder.Build();
    if (!check.Accepted()) {
        if (!check.misuse.empty())
            controller.ReportMisuse(check.misuse);
        return controller.CompleteAtOnce(irp, urb, check.status);
    }
    return controller.Submit(device, irp, builder.Take());
}

NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

NTSTATUS DispatchUsbInternalDeviceControl(PDEVICE_OBJECT pdo, PIRP irp)
{
    UsbPdoExtension &extension = PdoExtensionOf(pdo);
    UsbHostController &controller = *extension.controller;
    UsbDevice &device = *extension.device;
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    switch (code) {
    case IOCTL_INTERNAL_USB_SUBMIT_URB:
        return SubmitUrb(controller, device, irp,
                         static_cast<PURB>(stack->Parameters.Others.Argument1));
    case IOCTL_INTERNAL_USB_GET_PORT_STATUS: {
        auto status = static_cast<PULONG>(stack->Parameters.Others.Argument1);
        if (status == nullptr)
            return CompleteIrp(irp, STATUS_INVALID_PARAMETER);
        std::lock_guard<std::recursive_mutex> guard(controller.Lock());
        *status = device.Gone() ? 0 : USBD_PORT_ENABLED | USBD_PORT_CONNECTED;
        return CompleteIrp(irp, STATUS_SUCCESS);
    }
    case IOCTL_INTERNAL_USB_RESET_PORT: {
        if (KeGetCurrentIrql() != PASSIVE_LEVEL)
            controller.Owner().Checks().Report(VerifierCheck::Irql,
                                               "USB: IOCTL_INTERNAL_USB_RESET_PORT above "
                                               "PASSIVE_LEVEL");
        auto transfer = std::make_unique<UsbTransfer>();
        transfer->kind = UsbRequestKind::ResetPort;
        return controller.Submit(device, irp, std::move(transfer));
    }
    case IOCTL_INTERNAL_USB_GET_ROOTHUB_PDO:
    case IOCTL_INTERNAL_USB_ENABLE_PORT:
    case IOCTL_INTERNAL_USB_GET_HUB_COUNT:
    case IOCTL_INTERNAL_USB_CYCLE_PORT:
    case IOCTL_INTERNAL_USB_GET_HUB_NAME:
    case IOCTL_INTERNAL_USB_SUBMIT_IDLE_NOTIFICATION:
    case IOCTL_INTERNAL_USB_RECORD_FAILURE:
    case IOCTL_INTERNAL_USB_GET_BUS_INFO:
    case IOCTL_INTERNAL_USB_GET_CONTROLLER_NAME:
    case IOCTL_INTERNAL_USB_GET_BUSGUID_INFO:
    case IOCTL_INTERNAL_USB_GET_PARENT_HUB_INFO:
    case IOCTL_INTERNAL_USB_GET_DEVICE_HANDLE:
    case IOCTL_INTERNAL_USB_GET_DEVICE_HANDLE_EX:
    case IOCTL_INTERNAL_USB_GET_TT_DEVICE_HANDLE:
    case IOCTL_INTERNAL_USB_GET_TOPOLOGY_ADDRESS:
    case IOCTL_INTERNAL_USB_GET_DEVICE_CONFIG_INFO:
        controller.ReportMisuse("internal I/O control " + Hex(code) +
                                " is not emulated by the host USB stack");
        return CompleteIrp(irp, STATUS_NOT_SUPPORTED);
    default: return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

} // namespace host
