#include "adapter/feedback_validation.h"

ULONG ValidFeedbackValue(ULONG Value, ULONG Nominal)
{
    // Signed 64-bit distances: a nominal value below one sample (rates under 8 kHz at high
    // speed) must not wrap the lower bound around.
    const LONGLONG distance = LONGLONG(Value) - LONGLONG(Nominal);
    const LONGLONG oneSample = FEEDBACK_ONE_SAMPLE;
    if (Value < FEEDBACK_ONE_SAMPLE || distance < -oneSample || distance > oneSample) {
        return Nominal;
    }
    return Value;
}
