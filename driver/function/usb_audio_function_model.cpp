// CUSBAudioCL's audio function model as a whole: built once at device start, in order, from the
// configuration descriptor CUSBCL read, and freed with the object.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_descriptor_checks.h"

NTSTATUS CUSBAudioCL::Initialize(PDEVICE_OBJECT LowerDevice, ULONG IrpCount)
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry");
    NTSTATUS status = CUSBCL::Initialize(LowerDevice, IrpCount);
    if (NT_SUCCESS(status))
        status = UsbAudioCheckConfiguration(ConfigurationDescriptor);
    if (NT_SUCCESS(status))
        status = FindAudioControlInterface();
    if (NT_SUCCESS(status)) {
        // The marker only adds a capability; a device without a readable string still starts.
        DetectDsdSupport();
        status = ParseClassSpecificHeader();
    }
    if (NT_SUCCESS(status))
        status = ParseEntities();
    if (NT_SUCCESS(status))
        status = EnumerateStreamingInterfaces();
    if (NT_SUCCESS(status))
        status = LinkStreamingInterfaces();
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "failed, status 0x%08lX", status);
        return status;
    }

    AudioStreamingInterface *const withRanges[] = {RenderInterface, CaptureInterface};
    for (AudioStreamingInterface *stream : withRanges) {
        if (stream == nullptr)
            continue;
        // A failed build leaves the interface without a data-range block.
        status = BuildDataRanges(stream);
    }
    QuenTrace(TRACE_LEVEL_VERBOSE, "exit, status 0x%08lX", status);
    return status;
}

void CUSBAudioCL::FreeFunctionModel()
{
    FreeStreamingInterfaces();
    FreeEntities();
}
