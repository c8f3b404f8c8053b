#include "port_wave_cyclic.h"

#include "dma_channel.h"
#include "pin_connect.h"
#include "port_class_device.h"
#include "pool_tags.h"
#include "service_group.h"
#include "wave_cyclic_filter.h"
#include "wave_cyclic_pin.h"

#include "kernel/machine.h"

#include <algorithm>

namespace host {

namespace {

void Report(const std::string &what)
{
    CurrentThread("WaveCyclic port")->machine->Checks().Report(VerifierCheck::Usage, what);
}

} // namespace

CPortWaveCyclic::~CPortWaveCyclic()
{
    ReleaseMiniport();
    if (device_ != nullptr)
        device_->PortDestroyed(this);
}

STDMETHODIMP_(NTSTATUS) CPortWaveCyclic::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IPort) || IsEqualGUIDAligned(iid, IID_IPortWaveCyclic)) {
        *object = PVOID(PPORTWAVECYCLIC(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    if (IsEqualGUIDAligned(iid, IID_HostPortSubdevice)) {
        *object = static_cast<PortSubdevice *>(this);
        AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

// ---------------------------------------------------------------------------------------------
// IPort

STDMETHODIMP_(NTSTATUS)
CPortWaveCyclic::Init(PDEVICE_OBJECT DeviceObject, PIRP, PUNKNOWN UnknownMiniport,
                      PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList)
{
    if (miniport_ != nullptr) {
        Report("IPort::Init on a port that is already initialised");
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (DeviceObject == nullptr || UnknownMiniport == nullptr)
        return STATUS_INVALID_PARAMETER;
    PortClassDevice *device = PortClassDevice::Of(DeviceObject, "IPort::Init");
    if (device == nullptr)
        return STATUS_INVALID_PARAMETER;
    PVOID miniport = nullptr;
    NTSTATUS status = UnknownMiniport->QueryInterface(IID_IMiniportWaveCyclic, &miniport);
    if (!NT_SUCCESS(status))
        return STATUS_INVALID_PARAMETER;
    miniport_ = static_cast<PMINIPORTWAVECYCLIC>(miniport);
    deviceObject_ = DeviceObject;
    // The resource list goes to the miniport as the adapter gave it (none from a USB adapter).
    status = miniport_->Init(UnknownAdapter, ResourceList, this);
    if (NT_SUCCESS(status)) {
        status = miniport_->GetDescription(&descriptor_);
        if (NT_SUCCESS(status) &&
            (descriptor_ == nullptr || descriptor_->PinSize < sizeof(PCPIN_DESCRIPTOR) ||
             (descriptor_->NodeCount != 0 && descriptor_->NodeSize < sizeof(PCNODE_DESCRIPTOR)))) {
            Report("the miniport's filter description has no pins or short pin or node records");
            status = STATUS_INVALID_PARAMETER;
        }
    }
    if (!NT_SUCCESS(status)) {
        ReleaseMiniport();
        return status;
    }
    PVOID pinCount = nullptr;
    if (NT_SUCCESS(miniport_->QueryInterface(IID_IPinCount, &pinCount)))
        pinCount_ = static_cast<PPINCOUNT>(pinCount);
    globalInstances_.assign(descriptor_->PinCount, 0);
    device_ = device;
    device->PortInitialised(this);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CPortWaveCyclic::GetDeviceProperty(DEVICE_REGISTRY_PROPERTY DeviceProperty, ULONG BufferLength,
                                   PVOID PropertyBuffer, PULONG ResultLength)
{
    if (deviceObject_ == nullptr)
        return STATUS_INVALID_DEVICE_REQUEST;
    return PcGetDeviceProperty(deviceObject_, DeviceProperty, BufferLength, PropertyBuffer,
                               ResultLength);
}

STDMETHODIMP_(NTSTATUS)
CPortWaveCyclic::NewRegistryKey(PREGISTRYKEY *OutRegistryKey, PUNKNOWN, ULONG, ACCESS_MASK,
                                POBJECT_ATTRIBUTES, ULONG, PULONG)
{
    if (OutRegistryKey != nullptr)
        *OutRegistryKey = nullptr;
    Report("IPort::NewRegistryKey is not emulated");
    return STATUS_NOT_IMPLEMENTED;
}

// ---------------------------------------------------------------------------------------------
// IPortWaveCyclic

STDMETHODIMP_(VOID) CPortWaveCyclic::Notify(PSERVICEGROUP ServiceGroup)
{
    QueueServiceGroupDpc(ServiceGroup);
}

STDMETHODIMP_(NTSTATUS)
CPortWaveCyclic::NewSlaveDmaChannel(PDMACHANNELSLAVE *DmaChannel, PUNKNOWN,
                                    PRESOURCELIST ResourceList, ULONG DmaIndex, ULONG, BOOLEAN,
                                    DMA_SPEED)
{
    if (DmaChannel != nullptr)
        *DmaChannel = nullptr;
    // A slave channel needs a system DMA channel among the device's resources; a USB device
    // has none.
    if (ResourceList == nullptr || ResourceList->FindTranslatedDma(DmaIndex) == nullptr)
        return STATUS_INVALID_PARAMETER;
    Report("IPortWaveCyclic::NewSlaveDmaChannel on system DMA resources is not emulated");
    return STATUS_NOT_IMPLEMENTED;
}

STDMETHODIMP_(NTSTATUS)
CPortWaveCyclic::NewMasterDmaChannel(PDMACHANNEL *DmaChannel, PUNKNOWN OuterUnknown, PRESOURCELIST,
                                     ULONG MaximumLength, BOOLEAN, BOOLEAN, DMA_WIDTH, DMA_SPEED)
{
    if (DmaChannel == nullptr)
        return STATUS_INVALID_PARAMETER;
    return host::NewMasterDmaChannel(DmaChannel, OuterUnknown, MaximumLength);
}

// ---------------------------------------------------------------------------------------------
// The subdevice

std::vector<GUID> CPortWaveCyclic::InterfaceClasses()
{
    const PCFILTER_DESCRIPTOR &filter = *descriptor_;
    if (filter.CategoryCount != 0 && filter.Categories != nullptr)
        return std::vector<GUID>(filter.Categories, filter.Categories + filter.CategoryCount);
    // No categories of its own: an audio filter, rendering if a client can create a pin that
    // takes data in, capturing if one that gives data out.
    bool render = false;
    bool capture = false;
    for (ULONG i = 0; i < filter.PinCount; ++i) {
        const KSPIN_DESCRIPTOR &pin = PinDescriptorOf(filter, i).KsPinDescriptor;
        if (pin.Communication != KSPIN_COMMUNICATION_SINK &&
            pin.Communication != KSPIN_COMMUNICATION_BOTH)
            continue;
        render |= pin.DataFlow == KSPIN_DATAFLOW_IN;
        capture |= pin.DataFlow == KSPIN_DATAFLOW_OUT;
    }
    std::vector<GUID> classes{KSCATEGORY_AUDIO};
    if (render)
        classes.push_back(KSCATEGORY_RENDER);
    if (capture)
        classes.push_back(KSCATEGORY_CAPTURE);
    return classes;
}

NTSTATUS CPortWaveCyclic::NewFilter(PFILE_OBJECT, KsObject **filter)
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (unregistered_ || miniport_ == nullptr)
            return STATUS_DEVICE_NOT_CONNECTED;
        ++filters_;
    }
    *filter = new WaveCyclicFilter(*this);
    return STATUS_SUCCESS;
}

void CPortWaveCyclic::FilterClosed()
{
    bool release;
    {
        std::lock_guard<std::mutex> guard(lock_);
        release = --filters_ == 0 && unregistered_;
    }
    if (release)
        ReleaseMiniport();
}

void CPortWaveCyclic::Unregister()
{
    bool release;
    {
        std::lock_guard<std::mutex> guard(lock_);
        unregistered_ = true;
        release = filters_ == 0;
    }
    if (release)
        ReleaseMiniport();
}

void CPortWaveCyclic::ReleaseMiniport()
{
    PMINIPORTWAVECYCLIC miniport = miniport_;
    if (miniport == nullptr)
        return;
    if (pinCount_ != nullptr)
        pinCount_->Release();
    pinCount_ = nullptr;
    miniport_ = nullptr;
    descriptor_ = nullptr;
    if (ULONG left = miniport->Release())
        CurrentThread("WaveCyclic port")
            ->machine->Checks()
            .Report(VerifierCheck::ObjectLeak,
                    "the miniport still has " + std::to_string(left) +
                        " reference(s) after its port released it (its subdevice is gone)");
}

void CPortWaveCyclic::PinOpened(WaveCyclicPin *pin)
{
    std::lock_guard<std::mutex> guard(lock_);
    pins_.push_back(pin);
}

void CPortWaveCyclic::PinClosed(WaveCyclicPin *pin)
{
    std::lock_guard<std::mutex> guard(lock_);
    pins_.erase(std::remove(pins_.begin(), pins_.end(), pin), pins_.end());
}

void CPortWaveCyclic::PowerDown(POWER_STATE state)
{
    std::vector<WaveCyclicPin *> pins;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pins = pins_;
    }
    for (WaveCyclicPin *pin : pins)
        pin->PauseForPowerDown();
    PVOID notify = nullptr;
    if (miniport_ != nullptr && NT_SUCCESS(miniport_->QueryInterface(IID_IPowerNotify, &notify))) {
        static_cast<PPOWERNOTIFY>(notify)->PowerChangeNotify(state);
        static_cast<PPOWERNOTIFY>(notify)->Release();
    }
    for (WaveCyclicPin *pin : pins)
        pin->NotifyPower(state);
}

void CPortWaveCyclic::PowerUp(POWER_STATE state)
{
    std::vector<WaveCyclicPin *> pins;
    {
        std::lock_guard<std::mutex> guard(lock_);
        pins = pins_;
    }
    PVOID notify = nullptr;
    if (miniport_ != nullptr && NT_SUCCESS(miniport_->QueryInterface(IID_IPowerNotify, &notify))) {
        static_cast<PPOWERNOTIFY>(notify)->PowerChangeNotify(state);
        static_cast<PPOWERNOTIFY>(notify)->Release();
    }
    for (WaveCyclicPin *pin : pins) {
        pin->NotifyPower(state);
        pin->ResumeAfterPowerUp();
    }
}

// ---------------------------------------------------------------------------------------------
// Pin instances

void CPortWaveCyclic::PinCounts(ULONG pin, ULONG filterCount, ULONG *necessary,
                                ULONG *filterPossible, ULONG *globalCurrent, ULONG *globalPossible)
{
    const PCPIN_DESCRIPTOR &descriptor = PinDescriptorOf(*descriptor_, pin);
    *necessary = descriptor.MinFilterInstanceCount;
    *filterPossible = descriptor.MaxFilterInstanceCount;
    *globalCurrent = globalInstances_[pin];
    *globalPossible = descriptor.MaxGlobalInstanceCount;
    ULONG filterCurrent = filterCount;
    if (pinCount_ != nullptr)
        pinCount_->PinCount(pin, necessary, &filterCurrent, filterPossible, globalCurrent,
                            globalPossible);
}

bool CPortWaveCyclic::AddPinInstance(ULONG pin, ULONG *filterCount)
{
    std::lock_guard<std::mutex> guard(lock_);
    ULONG necessary, filterPossible, globalCurrent, globalPossible;
    PinCounts(pin, *filterCount, &necessary, &filterPossible, &globalCurrent, &globalPossible);
    if (*filterCount >= filterPossible || globalCurrent >= globalPossible)
        return false;
    ++*filterCount;
    ++globalInstances_[pin];
    return true;
}

void CPortWaveCyclic::RemovePinInstance(ULONG pin, ULONG *filterCount)
{
    std::lock_guard<std::mutex> guard(lock_);
    --*filterCount;
    --globalInstances_[pin];
}

KSPIN_CINSTANCES CPortWaveCyclic::Instances(ULONG pin, ULONG filterCount, bool global)
{
    std::lock_guard<std::mutex> guard(lock_);
    ULONG necessary, filterPossible, globalCurrent, globalPossible;
    PinCounts(pin, filterCount, &necessary, &filterPossible, &globalCurrent, &globalPossible);
    return global ? KSPIN_CINSTANCES{globalPossible, globalCurrent}
                  : KSPIN_CINSTANCES{filterPossible, filterCount};
}

ULONG CPortWaveCyclic::NecessaryInstances(ULONG pin)
{
    std::lock_guard<std::mutex> guard(lock_);
    ULONG necessary, filterPossible, globalCurrent, globalPossible;
    PinCounts(pin, 0, &necessary, &filterPossible, &globalCurrent, &globalPossible);
    return necessary;
}

} // namespace host

extern "C" NTSTATUS NTAPI PcNewPort(PPORT *OutPort, REFCLSID ClassId)
{
    if (OutPort == nullptr)
        return STATUS_INVALID_PARAMETER;
    *OutPort = nullptr;
    if (!IsEqualGUIDAligned(ClassId, CLSID_PortWaveCyclic))
        return STATUS_NOT_SUPPORTED; // the other port types are not emulated
    auto port = new (NonPagedPoolNx, host::kPortTag) host::CPortWaveCyclic(nullptr);
    if (port == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    port->NonDelegatingAddRef();
    *OutPort = port;
    return STATUS_SUCCESS;
}
