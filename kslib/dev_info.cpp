#include "dev_info.h"

#include "ks_aud_pin.h"
#include "ks_strings.h"
#include "ks_trace.h"

#include <cstring>
#include <new>

// The RV-D3: interface 0 (the audio function) of the composite USB device.
const LPCWSTR g_SupportedHardwareIds[] = {
    L"USB\\VID_2FC3&PID_D003&MI_00",
    L"",
};

namespace {

// A device property read whole (a size query, then the value) with zero bytes behind it, so that
// a string or multi-string the device stored without its terminators still ends inside the
// buffer; null if it cannot be read. The caller deletes it (delete[]).
PBYTE ReadDeviceProperty(HDEVINFO set, PSP_DEVINFO_DATA device, DWORD property)
{
    // Room for the terminators of an odd-sized value's last string and of the list.
    constexpr DWORD kTerminators = 6;
    DWORD needed = 0;
    if (SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, nullptr, 0, &needed) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0)
        return nullptr;
    PBYTE value = new (std::nothrow) BYTE[needed + kTerminators];
    if (value == nullptr)
        return nullptr;
    std::memset(value, 0, needed + kTerminators);
    if (!SetupDiGetDeviceRegistryPropertyW(set, device, property, nullptr, value, needed,
                                           nullptr)) {
        delete[] value;
        return nullptr;
    }
    return value;
}

bool IsSupportedHardwareId(LPCWSTR id)
{
    for (const LPCWSTR *supported = g_SupportedHardwareIds; **supported != 0; ++supported)
        if (lstrcmpiW(id, *supported) == 0)
            return true;
    return false;
}

bool ListsSupportedHardwareId(const BYTE *multiString)
{
    for (auto id = reinterpret_cast<LPCWSTR>(multiString); *id != 0; id += lstrlenW(id) + 1)
        if (IsSupportedHardwareId(id))
            return true;
    return false;
}

const char *TrueOrFalse(bool value) { return value ? "TRUE" : "FALSE"; }

} // namespace

CKsEnumFilters::~CKsEnumFilters() { CKsEnumFilters::ReleaseLists(); }

HRESULT CKsEnumFilters::ReleaseLists()
{
    for (CKsAudFilter2 *filter : m_filters)
        delete filter;
    m_filters.Clear();
    return S_OK;
}

CDevInfo::CDevInfo()
{
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::CDevInfo Start.\n");
    m_entries.Reserve(8);
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::CDevInfo Return.\n");
}

CDevInfo::~CDevInfo()
{
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::~CDevInfo Start.\n");
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::~CDevInfo Return.\n");
}

HRESULT CDevInfo::AddFilter(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData)
{
    // The detail's size is asked first: an interface path may be of any length.
    DWORD needed = 0;
    SetupDiGetDeviceInterfaceDetailW(set, interfaceData, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
        return S_FALSE;
    auto detail =
        reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(new (std::nothrow) BYTE[needed]);
    if (detail == nullptr) {
        KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(248):Failed to allocate "
                                      "SP_DEVICE_INTERFACE_DETAIL_DATA structure\n");
        return E_OUTOFMEMORY;
    }
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    SP_DEVINFO_DATA device = {};
    device.cbSize = sizeof device;
    PBYTE hardwareIds = nullptr;
    PBYTE description = nullptr;
    CKsAudFilter2 *filter = nullptr;
    HRESULT result = S_FALSE;
    do {
        if (!SetupDiGetDeviceInterfaceDetailW(set, interfaceData, detail, needed, nullptr, &device))
            break;
        hardwareIds = ReadDeviceProperty(set, &device, SPDRP_HARDWAREID);
        if (hardwareIds == nullptr)
            KsLibTrace(KSLIB_TRACE_ERROR, "error");
        if (hardwareIds == nullptr || !ListsSupportedHardwareId(hardwareIds))
            break;
        description = ReadDeviceProperty(set, &device, SPDRP_DEVICEDESC);
        if (description == nullptr) {
            KsLibTrace(KSLIB_TRACE_ERROR, "error");
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(281):error\n");
            break;
        }
        HRESULT status = S_OK;
        filter = new (std::nothrow) CKsAudFilter2(detail->DevicePath, &status);
        if (filter == nullptr || FAILED(status)) {
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(292):error\n");
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(352):error\n");
            break;
        }
        filter->SetFriendlyName(reinterpret_cast<LPCWSTR>(description));
        bool usable = SUCCEEDED(filter->OpenFilter()) && SUCCEEDED(filter->ListPins());
        if (usable && filter->RenderSinkPins().Count() == 0 &&
            filter->CaptureSinkPins().Count() == 0) {
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(316):error\n");
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(352):error\n");
            break;
        }
        if (!SetupDiGetDeviceInstanceIdW(set, &device, filter->InstanceIdBuffer(),
                                         CKsFilter::kInstanceIdUnits, nullptr)) {
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(330):error\n");
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(352):error\n");
            break;
        }
        if (!usable) {
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(352):error\n");
            break;
        }
        if (!m_filters.Append(filter)) {
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(343):error\n");
            KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(352):error\n");
            break;
        }
        filter = nullptr; // the list owns it now
        result = S_OK;
    } while (false);
    delete filter;
    delete[] description;
    delete[] hardwareIds;
    delete[] reinterpret_cast<PBYTE>(detail);
    return result;
}

