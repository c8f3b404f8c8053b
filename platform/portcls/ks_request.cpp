#include "ks_request.h"

#include "kernel/io_manager.h"
#include "kernel/user_buffer_probe.h"

#include <cstring>

namespace host {

NTSTATUS CaptureKsRequest(PIRP irp, KsRequestBuffers *buffers)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    buffers->input = location->Parameters.DeviceIoControl.Type3InputBuffer;
    buffers->inputLength = location->Parameters.DeviceIoControl.InputBufferLength;
    buffers->output = irp->UserBuffer;
    buffers->outputLength = location->Parameters.DeviceIoControl.OutputBufferLength;
    buffers->captured = false;
    if (irp->RequestorMode == KernelMode)
        return STATUS_SUCCESS;

    NTSTATUS status = ProbeUserBuffer(buffers->input, buffers->inputLength, 1);
    if (NT_SUCCESS(status))
        status = ProbeUserBuffer(buffers->output, buffers->outputLength, 1);
    if (!NT_SUCCESS(status))
        return status;
    const SIZE_T outputRoom = ALIGN_UP_BY(buffers->outputLength, 8);
    const SIZE_T bytes = outputRoom + buffers->inputLength;
    auto system = static_cast<UCHAR *>(
        ExAllocatePoolWithTag(NonPagedPoolNx, bytes != 0 ? bytes : 1, kSystemBufferTag));
    if (system == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    // The caller's old output is not read. The I/O manager frees the buffer.
    std::memset(system, 0, outputRoom);
    if (buffers->inputLength != 0)
        std::memcpy(system + outputRoom, buffers->input, buffers->inputLength);
    irp->AssociatedIrp.SystemBuffer = system;
    irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER | IRP_INPUT_OPERATION;
    CurrentIo("CaptureKsRequest").Irps().SetBufferedOutputLength(irp, buffers->outputLength);
    buffers->output = buffers->outputLength != 0 ? system : nullptr;
    buffers->input = buffers->inputLength != 0 ? system + outputRoom : nullptr;
    buffers->captured = true;
    return STATUS_SUCCESS;
}

void CompleteKsRequest(PIRP irp, const KsRequestBuffers &buffers, NTSTATUS status,
                       ULONG_PTR information)
{
    if (buffers.captured && (NT_ERROR(status) || information > buffers.outputLength))
        irp->Flags &= ~IRP_INPUT_OPERATION;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

} // namespace host
