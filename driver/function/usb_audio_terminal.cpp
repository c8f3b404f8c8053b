#include "function/usb_audio_terminal.h"

#include "driver_trace.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_input_terminal.h"
#include "function/usb_audio_output_terminal.h"
#include "usb/usb_audio_cl.h"

CUSBAudioTerminal::CUSBAudioTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioEntity(AudioCL, Descriptor)
{
}

USHORT CUSBAudioTerminal::GetTerminalType() const
{
    if (Descriptor == nullptr)
        return USB_AUDIO_TERMINAL_TYPE_UNDEFINED;
    return UsbAudioReadUshort(Descriptor + USB_AUDIO_TERMINAL_TYPE);
}

CUSBAudioClockEntity *CUSBAudioTerminal::GetClockEntity() const
{
    // The subtype made the terminal's class.
    if (GetSubtype() == USB_AUDIO_AC_INPUT_TERMINAL)
        return static_cast<const CUSBAudioInputTerminal *>(this)->ClockEntity;
    return static_cast<const CUSBAudioOutputTerminal *>(this)->ClockEntity;
}

NTSTATUS CUSBAudioTerminal::LinkClock(ULONG ClockOffset, CUSBAudioClockEntity **Clock)
{
    *Clock = nullptr;
    if (!AudioCL->IsAudioClass2)
        return STATUS_SUCCESS;
    *Clock = CUSBAudioClockEntity::Find(AudioCL, Descriptor[ClockOffset]);
    if (*Clock == nullptr) {
        char name[32];
        GetName(name, sizeof(name));
        QuenTrace(TRACE_LEVEL_ERROR, "%s: no clock entity %u", name, Descriptor[ClockOffset]);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

int CUSBAudioTerminal::GetClockIdAt(ULONG ClockOffset)
{
    return AudioCL->IsAudioClass2 ? Descriptor[ClockOffset] : -1;
}
