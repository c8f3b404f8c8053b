// Service groups (PcNewServiceGroup): a group forwards each service request to its members
// (IServiceSink). RequestService forwards at once, at DISPATCH_LEVEL. A port's Notify only
// queues the group's DPC, which then forwards the request: the members' service routines never
// run inside the Notify call of a miniport (which may itself be inside a member's routine).
#pragma once

#include <portcls.h>

namespace host {

// IPortWaveCyclic::Notify's half: queues the group's service DPC. False (reported) if the group
// was not made by PcNewServiceGroup.
bool QueueServiceGroupDpc(PSERVICEGROUP group);

} // namespace host
