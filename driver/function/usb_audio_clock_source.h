// CUSBAudioClockSource: an Audio Class 2.0 clock source. Its sampling frequency control is read
// and written with CUR and its rates learnt with RANGE; its validity control, when the
// descriptor announces it readable, tells whether the clock is locked.
#pragma once

#include "function/usb_audio_clock_entity.h"

class CUSBAudioClockSource : public CUSBAudioClockEntity {
public:
    CUSBAudioClockSource(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    int GetSourceId(ULONG Index) override;

    NTSTATUS GetSampleRate(PULONG Rate) override;
    NTSTATUS GetSampleRateRange(PULONG Minimum, PULONG Maximum, ULONG LowerBound,
                                ULONG UpperBound) override;
    NTSTATUS IsSampleRateSupported(ULONG Rate) override;
    NTSTATUS SetSampleRate(ULONG Rate) override;
    BOOLEAN IsValid() override;

private:
    // The subranges of the sampling frequency control's RANGE reply: *Reply is a pool block
    // (freed by the caller with ExFreePoolWithTag) holding *Count 12-byte subranges (dMIN, dMAX,
    // dRES) from byte 2.
    NTSTATUS ReadRateRange(PUCHAR *Reply, PULONG Count);
};
