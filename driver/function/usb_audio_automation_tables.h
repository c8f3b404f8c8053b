// The automation tables of the filter description, one per place that carries properties: the
// filter, the render and capture pins (the private ASIO properties) and the mute and volume
// nodes. The description points at these tables; the property items and their handlers are
// filled in where the miniport, the adapter and the ASIO data path implement them.
#pragma once

#include "quen_driver_platform.h"

extern const PCAUTOMATION_TABLE FilterAutomationTable;
extern const PCAUTOMATION_TABLE RenderPinAutomationTable;
extern const PCAUTOMATION_TABLE CapturePinAutomationTable;
extern const PCAUTOMATION_TABLE MuteNodeAutomationTable;
extern const PCAUTOMATION_TABLE VolumeNodeAutomationTable;
