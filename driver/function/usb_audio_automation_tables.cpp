// The filter answers its component id; the volume and mute nodes their one property each,
// through the miniport to the adapter. The pins' tables are where the private ASIO properties
// go; they list none yet.
#include "function/usb_audio_automation_tables.h"

#include "wave/miniport_property_handlers.h"

#define AUTOMATION_TABLE(properties)                                                               \
    {                                                                                              \
        sizeof(PCPROPERTY_ITEM), SIZEOF_ARRAY(properties), properties, sizeof(PCMETHOD_ITEM), 0,   \
            nullptr, sizeof(PCEVENT_ITEM), 0, nullptr, 0                                           \
    }
#define EMPTY_AUTOMATION_TABLE                                                                     \
    {                                                                                              \
        sizeof(PCPROPERTY_ITEM), 0, nullptr, sizeof(PCMETHOD_ITEM), 0, nullptr,                    \
            sizeof(PCEVENT_ITEM), 0, nullptr, 0                                                    \
    }

namespace {

const ULONG kGetSetAccess =
    KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET;

const PCPROPERTY_ITEM FilterProperties[] = {
    {&KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
     KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET, PropertyHandler_ComponentId},
};
const PCPROPERTY_ITEM MuteNodeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, kGetSetAccess, PropertyHandler_Node},
};
const PCPROPERTY_ITEM VolumeNodeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, kGetSetAccess, PropertyHandler_Node},
};

} // namespace

const PCAUTOMATION_TABLE FilterAutomationTable = AUTOMATION_TABLE(FilterProperties);
const PCAUTOMATION_TABLE RenderPinAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE CapturePinAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE MuteNodeAutomationTable = AUTOMATION_TABLE(MuteNodeProperties);
const PCAUTOMATION_TABLE VolumeNodeAutomationTable = AUTOMATION_TABLE(VolumeNodeProperties);
