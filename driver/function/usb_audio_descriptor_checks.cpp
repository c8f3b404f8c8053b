#include "function/usb_audio_descriptor_checks.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"

// Shortest descriptors that hold the fields read from them.
#define HEADER_MIN_LENGTH1 7 // wTotalLength at 5
#define HEADER_MIN_LENGTH2 8 // wTotalLength at 6
#define ENTITY_MIN_LENGTH 4  // the entity id
#define INPUT_TERMINAL_MIN_LENGTH1 6
#define INPUT_TERMINAL_MIN_LENGTH2 8
#define OUTPUT_TERMINAL_MIN_LENGTH1 8
#define OUTPUT_TERMINAL_MIN_LENGTH2 9
#define CLOCK_SOURCE_MIN_LENGTH 6
#define CLOCK_SELECTOR_MIN_LENGTH 5 // without its pins
#define AS_GENERAL_MIN_LENGTH1 7
#define AS_GENERAL_MIN_LENGTH2 11
#define FORMAT_TYPE_MIN_LENGTH 4
#define FORMAT_TYPE_I_MIN_LENGTH2 6
#define EP_GENERAL_MIN_LENGTH 4
#define CLASS_SPECIFIC_MIN_LENGTH 3 // with its subtype

// A continuous Audio Class 1.0 rate range gives two frequencies.
#define CONTINUOUS_RATE_COUNT 2
// Subslots and subframes are 1 to 4 bytes.
#define MAX_SAMPLE_BYTES 4

NTSTATUS UsbAudioCheckConfiguration(PUSB_CONFIGURATION_DESCRIPTOR Configuration)
{
    const ULONG total = Configuration->wTotalLength;
    if (total < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        Configuration->bLength < sizeof(USB_CONFIGURATION_DESCRIPTOR) ||
        Configuration->bLength > total) {
        QuenTrace(TRACE_LEVEL_ERROR, "configuration header: bLength %u wTotalLength %lu",
                  Configuration->bLength, total);
        return STATUS_NOT_SUPPORTED;
    }
    const UCHAR *bytes = reinterpret_cast<const UCHAR *>(Configuration);
    ULONG offset = 0;
    while (offset < total) {
        const ULONG left = total - offset;
        const ULONG length = bytes[offset];
        ULONG minimum = sizeof(USB_COMMON_DESCRIPTOR);
        if (left >= sizeof(USB_COMMON_DESCRIPTOR)) {
            switch (bytes[offset + 1]) {
            case USB_INTERFACE_DESCRIPTOR_TYPE: minimum = sizeof(USB_INTERFACE_DESCRIPTOR); break;
            case USB_ENDPOINT_DESCRIPTOR_TYPE: minimum = sizeof(USB_ENDPOINT_DESCRIPTOR); break;
            case USB_AUDIO_CS_INTERFACE:
            case USB_AUDIO_CS_ENDPOINT: minimum = CLASS_SPECIFIC_MIN_LENGTH; break;
            default: break;
            }
        }
        if (left < sizeof(USB_COMMON_DESCRIPTOR) || length < minimum || length > left) {
            QuenTrace(TRACE_LEVEL_ERROR, "descriptor at %lu: bLength %lu, %lu bytes left", offset,
                      length, left);
            return STATUS_NOT_SUPPORTED;
        }
        offset += length;
    }
    return STATUS_SUCCESS;
}

PUSB_INTERFACE_DESCRIPTOR UsbAudioFindInterface(PUSB_CONFIGURATION_DESCRIPTOR Configuration,
                                                LONG InterfaceNumber, LONG AlternateSetting,
                                                LONG InterfaceClass, LONG InterfaceSubClass)
{
    PUSB_INTERFACE_DESCRIPTOR found = USBD_ParseConfigurationDescriptorEx(
        Configuration, Configuration, InterfaceNumber, AlternateSetting, InterfaceClass,
        InterfaceSubClass, -1);
    if (found == nullptr) {
        return nullptr;
    }
    if (USBD_ParseConfigurationDescriptorEx(Configuration, Configuration, found->bInterfaceNumber,
                                            found->bAlternateSetting, -1, -1, -1) != found) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u setting %u: an earlier descriptor has both",
                  found->bInterfaceNumber, found->bAlternateSetting);
        return nullptr;
    }
    return found;
}

BOOLEAN UsbAudioHeaderFits(const UCHAR *Header)
{
    const ULONG length = Header[0];
    if (length < USB_AUDIO_HEADER_BCD_ADC + sizeof(USHORT))
        return FALSE;
    const BOOLEAN class2 =
        UsbAudioReadUshort(Header + USB_AUDIO_HEADER_BCD_ADC) == USB_AUDIO_BCD_ADC_2_0;
    return length >= (class2 ? HEADER_MIN_LENGTH2 : HEADER_MIN_LENGTH1);
}

