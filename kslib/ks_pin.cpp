#include "ks_pin.h"

#include "ks_filter.h"
#include "ks_multiple_item.h"

#include <cstring>

namespace {

typedef DWORD(WINAPI *KsCreatePinFunction)(HANDLE FilterHandle, PKSPIN_CONNECT Connect,
                                           ACCESS_MASK DesiredAccess, PHANDLE ConnectionHandle);

// ksuser's KsCreatePin, found on first use and kept for the life of the process; null if the
// library or the entry point is missing.
KsCreatePinFunction KsCreatePinEntry()
{
    static PVOID volatile entry = nullptr;
    if (entry == nullptr) {
        HMODULE ksuser = LoadLibraryW(L"ksuser.dll");
        FARPROC found = ksuser != nullptr ? GetProcAddress(ksuser, "KsCreatePin") : nullptr;
        if (found == nullptr) {
            if (ksuser != nullptr)
                FreeLibrary(ksuser);
            return nullptr;
        }
        // A second thread that got here too keeps the first entry and drops its own load.
        if (InterlockedCompareExchangePointer(&entry, reinterpret_cast<PVOID>(found), nullptr) !=
            nullptr)
            FreeLibrary(ksuser);
    }
    return reinterpret_cast<KsCreatePinFunction>(entry);
}

} // namespace

CKsPin::CKsPin(CKsFilter *filter, ULONG pinId, HRESULT *status) : m_pinId(pinId), m_filter(filter)
{
    *status = LoadDescriptor();
}

CKsPin::~CKsPin()
{
    ClosePin();
    SetConnectRequest(nullptr, 0);
    delete[] m_interfaceList;
    delete[] m_mediumList;
    delete[] m_dataRangeList;
}

HRESULT CKsPin::LoadDescriptor()
{
    bool allRead = true;
    auto read = [this, &allRead](ULONG property, PVOID value, ULONG size) {
        allRead &= SUCCEEDED(m_filter->QueryPinProperty(m_pinId, property, value, size));
    };
    // A list is kept only when its items fit in what the driver returned.
    auto readList = [this, &allRead](ULONG property, ULONG itemSize, PBYTE *list, ULONG *count) {
        PBYTE buffer = nullptr;
        ULONG size = 0;
        if (FAILED(m_filter->QueryPinPropertyAlloc(m_pinId, property, &buffer, &size)) ||
            (itemSize != 0 ? !KsFixedItemsFit(buffer, size, itemSize)
                           : !KsDataRangesFit(buffer, size))) {
            delete[] buffer;
            allRead = false;
            return static_cast<const BYTE *>(nullptr);
        }
        *list = buffer;
        *count = reinterpret_cast<const KSMULTIPLE_ITEM *>(buffer)->Count;
        return static_cast<const BYTE *>(buffer + sizeof(KSMULTIPLE_ITEM));
    };

    KSPIN_COMMUNICATION communication = KSPIN_COMMUNICATION_NONE;
    read(KSPROPERTY_PIN_COMMUNICATION, &communication, sizeof communication);
    m_communication = communication;
    m_descriptor.Interfaces = reinterpret_cast<const KSPIN_INTERFACE *>(
        readList(KSPROPERTY_PIN_INTERFACES, sizeof(KSPIN_INTERFACE), &m_interfaceList,
                 &m_descriptor.InterfacesCount));
    m_descriptor.Mediums = reinterpret_cast<const KSPIN_MEDIUM *>(readList(
        KSPROPERTY_PIN_MEDIUMS, sizeof(KSPIN_MEDIUM), &m_mediumList, &m_descriptor.MediumsCount));
    m_descriptor.DataRanges = reinterpret_cast<const KSDATARANGE *>(
        readList(KSPROPERTY_PIN_DATARANGES, 0, &m_dataRangeList, &m_descriptor.DataRangesCount));
    KSPIN_DATAFLOW dataFlow = KSPIN_DATAFLOW(0);
    read(KSPROPERTY_PIN_DATAFLOW, &dataFlow, sizeof dataFlow);
    m_dataFlow = dataFlow;
    read(KSPROPERTY_PIN_CINSTANCES, &m_instances, sizeof m_instances);
    read(KSPROPERTY_PIN_GLOBALCINSTANCES, &m_globalInstances, sizeof m_globalInstances);
    read(KSPROPERTY_PIN_CATEGORY, &m_category, sizeof m_category);
    // The name is read one unit short of the field, whose last unit stays its terminator.
    read(KSPROPERTY_PIN_NAME, m_name, sizeof m_name - sizeof(WCHAR));
    m_name[ARRAYSIZE(m_name) - 1] = 0;
    return allRead ? S_OK : S_FALSE;
}

void CKsPin::SetConnectRequest(PBYTE request, ULONG size)
{
    delete[] m_connect;
    m_connect = request;
    m_connectSize = size;
}

HRESULT CKsPin::CreatePinHandle(BOOL looped)
{
    if (m_connect == nullptr)
        return S_OK;
    // A second instance would leave the first one's handle without an owner.
    if (IsValidHandle(m_handle))
        return E_FAIL;
    auto connect = reinterpret_cast<PKSPIN_CONNECT>(m_connect);
    if (m_peer != nullptr)
        connect->PinToHandle = m_peer->Handle();
    m_looped = looped ? 1 : 0;
    connect->Interface.Id =
        looped ? KSINTERFACE_STANDARD_LOOPED_STREAMING : KSINTERFACE_STANDARD_STREAMING;
    KsCreatePinFunction createPin = KsCreatePinEntry();
    HANDLE pin = nullptr;
    DWORD error = createPin != nullptr
                      ? createPin(m_filter->Handle(), connect, GENERIC_READ | GENERIC_WRITE, &pin)
                      : ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SUCCESS) {
        m_handle = pin;
        return S_OK;
    }
    return HRESULT(error) > 0 ? HRESULT_FROM_WIN32(error) : HRESULT(error);
}

HRESULT CKsPin::ChangeState(KSSTATE state)
{
    HRESULT result =
        StoreProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, &state, sizeof state);
    if (SUCCEEDED(result))
        m_state = state;
    return result;
}

HRESULT CKsPin::ReadState(KSSTATE *state)
{
    if (state == nullptr)
        return E_INVALIDARG;
    return QueryProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE, state, sizeof *state);
}

HRESULT CKsPin::ClosePin()
{
    if (IsValidHandle(m_handle)) {
        ChangeState(KSSTATE_STOP);
        CloseTargetHandle();
    }
    return S_OK;
}
