// The KS node types of the filter description: the node type of each USB terminal type (the
// category of a bridge pin) and, for the trace of the description, the name of a node type.
#pragma once

#include "quen_driver_platform.h"

// The node type's name without its KSNODETYPE_ prefix, "USB streaming" for KSCATEGORY_AUDIO (the
// category of the streaming pins), "Unknown" for anything else, a null pointer included.
PCSTR GetKsNodeTypeName(const GUID *Type);
