// Numbers and field offsets of the USB Audio Class 1.0 and 2.0 descriptors the audio function
// model reads, and the little-endian readers for their multi-byte fields. Every offset is a byte
// offset within its descriptor.
#pragma once

#include "quen_driver_platform.h"

// Interface class codes and subclasses.
#define USB_AUDIO_INTERFACE_CLASS 0x01
#define USB_VENDOR_INTERFACE_CLASS 0xFF
#define USB_AUDIO_SUBCLASS_CONTROL 0x01
#define USB_AUDIO_SUBCLASS_STREAMING 0x02

// Class-specific descriptor types.
#define USB_AUDIO_CS_INTERFACE 0x24
#define USB_AUDIO_CS_ENDPOINT 0x25

// Every class-specific descriptor carries its subtype here; entities carry their id after it.
#define USB_AUDIO_SUBTYPE_OFFSET 2
#define USB_AUDIO_ENTITY_ID_OFFSET 3

// Audio control interface descriptor subtypes. 7 to 9 differ in meaning between the two
// versions; the parse table decides what each one does.
#define USB_AUDIO_AC_HEADER 0x01
#define USB_AUDIO_AC_INPUT_TERMINAL 0x02
#define USB_AUDIO_AC_OUTPUT_TERMINAL 0x03
#define USB_AUDIO_AC_MIXER_UNIT 0x04
#define USB_AUDIO_AC_SELECTOR_UNIT 0x05
#define USB_AUDIO_AC_FEATURE_UNIT 0x06
#define USB_AUDIO_AC_PROCESSING_UNIT1 0x07 // Audio Class 1.0 (2.0: effect unit)
#define USB_AUDIO_AC_PROCESSING_UNIT2 0x08 // Audio Class 2.0 (1.0: extension unit)
#define USB_AUDIO_AC_EXTENSION_UNIT2 0x09  // Audio Class 2.0
#define USB_AUDIO_AC_CLOCK_SOURCE 0x0A
#define USB_AUDIO_AC_CLOCK_SELECTOR 0x0B
#define USB_AUDIO_AC_CLOCK_MULTIPLIER 0x0C
#define USB_AUDIO_AC_SAMPLE_RATE_CONVERTER 0x0D

// Audio streaming interface and endpoint descriptor subtypes.
#define USB_AUDIO_AS_GENERAL 0x01
#define USB_AUDIO_AS_FORMAT_TYPE 0x02
#define USB_AUDIO_EP_GENERAL 0x01

#define USB_AUDIO_FORMAT_TYPE_I 0x01

// bcdADC of an Audio Class 2.0 function; any other value is handled as 1.0.
#define USB_AUDIO_BCD_ADC_2_0 0x0200

// The audio control header: bcdADC, and wTotalLength, which moved by one byte in 2.0.
#define USB_AUDIO_HEADER_BCD_ADC 3
#define USB_AUDIO_HEADER_TOTAL_LENGTH1 5
#define USB_AUDIO_HEADER_TOTAL_LENGTH2 6

// Terminals.
#define USB_AUDIO_TERMINAL_TYPE 4
#define USB_AUDIO_TERMINAL_TYPE_UNDEFINED 0x0100
#define USB_AUDIO_TERMINAL_TYPE_USB_STREAMING 0x0101
#define USB_AUDIO_INPUT_TERMINAL_CLOCK2 7
#define USB_AUDIO_OUTPUT_TERMINAL_SOURCE 7
#define USB_AUDIO_OUTPUT_TERMINAL_CLOCK2 8

// Feature unit: bSourceID; Class 2.0 bmaControls are 4 bytes per channel from byte 5, Class 1.0
// bmaControls bControlSize bytes per channel from byte 6. The fixed part around the channel
// map is 6 bytes in 2.0 and 7 in 1.0 (iFeature closes both).
#define USB_AUDIO_FEATURE_UNIT_SOURCE 4
#define USB_AUDIO_FEATURE_UNIT_CONTROLS2 5
#define USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE2 4
#define USB_AUDIO_FEATURE_UNIT_FIXED2 6
#define USB_AUDIO_FEATURE_UNIT_CONTROL_SIZE1 5
#define USB_AUDIO_FEATURE_UNIT_CONTROLS1 6
#define USB_AUDIO_FEATURE_UNIT_FIXED1 7

