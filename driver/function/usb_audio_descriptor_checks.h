// Checks that make the descriptors of an untrusted device safe to parse. The configuration
// descriptor is walked once before anything else reads it; each class-specific descriptor the
// model keeps is checked to hold every field the driver reads from it, and the values it could
// not work with (a feature unit without a whole channel map, a Type I format without channels
// or sample bytes) are refused. A device that fails a check does not start.
#pragma once

#include "quen_driver_platform.h"

// Every descriptor of the configuration lies within wTotalLength and is at least two bytes
// long; interface, endpoint and class-specific descriptors are long enough for their standard
// fields (9, 7 and 3 bytes). STATUS_NOT_SUPPORTED otherwise.
NTSTATUS UsbAudioCheckConfiguration(PUSB_CONFIGURATION_DESCRIPTOR Configuration);

// The first interface descriptor of the class and subclass with that interface number (-1: any)
// and alternate setting, or null. It must also be the first of its number and setting at all:
// that is the descriptor the USB stack configures, so an audio interface behind another
// descriptor of the same number and setting is not taken (the stack would configure other
// endpoints than the ones read from it).
PUSB_INTERFACE_DESCRIPTOR UsbAudioFindInterface(PUSB_CONFIGURATION_DESCRIPTOR Configuration,
                                                LONG InterfaceNumber, LONG AlternateSetting,
                                                LONG InterfaceClass, LONG InterfaceSubClass);

// The audio control header holds bcdADC and the wTotalLength of its class version.
BOOLEAN UsbAudioHeaderFits(const UCHAR *Header);

// An audio control descriptor of an entity class (terminal, feature unit, processing unit,
// clock source or selector) holds every field that class reads; a feature unit's channel map is
// whole.
BOOLEAN UsbAudioEntityFits(const UCHAR *Descriptor, BOOLEAN AudioClass2);

// The class-specific descriptors of one alternate setting (any may be null) hold the fields
// AlternateSettingInfo promises, and a Type I format has channels and sample bytes.
BOOLEAN UsbAudioStreamingDescriptorsFit(const UCHAR *AsGeneral, const UCHAR *FormatType,
                                        const UCHAR *EpGeneral, BOOLEAN AudioClass2);
