// The filter answers its component id and the ASIO host's native DSD mode; the volume and mute
// nodes their one property each, through the miniport to the adapter; the pins the ASIO host's
// private properties, through the miniport to the pin's stream.
#include "function/usb_audio_automation_tables.h"

#include "asio/asio_private_properties.h"
#include "wave/miniport_property_handlers.h"

#define AUTOMATION_TABLE(properties)                                                               \
    {                                                                                              \
        sizeof(PCPROPERTY_ITEM), SIZEOF_ARRAY(properties), properties, sizeof(PCMETHOD_ITEM), 0,   \
            nullptr, sizeof(PCEVENT_ITEM), 0, nullptr, 0                                           \
    }

namespace {

const ULONG kGetSetAccess =
    KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET;
const ULONG kSetAccess = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_SET;

const PCPROPERTY_ITEM FilterProperties[] = {
    {&KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
     KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_GET, PropertyHandler_ComponentId},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_DSD_NATIVE_MODE, KSPROPERTY_TYPE_SET,
     PropertyHandler_AsioDsdNativeMode},
};
const PCPROPERTY_ITEM RenderPinProperties[] = {
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_BUFFERS, kGetSetAccess, PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_REGISTER_EVENT, kGetSetAccess,
     PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_UNREGISTER_EVENT, kGetSetAccess,
     PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_OUTPUT_READY, kSetAccess,
     PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_OUTPUT_DELAY, kSetAccess,
     PropertyHandler_AsioPrivate},
};
// Capture has buffers and the event, no output.
const PCPROPERTY_ITEM CapturePinProperties[] = {
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_BUFFERS, kGetSetAccess, PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_REGISTER_EVENT, kGetSetAccess,
     PropertyHandler_AsioPrivate},
    {&KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_UNREGISTER_EVENT, kGetSetAccess,
     PropertyHandler_AsioPrivate},
};
const PCPROPERTY_ITEM MuteNodeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE, kGetSetAccess, PropertyHandler_Node},
};
const PCPROPERTY_ITEM VolumeNodeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL, kGetSetAccess, PropertyHandler_Node},
};

} // namespace

const PCAUTOMATION_TABLE FilterAutomationTable = AUTOMATION_TABLE(FilterProperties);
const PCAUTOMATION_TABLE RenderPinAutomationTable = AUTOMATION_TABLE(RenderPinProperties);
const PCAUTOMATION_TABLE CapturePinAutomationTable = AUTOMATION_TABLE(CapturePinProperties);
const PCAUTOMATION_TABLE MuteNodeAutomationTable = AUTOMATION_TABLE(MuteNodeProperties);
const PCAUTOMATION_TABLE VolumeNodeAutomationTable = AUTOMATION_TABLE(VolumeNodeProperties);