// Clock entities.
#define USB_AUDIO_CLOCK_SOURCE_CONTROLS 5
#define USB_AUDIO_CLOCK_SELECTOR_PIN_COUNT 4
#define USB_AUDIO_CLOCK_SELECTOR_SOURCES 5

// AS_GENERAL: bTerminalLink in both versions; Class 2.0 bFormatType, bmFormats and
// bNrChannels; Class 1.0 wFormatTag.
#define USB_AUDIO_AS_TERMINAL_LINK 3
#define USB_AUDIO_AS_FORMAT_TYPE2 5
#define USB_AUDIO_AS_FORMATS2 6
#define USB_AUDIO_AS_CHANNELS2 10
#define USB_AUDIO_AS_FORMAT_TAG1 5

// FORMAT_TYPE: bFormatType in both versions; Class 2.0 bSubslotSize and bBitResolution;
// Class 1.0 bNrChannels, bSubframeSize, bBitResolution, bSamFreqType and the 3-byte rates.
#define USB_AUDIO_FORMAT_TYPE 3
#define USB_AUDIO_FORMAT_SUBSLOT_SIZE2 4
#define USB_AUDIO_FORMAT_BIT_RESOLUTION2 5
#define USB_AUDIO_FORMAT_CHANNELS1 4
#define USB_AUDIO_FORMAT_SUBFRAME_SIZE1 5
#define USB_AUDIO_FORMAT_BIT_RESOLUTION1 6
#define USB_AUDIO_FORMAT_SAM_FREQ_TYPE1 7
#define USB_AUDIO_FORMAT_SAM_FREQ1 8
#define USB_AUDIO_SAM_FREQ_SIZE 3

// Class-specific EP_GENERAL (Class 1.0): bmAttributes, bit 0 the sampling frequency control.
#define USB_AUDIO_EP_GENERAL_ATTRIBUTES 3
#define USB_AUDIO_EP_SAMPLING_FREQUENCY_CONTROL 0x01

// Audio Class 1.0 endpoints are 9 bytes: bRefresh and bSynchAddress follow bInterval.
#define USB_AUDIO_ENDPOINT_LENGTH1 9
#define USB_AUDIO_ENDPOINT_REFRESH1 7
#define USB_AUDIO_ENDPOINT_SYNCH_ADDRESS1 8

// Class requests to entities: bmRequestType, bRequest and control selectors.
#define USB_AUDIO_REQUEST_TYPE_GET 0xA1 // class, interface, device to host
#define USB_AUDIO_REQUEST_TYPE_SET 0x21 // class, interface, host to device
#define USB_AUDIO_REQUEST_CUR 0x01
#define USB_AUDIO_REQUEST_RANGE 0x02
#define USB_AUDIO_CS_SAM_FREQ_CONTROL 0x01
#define USB_AUDIO_CS_CLOCK_VALID_CONTROL 0x02
#define USB_AUDIO_CX_CLOCK_SELECTOR_CONTROL 0x01

inline USHORT UsbAudioReadUshort(const UCHAR *Field) { return USHORT(Field[0] | Field[1] << 8); }

inline ULONG UsbAudioRead24(const UCHAR *Field)
{
    return ULONG(Field[0]) | ULONG(Field[1]) << 8 | ULONG(Field[2]) << 16;
}

inline ULONG UsbAudioReadUlong(const UCHAR *Field)
{
    return UsbAudioRead24(Field) | ULONG(Field[3]) << 24;
}

inline void UsbAudioWriteUlong(UCHAR *Field, ULONG Value)
{
    Field[0] = UCHAR(Value);
    Field[1] = UCHAR(Value >> 8);
    Field[2] = UCHAR(Value >> 16);
    Field[3] = UCHAR(Value >> 24);
}
