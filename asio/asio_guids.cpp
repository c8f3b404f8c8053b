// The driver's own GUIDs (its class id and the kernel driver's private property set), emitted
// once: <initguid.h> turns the DEFINE_GUIDs of the headers below into definitions.
#include "quen_asio_platform.h"

#include <initguid.h>

#include "asio_types.h"

#include "../driver/asio/asio_private_properties.h"
