// The entities of CUSBAudioCL's audio function: the scan of the class-specific block that makes
// one object per clock entity, terminal and supported unit, their links, and the lookup by id.
#include "usb/usb_audio_cl.h"

#include "driver_trace.h"
#include "function/usb_audio_clock_selector.h"
#include "function/usb_audio_clock_source.h"
#include "function/usb_audio_descriptor_checks.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_feature_unit.h"
#include "function/usb_audio_input_terminal.h"
#include "function/usb_audio_output_terminal.h"
#include "function/usb_audio_processing_unit.h"

// Entity ids are bytes and id 0 names no entity: a function cannot have more entities than this.
#define USB_AUDIO_MAX_ENTITIES 255

namespace {

// What the scan does with a descriptor subtype.
enum EntityAction { EntityStop, EntityFail, EntityCreate };

// Class 2.0 and 1.0 number their units differently: mixer and selector units, 2.0 effect,
// processing and extension units, 1.0 extension units, clock multipliers and sample rate
// converters are not supported; 1.0 processing units are kept without controls. A subtype this
// driver does not know ends the scan.
EntityAction ActionFor(UCHAR Subtype, BOOLEAN AudioClass2)
{
    switch (Subtype) {
    case USB_AUDIO_AC_INPUT_TERMINAL:
    case USB_AUDIO_AC_OUTPUT_TERMINAL:
    case USB_AUDIO_AC_FEATURE_UNIT: return EntityCreate;
    case USB_AUDIO_AC_MIXER_UNIT:
    case USB_AUDIO_AC_SELECTOR_UNIT:
    case USB_AUDIO_AC_PROCESSING_UNIT2: return EntityFail;
    case USB_AUDIO_AC_PROCESSING_UNIT1: return AudioClass2 ? EntityFail : EntityCreate;
    case USB_AUDIO_AC_EXTENSION_UNIT2:
    case USB_AUDIO_AC_CLOCK_MULTIPLIER:
    case USB_AUDIO_AC_SAMPLE_RATE_CONVERTER: return AudioClass2 ? EntityFail : EntityStop;
    case USB_AUDIO_AC_CLOCK_SOURCE:
    case USB_AUDIO_AC_CLOCK_SELECTOR: return AudioClass2 ? EntityCreate : EntityStop;
    default: return EntityStop;
    }
}

CUSBAudioEntity *CreateEntity(CUSBAudioCL *AudioCL, PUCHAR Descriptor)
{
    switch (Descriptor[USB_AUDIO_SUBTYPE_OFFSET]) {
    case USB_AUDIO_AC_INPUT_TERMINAL: return new CUSBAudioInputTerminal(AudioCL, Descriptor);
    case USB_AUDIO_AC_OUTPUT_TERMINAL: return new CUSBAudioOutputTerminal(AudioCL, Descriptor);
    case USB_AUDIO_AC_FEATURE_UNIT: return new CUSBAudioFeatureUnit(AudioCL, Descriptor);
    case USB_AUDIO_AC_PROCESSING_UNIT1: return new CUSBAudioProcessingUnit(AudioCL, Descriptor);
    case USB_AUDIO_AC_CLOCK_SOURCE: return new CUSBAudioClockSource(AudioCL, Descriptor);
    case USB_AUDIO_AC_CLOCK_SELECTOR: return new CUSBAudioClockSelector(AudioCL, Descriptor);
    default: return nullptr;
    }
}

} // namespace

NTSTATUS CUSBAudioCL::ParseEntities()
{
    PAGED_CODE();
    FreeEntities();
    auto configuration = reinterpret_cast<PUCHAR>(ConfigurationDescriptor);
    const ULONG total = ConfigurationDescriptor->wTotalLength;
    const PUCHAR blockEnd = ClassSpecificHeader + GetClassSpecificLength();
    CUSBAudioEntity **tail = &EntityList;
    ULONG count = 0;

    PUCHAR position = ClassSpecificHeader + ClassSpecificHeader[0];
    for (;;) {
        auto descriptor = reinterpret_cast<PUCHAR>(
            USBD_ParseDescriptors(configuration, total, position, USB_AUDIO_CS_INTERFACE));
        if (descriptor == nullptr || descriptor >= blockEnd)
            break;
        const UCHAR subtype = descriptor[USB_AUDIO_SUBTYPE_OFFSET];
        const EntityAction action = ActionFor(subtype, IsAudioClass2);
        if (action == EntityStop)
            break;
        if (action == EntityFail) {
            QuenTrace(TRACE_LEVEL_ERROR, "unit subtype %u (id %u) is not supported", subtype,
                      descriptor[0] > USB_AUDIO_ENTITY_ID_OFFSET
                          ? descriptor[USB_AUDIO_ENTITY_ID_OFFSET]
                          : 0);
            return STATUS_NOT_IMPLEMENTED;
        }
        if (!UsbAudioEntityFits(descriptor, IsAudioClass2))
            return STATUS_NOT_SUPPORTED;
        if (count == USB_AUDIO_MAX_ENTITIES) {
            QuenTrace(TRACE_LEVEL_ERROR, "more than %u entities", USB_AUDIO_MAX_ENTITIES);
            return STATUS_NOT_SUPPORTED;
        }
        CUSBAudioEntity *entity = CreateEntity(this, descriptor);
        if (entity == nullptr) {
            QuenTrace(TRACE_LEVEL_WARNING, "out of memory: entity scan ends at subtype %u",
                      subtype);
            break;
        }
        entity->Dump();
        *tail = entity;
        tail = &entity->Next;
        ++count;
        position = descriptor + descriptor[0];
    }
    return LinkEntities();
}

NTSTATUS CUSBAudioCL::LinkEntities()
{
    PAGED_CODE();
    // Every entity is linked. The scan reports the last entity's status, and the first failure
    // of any entity whose links the driver follows: a terminal without its clock or source, a
    // unit without its source, an unusable clock graph. Processing units resolve nothing.
    NTSTATUS status = STATUS_SUCCESS;
    NTSTATUS firstFailure = STATUS_SUCCESS;
    for (CUSBAudioEntity *entity = EntityList; entity != nullptr; entity = entity->Next) {
        status = entity->Link();
        if (NT_SUCCESS(status))
            continue;
        char name[32];
        entity->GetName(name, sizeof(name));
        QuenTrace(TRACE_LEVEL_WARNING, "%s: link status 0x%08lX", name, status);
        if (NT_SUCCESS(firstFailure) && entity->GetSubtype() != USB_AUDIO_AC_PROCESSING_UNIT1)
            firstFailure = status;
    }
    return NT_SUCCESS(firstFailure) ? status : firstFailure;
}

CUSBAudioEntity *CUSBAudioCL::FindEntity(UCHAR Id) const
{
    for (CUSBAudioEntity *entity = EntityList; entity != nullptr; entity = entity->Next) {
        if (entity->GetId() == Id)
            return entity;
    }
    return nullptr;
}

void CUSBAudioCL::FreeEntities()
{
    while (EntityList != nullptr) {
        CUSBAudioEntity *entity = EntityList;
        EntityList = entity->Next;
        delete entity;
    }
}
