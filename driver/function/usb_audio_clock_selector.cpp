#include "function/usb_audio_clock_selector.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_audio_cl.h"

// Selectors nested deeper than this, or more selector inputs than this to walk in all, are
// refused: every rate operation walks the inputs, and each step may be a request to the device.
#define CLOCK_SELECTOR_MAX_NESTING 8
#define CLOCK_SELECTOR_MAX_INPUT_WALK 1024

CUSBAudioClockSelector::CUSBAudioClockSelector(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioClockEntity(AudioCL, Descriptor)
{
}

NTSTATUS CUSBAudioClockSelector::Link()
{
    NTSTATUS status = LinkClock();
    if (!NT_SUCCESS(status))
        return status;
    ULONG budget = CLOCK_SELECTOR_MAX_INPUT_WALK;
    status = CheckClockGraph(0, &budget);
    if (!NT_SUCCESS(status))
        QuenTrace(TRACE_LEVEL_ERROR, "clock selector %u: inputs nest too deep or loop", GetId());
    return status;
}

NTSTATUS CUSBAudioClockSelector::CheckClockGraph(ULONG Depth, PULONG Budget) const
{
    if (Depth >= CLOCK_SELECTOR_MAX_NESTING)
        return STATUS_NOT_SUPPORTED;
    for (ULONG pin = 1; pin <= GetPinCount(); ++pin) {
        if (*Budget == 0)
            return STATUS_NOT_SUPPORTED;
        --*Budget;
        CUSBAudioClockEntity *input = GetInput(pin);
        if (input == nullptr || input->GetSubtype() != USB_AUDIO_AC_CLOCK_SELECTOR)
            continue;
        const NTSTATUS status =
            static_cast<CUSBAudioClockSelector *>(input)->CheckClockGraph(Depth + 1, Budget);
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSelector::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "ClockSelector");
}

int CUSBAudioClockSelector::GetSourceId(ULONG Index)
{
    if (Index >= GetPinCount())
        return -1;
    return Descriptor[USB_AUDIO_CLOCK_SELECTOR_SOURCES + Index];
}

UCHAR CUSBAudioClockSelector::GetPinCount() const
{
    return Descriptor[USB_AUDIO_CLOCK_SELECTOR_PIN_COUNT];
}

CUSBAudioClockEntity *CUSBAudioClockSelector::GetInput(ULONG Pin) const
{
    if (Pin == 0 || Pin > GetPinCount())
        return nullptr;
    return Find(AudioCL, Descriptor[USB_AUDIO_CLOCK_SELECTOR_SOURCES + Pin - 1]);
}

NTSTATUS CUSBAudioClockSelector::GetSelectedInput(PUCHAR Pin)
{
    PAGED_CODE();
    const UCHAR pins = GetPinCount();
    if (pins == 0)
        return STATUS_UNSUCCESSFUL;
    if (pins == 1) {
        *Pin = 1;
        return STATUS_SUCCESS;
    }
    UCHAR value = 0;
    ULONG returned = 0;
    NTSTATUS status = AudioCL->SendAudioClassRequest(
        USB_AUDIO_REQUEST_TYPE_GET, USB_AUDIO_REQUEST_CUR, USB_AUDIO_CX_CLOCK_SELECTOR_CONTROL, 0,
        GetId(), sizeof(value), &value, &returned);
    if (!NT_SUCCESS(status))
        return status;
    // An empty answer, or a pin the selector does not have: no input is selected.
    if (returned != sizeof(value) || value == 0 || value > pins) {
        QuenTrace(TRACE_LEVEL_ERROR, "clock selector %u reports pin %u of %u", GetId(), value,
                  pins);
        return STATUS_NOT_SUPPORTED;
    }
    *Pin = value;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBAudioClockSelector::GetSelectedClock(CUSBAudioClockEntity **Clock)
{
    PAGED_CODE();
    UCHAR pin;
    const NTSTATUS status = GetSelectedInput(&pin);
    if (!NT_SUCCESS(status))
        return status;
    *Clock = GetInput(pin);
    return *Clock != nullptr ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
}

NTSTATUS CUSBAudioClockSelector::GetSampleRate(PULONG Rate)
{
    PAGED_CODE();
    CUSBAudioClockEntity *clock;
    const NTSTATUS status = GetSelectedClock(&clock);
    if (!NT_SUCCESS(status))
        return status;
    return clock->GetSampleRate(Rate);
}

template <typename Ask>
NTSTATUS CUSBAudioClockSelector::AskInputs(BOOLEAN UntilSuccess, Ask AskInput) const
{
    NTSTATUS status = STATUS_NOT_SUPPORTED;
    for (ULONG pin = 1; pin <= GetPinCount(); ++pin) {
        CUSBAudioClockEntity *input = GetInput(pin);
        if (input == nullptr)
            return STATUS_NOT_SUPPORTED;
        status = AskInput(input, pin);
        if (UntilSuccess && NT_SUCCESS(status))
            break;
    }
    return status;
}

NTSTATUS CUSBAudioClockSelector::GetSampleRateRange(PULONG Minimum, PULONG Maximum,
                                                    ULONG LowerBound, ULONG UpperBound)
{
    PAGED_CODE();
    *Minimum = 0;
    *Maximum = 0;
    return AskInputs(
        FALSE, [Minimum, Maximum, LowerBound, UpperBound](CUSBAudioClockEntity *input, ULONG) {
            ULONG minimum;
            ULONG maximum;
            const NTSTATUS status =
                input->GetSampleRateRange(&minimum, &maximum, LowerBound, UpperBound);
            if (minimum != 0 && (*Minimum == 0 || minimum < *Minimum))
                *Minimum = minimum;
            if (maximum > *Maximum)
                *Maximum = maximum;
            return status;
        });
}

NTSTATUS CUSBAudioClockSelector::IsSampleRateSupported(ULONG Rate)
{
    PAGED_CODE();
    return AskInputs(TRUE, [Rate](CUSBAudioClockEntity *input, ULONG) {
        return input->IsSampleRateSupported(Rate);
    });
}

NTSTATUS CUSBAudioClockSelector::SetSampleRate(ULONG Rate)
{
    PAGED_CODE();
    return AskInputs(TRUE, [this, Rate](CUSBAudioClockEntity *input, ULONG pin) {
        NTSTATUS status = input->IsSampleRateSupported(Rate);
        if (NT_SUCCESS(status))
            status = input->SetSampleRate(Rate);
        if (!NT_SUCCESS(status))
            return status;
        UCHAR value = UCHAR(pin);
        return AudioCL->SendAudioClassRequest(USB_AUDIO_REQUEST_TYPE_SET, USB_AUDIO_REQUEST_CUR,
                                              USB_AUDIO_CX_CLOCK_SELECTOR_CONTROL, 0, GetId(),
                                              sizeof(value), &value);
    });
}

BOOLEAN CUSBAudioClockSelector::IsValid()
{
    PAGED_CODE();
    CUSBAudioClockEntity *clock;
    if (!NT_SUCCESS(GetSelectedClock(&clock)))
        return FALSE;
    return clock->IsValid();
}
