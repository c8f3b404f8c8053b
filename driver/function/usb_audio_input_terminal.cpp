#include "function/usb_audio_input_terminal.h"

#include "driver_trace.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_audio_cl.h"

CUSBAudioInputTerminal::CUSBAudioInputTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioTerminal(AudioCL, Descriptor), ClockEntity(nullptr)
{
}

NTSTATUS CUSBAudioInputTerminal::Link()
{
    ClockEntity = nullptr;
    if (!AudioCL->IsAudioClass2)
        return STATUS_SUCCESS;
    ClockEntity = CUSBAudioClockEntity::Find(AudioCL, Descriptor[USB_AUDIO_INPUT_TERMINAL_CLOCK2]);
    if (ClockEntity == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "input terminal %u: no clock entity %u", GetId(),
                  Descriptor[USB_AUDIO_INPUT_TERMINAL_CLOCK2]);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioInputTerminal::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "IT");
}

int CUSBAudioInputTerminal::GetSourceId(ULONG Index)
{
    UNREFERENCED_PARAMETER(Index);
    return -1;
}

int CUSBAudioInputTerminal::GetClockSourceId()
{
    return AudioCL->IsAudioClass2 ? Descriptor[USB_AUDIO_INPUT_TERMINAL_CLOCK2] : -1;
}
