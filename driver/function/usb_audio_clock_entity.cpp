#include "function/usb_audio_clock_entity.h"

#include "usb/usb_audio_cl.h"

CUSBAudioClockEntity::CUSBAudioClockEntity(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioEntity(AudioCL, Descriptor)
{
}

NTSTATUS CUSBAudioClockEntity::LinkClock()
{
    return AudioCL->IsAudioClass2 ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
}

CUSBAudioClockEntity *CUSBAudioClockEntity::Find(CUSBAudioCL *AudioCL, UCHAR Id)
{
    CUSBAudioEntity *entity = AudioCL->FindEntity(Id);
    if (entity == nullptr || !entity->IsClockEntity())
        return nullptr;
    return static_cast<CUSBAudioClockEntity *>(entity);
}
