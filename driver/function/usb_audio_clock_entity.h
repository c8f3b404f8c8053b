// CUSBAudioClockEntity: the abstract base of the Audio Class 2.0 clock entities (clock source
// and clock selector). It adds the sampling-rate operations, virtual slots 6 to 10.
#pragma once

#include "function/usb_audio_entity.h"

class CUSBAudioClockEntity : public CUSBAudioEntity {
public:
    CUSBAudioClockEntity(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    // Virtual slots 6 to 10, in this order. Rates are in Hz.
    virtual NTSTATUS GetSampleRate(PULONG Rate) = 0;
    // The lowest and highest rate the clock runs at; a rate below LowerBound or above
    // UpperBound only counts when nothing else was found.
    virtual NTSTATUS GetSampleRateRange(PULONG Minimum, PULONG Maximum, ULONG LowerBound,
                                        ULONG UpperBound) = 0;
    // STATUS_SUCCESS or STATUS_NOT_SUPPORTED.
    virtual NTSTATUS IsSampleRateSupported(ULONG Rate) = 0;
    virtual NTSTATUS SetSampleRate(ULONG Rate) = 0;
    virtual BOOLEAN IsValid() = 0;

    // The clock entity of the function with that id, or null when there is none or the entity
    // with that id is no clock entity.
    static CUSBAudioClockEntity *Find(CUSBAudioCL *AudioCL, UCHAR Id);

protected:
    // Link() of both clock classes: they exist only in Audio Class 2.0.
    NTSTATUS LinkClock();
};
