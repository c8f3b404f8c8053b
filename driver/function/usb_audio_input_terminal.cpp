#include "function/usb_audio_input_terminal.h"

#include "function/usb_audio_descriptors.h"

CUSBAudioInputTerminal::CUSBAudioInputTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioTerminal(AudioCL, Descriptor), ClockEntity(nullptr)
{
}

NTSTATUS CUSBAudioInputTerminal::Link()
{
    return LinkClock(USB_AUDIO_INPUT_TERMINAL_CLOCK2, &ClockEntity);
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
    return GetClockIdAt(USB_AUDIO_INPUT_TERMINAL_CLOCK2);
}
