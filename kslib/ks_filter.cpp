#include "ks_filter.h"

#include "ks_multiple_item.h"
#include "ks_pin.h"
#include "ks_strings.h"

#include <new>

CKsFilter::CKsFilter(LPCWSTR devicePath, HRESULT *status)
{
    if (devicePath == nullptr) {
        *status = E_INVALIDARG;
        return;
    }
    ULONG units = ULONG(lstrlenW(devicePath)) + 1;
    m_devicePath = new (std::nothrow) WCHAR[units];
    if (m_devicePath == nullptr) {
        *status = E_OUTOFMEMORY;
        return;
    }
    KsCopyString(m_devicePath, units, devicePath);
    *status = S_OK;
}

CKsFilter::~CKsFilter()
{
    ReleaseLists();
    CloseTargetHandle();
    delete[] m_devicePath;
}

HRESULT CKsFilter::OpenFilter()
{
    // Shared, as Windows treats kernel-streaming filters anyway: another program (the control
    // panel beside an ASIO host) may hold the same filter open.
    HANDLE handle =
        CreateFileW(m_devicePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (!IsValidHandle(handle))
        return E_FAIL;
    CloseTargetHandle();
    m_handle = handle;
    return S_OK;
}

HRESULT CKsFilter::QueryPinProperty(ULONG pinId, ULONG propertyId, PVOID value, ULONG size,
                                    PULONG bytesReturned)
{
    KSP_PIN request = {};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = propertyId;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    return PropertyRequest(m_handle, &request, sizeof request, value, size, bytesReturned);
}

HRESULT CKsFilter::QueryPinPropertyAlloc(ULONG pinId, ULONG propertyId, PBYTE *buffer, PULONG size)
{
    KSP_PIN request = {};
    request.Property.Set = KSPROPSETID_Pin;
    request.Property.Id = propertyId;
    request.Property.Flags = KSPROPERTY_TYPE_GET;
    request.PinId = pinId;
    return PropertyRequestAlloc(m_handle, &request, sizeof request, buffer, size);
}

HRESULT CKsFilter::ListNodes()
{
    PBYTE list = nullptr;
    ULONG size = 0;
    HRESULT result =
        QueryPropertyAlloc(KSPROPSETID_Topology, KSPROPERTY_TOPOLOGY_NODES, &list, &size);
    if (FAILED(result))
        return result;
    if (list != nullptr && !KsFixedItemsFit(list, size, sizeof(GUID))) {
        delete[] list;
        return E_FAIL;
    }
    ULONG count = list != nullptr ? reinterpret_cast<const KSMULTIPLE_ITEM *>(list)->Count : 0;
    auto types = reinterpret_cast<const GUID *>(list + sizeof(KSMULTIPLE_ITEM));
    for (ULONG i = 0; i < count; ++i)
        if (!m_nodes.Append({i, types[i]}))
            break;
    delete[] list;
    if (m_nodes.Count() != count) {
        m_nodes.Clear();
        return E_FAIL;
    }
    return S_OK;
}

HRESULT CKsFilter::ReadPinCount(ULONG *count)
{
    *count = 0;
    return QueryPinProperty(0, KSPROPERTY_PIN_CTYPES, count, sizeof *count);
}

HRESULT CKsFilter::ListPins()
{
    ULONG count;
    if (SUCCEEDED(ReadPinCount(&count))) {
        for (ULONG id = 0; id < count; ++id) {
            HRESULT status = S_OK;
            CKsPin *pin = new (std::nothrow) CKsPin(this, id, &status);
            if (pin != nullptr && !m_pins.Append(pin))
                delete pin;
        }
    }
    HRESULT result = SortPins();
    return HasCommunicatingPins() || m_noCommunication.Count() != 0 ? result : E_FAIL;
}

HRESULT CKsFilter::SortPins()
{
    for (CKsPin *pin : m_pins) {
        bool in = pin->DataFlow() == KSPIN_DATAFLOW_IN;
        bool appended = true;
        switch (pin->Communication()) {
        case KSPIN_COMMUNICATION_NONE: appended = m_noCommunication.Append(pin); break;
        case KSPIN_COMMUNICATION_SINK:
            appended = (in ? m_renderSink : m_captureSink).Append(pin);
            break;
        case KSPIN_COMMUNICATION_SOURCE:
            appended = (in ? m_renderSource : m_captureSource).Append(pin);
            break;
        case KSPIN_COMMUNICATION_BOTH:
            appended = (in ? m_renderSink : m_captureSink).Append(pin) &&
                       (in ? m_renderSource : m_captureSource).Append(pin);
            break;
        default: break; // a bridge pin, or a value KS does not define: in no view
        }
        if (!appended)
            return E_OUTOFMEMORY;
    }
    return S_OK;
}

bool CKsFilter::HasCommunicatingPins() const
{
    return m_renderSink.Count() != 0 || m_captureSource.Count() != 0 ||
           m_captureSink.Count() != 0 || m_renderSource.Count() != 0;
}

void CKsFilter::DeletePins()
{
    for (CKsPin *pin : m_pins)
        delete pin;
    m_pins.Clear();
    m_renderSink.Clear();
    m_captureSource.Clear();
    m_captureSink.Clear();
    m_renderSource.Clear();
    m_noCommunication.Clear();
}

HRESULT CKsFilter::ReleaseLists()
{
    m_nodes.Clear();
    DeletePins();
    return S_OK;
}

void CKsFilter::SetFriendlyName(LPCWSTR name)
{
    KsCopyString(m_friendlyName, ARRAYSIZE(m_friendlyName), name);
}
