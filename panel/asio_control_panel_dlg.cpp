#include "asio_control_panel_dlg.h"

#include "asio_settings.h"
#include "panel_instance.h"
#include "settings_change_signal.h"

#include <stdio.h>

namespace {

struct RateRow {
    DWORD rate;
    LPCWSTR label;
};
const RateRow kRates[] = {
    {32000, L"32000 Hz"},    {44100, L"44100 Hz"},    {48000, L"48000 Hz"},
    {88200, L"88200 Hz"},    {96000, L"96000 Hz"},    {176400, L"176400 Hz"},
    {192000, L"192000 Hz"},  {352800, L"352800 Hz"},  {384000, L"384000 Hz"},
    {2822400, L"2.8224MHz"}, {5644800, L"5.6448MHz"},
};
constexpr int kRateCount = sizeof kRates / sizeof kRates[0];

struct BitDepthRow {
    DWORD bitDepth;
    LPCWSTR label;
    LONG sampleType; // the ASIO sample type
    BYTE format;
};
const BitDepthRow kBitDepths[] = {
    {24, L"24 bits", 17, 0}, // ASIOSTInt24LSB
    {32, L"32 bits", 18, 0}, // ASIOSTInt32LSB
    {8, L"DSD", 33, 2},      // ASIOSTDSDInt8MSB1
};
constexpr int kBitDepthCount = sizeof kBitDepths / sizeof kBitDepths[0];

// The trackbar counts steps of 32 samples: 64 to 7680 samples.
constexpr int kBufferStep = 32;
constexpr int kBufferMinimumPosition = 2;
constexpr int kBufferMaximumPosition = 240;

const WCHAR kVersionText[] = L"Quen DSD Audio RV-D3 by Norvane Quen\r\n"
                             L"Version 1.0.0.2074  built 06/19/2013\r\n"
                             L"Copyright (C) Norvane Quen. All rights reserved.\r\n"
                             L"ASIO Technology by Steinberg\r\n";

bool SameText(LPCWSTR a, LPCWSTR b)
{
    while (*a != 0 && *a == *b)
        ++a, ++b;
    return *a == *b;
}

} // namespace

CAsioControlPanelDlg::CAsioControlPanelDlg(IPanelView &view)
    : m_view(view), m_watcher(HKEY_CURRENT_USER, kSettingsKey)
{
}

CAsioControlPanelDlg::~CAsioControlPanelDlg() { OnDestroy(); }

