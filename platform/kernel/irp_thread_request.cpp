// Requests the I/O manager builds for the calling thread (IoBuildDeviceIoControlRequest) and
// their completion: the IRP belongs to the I/O manager, which buffers the caller's data the way
// the control code's transfer method says, and once the request is complete fills the caller's
// status block, frees the IRP and signals the caller's event. On Windows that last step is an
// APC to the issuing thread; here it runs at once, in the completing thread.
#include "io_manager.h"
#include "machine.h"

#include <algorithm>
#include <cstring>

using host::VerifierCheck;

namespace host {

void ReleaseIrpBuffers(IoManager &io, PIRP irp, KIRQL irql)
{
    if ((irp->Flags & IRP_DEALLOCATE_BUFFER) && irp->AssociatedIrp.SystemBuffer != nullptr) {
        io.KernelPool().Free(irp->AssociatedIrp.SystemBuffer, kSystemBufferTag, irql);
        irp->AssociatedIrp.SystemBuffer = nullptr;
        irp->Flags &= ~IRP_DEALLOCATE_BUFFER;
    }
    PMDL mdl = irp->MdlAddress;
    irp->MdlAddress = nullptr;
    while (mdl != nullptr) {
        PMDL next = mdl->Next;
        ReleaseMdl(io, mdl, irql);
        mdl = next;
    }
}

void CopyBufferedOutput(IoManager &io, PIRP irp)
{
    if (!(irp->Flags & IRP_BUFFERED_IO) || !(irp->Flags & IRP_INPUT_OPERATION) ||
        NT_ERROR(irp->IoStatus.Status) || irp->UserBuffer == nullptr)
        return;
    IrpTracker::Record record;
    io.Irps().Find(irp, &record);
    ULONG_PTR bytes = irp->IoStatus.Information;
    if (bytes > record.bufferedOutputLength) {
        io.Report(VerifierCheck::Irp,
                  "IRP %p completed with Information %llu, beyond its %lu-byte output buffer",
                  static_cast<void *>(irp), static_cast<unsigned long long>(bytes),
                  static_cast<unsigned long>(record.bufferedOutputLength));
        bytes = record.bufferedOutputLength;
    }
    std::memcpy(irp->UserBuffer, irp->AssociatedIrp.SystemBuffer, bytes);
}

void CompleteIrpToThread(IoManager &io, PIRP irp, CCHAR priorityBoost)
{
    KIRQL irql = KeGetCurrentIrql();
    IrpTracker::Record record;
    io.Irps().Find(irp, &record);
    CopyBufferedOutput(io, irp);
    IO_STATUS_BLOCK status = irp->IoStatus;
    PIO_STATUS_BLOCK statusBlock = irp->UserIosb;
    PKEVENT event = irp->UserEvent;
    ReleaseIrpBuffers(io, irp, irql);
    if (record.origin == IrpTracker::Origin::Allocated)
        FreeIrpMemory(io, irp, irql);
    else
        io.Irps().Remove(irp);
    // The IRP is gone before the caller can wake up.
    if (statusBlock != nullptr)
        *statusBlock = status;
    if (event != nullptr)
        KeSetEvent(event, priorityBoost, FALSE);
}

} // namespace host

namespace {

// Copies the caller's input into a new system buffer of `length` bytes (the larger of the two
// buffers for METHOD_BUFFERED); false if the pool has no room.
bool BufferInput(host::IoManager &io, PIRP irp, PVOID input, ULONG inputLength, ULONG length)
{
    PVOID buffer =
        io.KernelPool().Allocate(NonPagedPool, length, host::kSystemBufferTag, KeGetCurrentIrql());
    if (buffer == nullptr)
        return false;
    std::memset(buffer, 0, length);
    if (input != nullptr && inputLength != 0)
        std::memcpy(buffer, input, inputLength);
    irp->AssociatedIrp.SystemBuffer = buffer;
    irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
    return true;
}

} // namespace

bool host::SetUpControlBuffers(IoManager &io, PIRP irp, ULONG controlCode, PVOID input,
                               ULONG inputLength, PVOID output, ULONG outputLength,
                               KPROCESSOR_MODE mode)
{
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    switch (METHOD_FROM_CTL_CODE(controlCode)) {
    case METHOD_BUFFERED:
        if (inputLength != 0 || outputLength != 0) {
            if (!BufferInput(io, irp, input, inputLength, std::max(inputLength, outputLength)))
                return false;
            if (output != nullptr)
                irp->Flags |= IRP_INPUT_OPERATION;
        }
        irp->UserBuffer = output;
        io.Irps().SetBufferedOutputLength(irp, outputLength);
        return true;
    case METHOD_IN_DIRECT:
    case METHOD_OUT_DIRECT: {
        if (input != nullptr && inputLength != 0 &&
            !BufferInput(io, irp, input, inputLength, inputLength))
            return false;
        if (output == nullptr || outputLength == 0)
            return true;
        PMDL mdl = IoAllocateMdl(output, outputLength, FALSE, FALSE, irp);
        if (mdl == nullptr)
            return false;
        MmProbeAndLockPages(mdl, mode,
                            METHOD_FROM_CTL_CODE(controlCode) == METHOD_IN_DIRECT ? IoReadAccess
                                                                                  : IoWriteAccess);
        return true;
    }
    default: // METHOD_NEITHER: the driver gets the caller's addresses
        location->Parameters.DeviceIoControl.Type3InputBuffer = input;
        irp->UserBuffer = output;
        return true;
    }
}

extern "C" {

PIRP IoBuildDeviceIoControlRequest(ULONG IoControlCode, PDEVICE_OBJECT DeviceObject,
                                   PVOID InputBuffer, ULONG InputBufferLength, PVOID OutputBuffer,
                                   ULONG OutputBufferLength, BOOLEAN InternalDeviceIoControl,
                                   PKEVENT Event, PIO_STATUS_BLOCK IoStatusBlock)
{
    host::IoManager &io = host::CurrentIo("IoBuildDeviceIoControlRequest");
    KIRQL irql = KeGetCurrentIrql();
    if (irql != PASSIVE_LEVEL)
        io.Report(VerifierCheck::Irql, "IoBuildDeviceIoControlRequest at IRQL %u", irql);
    if (DeviceObject == nullptr || IoStatusBlock == nullptr) {
        io.Report(VerifierCheck::Usage,
                  "IoBuildDeviceIoControlRequest without a device object or a status block");
        return nullptr;
    }
    PIRP irp = IoAllocateIrp(DeviceObject->StackSize, FALSE);
    if (irp == nullptr)
        return nullptr;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction =
        InternalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    location->Parameters.DeviceIoControl.IoControlCode = IoControlCode;
    location->Parameters.DeviceIoControl.InputBufferLength = InputBufferLength;
    location->Parameters.DeviceIoControl.OutputBufferLength = OutputBufferLength;
    if (!host::SetUpControlBuffers(io, irp, IoControlCode, InputBuffer, InputBufferLength,
                                   OutputBuffer, OutputBufferLength, KernelMode)) {
        host::ReleaseIrpBuffers(io, irp, irql);
        host::FreeIrpMemory(io, irp, irql);
        return nullptr;
    }
    irp->RequestorMode = KernelMode;
    irp->UserIosb = IoStatusBlock;
    irp->UserEvent = Event;
    irp->Tail.Overlay.Thread = KeGetCurrentThread();
    return irp;
}

} // extern "C"
