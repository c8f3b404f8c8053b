#include "stream_packets.h"

#include "kernel/user_buffer_probe.h"

namespace host {

void StreamPacket::SkipDone()
{
    while (current < segments.size() && segments[current].done == segments[current].length)
        ++current;
}

namespace {

// Reaches a user-mode data buffer from any thread: an MDL of the request, locked and mapped.
NTSTATUS MapUserBuffer(PIRP irp, PVOID data, ULONG length, bool write, PUCHAR *system)
{
    NTSTATUS status = ProbeUserBuffer(data, length, 1);
    if (!NT_SUCCESS(status))
        return status;
    PMDL mdl = IoAllocateMdl(data, length, irp->MdlAddress != nullptr, FALSE, irp);
    if (mdl == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    MmProbeAndLockPages(mdl, UserMode, write ? IoWriteAccess : IoReadAccess);
    *system = static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    return *system != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

} // namespace

NTSTATUS BuildStreamPacket(PIRP irp, bool capture, StreamPacket *packet)
{
    packet->irp = irp;
    NTSTATUS status = CaptureKsRequest(irp, &packet->buffers);
    if (!NT_SUCCESS(status))
        return status;
    const ULONG total = packet->buffers.outputLength;
    auto headers = static_cast<PUCHAR>(packet->buffers.output);
    if (total < sizeof(KSSTREAM_HEADER) || headers == nullptr)
        return STATUS_INVALID_BUFFER_SIZE;
    for (ULONG offset = 0; offset < total;) {
        auto header = reinterpret_cast<PKSSTREAM_HEADER>(headers + offset);
        if (total - offset < sizeof(KSSTREAM_HEADER) || header->Size < sizeof(KSSTREAM_HEADER) ||
            header->Size > total - offset || header->Size % 8 != 0)
            return STATUS_INVALID_BUFFER_SIZE;
        offset += header->Size;
        if (!capture && header->DataUsed > header->FrameExtent)
            return STATUS_INVALID_PARAMETER;
        const ULONG length = capture ? header->FrameExtent : header->DataUsed;
        if (capture)
            header->DataUsed = 0;
        PUCHAR data = static_cast<PUCHAR>(header->Data);
        if (length != 0 && data == nullptr)
            return STATUS_INVALID_PARAMETER;
        if (length != 0 && irp->RequestorMode == UserMode) {
            status = MapUserBuffer(irp, header->Data, length, capture, &data);
            if (!NT_SUCCESS(status))
                return status;
        }
        packet->segments.push_back(StreamSegment{data, length, 0, header});
        packet->bytes += length;
    }
    packet->SkipDone();
    return STATUS_SUCCESS;
}

} // namespace host
