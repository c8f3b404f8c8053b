// Numbers from the USB 2.0 and USB Audio Class 1.0/2.0 standards that the device models
// and the descriptor builder share.
#pragma once

#include <ntdef.h>

namespace devices {

namespace usb {

// Descriptor types.
constexpr UCHAR kDeviceDescriptor = 1;
constexpr UCHAR kConfigurationDescriptor = 2;
constexpr UCHAR kStringDescriptor = 3;
constexpr UCHAR kInterfaceDescriptor = 4;
constexpr UCHAR kEndpointDescriptor = 5;
constexpr UCHAR kDeviceQualifierDescriptor = 6;
constexpr UCHAR kInterfaceAssociationDescriptor = 11;

// Standard requests.
constexpr UCHAR kGetStatus = 0;
constexpr UCHAR kClearFeature = 1;
constexpr UCHAR kSetFeature = 3;
constexpr UCHAR kGetDescriptor = 6;
constexpr UCHAR kGetConfiguration = 8;
constexpr UCHAR kSetConfiguration = 9;
constexpr UCHAR kGetInterface = 10;
constexpr UCHAR kSetInterface = 11;

// Feature selectors.
constexpr USHORT kEndpointHalt = 0;
constexpr USHORT kDeviceRemoteWakeup = 1;

// bmRequestType fields.
constexpr UCHAR kDirectionIn = 0x80;
constexpr UCHAR kTypeMask = 0x60;
constexpr UCHAR kTypeStandard = 0x00;
constexpr UCHAR kTypeClass = 0x20;
constexpr UCHAR kTypeVendor = 0x40;
constexpr UCHAR kRecipientMask = 0x1F;
constexpr UCHAR kRecipientDevice = 0;
constexpr UCHAR kRecipientInterface = 1;
constexpr UCHAR kRecipientEndpoint = 2;

// Endpoint bmAttributes.
constexpr UCHAR kTransferTypeMask = 0x03;
constexpr UCHAR kIsochronous = 0x01;
constexpr UCHAR kInterrupt = 0x03;
constexpr UCHAR kSyncAsynchronous = 0x04;
constexpr UCHAR kSyncAdaptive = 0x08;
constexpr UCHAR kSyncSynchronous = 0x0C;
constexpr UCHAR kUsageData = 0x00;
constexpr UCHAR kUsageFeedback = 0x10;
constexpr UCHAR kUsageImplicitFeedbackData = 0x20;
constexpr UCHAR kUsageMask = 0x30;
constexpr UCHAR kIsoAsyncData = kIsochronous | kSyncAsynchronous | kUsageData;

constexpr USHORT kLanguageEnglishUs = 0x0409;

} // namespace usb

namespace uac {

constexpr UCHAR kAudioClass = 0x01;
constexpr UCHAR kVendorClass = 0xFF;
constexpr UCHAR kSubclassAudioControl = 0x01;
constexpr UCHAR kSubclassAudioStreaming = 0x02;
constexpr UCHAR kProtocolVersion2 = 0x20;

constexpr UCHAR kCsInterface = 0x24;
constexpr UCHAR kCsEndpoint = 0x25;

// Audio control interface descriptor subtypes (the two versions number some units differently).
constexpr UCHAR kHeader = 0x01;
constexpr UCHAR kInputTerminal = 0x02;
constexpr UCHAR kOutputTerminal = 0x03;
constexpr UCHAR kMixerUnit = 0x04;
constexpr UCHAR kSelectorUnit = 0x05;
constexpr UCHAR kFeatureUnit = 0x06;
constexpr UCHAR kUac1ProcessingUnit = 0x07;
constexpr UCHAR kUac1ExtensionUnit = 0x08;
constexpr UCHAR kUac2ProcessingUnit = 0x08;
constexpr UCHAR kUac2ExtensionUnit = 0x09;
constexpr UCHAR kClockSource = 0x0A;
constexpr UCHAR kClockSelector = 0x0B;

// Audio streaming interface and endpoint descriptor subtypes.
constexpr UCHAR kAsGeneral = 0x01;
constexpr UCHAR kFormatType = 0x02;
constexpr UCHAR kEpGeneral = 0x01;

constexpr UCHAR kFormatTypeI = 0x01;
constexpr UCHAR kFormatTypeIII = 0x03;
constexpr ULONG kUac2FormatPcm = 0x00000001;
constexpr USHORT kUac1FormatTagPcm = 0x0001;
constexpr ULONG kStereoChannelConfig = 0x3; // front left, front right

// Terminal types.
constexpr USHORT kTerminalUsbStreaming = 0x0101;
constexpr USHORT kTerminalSpeaker = 0x0301;
constexpr USHORT kTerminalLineConnector = 0x0603;

// Class requests.
constexpr UCHAR kCur = 0x01;   // Audio Class 2.0 CUR; Audio Class 1.0 SET_CUR
constexpr UCHAR kRange = 0x02; // Audio Class 2.0
constexpr UCHAR kUac1GetCur = 0x81;
constexpr UCHAR kUac1GetMin = 0x82;
constexpr UCHAR kUac1GetMax = 0x83;
constexpr UCHAR kUac1GetRes = 0x84;

// Control selectors.
constexpr UCHAR kClockFrequencyControl = 0x01;
constexpr UCHAR kClockValidityControl = 0x02;
constexpr UCHAR kClockSelectorControl = 0x01;
constexpr UCHAR kMuteControl = 0x01;
constexpr UCHAR kVolumeControl = 0x02;
constexpr UCHAR kEndpointSamplingFrequencyControl = 0x01;

} // namespace uac

} // namespace devices