BOOL CAsioControlPanelDlg::OnInitDialog()
{
    m_view.SetTitle(kPanelTitle);
    m_presence = CreateEventW(nullptr, TRUE, FALSE, kPresenceEventName);

    m_devInfo.makeActiveDeviceList();
    const int count = int(m_devInfo.FilterCount());
    if (count > 0) {
        WCHAR stored[kInstanceIdUnits] = {};
        if (CAsioSettings::ReadSelected(stored) == kSettingsOk &&
            m_devInfo.selectByInstanceIdInList(stored) &&
            m_devInfo.findSelectedIndex(&m_selected)) {
            m_cursor = m_selected;
        } else if (ReadDwordOrZero(kSettingStreaming) == 0) {
            SelectAndStore(0);
            m_cursor = 0;
        }
    }
    FillDeviceList();
    if (m_cursor >= 0) {
        m_view.SetDeviceCursor(m_cursor);
        ShowCursorItem();
        m_view.Redraw();
    }

    for (const RateRow &row : kRates)
        m_view.AddRate(row.label);
    CAsioSettings::ReadDword(kSettingSamplingRate, &m_rate);
    int rateItem = RateItem(m_rate);
    if (rateItem >= 0) {
        m_view.SelectRate(rateItem);
    } else {
        // The store is corrected (and running drivers told); the dialog adopts the rate at the
        // next refresh.
        m_view.SelectRate(0);
        if (StoreIfChanged(kSettingSamplingRate, kRates[0].rate, 4))
            NotifyAsioSettingsChanged();
    }

    for (const BitDepthRow &row : kBitDepths)
        m_view.AddBitDepth(row.label);
    CAsioSettings::ReadDword(kSettingBitDepth, &m_bitDepth);
    CAsioSettings::ReadByte(kSettingFormat, &m_format);
    int bitDepthItem = -1;
    for (int i = 0; i < kBitDepthCount && bitDepthItem < 0; ++i)
        if (kBitDepths[i].bitDepth == m_bitDepth && kBitDepths[i].format == m_format)
            bitDepthItem = i;
    if (bitDepthItem >= 0) {
        m_view.SelectBitDepth(bitDepthItem);
    } else {
        m_view.SelectBitDepth(0);
        StoreIfChanged(kSettingBitDepth, kBitDepths[0].bitDepth, 4);
        StoreIfChanged(kSettingFormat, kBitDepths[0].format, 1);
    }

    // A stored size outside the trackbar's range is shown clamped, not rewritten.
    m_view.SetBufferRange(kBufferMinimumPosition, kBufferMaximumPosition);
    DWORD bufferSize = ReadDwordOrZero(kSettingBufferSize);
    bufferSize = bufferSize < 64 ? 64 : bufferSize > 7680 ? 7680 : bufferSize;
    int position = int(bufferSize / kBufferStep);
    m_view.SetBufferPosition(position);
    SetBufferLabel(position);

    m_view.SetVersionText(kVersionText);
    m_view.DisableFormatLists();

    m_watcher.SetTarget(m_view.Window());
    m_watcher.StartWatch();

    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = KSCATEGORY_AUDIO;
    m_deviceNotification =
        RegisterDeviceNotificationW(m_view.Window(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    return TRUE;
}

void CAsioControlPanelDlg::OnBufferScroll(int code, int position)
{
    switch (code) {
    case SB_THUMBTRACK:
        SetBufferLabel(position); // dragging: shown, not stored
        break;
    case SB_THUMBPOSITION:
        SetBufferLabel(position);
        StoreBufferPosition(position);
        break;
    case SB_LINEUP:
    case SB_LINEDOWN:
    case SB_PAGEUP:
    case SB_PAGEDOWN:
    case SB_TOP:
    case SB_BOTTOM:
        position = m_view.BufferPosition();
        SetBufferLabel(position);
        StoreBufferPosition(position);
        break;
    default: break;
    }
}

void CAsioControlPanelDlg::OnDeviceSelChange()
{
    int cursor = m_view.DeviceCursor();
    if (cursor < 0)
        return;
    m_cursor = cursor;
    ShowCursorItem();
    int selected = -1;
    if (!m_devInfo.findSelectedIndex(&selected))
        selected = -1;
    // While a host streams, a click only moves the cursor: the device in use stays.
    if (ReadDwordOrZero(kSettingStreaming) == 0 && cursor != selected) {
        // The driver's watcher wakes only on the change event, so a new device is signalled.
        if (SelectAndStore(cursor))
            NotifyAsioSettingsChanged();
    }
    m_view.Redraw();
}

void CAsioControlPanelDlg::OnRateChange(int item)
{
    if (item < 0 || item >= kRateCount)
        return;
    if (kRates[item].rate != m_rate) {
        m_rateIndex = item;
        m_rate = kRates[item].rate;
        StoreIfChanged(kSettingSamplingRate, m_rate, 4);
    }
    SetBufferLabel(m_view.BufferPosition());
}

void CAsioControlPanelDlg::OnBitDepthChange(int item)
{
    if (item == m_bitDepthIndex || item < 0 || item >= kBitDepthCount)
        return;
    const BitDepthRow &row = kBitDepths[item];
    m_bitDepthIndex = item;
    m_bitDepth = row.bitDepth;
    m_format = row.format;
    m_sampleType = row.sampleType;
    bool changed = StoreIfChanged(kSettingBitDepth, m_bitDepth, 4);
    changed = StoreIfChanged(kSettingFormat, m_format, 1) || changed;
    if (changed)
        NotifyAsioSettingsChanged();
}

void CAsioControlPanelDlg::OnRefresh()
{
    // Changes from here on ask for another refresh.
    m_watcher.RefreshStarted();
    const DWORD streaming = ReadDwordOrZero(kSettingStreaming);

    m_devInfo.makeActiveDeviceList();
    FillDeviceList();
    const int count = int(m_devInfo.FilterCount());
    if (count > 0) {
        WCHAR stored[kInstanceIdUnits] = {};
        bool found = CAsioSettings::ReadSelected(stored) == kSettingsOk &&
                     m_devInfo.selectByInstanceIdInList(stored);
        int index = -1;
        if (found && m_devInfo.findSelectedIndex(&index)) {
            // The stored device is still there: it stays the one in use, under the cursor.
            if (streaming == 0 || index != m_selected)
                m_cursor = m_selected = index;
        } else {
            // The device in use has gone: the first one takes its place.
            m_cursor = 0;
            bool changed = SelectAndStore(0);
            if (streaming != 0 && changed)
                NotifyAsioSettingsChanged();
        }
        m_view.EnableBuffer(streaming == 0 || m_cursor == m_selected);
        m_view.SetDeviceCursor(m_cursor);
        OnDeviceSelChange();
    } else {
        m_cursor = m_selected = 0;
        bool changed = StoreSelected();
        if (streaming != 0) {
            m_view.EnableBuffer(true);
            if (changed)
                NotifyAsioSettingsChanged();
        }
    }

    DWORD bufferSize = ReadDwordOrZero(kSettingBufferSize);
    bufferSize = bufferSize < 64 ? 64 : bufferSize > 7680 ? 7680 : bufferSize;
    if (int(bufferSize / kBufferStep) != m_view.BufferPosition())
        m_view.SetBufferPosition(int(bufferSize / kBufferStep));

    // Another program's rate is adopted without a signal; an invalid one is corrected.
    DWORD rate = ReadDwordOrZero(kSettingSamplingRate);
    if (rate == m_rate)
        return;
    int item = RateItem(rate);
    if (item < 0) {
        m_view.SelectRate(0);
        m_rate = kRates[0].rate;
        m_rateIndex = 0;
        SetBufferLabel(m_view.BufferPosition());
        if (StoreIfChanged(kSettingSamplingRate, m_rate, 4))
            NotifyAsioSettingsChanged();
    } else {
        m_rate = rate;
        m_rateIndex = item;
        m_view.SelectRate(item);
        SetBufferLabel(m_view.BufferPosition());
    }
}

void CAsioControlPanelDlg::OnDeviceChange(WPARAM event)
{
    if (event == DBT_DEVICEARRIVAL || event == DBT_DEVICEREMOVECOMPLETE)
        m_watcher.RequestRefresh();
}

void CAsioControlPanelDlg::OnDestroy()
{
    m_watcher.StopWatch();
    if (m_deviceNotification != nullptr)
        UnregisterDeviceNotification(m_deviceNotification);
    m_deviceNotification = nullptr;
    if (m_presence != nullptr)
        CloseHandle(m_presence);
    m_presence = nullptr;
}

void CAsioControlPanelDlg::FillDeviceList()
{
    m_view.ResetDevices();
    for (int i = 0; i < int(m_devInfo.FilterCount()); ++i) {
        const ActiveDeviceEntry *entry = m_devInfo.entryAt(i);
        if (entry != nullptr)
            m_view.AddDevice(entry->devName);
    }
}

void CAsioControlPanelDlg::ShowCursorItem()
{
    WCHAR text[128] = {};
    m_view.DeviceText(m_cursor, text, 128);
    m_view.SetGroupText(text);
}

void CAsioControlPanelDlg::SetBufferLabel(int position)
{
    char text[32];
    snprintf(text, sizeof text, "%lu Samples", static_cast<unsigned long>(position) * kBufferStep);
    WCHAR label[32];
    MultiByteToWideChar(CP_ACP, 0, text, -1, label, 32);
    m_view.SetBufferLabel(label);
}

void CAsioControlPanelDlg::StoreBufferPosition(int position)
{
    StoreIfChanged(kSettingBufferSize, DWORD(position) * kBufferStep, 4);
    NotifyAsioSettingsChanged();
}

bool CAsioControlPanelDlg::SelectAndStore(int index)
{
    m_devInfo.selectByIndex(index);
    if (!m_devInfo.findSelectedIndex(&m_selected))
        m_selected = -1;
    return StoreSelected();
}

bool CAsioControlPanelDlg::StoreSelected()
{
    WCHAR current[kInstanceIdUnits] = {};
    m_devInfo.getSelectedInstanceId(current, kInstanceIdUnits);
    WCHAR stored[kInstanceIdUnits] = {};
    if (CAsioSettings::ReadSelected(stored) == kSettingsOk && SameText(stored, current))
        return false;
    return CAsioSettings::WriteSelected(current) == kSettingsOk;
}

bool CAsioControlPanelDlg::StoreIfChanged(ULONG id, DWORD value, ULONG size)
{
    DWORD stored = 0;
    if (CAsioSettings::Read(id, &stored, size) == kSettingsOk && stored == value)
        return false;
    return CAsioSettings::Write(id, &value, size) == kSettingsOk;
}

DWORD CAsioControlPanelDlg::ReadDwordOrZero(ULONG id)
{
    DWORD value = 0;
    if (CAsioSettings::ReadDword(id, &value) != kSettingsOk)
        return 0;
    return value;
}

int CAsioControlPanelDlg::RateItem(DWORD rate)
{
    for (int i = 0; i < kRateCount; ++i)
        if (kRates[i].rate == rate)
            return i;
    return -1;
}