bool CDevInfo::EnumFilters()
{
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::EnumFilters() Start.\n");
    ReleaseLists();
    m_selected = nullptr;
    HRESULT result = S_OK;
    HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(209):error\n");
        result = E_FAIL;
    } else {
        SP_DEVICE_INTERFACE_DATA interfaceData = {};
        interfaceData.cbSize = sizeof interfaceData;
        for (DWORD index = 0;
             SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, index, &interfaceData);
             ++index) {
            if (AddFilter(set, &interfaceData) == E_OUTOFMEMORY) {
                result = E_OUTOFMEMORY;
                break;
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }
    if (SUCCEEDED(result) && m_filters.Count() == 0)
        result = E_FAIL;
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::EnumFilters() Return. [%s]\n",
               TrueOrFalse(SUCCEEDED(result)));
    return SUCCEEDED(result);
}

FormatRange CDevInfo::RangeOf(const CKsPinList &pins) const
{
    FormatRange range = {0, 0xFFFFFFFF, 0, 0xFFFFFFFF, 0};
    bool seen = false;
    for (CKsPin *pin : pins) {
        for (const KSDATARANGE_AUDIO &audio : static_cast<CKsAudPin *>(pin)->AudioRanges()) {
            seen = true;
            if (audio.MaximumChannels > range.channels)
                range.channels = audio.MaximumChannels;
            if (audio.MinimumBitsPerSample < range.minimumBits)
                range.minimumBits = audio.MinimumBitsPerSample;
            if (audio.MaximumBitsPerSample > range.maximumBits)
                range.maximumBits = audio.MaximumBitsPerSample;
            if (audio.MinimumSampleFrequency < range.minimumRate)
                range.minimumRate = audio.MinimumSampleFrequency;
            if (audio.MaximumSampleFrequency > range.maximumRate)
                range.maximumRate = audio.MaximumSampleFrequency;
        }
    }
    return seen ? range : FormatRange{};
}

void CDevInfo::DumpEntry(const ActiveDeviceEntry &entry) const
{
    KsLibTrace(KSLIB_TRACE_DUMP, "<makeActiveDeviceList dump>\n");
    KsLibTrace(KSLIB_TRACE_DUMP, "devName: %s\n", CKsTraceText(entry.devName).c_str());
    KsLibTrace(KSLIB_TRACE_DUMP, "hwid: %s\n", CKsTraceText(entry.instanceId).c_str());
    const struct {
        const char *label;
        const FormatRange &range;
    } ranges[] = {{"renderRange", entry.renderRange}, {"captureRange", entry.captureRange}};
    for (const auto &r : ranges)
        KsLibTrace(KSLIB_TRACE_DUMP, "%s: %u ch / %u - %u bit / %u - %u Hz\n", r.label,
                   unsigned(r.range.channels), unsigned(r.range.minimumBits),
                   unsigned(r.range.maximumBits), unsigned(r.range.minimumRate),
                   unsigned(r.range.maximumRate));
    KsLibTrace(KSLIB_TRACE_DUMP, "CurrentSelect: %s\n", TrueOrFalse(entry.CurrentSelect != 0));
    KsLibTrace(KSLIB_TRACE_DUMP, "</makeActiveDeviceList dump>\n");
}

