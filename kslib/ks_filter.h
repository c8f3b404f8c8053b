// CKsFilter: a kernel-streaming filter opened by its device-interface path, with its topology
// nodes and its pins, which it owns, sorted into views by data flow and communication.
#pragma once

#include "ks_irp_target.h"
#include "ks_list.h"

class CKsPin;

enum : ULONG { KS_FILTER_TYPE_GENERIC = 0, KS_FILTER_TYPE_RENDER = 1, KS_FILTER_TYPE_CAPTURE = 2 };

struct KsTopologyNode {
    ULONG id;
    GUID type;
};

typedef CKsList<CKsPin *> CKsPinList;

class CKsFilter : public CKsIrpTarget {
public:
    // Copies the path (of any length); *status is E_INVALIDARG for a null path, E_OUTOFMEMORY if
    // it cannot be copied, else S_OK.
    CKsFilter(LPCWSTR devicePath, HRESULT *status);
    // Deletes the pins and closes the filter.
    virtual ~CKsFilter();

    virtual HRESULT OpenFilter();
    virtual HRESULT ListNodes();
    virtual HRESULT ListPins();
    virtual HRESULT ReleaseLists();

    // KSP_PIN GETs on the filter.
    HRESULT QueryPinProperty(ULONG pinId, ULONG propertyId, PVOID value, ULONG size,
                             PULONG bytesReturned = nullptr);
    HRESULT QueryPinPropertyAlloc(ULONG pinId, ULONG propertyId, PBYTE *buffer, PULONG size);

    LPCWSTR DevicePath() const { return m_devicePath; }
    LPCWSTR FriendlyName() const { return m_friendlyName; }
    LPCWSTR InstanceId() const { return m_instanceId; }
    void SetFriendlyName(LPCWSTR name);
    // The buffer SetupDiGetDeviceInstanceId fills, and its size in units.
    PWSTR InstanceIdBuffer() { return m_instanceId; }
    static constexpr ULONG kInstanceIdUnits = 201;

    ULONG FilterType() const { return m_filterType; }
    const CKsList<KsTopologyNode> &Nodes() const { return m_nodes; }
    const CKsPinList &Pins() const { return m_pins; }
    const CKsPinList &RenderSinkPins() const { return m_renderSink; }
    const CKsPinList &CaptureSourcePins() const { return m_captureSource; }
    const CKsPinList &CaptureSinkPins() const { return m_captureSink; }
    const CKsPinList &RenderSourcePins() const { return m_renderSource; }
    const CKsPinList &NoCommunicationPins() const { return m_noCommunication; }

protected:
    // KSPROPERTY_PIN_CTYPES.
    HRESULT ReadPinCount(ULONG *count);
    // Appends every pin, in all-pins order, to its views; stops at a failed append.
    HRESULT SortPins();
    // Whether any view but the no-communication one holds a pin.
    bool HasCommunicatingPins() const;
    // Deletes every pin and empties the views.
    void DeletePins();

    CKsList<KsTopologyNode> m_nodes;
    CKsPinList m_pins; // owned, in ascending pin id
    CKsPinList m_renderSink;
    CKsPinList m_captureSource;
    CKsPinList m_captureSink;
    CKsPinList m_renderSource;
    CKsPinList m_noCommunication;
    ULONG m_filterType = KS_FILTER_TYPE_GENERIC;
    PWSTR m_devicePath = nullptr;
    WCHAR m_friendlyName[260] = {};
    WCHAR m_instanceId[kInstanceIdUnits] = {};
};
