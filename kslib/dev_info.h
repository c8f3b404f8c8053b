// Device enumeration and selection: CDevInfo finds the supported device among the system's
// audio device interfaces, keeps one opened audio filter per matching interface (with its pins
// listed), builds the active device list (one entry per filter: name, instance id, render and
// capture format ranges, selection flag) and holds the current selection.
#pragma once

#include "ks_aud_filter.h"
#include "ks_list.h"

// The range of formats a filter's sink pins of one direction offer, over all their audio ranges.
struct FormatRange {
    ULONG channels;    // largest MaximumChannels
    ULONG minimumBits; // smallest MinimumBitsPerSample
    ULONG maximumBits; // largest MaximumBitsPerSample
    ULONG minimumRate; // smallest MinimumSampleFrequency (Hz)
    ULONG maximumRate; // largest MaximumSampleFrequency (Hz)
};

struct ActiveDeviceEntry {
    WCHAR devName[128];    // the filter's friendly name, truncated
    WCHAR instanceId[128]; // the filter's device instance id, truncated
    ULONG CurrentSelect;   // 1 when this is the selected device
    FormatRange renderRange;
    FormatRange captureRange;
};

static_assert(sizeof(FormatRange) == 20, "FormatRange is five 32-bit values");
static_assert(sizeof(ActiveDeviceEntry) == 556, "ActiveDeviceEntry layout");

// The filter list: owns its filters, in enumeration order.
class CKsEnumFilters {
public:
    CKsEnumFilters() = default;
    virtual ~CKsEnumFilters();
    CKsEnumFilters(const CKsEnumFilters &) = delete;
    CKsEnumFilters &operator=(const CKsEnumFilters &) = delete;

    // Deletes every filter.
    virtual HRESULT ReleaseLists();

    ULONG FilterCount() const { return m_filters.Count(); }

protected:
    CKsList<CKsAudFilter2 *> m_filters;
};

class CDevInfo : public CKsEnumFilters {
public:
    CDevInfo();
    ~CDevInfo() override;

    // Rebuilds the filter list from the audio device interfaces of supported devices.
    bool EnumFilters();
    // EnumFilters, then one entry per filter. Always true.
    bool makeActiveDeviceList();
    // Selects the first filter of that instance id (ASCII letters compared without case) and
    // marks the entries of that id; false, with nothing selected, if there is none.
    bool setCurrentSelectedByDeviceInstanceId(LPCWSTR instanceId);
    CKsAudFilter2 *getCurrentSelected();
    // The index of the first selected entry; *index is written only on true.
    bool findSelectedIndex(int *index);
    const ActiveDeviceEntry *entryAt(int index);
    bool selectByIndex(int index);
    // Selects by an entry's instance id compared exactly.
    bool selectByInstanceIdInList(LPCWSTR instanceId);
    // Copies the selected entry's instance id (truncated to the capacity); with nothing
    // selected the buffer is emptied and the result is false.
    bool getSelectedInstanceId(LPWSTR buffer, ULONG capacity);

private:
    // Opens and lists the filter of one interface and appends it: S_OK, S_FALSE when the
    // interface is skipped, E_OUTOFMEMORY when the enumeration must end.
    HRESULT AddFilter(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA interfaceData);
    FormatRange RangeOf(const CKsPinList &pins) const;
    void DumpEntry(const ActiveDeviceEntry &entry) const;

    CKsAudFilter2 *m_selected = nullptr;
    CKsList<ActiveDeviceEntry> m_entries;
};

// The hardware ids of the supported devices, ended by an empty entry.
extern const LPCWSTR g_SupportedHardwareIds[];
