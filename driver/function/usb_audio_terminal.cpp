#include "function/usb_audio_terminal.h"

#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_input_terminal.h"
#include "function/usb_audio_output_terminal.h"

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
