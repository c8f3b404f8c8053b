// The system's GUIDs the driver uses (port class interfaces, KS categories, formats and node
// types) and its own private property set, emitted once: <initguid.h> turns the DEFINE_GUIDs of the
// platform headers into definitions in this file, as a driver that links no GUID library does.
#include <initguid.h>

#include "quen_driver_platform.h"

#include "asio/asio_private_properties.h"