bool CDevInfo::makeActiveDeviceList()
{
    m_entries.Clear();
    EnumFilters();
    for (ULONG i = 0; i < m_filters.Count();) {
        CKsAudFilter2 *filter = m_filters[i];
        ActiveDeviceEntry entry = {};
        KsCopyString(entry.devName, ARRAYSIZE(entry.devName), filter->FriendlyName());
        KsCopyString(entry.instanceId, ARRAYSIZE(entry.instanceId), filter->InstanceId());
        entry.renderRange = RangeOf(filter->RenderSinkPins());
        entry.captureRange = RangeOf(filter->CaptureSinkPins());
        DumpEntry(entry);
        // The entries and the filters stay in step: a filter without its entry goes.
        if (!m_entries.Append(entry)) {
            delete filter;
            m_filters.RemoveAt(i);
            continue;
        }
        ++i;
    }
    return true;
}

bool CDevInfo::setCurrentSelectedByDeviceInstanceId(LPCWSTR instanceId)
{
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::setCurrentSelectedByDeviceInstanceId(%p) Start.\n",
               static_cast<const void *>(instanceId));
    if (instanceId == nullptr) {
        KsLibTrace(KSLIB_TRACE_ERROR,
                   "CDevInfo::setCurrentSelectedByDeviceInstanceId() / bad parameter\n");
        KsLibTrace(KSLIB_TRACE_FLOW,
                   "CDevInfo::setCurrentSelectedByDeviceInstanceId() Return. [FALSE]\n");
        return false;
    }
    KsLibTrace(KSLIB_TRACE_FLOW,
               "CDevInfo::setCurrentSelectedByDeviceInstanceId() / instance ids = %s\n",
               CKsTraceText(instanceId).c_str());
    bool found = false;
    if (m_filters.Count() == 0) {
        KsLibTrace(KSLIB_TRACE_ERROR, ".\\cdevinfo(424):error\n");
        m_selected = nullptr;
    } else {
        m_selected = nullptr;
        for (CKsAudFilter2 *filter : m_filters) {
            if (KsStringsEqualIgnoringAsciiCase(filter->InstanceId(), instanceId)) {
                m_selected = filter;
                break;
            }
        }
        found = m_selected != nullptr;
        for (ActiveDeviceEntry &entry : m_entries)
            entry.CurrentSelect =
                found && KsStringsEqualIgnoringAsciiCase(entry.instanceId, instanceId) ? 1 : 0;
    }
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::setCurrentSelectedByDeviceInstanceId() Return. [%s]\n",
               TrueOrFalse(found));
    return found;
}

CKsAudFilter2 *CDevInfo::getCurrentSelected()
{
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::getCurrentSelected() Start.\n");
    KsLibTrace(KSLIB_TRACE_FLOW, "CDevInfo::getCurrentSelected() Return.\n");
    return m_selected;
}

bool CDevInfo::findSelectedIndex(int *index)
{
    for (ULONG i = 0; i < m_entries.Count(); ++i) {
        if (m_entries[i].CurrentSelect != 0) {
            *index = int(i);
            return true;
        }
    }
    return false;
}

const ActiveDeviceEntry *CDevInfo::entryAt(int index)
{
    return index >= 0 && ULONG(index) < m_entries.Count() ? &m_entries[ULONG(index)] : nullptr;
}

bool CDevInfo::selectByIndex(int index)
{
    const ActiveDeviceEntry *entry = entryAt(index);
    return entry != nullptr && setCurrentSelectedByDeviceInstanceId(entry->instanceId);
}

bool CDevInfo::selectByInstanceIdInList(LPCWSTR instanceId)
{
    if (instanceId == nullptr)
        return false;
    for (const ActiveDeviceEntry &entry : m_entries)
        if (KsStringsEqual(entry.instanceId, instanceId))
            return setCurrentSelectedByDeviceInstanceId(entry.instanceId);
    return false;
}

bool CDevInfo::getSelectedInstanceId(LPWSTR buffer, ULONG capacity)
{
    if (buffer == nullptr || capacity == 0)
        return false;
    buffer[0] = 0;
    for (const ActiveDeviceEntry &entry : m_entries) {
        if (entry.CurrentSelect != 0) {
            KsCopyString(buffer, capacity, entry.instanceId);
            return true;
        }
    }
    return false;
}
