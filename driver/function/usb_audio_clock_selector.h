// CUSBAudioClockSelector: an Audio Class 2.0 clock selector. It picks one of its input clock
// entities (pins numbered from 1); rate operations go to the selected input or ask every input,
// and setting a rate moves the selector to the first input that takes it.
#pragma once

#include "function/usb_audio_clock_entity.h"

class CUSBAudioClockSelector : public CUSBAudioClockEntity {
public:
    CUSBAudioClockSelector(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    // Also refuses a clock graph under the selector that the rate operations, which recurse
    // through the inputs, could not walk in bounded time: a cycle, or too deep or too wide.
    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    // baCSourceID[Index], or -1 past the last pin.
    int GetSourceId(ULONG Index) override;

    NTSTATUS GetSampleRate(PULONG Rate) override;
    NTSTATUS GetSampleRateRange(PULONG Minimum, PULONG Maximum, ULONG LowerBound,
                                ULONG UpperBound) override;
    NTSTATUS IsSampleRateSupported(ULONG Rate) override;
    NTSTATUS SetSampleRate(ULONG Rate) override;
    BOOLEAN IsValid() override;

    // The selected pin, from 1.
    NTSTATUS GetSelectedInput(PUCHAR Pin);

private:
    UCHAR GetPinCount() const;
    // The clock entity on a pin (from 1), or null.
    CUSBAudioClockEntity *GetInput(ULONG Pin) const;
    // The clock entity on the selected pin; a failure when it cannot be read or has none.
    NTSTATUS GetSelectedClock(CUSBAudioClockEntity **Clock);
    NTSTATUS CheckClockGraph(ULONG Depth, PULONG Budget) const;
    // Asks the input on each pin in turn, AskInput(input, pin) giving a status, until one
    // succeeds when UntilSuccess is set. A pin without a clock entity ends the walk with
    // STATUS_NOT_SUPPORTED; otherwise the last answer is the result (STATUS_NOT_SUPPORTED
    // without pins).
    template <typename Ask>
    NTSTATUS AskInputs(BOOLEAN UntilSuccess, Ask AskInput) const;
};
