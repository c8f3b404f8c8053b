#include "ks_aud_filter.h"

#include "ks_aud_pin.h"

#include <new>

CKsAudFilter::CKsAudFilter(LPCWSTR devicePath, HRESULT *status) : CKsFilter(devicePath, status) {}

HRESULT CKsAudFilter::ListPins()
{
    ULONG count;
    if (SUCCEEDED(ReadPinCount(&count))) {
        for (ULONG id = 0; id < count; ++id) {
            KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
            if (FAILED(QueryPinProperty(id, KSPROPERTY_PIN_COMMUNICATION, &communication,
                                        sizeof communication)) ||
                communication < KSPIN_COMMUNICATION_SINK ||
                communication > KSPIN_COMMUNICATION_BOTH)
                continue;
            KSPIN_DATAFLOW dataFlow;
            if (FAILED(QueryPinProperty(id, KSPROPERTY_PIN_DATAFLOW, &dataFlow, sizeof dataFlow)))
                continue;
            HRESULT status = S_OK;
            CKsAudPin *pin;
            if (communication == KSPIN_COMMUNICATION_SINK && dataFlow == KSPIN_DATAFLOW_IN)
                pin = new (std::nothrow) CKsAudRenPin(this, id, &status);
            else if (communication == KSPIN_COMMUNICATION_SINK && dataFlow == KSPIN_DATAFLOW_OUT)
                pin = new (std::nothrow) CKsAudCapPin(this, id, &status);
            else
                pin = new (std::nothrow) CKsAudPin(this, id, &status);
            if (pin != nullptr && FAILED(status)) {
                delete pin;
                continue;
            }
            if (pin == nullptr || !m_pins.Append(pin)) {
                delete pin;
                DeletePins();
                return E_OUTOFMEMORY;
            }
        }
    }
    SortPins();
    return HasCommunicatingPins() ? S_OK : E_FAIL;
}

CKsAudPin *CKsAudFilter::OpenPinFor(const CKsPinList &pins, const WAVEFORMATEX *format)
{
    for (CKsPin *candidate : pins) {
        auto pin = static_cast<CKsAudPin *>(candidate);
        if (!pin->AcceptsFormat(format))
            continue;
        // Only the first accepting pin is tried.
        if (FAILED(pin->ApplyFormat(format)) || FAILED(pin->CreatePinHandle(FALSE)))
            return nullptr;
        return pin;
    }
    return nullptr;
}

CKsAudPin *CKsAudFilter::OpenRenderPinFor(const WAVEFORMATEX *format)
{
    return OpenPinFor(m_renderSink, format);
}

CKsAudPin *CKsAudFilter::OpenCapturePinFor(const WAVEFORMATEX *format)
{
    return OpenPinFor(m_captureSink, format);
}

CKsAudRenFilter::CKsAudRenFilter(LPCWSTR devicePath, HRESULT *status)
    : CKsAudFilter(devicePath, status)
{
    m_filterType = KS_FILTER_TYPE_RENDER;
}

CKsAudCapFilter::CKsAudCapFilter(LPCWSTR devicePath, HRESULT *status)
    : CKsAudFilter(devicePath, status)
{
    m_filterType = KS_FILTER_TYPE_CAPTURE;
}