namespace {

BOOLEAN FeatureUnitFits(const UCHAR *Descriptor, BOOLEAN AudioClass2)
{
    const ULONG length = Descriptor[0];
    if (AudioClass2) {
        return length >= USB_AUDIO_FEATURE_UNIT_FIXED2 + USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE2 &&
               (length - USB_AUDIO_FEATURE_UNIT_FIXED2) % USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE2 == 0;
    }
    if (length <= USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE1)
        return FALSE;
    const ULONG size = Descriptor[USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE1];
    return size != 0 && length >= USB_AUDIO_FEATURE_UNIT_FIXED1 + size &&
           (length - USB_AUDIO_FEATURE_UNIT_FIXED1) % size == 0;
}

ULONG EntityMinimumLength(const UCHAR *Descriptor, BOOLEAN AudioClass2)
{
    switch (Descriptor[USB_AUDIO_SUBTYPE_OFFSET]) {
    case USB_AUDIO_AC_INPUT_TERMINAL:
        return AudioClass2 ? INPUT_TERMINAL_MIN_LENGTH2 : INPUT_TERMINAL_MIN_LENGTH1;
    case USB_AUDIO_AC_OUTPUT_TERMINAL:
        return AudioClass2 ? OUTPUT_TERMINAL_MIN_LENGTH2 : OUTPUT_TERMINAL_MIN_LENGTH1;
    case USB_AUDIO_AC_CLOCK_SOURCE: return CLOCK_SOURCE_MIN_LENGTH;
    case USB_AUDIO_AC_CLOCK_SELECTOR: {
        if (Descriptor[0] < CLOCK_SELECTOR_MIN_LENGTH)
            return CLOCK_SELECTOR_MIN_LENGTH;
        return CLOCK_SELECTOR_MIN_LENGTH + Descriptor[USB_AUDIO_CLOCK_SELECTOR_PIN_COUNT];
    }
    default: return ENTITY_MIN_LENGTH;
    }
}

} // namespace

BOOLEAN UsbAudioEntityFits(const UCHAR *Descriptor, BOOLEAN AudioClass2)
{
    BOOLEAN fits = Descriptor[0] >= ENTITY_MIN_LENGTH &&
                   Descriptor[0] >= EntityMinimumLength(Descriptor, AudioClass2);
    if (fits && Descriptor[USB_AUDIO_SUBTYPE_OFFSET] == USB_AUDIO_AC_FEATURE_UNIT)
        fits = FeatureUnitFits(Descriptor, AudioClass2);
    if (!fits) {
        QuenTrace(TRACE_LEVEL_ERROR, "entity descriptor subtype %u, bLength %u, is malformed",
                  Descriptor[USB_AUDIO_SUBTYPE_OFFSET], Descriptor[0]);
    }
    return fits;
}

namespace {

BOOLEAN SampleLayoutPossible(ULONG Channels, ULONG Bytes, ULONG Bits)
{
    return Channels != 0 && Bytes != 0 && Bytes <= MAX_SAMPLE_BYTES && Bits != 0 &&
           Bits <= Bytes * 8;
}

BOOLEAN FormatTypeFits2(const UCHAR *AsGeneral, const UCHAR *FormatType)
{
    const BOOLEAN typeI =
        FormatType[USB_AUDIO_FORMAT_TYPE] == USB_AUDIO_FORMAT_TYPE_I ||
        (AsGeneral != nullptr && AsGeneral[USB_AUDIO_AS_FORMAT_TYPE2] == USB_AUDIO_FORMAT_TYPE_I);
    if (!typeI)
        return TRUE;
    if (FormatType[0] < FORMAT_TYPE_I_MIN_LENGTH2)
        return FALSE;
    // The channel count lives in AS_GENERAL; a setting without one never takes part.
    const ULONG channels = AsGeneral != nullptr ? AsGeneral[USB_AUDIO_AS_CHANNELS2] : 1;
    return SampleLayoutPossible(channels, FormatType[USB_AUDIO_FORMAT_SUBSLOT_SIZE2],
                                FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION2]);
}

BOOLEAN FormatTypeFits1(const UCHAR *FormatType)
{
    if (FormatType[USB_AUDIO_FORMAT_TYPE] != USB_AUDIO_FORMAT_TYPE_I)
        return TRUE;
    const ULONG length = FormatType[0];
    if (length <= USB_AUDIO_FORMAT_SAM_FREQ_TYPE1)
        return FALSE;
    const ULONG rates = FormatType[USB_AUDIO_FORMAT_SAM_FREQ_TYPE1] != 0
                            ? FormatType[USB_AUDIO_FORMAT_SAM_FREQ_TYPE1]
                            : CONTINUOUS_RATE_COUNT;
    return length >= USB_AUDIO_FORMAT_SAM_FREQ1 + rates * USB_AUDIO_SAM_FREQ_SIZE &&
           SampleLayoutPossible(FormatType[USB_AUDIO_FORMAT_CHANNELS1],
                                FormatType[USB_AUDIO_FORMAT_SUBFRAME_SIZE1],
                                FormatType[USB_AUDIO_FORMAT_BIT_RESOLUTION1]);
}

} // namespace

BOOLEAN UsbAudioStreamingDescriptorsFit(const UCHAR *AsGeneral, const UCHAR *FormatType,
                                        const UCHAR *EpGeneral, BOOLEAN AudioClass2)
{
    BOOLEAN fits = TRUE;
    if (AsGeneral != nullptr)
        fits = AsGeneral[0] >= (AudioClass2 ? AS_GENERAL_MIN_LENGTH2 : AS_GENERAL_MIN_LENGTH1);
    if (fits && FormatType != nullptr) {
        fits = FormatType[0] >= FORMAT_TYPE_MIN_LENGTH &&
               (AudioClass2 ? FormatTypeFits2(AsGeneral, FormatType) : FormatTypeFits1(FormatType));
    }
    if (fits && EpGeneral != nullptr)
        fits = EpGeneral[0] >= EP_GENERAL_MIN_LENGTH;
    return fits;
}
