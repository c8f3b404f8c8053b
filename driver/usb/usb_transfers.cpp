// CUSBCL: the asynchronous transfer path. Contexts and isochronous URBs come from lookaside
// lists, IRPs from a free list that grows to the peak number of transfers in flight; the
// completion routine gives everything back itself so that a resubmission from the caller's
// callback finds the resources free again.
#include "usb/usb_cl.h"

#include "driver_trace.h"

namespace {

// A bulk or interrupt URB comes from pool, not from the isochronous list.
const ULONG kBulkUrbSize = 128;
static_assert(sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER) <= kBulkUrbSize,
              "a bulk or interrupt URB fits its block");

// In, short transfer allowed, and bit 2 (the stack ignores it on these pipes).
const ULONG kBulkInFlags = USBD_TRANSFER_DIRECTION_IN | USBD_SHORT_TRANSFER_OK | 0x4;

// UsbTransferBufferAddress reads any transfer URB through its isochronous view.
static_assert(FIELD_OFFSET(struct _URB_ISOCH_TRANSFER, TransferBuffer) ==
                      FIELD_OFFSET(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBuffer) &&
                  FIELD_OFFSET(struct _URB_ISOCH_TRANSFER, TransferBufferMDL) ==
                      FIELD_OFFSET(struct _URB_BULK_OR_INTERRUPT_TRANSFER, TransferBufferMDL),
              "transfer URB buffer fields");

BOOLEAN IsIsochronous(PURB Urb) { return Urb->UrbHeader.Function == URB_FUNCTION_ISOCH_TRANSFER; }

// Moves the received packets of an isochronous IN transfer together at the start of the buffer
// and returns how many bytes they hold. Packets the stack reports beyond the buffer, or
// overlapping the bytes already gathered so that they would land past it, count as empty.
ULONG CompactInPackets(PURB Urb)
{
    auto &iso = Urb->UrbIsochronousTransfer;
    const ULONG size = iso.TransferBufferLength;
    PUCHAR buffer = nullptr;
    ULONG total = 0;
    for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
        const USBD_ISO_PACKET_DESCRIPTOR &packet = iso.IsoPacket[i];
        if (packet.Offset > size || packet.Length > size - packet.Offset ||
            packet.Length > size - total) {
            continue;
        }
        if (packet.Offset != total && packet.Length != 0) {
            if (buffer == nullptr) {
                buffer = UsbTransferBufferAddress(Urb);
            }
            if (buffer == nullptr) {
                return 0;
            }
            RtlMoveMemory(buffer + total, buffer + packet.Offset, packet.Length);
        }
        total += packet.Length;
    }
    return total;
}

} // namespace

PUCHAR UsbTransferBufferAddress(PURB Urb)
{
    // Every data-carrying URB keeps its buffer and MDL at the same offsets.
    const auto &fields = Urb->UrbIsochronousTransfer;
    if (fields.TransferBuffer != nullptr) {
        return static_cast<PUCHAR>(fields.TransferBuffer);
    }
    if (fields.TransferBufferMDL != nullptr) {
        return static_cast<PUCHAR>(
            MmGetSystemAddressForMdlSafe(fields.TransferBufferMDL, NormalPagePriority));
    }
    return nullptr;
}

USB_TRANSFER_CONTEXT *CUSBCL::AllocateTransferContext(PUSB_TRANSFER_CALLBACK Callback,
                                                      PVOID Context)
{
    auto *context = static_cast<USB_TRANSFER_CONTEXT *>(
        ExAllocateFromNPagedLookasideList(&TransferContextList));
    if (context == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no transfer context");
        return nullptr;
    }
    context->Urb = nullptr;
    context->Callback = Callback;
    context->CallbackContext = Context;
    context->Owner = this;
    context->AuxiliaryBuffer = nullptr;
    return context;
}

void CUSBCL::FreeTransferContext(USB_TRANSFER_CONTEXT *Context)
{
    if (Context->AuxiliaryBuffer != nullptr) {
        ExFreePoolWithTag(Context->AuxiliaryBuffer, USB_FRAMING_POOL_TAG);
        Context->AuxiliaryBuffer = nullptr;
    }
    ExFreeToNPagedLookasideList(&TransferContextList, Context);
}

PURB CUSBCL::AllocateIsoUrb(ULONG Packets)
{
    if (Packets > USB_MAX_ISO_PACKETS) {
        QuenTrace(TRACE_LEVEL_ERROR, "%lu packets do not fit one URB", Packets);
        return nullptr;
    }
    auto urb = static_cast<PURB>(ExAllocateFromNPagedLookasideList(&IsoUrbList));
    if (urb == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no isochronous URB");
        return nullptr;
    }
    const USHORT size = static_cast<USHORT>(GET_ISO_URB_SIZE(Packets));
    RtlZeroMemory(urb, size);
    urb->UrbIsochronousTransfer.Hdr.Length = size;
    urb->UrbIsochronousTransfer.Hdr.Function = URB_FUNCTION_ISOCH_TRANSFER;
    urb->UrbIsochronousTransfer.NumberOfPackets = Packets;
    return urb;
}

