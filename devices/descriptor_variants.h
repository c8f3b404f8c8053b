// Descriptor sets a driver must survive: deliberately broken ones, and functions with units
// or formats outside what a simple DAC uses. Each starts from a valid function made with the
// builder (Audio Class 2.0, high speed: clock 10, IT 1 -> FU 2 -> OT 3, render interface 1 with
// 24-bit stereo and explicit feedback; or its Audio Class 1.0 counterpart without a clock) and
// changes one thing. Serve them with RawDescriptorModel.
#pragma once

#include "raw_descriptor_model.h"

#include <memory>

namespace devices {

enum class DescriptorVariant {
    // Broken.
    ZeroLengthDescriptor,           // the feature unit's bLength is 0
    DescriptorPastEnd,              // the last descriptor's bLength runs past the configuration
    ConfigurationShorterThanTotal,  // wTotalLength announces 16 bytes the device never returns
    ControlHeaderOverrunsInterface, // the AC header's wTotalLength runs into the next interface
    FeatureUnitShorterThanChannels, // a stereo path's feature unit has master, one channel and
                                    // half of the next (bLength 16)
    FeatureUnitControlSizeZero,     // Audio Class 1.0 feature unit with bControlSize 0
    StringLongerThanBuffer,         // the AC interface string is 402 bytes; "[DSD]" straddles
                                    // byte 256
    MissingSourceEntity,            // the feature unit's bSourceID names no entity
    StreamingWithoutAlternate1,     // the streaming interface has only alternate setting 0
    AlternateSettingGap,            // the streaming interface has settings 0, 1 and 3
    // Valid, but beyond a simple DAC.
    Uac2MixerUnit,
    Uac2SelectorUnit,
    Uac2ProcessingUnit,
    Uac2ExtensionUnit,
    Uac2FormatTypeIII, // alternate setting 2 is a Type III (IEC 61937) format
    Uac1ProcessingUnit,
    Uac1SelectorUnit,
    Uac1ExtensionUnit,
    Uac1ContinuousRates, // the format gives a continuous 8 kHz to 48 kHz range
};

std::vector<DescriptorVariant> AllDescriptorVariants();
const char *DescriptorVariantName(DescriptorVariant variant);
DescriptorSet MakeDescriptorVariant(DescriptorVariant variant);
// Audio Class 1.0 variants are full speed, the others high speed.
host::UsbSpeed DescriptorVariantSpeed(DescriptorVariant variant);

// The valid Audio Class 2.0 function, except that its clock's RANGE reply announces eight
// subranges and carries two.
std::unique_ptr<RawDescriptorModel> MakeShortRangeReplyDevice();

namespace variant_ids {
constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xF0FF;
constexpr UCHAR kClockSourceId = 10;
constexpr UCHAR kInputTerminalId = 1;
constexpr UCHAR kFeatureUnitId = 2;
constexpr UCHAR kOutputTerminalId = 3;
constexpr UCHAR kUnitId = 7; // the extra unit of the unit variants
constexpr UCHAR kRenderInterface = 1;
} // namespace variant_ids

} // namespace devices
