// CUSBAudioOutputTerminal: where a signal leaves the audio function (the host's capture stream
// at a USB streaming terminal, or a speaker or line output). It names the entity feeding it and,
// in Audio Class 2.0, the clock entity its signal runs on.
#pragma once

#include "function/usb_audio_terminal.h"

class CUSBAudioOutputTerminal : public CUSBAudioTerminal {
public:
    CUSBAudioOutputTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    // bSourceID.
    int GetSourceId(ULONG Index) override;
    int GetClockSourceId() override;

    CUSBAudioClockEntity *ClockEntity; // Audio Class 2.0
    CUSBAudioEntity *SourceEntity;
};
