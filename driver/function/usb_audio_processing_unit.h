// CUSBAudioProcessingUnit: an Audio Class 1.0 processing unit (up/down mix, stereo extender,
// reverb...). The driver exposes it only as a device-specific node and controls nothing in it.
#pragma once

#include "function/usb_audio_entity.h"

class CUSBAudioProcessingUnit : public CUSBAudioEntity {
public:
    CUSBAudioProcessingUnit(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    // STATUS_NOT_IMPLEMENTED: its inputs are not followed.
    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    int GetSourceId(ULONG Index) override;
};
