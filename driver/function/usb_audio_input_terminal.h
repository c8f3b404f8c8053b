// CUSBAudioInputTerminal: where a signal enters the audio function (the host's render stream at
// a USB streaming terminal, or a microphone or line input). In Audio Class 2.0 it names the
// clock entity its signal runs on.
#pragma once

#include "function/usb_audio_terminal.h"

class CUSBAudioInputTerminal : public CUSBAudioTerminal {
public:
    CUSBAudioInputTerminal(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    int GetSourceId(ULONG Index) override;
    int GetClockSourceId() override;

    CUSBAudioClockEntity *ClockEntity; // Audio Class 2.0
};
