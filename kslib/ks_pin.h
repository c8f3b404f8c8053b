// CKsPin: one pin of a filter: its descriptor as the filter reports it, the connect request a
// pin instance is created with, and the instance's handle and state.
#pragma once

#include "ks_irp_target.h"

class CKsFilter;

enum : ULONG { KS_PIN_TYPE_GENERIC = 0, KS_PIN_TYPE_RENDER = 1, KS_PIN_TYPE_CAPTURE = 2 };

// The descriptor lists point into the buffers the pin owns, just behind each list's header.
struct KsPinDescriptor {
    ULONG InterfacesCount;
    const KSPIN_INTERFACE *Interfaces;
    ULONG MediumsCount;
    const KSPIN_MEDIUM *Mediums;
    ULONG DataRangesCount;
    const KSDATARANGE *DataRanges;
};

class CKsPin : public CKsIrpTarget {
public:
    // Reads the descriptor (LoadDescriptor); *status is S_OK, or 1 when a read failed (which
    // leaves that part of the descriptor empty).
    CKsPin(CKsFilter *filter, ULONG pinId, HRESULT *status);
    // Closes the pin as ClosePin does.
    virtual ~CKsPin();

    // Creates the pin instance (KsCreatePin) with the connect request.
    virtual HRESULT CreatePinHandle(BOOL looped);
    virtual HRESULT ChangeState(KSSTATE state);
    HRESULT ReadState(KSSTATE *state);
    // Stops the instance and closes its handle, if there is one.
    HRESULT ClosePin();

    ULONG PinId() const { return m_pinId; }
    ULONG PinType() const { return m_pinType; }
    KSPIN_DATAFLOW DataFlow() const { return m_dataFlow; }
    KSPIN_COMMUNICATION Communication() const { return m_communication; }
    const GUID &Category() const { return m_category; }
    LPCWSTR Name() const { return m_name; }
    const KSPIN_CINSTANCES &Instances() const { return m_instances; }
    const KSPIN_CINSTANCES &GlobalInstances() const { return m_globalInstances; }
    const KsPinDescriptor &Descriptor() const { return m_descriptor; }
    KSSTATE State() const { return m_state; }
    ULONG Looped() const { return m_looped; }
    void SetPeer(CKsPin *peer) { m_peer = peer; }

protected:
    HRESULT LoadDescriptor();
    // The pin's connect request, replaced (the old one freed); size 0 frees it.
    void SetConnectRequest(PBYTE request, ULONG size);

    PBYTE m_connect = nullptr; // KSPIN_CONNECT and what follows it
    ULONG m_connectSize = 0;
    ULONG m_pinId;
    CKsFilter *m_filter;
    GUID m_category = {};
    KsPinDescriptor m_descriptor = {};
    PBYTE m_interfaceList = nullptr;
    PBYTE m_mediumList = nullptr;
    PBYTE m_dataRangeList = nullptr;
    KSPIN_DATAFLOW m_dataFlow = KSPIN_DATAFLOW(0);
    KSPIN_COMMUNICATION m_communication = KSPIN_COMMUNICATION_NONE;
    KSPIN_CINSTANCES m_instances = {};
    KSPIN_CINSTANCES m_globalInstances = {};
    ULONG m_pinType = KS_PIN_TYPE_GENERIC;
    KSSTATE m_state = KSSTATE_STOP;
    WCHAR m_name[260] = {};
    ULONG m_looped = 0;
    CKsPin *m_peer = nullptr;
};
