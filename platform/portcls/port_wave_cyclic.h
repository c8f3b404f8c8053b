// The WaveCyclic port (PcNewPort with CLSID_PortWaveCyclic): it binds a WaveCyclic miniport
// (IPort::Init calls the miniport's Init and takes its filter description), serves the "wave"
// filter built from that description and its pins, and gives the miniport Notify (its service
// group's DPC) and DMA channels.
//
// The port holds its miniport, and the miniport holds the port: the cycle is broken when the
// subdevice is removed, where the port releases its miniport (once the last filter on it has
// closed). A port or miniport still referenced after that is a leak the device reports.
#pragma once

#include "port_subdevice.h"

#include <stdunk.h>

#include <mutex>
#include <vector>

namespace host {

class PortClassDevice;
class WaveCyclicPin;

class CPortWaveCyclic : public IPortWaveCyclic, public CUnknown, public PortSubdevice {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(CPortWaveCyclic);
    ~CPortWaveCyclic() override;
    IMP_IPortWaveCyclic;

    // PortSubdevice
    PUNKNOWN PortUnknown() override { return PUNKNOWN(PPORTWAVECYCLIC(this)); }
    std::vector<GUID> InterfaceClasses() override;
    NTSTATUS NewFilter(PFILE_OBJECT file, KsObject **filter) override;
    void PowerDown(POWER_STATE state) override;
    void PowerUp(POWER_STATE state) override;
    void Unregister() override;
    void DeviceGone() override { device_ = nullptr; }

    // For the port's filters and pins.
    PMINIPORTWAVECYCLIC Miniport() { return miniport_; }
    const PCFILTER_DESCRIPTOR &Descriptor() { return *descriptor_; }
    // Counts a new instance of a pin against its filter and global limits (as the miniport's
    // IPinCount adjusts them); false if a limit is reached.
    bool AddPinInstance(ULONG pin, ULONG *filterCount);
    void RemovePinInstance(ULONG pin, ULONG *filterCount);
    // The instance counts KSPROPERTY_PIN_CINSTANCES / _GLOBALCINSTANCES report.
    KSPIN_CINSTANCES Instances(ULONG pin, ULONG filterCount, bool global);
    ULONG NecessaryInstances(ULONG pin);
    void PinOpened(WaveCyclicPin *pin);
    void PinClosed(WaveCyclicPin *pin);
    void FilterClosed();

private:
    // Limits and counts of a pin, through the miniport's IPinCount when it has one.
    void PinCounts(ULONG pin, ULONG filterCount, ULONG *necessary, ULONG *filterPossible,
                   ULONG *globalCurrent, ULONG *globalPossible);
    void ReleaseMiniport();

    PDEVICE_OBJECT deviceObject_ = nullptr;
    PortClassDevice *device_ = nullptr; // the device it was initialised on, while it exists
    PMINIPORTWAVECYCLIC miniport_ = nullptr;
    PPINCOUNT pinCount_ = nullptr;
    PPCFILTER_DESCRIPTOR descriptor_ = nullptr;
    std::mutex lock_;
    std::vector<ULONG> globalInstances_;
    std::vector<WaveCyclicPin *> pins_;
    ULONG filters_ = 0;
    bool unregistered_ = false;
};

} // namespace host
