// CUSBAudioFeatureUnit: a feature unit, the entity that carries per-channel controls (mute,
// volume, tone...). Channel 0 is the master channel. Its descriptor announces, per channel and
// control, whether the control exists (Audio Class 1.0) or whether it can be read and written
// (Audio Class 2.0); requests are checked against that before anything is sent.
#pragma once

#include "function/usb_audio_entity.h"

// Control indexes (bit positions in the bmaControls of Audio Class 1.0, pairs in 2.0).
#define FEATURE_UNIT_CONTROL_MUTE 0
#define FEATURE_UNIT_CONTROL_VOLUME 1

// Access asked of a control.
#define FEATURE_UNIT_ACCESS_READ 1
#define FEATURE_UNIT_ACCESS_WRITE 2

// ControlRequest direction and request codes. Request 2 is RANGE in Audio Class 2.0 and MIN in
// 1.0; MAX and RES exist in 1.0 only.
#define FEATURE_UNIT_DIRECTION_SET 0x00
#define FEATURE_UNIT_DIRECTION_GET 0x80
#define FEATURE_UNIT_REQUEST_CUR 1
#define FEATURE_UNIT_REQUEST_RANGE 2
#define FEATURE_UNIT_REQUEST_MIN 2
#define FEATURE_UNIT_REQUEST_MAX 3
#define FEATURE_UNIT_REQUEST_RES 4

class CUSBAudioFeatureUnit : public CUSBAudioEntity {
public:
    CUSBAudioFeatureUnit(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    NTSTATUS Link() override;
    NTSTATUS GetName(PCHAR Buffer, ULONG Size) override;
    // bSourceID.
    int GetSourceId(ULONG Index) override;

    // Channels with a bmaControls entry, the master channel included.
    ULONG GetChannelCount() const;
    BOOLEAN IsControlSupported(ULONG Channel, ULONG Control, ULONG Access) const;
    // Whether some channel can read the control.
    BOOLEAN HasControl(ULONG Control) const;
    // A mute or volume request on a channel; combinations of control, request and length other
    // than the ones the controls take, and controls the descriptor does not announce for that
    // access, are refused with STATUS_NOT_SUPPORTED without a request.
    NTSTATUS ControlRequest(UCHAR Channel, ULONG Control, UCHAR Direction, UCHAR Request,
                            PVOID Buffer, ULONG Length);

    CUSBAudioEntity *SourceEntity;

private:
    BOOLEAN IsRequestAccepted(ULONG Control, UCHAR Request, ULONG Length) const;
};
