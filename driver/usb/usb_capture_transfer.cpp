// CUSBAudioCL: capture transfers on the capture interface's data pipe.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"

NTSTATUS CUSBAudioCL::SubmitCaptureTransfer(PVOID Buffer, ULONG Length,
                                            PUSB_TRANSFER_CALLBACK Callback, PVOID Context,
                                            ULONG StartFrame)
{
    if (CaptureInterface == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (CaptureInterface->DataPipe == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no capture data pipe");
        return STATUS_NOT_SUPPORTED;
    }
    return SubmitTransfer(CaptureInterface->DataPipe, Buffer, Length, Callback, Context,
                          StartFrame);
}
