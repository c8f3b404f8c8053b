// CUSBAudioEntity: one entity of the audio function (a clock entity, a terminal or a unit), made
// from its class-specific descriptor in the audio control interface. Entities form a singly
// linked list in descriptor order that CUSBAudioCL owns; Link() turns the ids a descriptor names
// into pointers to other entities of that list.
#pragma once

#include "quen_driver_platform.h"

class CUSBAudioCL;

class CUSBAudioEntity {
public:
    // Entities live in non-paged pool; a failed allocation yields null.
    static void *operator new(size_t Size) noexcept;
    static void operator delete(void *Memory);

    CUSBAudioEntity(CUSBAudioCL *AudioCL, PUCHAR Descriptor);

    // Virtual slots 0 to 5, in this order.
    virtual ~CUSBAudioEntity();
    virtual NTSTATUS Link() = 0;
    // Traces the first four descriptor bytes.
    virtual void Dump();
    virtual UCHAR GetId();
    // The diagnostic name into Buffer of Size bytes, always terminated; a name that does not fit
    // is cut and STATUS_BUFFER_OVERFLOW returned.
    virtual NTSTATUS GetName(PCHAR Buffer, ULONG Size) = 0;
    // The id of the entity that feeds this one, or -1.
    virtual int GetSourceId(ULONG Index) = 0;

    // The class-specific descriptor subtype, which decided the entity's class.
    UCHAR GetSubtype() const { return Descriptor[2]; }
    BOOLEAN IsTerminal() const;
    BOOLEAN IsClockEntity() const;

    CUSBAudioEntity *Next;
    PUCHAR Descriptor; // points into the configuration descriptor copy
    CUSBAudioCL *AudioCL;

protected:
    // Writes "Kind(id)" the way GetName promises.
    NTSTATUS FormatName(PCHAR Buffer, ULONG Size, PCSTR Kind);

private:
    CUSBAudioEntity(const CUSBAudioEntity &) = delete;
    CUSBAudioEntity &operator=(const CUSBAudioEntity &) = delete;
};
