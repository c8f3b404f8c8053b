// The miniport's property handlers, named in the filter description's automation tables.
#pragma once

#include "quen_driver_platform.h"

// Volume and mute of a feature-unit node: handed to the adapter.
NTSTATUS NTAPI PropertyHandler_Node(PPCPROPERTY_REQUEST PropertyRequest);

// KSPROPERTY_GENERAL_COMPONENTID of the filter: who made the device and what it is called.
NTSTATUS NTAPI PropertyHandler_ComponentId(PPCPROPERTY_REQUEST PropertyRequest);

// The ASIO host's private property set on a pin: handed to the pin's stream.
NTSTATUS NTAPI PropertyHandler_AsioPrivate(PPCPROPERTY_REQUEST PropertyRequest);

// The filter's native DSD mode (0 PCM, 1 DSD): handed to the adapter.
NTSTATUS NTAPI PropertyHandler_AsioDsdNativeMode(PPCPROPERTY_REQUEST PropertyRequest);
