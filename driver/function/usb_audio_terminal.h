// CUSBAudioTerminal: the abstract base of input and output terminals, where the audio function
// meets the outside world (USB streaming, a speaker, a line input...). Adds virtual slot 6.
#pragma once

#include "function/usb_audio_entity.h"

class CUSBAudioClockEntity;

class CUSBAudioTerminal : public CUSBAudioEntity {
public:
    CUSBAudioTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    // Virtual slot 6: the id of the terminal's clock entity (Audio Class 2.0), or -1.
    virtual int GetClockSourceId() = 0;

    // wTerminalType; USB_AUDIO_TERMINAL_TYPE_UNDEFINED without a descriptor.
    USHORT GetTerminalType() const;
    // The clock entity Link() found (Audio Class 2.0), or null.
    CUSBAudioClockEntity *GetClockEntity() const;

protected:
    // Link() of both terminal classes, for the clock named at descriptor offset ClockOffset:
    // none in Audio Class 1.0; in 2.0 the clock entity with that id, STATUS_NOT_SUPPORTED when
    // there is none.
    NTSTATUS LinkClock(ULONG ClockOffset, CUSBAudioClockEntity **Clock);
    // GetClockSourceId() of both terminal classes: the id at ClockOffset in Audio Class 2.0.
    int GetClockIdAt(ULONG ClockOffset);
};
