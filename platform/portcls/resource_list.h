// IResourceList over a start request's translated and untranslated CM_RESOURCE_LISTs, as port
// class hands them to an adapter's start routine and to ports and miniports. Both lists may be
// absent (a USB device has no hardware resources): the list is then empty.
#pragma once

#include <portcls.h>

namespace host {

NTSTATUS NewResourceList(PRESOURCELIST *list, PCM_RESOURCE_LIST translated,
                         PCM_RESOURCE_LIST untranslated);

} // namespace host
