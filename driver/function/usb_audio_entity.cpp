#include "function/usb_audio_entity.h"

#include "driver_trace.h"
#include "function/usb_audio_descriptors.h"
#include "usb/usb_cl.h"

// Names are bounded like the kernel's safe string functions bound their destinations.
#define ENTITY_NAME_MAX_SIZE 0x80000000UL

void *CUSBAudioEntity::operator new(size_t Size) noexcept
{
    return ExAllocatePoolWithTag(NonPagedPoolNx, Size, USBA_POOL_TAG);
}

void CUSBAudioEntity::operator delete(void *Memory)
{
    if (Memory != nullptr)
        ExFreePoolWithTag(Memory, USBA_POOL_TAG);
}

CUSBAudioEntity::CUSBAudioEntity(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
    : Next(nullptr), Descriptor(Descriptor), AudioCL(AudioCL)
{
}

CUSBAudioEntity::~CUSBAudioEntity() = default;

void CUSBAudioEntity::Dump()
{
    QuenTrace(TRACE_LEVEL_VERBOSE,
              "bLength %u bDescriptorType 0x%02x bDescriptorSubtype %u bUnitID %u", Descriptor[0],
              Descriptor[1], Descriptor[USB_AUDIO_SUBTYPE_OFFSET],
              Descriptor[USB_AUDIO_ENTITY_ID_OFFSET]);
}

UCHAR CUSBAudioEntity::GetId() { return Descriptor[USB_AUDIO_ENTITY_ID_OFFSET]; }

BOOLEAN CUSBAudioEntity::IsTerminal() const
{
    return GetSubtype() == USB_AUDIO_AC_INPUT_TERMINAL ||
           GetSubtype() == USB_AUDIO_AC_OUTPUT_TERMINAL;
}

BOOLEAN CUSBAudioEntity::IsClockEntity() const
{
    // Clock entities exist only in Audio Class 2.0 functions, where these subtypes name them.
    return GetSubtype() == USB_AUDIO_AC_CLOCK_SOURCE || GetSubtype() == USB_AUDIO_AC_CLOCK_SELECTOR;
}

NTSTATUS CUSBAudioEntity::FormatName(PCHAR Buffer, ULONG Size, PCSTR Kind)
{
    if (Buffer == nullptr || Size == 0 || Size >= ENTITY_NAME_MAX_SIZE)
        return STATUS_INVALID_PARAMETER;

    // "Kind(id)": the id has at most three digits.
    char text[64];
    ULONG length = 0;
    for (PCSTR c = Kind; *c != '\0' && length < sizeof(text) - 6; ++c)
        text[length++] = *c;
    text[length++] = '(';
    const UCHAR id = GetId();
    if (id >= 100)
        text[length++] = char('0' + id / 100);
    if (id >= 10)
        text[length++] = char('0' + id / 10 % 10);
    text[length++] = char('0' + id % 10);
    text[length++] = ')';

    const ULONG copied = length < Size ? length : Size - 1;
    RtlCopyMemory(Buffer, text, copied);
    Buffer[copied] = '\0';
    return copied == length ? STATUS_SUCCESS : STATUS_BUFFER_OVERFLOW;
}
