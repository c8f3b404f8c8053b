// CUSBAudioCL: aborting the render pipes for the render recovery. Both aborts are in flight
// before either is waited for, so the data and feedback pipes drain together.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

namespace {

// The render data pipe and its feedback pipe.
const ULONG kRenderPipes = 2;

} // namespace

NTSTATUS CUSBAudioCL::StreamOutPipeAbortCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                                   PVOID Context)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(Irp);
    KeSetEvent(static_cast<PKEVENT>(Context), IO_SOUND_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS CUSBAudioCL::RenderPipeAbort()
{
    PAGED_CODE();
    AudioStreamingInterface *render = RenderInterface;
    if (render == nullptr || render->DataPipe == nullptr ||
        render->DataPipe->PipeHandle == nullptr) {
        return STATUS_UNSUCCESSFUL;
    }
    const PUSBD_PIPE_INFORMATION pipes[kRenderPipes] = {render->DataPipe, render->FeedbackPipe};
    struct _URB_PIPE_REQUEST urbs[kRenderPipes];
    KEVENT events[kRenderPipes];
    PIRP irps[kRenderPipes] = {};
    PVOID waits[kRenderPipes];
    ULONG waiting = 0;
    for (ULONG i = 0; i < kRenderPipes; ++i) {
        if (pipes[i] == nullptr || pipes[i]->PipeHandle == nullptr) {
            continue;
        }
        RtlZeroMemory(&urbs[i], sizeof(urbs[i]));
        urbs[i].Hdr.Length = sizeof(urbs[i]);
        urbs[i].Hdr.Function = URB_FUNCTION_ABORT_PIPE;
        urbs[i].PipeHandle = pipes[i]->PipeHandle;
        irps[i] = IoAllocateIrp(LowerDevice->StackSize, FALSE);
        if (irps[i] == nullptr) {
            QuenTrace(TRACE_LEVEL_ERROR, "no IRP to abort endpoint 0x%02X",
                      pipes[i]->EndpointAddress);
            continue;
        }
        KeInitializeEvent(&events[i], NotificationEvent, FALSE);
        PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irps[i]);
        stack->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        stack->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
        stack->Parameters.Others.Argument1 = &urbs[i];
        IoSetCompletionRoutine(irps[i], StreamOutPipeAbortCompletion, &events[i], TRUE, TRUE, TRUE);
        IoCallDriver(LowerDevice, irps[i]);
        waits[waiting++] = &events[i];
    }
    if (waiting != 0) {
        KeWaitForMultipleObjects(waiting, waits, WaitAll, Executive, KernelMode, FALSE, nullptr,
                                 nullptr);
    }

    // The first pipe that was not aborted decides; one without an IRP was not aborted either.
    NTSTATUS result = STATUS_SUCCESS;
    for (ULONG i = 0; i < kRenderPipes; ++i) {
        if (pipes[i] == nullptr || pipes[i]->PipeHandle == nullptr) {
            continue;
        }
        const NTSTATUS status =
            irps[i] != nullptr ? irps[i]->IoStatus.Status : STATUS_INSUFFICIENT_RESOURCES;
        if (NT_SUCCESS(result) && !NT_SUCCESS(status)) {
            result = status;
        }
        if (irps[i] != nullptr) {
            IoFreeIrp(irps[i]);
        }
    }
    if (!NT_SUCCESS(result)) {
        QuenTrace(TRACE_LEVEL_ERROR, "failed, status 0x%08lX", result);
    }
    return result;
}
