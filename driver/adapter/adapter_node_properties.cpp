// CAdapterUsbAudio: the volume and mute properties of the filter's feature-unit nodes. KS speaks
// 1/65536 dB in 32 bits, the audio class 1/256 dB in 16; a node's logical channel k is the
// feature unit's channel k + 1 (channel 0 is the master). Mute is the master channel's.
#include "adapter/adapter_usb_audio.h"

#include "adapter/property_requests.h"
#include "adapter/volume_conversion.h"
#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_filter.h"

// Not every kernel header set has these.
#ifndef KSAUDIO_ALLCHANNELS
#define KSAUDIO_ALLCHANNELS 0xFFFFFFFF
#endif
#ifndef VT_I4
#define VT_I4 3
#endif
#ifndef VT_BOOL
#define VT_BOOL 11
#endif

namespace {

// A channel addresses every logical channel at once.
const LONG kAllChannels = LONG(KSAUDIO_ALLCHANNELS);

// Basic support of mute: the description, a members header and room for one 32-bit value.
const ULONG kMuteDescriptionSize = 60;

// Logical channels of a feature unit with Count channels, the master included.
LONG LogicalChannels(ULONG Count) { return Count == 0 ? 0 : LONG(Count - 1); }

} // namespace

CUSBAudioFeatureUnit *CAdapterUsbAudio::NodeFeatureUnit(ULONG NodeId)
{
    if (NodeId >= FilterDescriptor.NodeCount ||
        FilterDescriptor.NodeSize < sizeof(UsbAudioNodeDescriptor)) {
        return nullptr;
    }
    const auto node = reinterpret_cast<const UsbAudioNodeDescriptor *>(
        reinterpret_cast<const UCHAR *>(FilterDescriptor.Nodes) +
        NodeId * FilterDescriptor.NodeSize);
    CUSBAudioEntity *entity = node->Element.Entity;
    if (entity == nullptr || entity->GetSubtype() != USB_AUDIO_AC_FEATURE_UNIT) {
        return nullptr;
    }
    return static_cast<CUSBAudioFeatureUnit *>(entity);
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::PropertyHandler_Node(PPCPROPERTY_REQUEST PropertyRequest)
{
    PAGED_CODE();
    if (PropertyRequest == nullptr || PropertyRequest->PropertyItem == nullptr ||
        PropertyRequest->Node == ULONG(-1)) {
        return STATUS_UNSUCCESSFUL;
    }
    const ULONG id = PropertyRequest->PropertyItem->Id;
    if (id != KSPROPERTY_AUDIO_VOLUMELEVEL && id != KSPROPERTY_AUDIO_MUTE) {
        return STATUS_UNSUCCESSFUL;
    }
    CUSBAudioFeatureUnit *featureUnit = NodeFeatureUnit(PropertyRequest->Node);
    if (featureUnit == nullptr) {
        return (PropertyRequest->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0
                   ? STATUS_UNSUCCESSFUL
                   : STATUS_INVALID_PARAMETER;
    }
    return id == KSPROPERTY_AUDIO_VOLUMELEVEL ? PropertyHandler_Volume(PropertyRequest, featureUnit)
                                              : PropertyHandler_Mute(PropertyRequest, featureUnit);
}

NTSTATUS CAdapterUsbAudio::PropertyHandler_Volume(PPCPROPERTY_REQUEST PropertyRequest,
                                                  CUSBAudioFeatureUnit *FeatureUnit)
{
    PAGED_CODE();
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0) {
        return PropertyHandlerBasicSupport_Volume(PropertyRequest, FeatureUnit);
    }
    const NTSTATUS check = ValidatePropertyRequest(PropertyRequest, sizeof(LONG), sizeof(LONG));
    if (check != STATUS_SUCCESS) {
        return check;
    }
    const LONG channels = LogicalChannels(FeatureUnit->GetChannelCount());
    const LONG channel = *static_cast<PLONG>(PropertyRequest->Instance);
    const PLONG value = static_cast<PLONG>(PropertyRequest->Value);
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_GET) != 0) {
        if (channel < 0 || channel >= channels) {
            return STATUS_INVALID_PARAMETER;
        }
        SHORT volume = 0;
        const NTSTATUS status = Usb.GetVolume(FeatureUnit, UCHAR(channel + 1), &volume);
        if (NT_SUCCESS(status)) {
            *value = KsVolumeFromUsb(volume);
            PropertyRequest->ValueSize = sizeof(LONG);
        }
        return status;
    }
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_SET) == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    if (channel == kAllChannels) {
        if (channels == 0) {
            return STATUS_INVALID_PARAMETER;
        }
        for (LONG k = 0; k < channels; ++k) {
            const NTSTATUS status = SetVolumeChannel(FeatureUnit, UCHAR(k + 1), *value);
            if (!NT_SUCCESS(status)) {
                return status;
            }
        }
        return STATUS_SUCCESS;
    }
    if (channel < 0 || channel >= channels) {
        return STATUS_INVALID_PARAMETER;
    }
    return SetVolumeChannel(FeatureUnit, UCHAR(channel + 1), *value);
}

