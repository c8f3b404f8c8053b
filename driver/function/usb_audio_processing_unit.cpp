#include "function/usb_audio_processing_unit.h"

CUSBAudioProcessingUnit::CUSBAudioProcessingUnit(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : CUSBAudioEntity(AudioCL, Descriptor)
{
}

NTSTATUS CUSBAudioProcessingUnit::Link() { return STATUS_NOT_IMPLEMENTED; }

NTSTATUS CUSBAudioProcessingUnit::GetName(PCHAR Buffer, ULONG Size)
{
    return FormatName(Buffer, Size, "Processing");
}

int CUSBAudioProcessingUnit::GetSourceId(ULONG Index)
{
    UNREFERENCED_PARAMETER(Index);
    return -1;
}
