#include "function/usb_audio_output_terminal.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_audio_cl.h"

CUSBAudioOutputTerminal::CUSBAudioOutputTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioTerminal(AudioCL, Descriptor), ClockEntity(nullptr), SourceEntity(nullptr)
{
}

NTSTATUS CUSBAudioOutputTerminal::Link()
{
    ClockEntity = nullptr;
    SourceEntity = AudioCL->FindEntity(Descriptor[USB_AUDIO_OUTPUT_TERMINAL_SOURCE]);
    if (SourceEntity == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "output terminal %u: no source entity %u", GetId(),
                  Descriptor[USB_AUDIO_OUTPUT_TERMINAL_SOURCE]);
        return STATUS_NOT_SUPPORTED;
    }
    return LinkClock(USB_AUDIO_OUTPUT_TERMINAL_CLOCK2, &ClockEntity);
}

NTSTATUS CUSBAudioOutputTerminal::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "OT");
}

int CUSBAudioOutputTerminal::GetSourceId(ULONG Index)
{
    UNREFERENCED_PARAMETER(Index);
    return Descriptor[USB_AUDIO_OUTPUT_TERMINAL_SOURCE];
}

int CUSBAudioOutputTerminal::GetClockSourceId()
{
    return GetClockIdAt(USB_AUDIO_OUTPUT_TERMINAL_CLOCK2);
}
