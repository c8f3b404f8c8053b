// The tables list no properties yet: the port answers every request on them as unsupported.
#include "function/usb_audio_automation_tables.h"

#define EMPTY_AUTOMATION_TABLE                                                                     \
    {                                                                                              \
        sizeof(PCPROPERTY_ITEM), 0, nullptr, sizeof(PCMETHOD_ITEM), 0, nullptr,                    \
            sizeof(PCEVENT_ITEM), 0, nullptr, 0                                                    \
    }

const PCAUTOMATION_TABLE FilterAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE RenderPinAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE CapturePinAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE MuteNodeAutomationTable = EMPTY_AUTOMATION_TABLE;
const PCAUTOMATION_TABLE VolumeNodeAutomationTable = EMPTY_AUTOMATION_TABLE;
