// A filter instance of a WaveCyclic port: one per open of the subdevice's interface. It answers
// the filter's property requests (KSPROPSETID_Pin and KSPROPSETID_Topology itself, the rest
// through the miniport's filter and node automation tables, serialised per filter) and creates
// pins relative to its file.
#pragma once

#include "ks_property.h"
#include "port_subdevice.h"

#include <vector>

namespace host {

class CPortWaveCyclic;

class WaveCyclicFilter : public KsObject {
public:
    explicit WaveCyclicFilter(CPortWaveCyclic &port);
    ~WaveCyclicFilter() override;

    NTSTATUS DeviceControl(PIRP irp) override;
    NTSTATUS CreateChild(PIRP irp, PFILE_OBJECT file, KsObject **child) override;
    void Close() override;

    CPortWaveCyclic &Port() { return port_; }
    // A pin of this filter closed.
    void PinClosed(ULONG pin);

private:
    static NTSTATUS PinProperty(void *filter, PropertyCall &call);
    static NTSTATUS TopologyProperty(void *filter, PropertyCall &call);
    NTSTATUS DataIntersection(ULONG pin, PropertyCall &call);

    CPortWaveCyclic &port_;
    std::vector<ULONG> instances_; // per pin, counted by the port
    KMUTEX requests_;
};

} // namespace host
