#include "audio_streaming_interface.h"

#include "usb_audio_descriptors.h"
#include "usb_audio_terminal.h"

BOOLEAN IsTypeIFormat(const AlternateSettingInfo &Setting, BOOLEAN AudioClass2)
{
    if (AudioClass2)
        return Setting.AsGeneral != nullptr && Setting.FormatType != nullptr &&
               Setting.AsGeneral[USB_AUDIO_AS_FORMAT_TYPE2] == USB_AUDIO_FORMAT_TYPE_I;
    return Setting.FormatType != nullptr &&
           Setting.FormatType[USB_AUDIO_FORMAT_TYPE] == USB_AUDIO_FORMAT_TYPE_I;
}

CUSBAudioClockEntity *GetStreamClock(const AudioStreamingInterface *Interface)
{
    return Interface->Terminal != nullptr ? Interface->Terminal->GetClockEntity() : nullptr;
}