NTSTATUS CUSBCL::AllocateIsoTransfer(ULONG Packets, PUSB_TRANSFER_CALLBACK Callback,
                                     PVOID Context, USB_TRANSFER_CONTEXT **OutContext,
                                     PURB *OutUrb)
{
    *OutContext = nullptr;
    *OutUrb = nullptr;
    if (Packets > USB_MAX_ISO_PACKETS) {
        QuenTrace(TRACE_LEVEL_ERROR, "%lu packets do not fit one URB", Packets);
        return STATUS_INVALID_BUFFER_SIZE;
    }
    USB_TRANSFER_CONTEXT *context = AllocateTransferContext(Callback, Context);
    if (context == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    PURB urb = AllocateIsoUrb(Packets);
    if (urb == nullptr) {
        FreeTransferContext(context);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *OutContext = context;
    *OutUrb = urb;
    return STATUS_SUCCESS;
}

void CUSBCL::FreeTransferUrb(PURB Urb)
{
    if (IsIsochronous(Urb)) {
        ExFreeToNPagedLookasideList(&IsoUrbList, Urb);
    } else {
        ExFreePoolWithTag(Urb, USBA_POOL_TAG);
    }
}

PIRP CUSBCL::TakeIrp()
{
    PIRP irp = nullptr;
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&IrpListLock, &lockHandle);
    if (!IsListEmpty(&IrpList)) {
        irp = CONTAINING_RECORD(RemoveHeadList(&IrpList), IRP, Tail.Overlay.ListEntry);
    }
    KeReleaseInStackQueuedSpinLock(&lockHandle);
    if (irp != nullptr) {
        IoReuseIrp(irp, STATUS_SUCCESS);
        return irp;
    }
    irp = IoAllocateIrp(LowerDevice->StackSize, FALSE);
    if (irp == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no IRP");
    }
    return irp;
}

void CUSBCL::ReturnIrp(PIRP Irp)
{
    KLOCK_QUEUE_HANDLE lockHandle;
    KeAcquireInStackQueuedSpinLock(&IrpListLock, &lockHandle);
    InsertTailList(&IrpList, &Irp->Tail.Overlay.ListEntry);
    KeReleaseInStackQueuedSpinLock(&lockHandle);
}

NTSTATUS CUSBCL::SubmitTransfer(PUSBD_PIPE_INFORMATION Pipe, PVOID Buffer, ULONG Length,
                                PUSB_TRANSFER_CALLBACK Callback, PVOID Context, ULONG StartFrame)
{
    if (Pipe == nullptr || Pipe->PipeHandle == nullptr || (Length != 0 && Buffer == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Length == 0) {
        QuenTrace(TRACE_LEVEL_WARNING, "endpoint 0x%02X: transfer of 0 bytes",
                  Pipe->EndpointAddress);
    }
    USB_TRANSFER_CONTEXT *context = nullptr;
    PURB urb = nullptr;
    if (Pipe->PipeType == UsbdPipeTypeIsochronous) {
        const ULONG maximum = Pipe->MaximumPacketSize;
        if (maximum == 0) {
            return STATUS_INVALID_PARAMETER;
        }
        ULONG packets = static_cast<ULONG>((ULONGLONG(Length) + maximum - 1) / maximum);
        if (HighSpeed && Pipe->Interval >= 1 && Pipe->Interval <= 4) {
            // The stack takes whole milliseconds of packets at high speed.
            const ULONG perMs = 8U >> (Pipe->Interval - 1);
            packets = (packets + perMs - 1) / perMs * perMs;
        } else if ((HighSpeed && Pipe->Interval > 4) || (!HighSpeed && Pipe->Interval > 15)) {
            QuenTrace(TRACE_LEVEL_WARNING, "endpoint 0x%02X: interval %u", Pipe->EndpointAddress,
                      Pipe->Interval);
        }
        const NTSTATUS allocated = AllocateIsoTransfer(packets, Callback, Context, &context, &urb);
        if (!NT_SUCCESS(allocated)) {
            return allocated;
        }
        auto &iso = urb->UrbIsochronousTransfer;
        iso.PipeHandle = Pipe->PipeHandle;
        iso.TransferFlags = USBD_TRANSFER_DIRECTION_IN | USBD_START_ISO_TRANSFER_ASAP;
        iso.TransferBuffer = Buffer;
        iso.TransferBufferLength = Length;
        iso.StartFrame = StartFrame;
        // Packets added to round up to whole milliseconds start at the end of the buffer: an
        // offset past it would make the stack refuse the transfer.
        for (ULONG i = 0; i < iso.NumberOfPackets; ++i) {
            const ULONGLONG offset = ULONGLONG(i) * maximum;
            iso.IsoPacket[i].Offset = offset < Length ? static_cast<ULONG>(offset) : Length;
        }
    } else {
        context = AllocateTransferContext(Callback, Context);
        if (context == nullptr) {
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, kBulkUrbSize, USBA_POOL_TAG));
        if (urb == nullptr) {
            FreeTransferContext(context);
            return STATUS_INSUFFICIENT_RESOURCES;
        }
        RtlZeroMemory(urb, kBulkUrbSize);
        auto &bulk = urb->UrbBulkOrInterruptTransfer;
        bulk.Hdr.Length = sizeof(struct _URB_BULK_OR_INTERRUPT_TRANSFER);
        bulk.Hdr.Function = URB_FUNCTION_BULK_OR_INTERRUPT_TRANSFER;
        bulk.PipeHandle = Pipe->PipeHandle;
        bulk.TransferFlags = kBulkInFlags;
        bulk.TransferBuffer = Buffer;
        bulk.TransferBufferLength = Length;
    }

    const NTSTATUS status = SubmitIrp(urb, context);
    if (!NT_SUCCESS(status)) {
        FreeTransferUrb(urb);
        FreeTransferContext(context);
    }
    return status;
}

NTSTATUS CUSBCL::SubmitIrp(PURB Urb, USB_TRANSFER_CONTEXT *Context)
{
    return SubmitIrpWithCompletion(Urb, Context, TransferComplete);
}

NTSTATUS CUSBCL::SubmitIrpWithCompletion(PURB Urb, USB_TRANSFER_CONTEXT *Context,
                                         PIO_COMPLETION_ROUTINE Completion)
{
    PIRP irp = TakeIrp();
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    Context->Urb = Urb;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    stack->Parameters.Others.Argument1 = Urb;
    IoSetCompletionRoutine(irp, Completion, Context, TRUE, TRUE, TRUE);
    IoCountIncrement();
    // Whatever the stack answers, the completion routine reports the outcome.
    IoCallDriver(LowerDevice, irp);
    return STATUS_SUCCESS;
}

void CUSBCL::TraceFailedUrb(PURB Urb)
{
    if (!IsIsochronous(Urb)) {
        const auto &bulk = Urb->UrbBulkOrInterruptTransfer;
        QuenTrace(TRACE_LEVEL_ERROR,
                  "URB status 0x%08lX, function 0x%04X, flags 0x%lX, length %lu, buffer %p, "
                  "MDL %p",
                  bulk.Hdr.Status, bulk.Hdr.Function, bulk.TransferFlags, bulk.TransferBufferLength,
                  bulk.TransferBuffer, bulk.TransferBufferMDL);
        return;
    }
    const auto &iso = Urb->UrbIsochronousTransfer;
    QuenTrace(TRACE_LEVEL_ERROR,
              "URB status 0x%08lX, function 0x%04X, flags 0x%lX, length %lu, buffer %p, MDL %p, "
              "start frame %lu, %lu packets, %lu errors",
              iso.Hdr.Status, iso.Hdr.Function, iso.TransferFlags, iso.TransferBufferLength,
              iso.TransferBuffer, iso.TransferBufferMDL, iso.StartFrame, iso.NumberOfPackets,
              iso.ErrorCount);
    const ULONG packets =
        iso.NumberOfPackets <= USB_MAX_ISO_PACKETS ? iso.NumberOfPackets : USB_MAX_ISO_PACKETS;
    for (ULONG i = 0; i < packets; ++i) {
        QuenTrace(TRACE_LEVEL_ERROR, "packet %lu: length %lu, status 0x%08lX", i,
                  iso.IsoPacket[i].Length, iso.IsoPacket[i].Status);
    }
    if (iso.Hdr.Status == USBD_STATUS_BAD_START_FRAME && BusInterface.QueryBusTime != nullptr) {
        ULONG frame = 0;
        BusInterface.QueryBusTime(BusInterface.BusContext, &frame);
        QuenTrace(TRACE_LEVEL_ERROR, "current frame %lu", frame);
    }
}

NTSTATUS CUSBCL::TransferComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    auto *context = static_cast<USB_TRANSFER_CONTEXT *>(Context);
    if (context == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "IRP %p without a transfer context", Irp);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
    CUSBCL *owner = context->Owner;
    PURB urb = context->Urb;
    const NTSTATUS status = Irp->IoStatus.Status;
    ULONG bytes = 0;
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "IRP status 0x%08lX", status);
        owner->TraceFailedUrb(urb);
    } else if (!IsIsochronous(urb)) {
        bytes = urb->UrbBulkOrInterruptTransfer.TransferBufferLength;
    } else if ((urb->UrbIsochronousTransfer.TransferFlags & USBD_TRANSFER_DIRECTION_IN) != 0) {
        bytes = CompactInPackets(urb);
    } else {
        bytes = urb->UrbIsochronousTransfer.TransferBufferLength;
    }

    owner->OnTransferComplete(status, urb, context);
    return owner->FinishTransfer(Irp, context, status, bytes);
}

NTSTATUS CUSBCL::FinishTransfer(PIRP Irp, USB_TRANSFER_CONTEXT *Context, NTSTATUS Status,
                                ULONG Value)
{
    // The URB goes back before the callback so that a resubmission from it finds one free.
    FreeTransferUrb(Context->Urb);
    if (Context->Callback != nullptr) {
        Context->Callback(Status, Value, Context->CallbackContext);
    }
    FreeTransferContext(Context);
    ReturnIrp(Irp);
    IoCountDecrement();
    return STATUS_MORE_PROCESSING_REQUIRED;
}