NTSTATUS CAdapterUsbAudio::SetVolumeChannel(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel,
                                            LONG Value)
{
    PAGED_CODE();
    // The device gets a value it announced; a device that does not tell its range gets the
    // value as it converts.
    SHORT minimum = 0;
    SHORT maximum = 0;
    SHORT resolution = 0;
    const BOOLEAN ranged =
        NT_SUCCESS(Usb.GetVolumeRange(FeatureUnit, Channel, &minimum, &maximum, &resolution)) &&
        minimum <= maximum;
    return Usb.SetVolume(FeatureUnit, Channel,
                         ranged ? UsbVolumeFromKs(Value, minimum, maximum)
                                : UsbVolumeFromKs(Value, USB_VOLUME_MINIMUM, USB_VOLUME_MAXIMUM));
}

NTSTATUS CAdapterUsbAudio::PropertyHandlerBasicSupport_Volume(PPCPROPERTY_REQUEST PropertyRequest,
                                                              CUSBAudioFeatureUnit *FeatureUnit)
{
    PAGED_CODE();
    const LONG channels = LogicalChannels(FeatureUnit->GetChannelCount());
    const ULONG descriptionSize = sizeof(KSPROPERTY_DESCRIPTION) +
                                  sizeof(KSPROPERTY_MEMBERSHEADER) +
                                  ULONG(channels) * sizeof(KSPROPERTY_STEPPING_LONG);
    PUCHAR members;
    const NTSTATUS status =
        BasicSupportDescription(PropertyRequest, PROPERTY_ACCESS_GET_SET, descriptionSize,
                                &KSPROPTYPESETID_General, VT_I4, 1, &members);
    if (!NT_SUCCESS(status) || members == nullptr) {
        return status;
    }
    auto header = reinterpret_cast<PKSPROPERTY_MEMBERSHEADER>(members);
    header->MembersFlags = KSPROPERTY_MEMBER_STEPPEDRANGES;
    header->MembersSize = sizeof(KSPROPERTY_STEPPING_LONG);
    header->MembersCount = ULONG(channels);
    header->Flags = KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL;
    auto steps = reinterpret_cast<PKSPROPERTY_STEPPING_LONG>(header + 1);
    for (LONG k = 0; k < channels; ++k) {
        SHORT minimum = 0;
        SHORT maximum = 0;
        SHORT resolution = 0;
        const NTSTATUS range =
            Usb.GetVolumeRange(FeatureUnit, UCHAR(k + 1), &minimum, &maximum, &resolution);
        if (!NT_SUCCESS(range)) {
            return range;
        }
        steps[k].Bounds.SignedMinimum = KsVolumeFromUsbStep(minimum);
        steps[k].Bounds.SignedMaximum = KsVolumeFromUsbStep(maximum);
        steps[k].SteppingDelta = ULONG(KsVolumeFromUsbStep(resolution));
        steps[k].Reserved = 0;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CAdapterUsbAudio::PropertyHandler_Mute(PPCPROPERTY_REQUEST PropertyRequest,
                                                CUSBAudioFeatureUnit *FeatureUnit)
{
    PAGED_CODE();
    const LONG channels = LogicalChannels(FeatureUnit->GetChannelCount());
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_BASICSUPPORT) != 0) {
        PUCHAR members;
        const NTSTATUS status =
            BasicSupportDescription(PropertyRequest, PROPERTY_ACCESS_GET_SET, kMuteDescriptionSize,
                                    &KSPROPTYPESETID_General, VT_BOOL, 1, &members);
        if (NT_SUCCESS(status) && members != nullptr) {
            auto header = reinterpret_cast<PKSPROPERTY_MEMBERSHEADER>(members);
            header->MembersFlags = KSPROPERTY_MEMBER_VALUES;
            header->MembersSize = 0;
            header->MembersCount = ULONG(channels);
            header->Flags = KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_MULTICHANNEL |
                            KSPROPERTY_MEMBER_FLAG_BASICSUPPORT_UNIFORM;
        }
        return status;
    }
    const NTSTATUS check = ValidatePropertyRequest(PropertyRequest, sizeof(ULONG), sizeof(LONG));
    if (check != STATUS_SUCCESS) {
        return check;
    }
    const LONG channel = *static_cast<PLONG>(PropertyRequest->Instance);
    if (channel < -1 || channel >= channels) {
        return STATUS_INVALID_PARAMETER;
    }
    const PULONG value = static_cast<PULONG>(PropertyRequest->Value);
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_GET) != 0) {
        UCHAR mute = 0;
        const NTSTATUS status = Usb.GetMute(FeatureUnit, &mute);
        if (NT_SUCCESS(status)) {
            *value = mute != 0 ? TRUE : FALSE;
            PropertyRequest->ValueSize = sizeof(ULONG);
        }
        return status;
    }
    if ((PropertyRequest->Verb & KSPROPERTY_TYPE_SET) == 0) {
        return STATUS_INVALID_PARAMETER;
    }
    // Any non-zero BOOL mutes, 0x100 included.
    return Usb.SetMute(FeatureUnit, *value != 0 ? 1 : 0);
}
