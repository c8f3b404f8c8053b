// The records of the audio function model that describe the streaming interfaces: one
// AudioStreamingInterface per audio streaming interface and one AlternateSettingInfo per
// alternate setting of it. Descriptor pointers point into CUSBCL's configuration descriptor copy.
#pragma once

#include "quen_driver_platform.h"

class CUSBAudioTerminal;
class CUSBAudioClockEntity;

// The descriptors of one alternate setting; any of them may be null (alternate setting 0 has
// only its interface descriptor). Every non-null pointer has passed the length checks of the
// parse, so a reader may rely on:
// - DataEndpoint, FeedbackEndpoint: a whole standard endpoint descriptor (7 bytes); bRefresh
//   and bSynchAddress only when bLength is 9 or more.
// - AsGeneral: Class 2.0 bytes 0 to 10 (bTerminalLink to bNrChannels, bmFormats included);
//   Class 1.0 bytes 0 to 6 (bTerminalLink to wFormatTag).
// - FormatType: byte 3 (bFormatType). Class 2.0: bytes 4 and 5 (bSubslotSize, bBitResolution)
//   whenever the FORMAT_TYPE or the AS_GENERAL says Type I. Class 1.0 Type I: bNrChannels to
//   bSamFreqType and every sampling frequency the table announces (two for a continuous range).
// - EpGeneral: byte 3 (bmAttributes).
struct AlternateSettingInfo {
    PUSB_INTERFACE_DESCRIPTOR InterfaceDescriptor;
    PUSB_ENDPOINT_DESCRIPTOR DataEndpoint;
    PUCHAR AsGeneral;  // class-specific AS_GENERAL interface descriptor
    PUCHAR FormatType; // class-specific FORMAT_TYPE interface descriptor
    PUCHAR EpGeneral;  // class-specific EP_GENERAL descriptor after the data endpoint
    PUSB_ENDPOINT_DESCRIPTOR FeedbackEndpoint;
};

// One audio streaming interface. Zero-initialised at enumeration; format selection and the
// streaming path change the fields from DataPipe on.
struct AudioStreamingInterface {
    AudioStreamingInterface *Next;
    UCHAR InterfaceNumber;
    BOOLEAN IsInput; // the data flows device to host (capture)
    ULONG AlternateSettingCount;
    ULONG CurrentAlternateSetting; // index into AlternateSettings
    AlternateSettingInfo *AlternateSettings;
    CUSBAudioTerminal *Terminal; // named by bTerminalLink of alternate setting 1
    PUSBD_PIPE_INFORMATION DataPipe;
    ULONG BytesPerFrame;
    ULONG BytesPerPacket; // nominal
    BOOLEAN WholeSamples; // the rate gives a whole number of samples per service interval
    PUSBD_PIPE_INFORMATION FeedbackPipe;
    // Feedback values, 16.16 samples per packet interval, both guarded by FeedbackLock.
    ULONG CurrentFeedback; // what render packet sizing uses
    ULONG LatestFeedback;  // written by the feedback path and by format selection
    KSPIN_LOCK FeedbackLock;
    USHORT FeedbackFraction; // fractional sample accumulator of render packet sizing
    ULONG FeedbackPeriodMs;
    // Data-range block: DataRangeCount pointers (entry i for alternate setting i, entry 0 null)
    // followed by DataRangeCount KSDATARANGE_AUDIO records; one allocation, freed with the record.
    PVOID DataRanges;
    ULONG DataRangeCount;
    ULONG SampleRate;         // Hz
    ULONG VendorRequestValue; // last value of the native DSD mode request
};

// Whether a setting announces a Type I format: Class 2.0 in AS_GENERAL (its FORMAT_TYPE present
// too), Class 1.0 in FORMAT_TYPE.
BOOLEAN IsTypeIFormat(const AlternateSettingInfo &Setting, BOOLEAN AudioClass2);

// The clock entity of the interface's terminal, or null.
CUSBAudioClockEntity *GetStreamClock(const AudioStreamingInterface *Interface);
