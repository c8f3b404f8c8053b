#include "ks_request.h"

#include "kernel/io_manager.h"
#include "kernel/user_buffer_probe.h"

#include <cstring>

namespace host {

namespace {

// Whether the output buffer holds data for the driver: the stream headers of a stream request,
// the value of a property set. A get's old output is not read.
bool OutputCarriesInput(ULONG controlCode, const UCHAR *input, ULONG inputLength)
{
    if (controlCode == IOCTL_KS_WRITE_STREAM || controlCode == IOCTL_KS_READ_STREAM)
        return true;
    if (controlCode != IOCTL_KS_PROPERTY || inputLength < sizeof(KSPROPERTY))
        return false;
    KSPROPERTY property;
    std::memcpy(&property, input, sizeof property); // the captured copy, read once
    return (property.Flags & (KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_UNSERIALIZESET |
                              KSPROPERTY_TYPE_UNSERIALIZERAW)) != 0;
}

} // namespace

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
    // The I/O manager frees the buffer.
    if (buffers->inputLength != 0)
        std::memcpy(system + outputRoom, buffers->input, buffers->inputLength);
    std::memset(system, 0, outputRoom);
    if (OutputCarriesInput(location->Parameters.DeviceIoControl.IoControlCode,
                           buffers->inputLength != 0 ? system + outputRoom : nullptr,
                           buffers->inputLength) &&
        buffers->outputLength != 0)
        std::memcpy(system, buffers->output, buffers->outputLength);
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
