// The control panel's dialog logic: the device list with the device in use, the ASIO buffer
// size, the sampling rate and bit depth shown from the shared settings store; it writes the
// user's choices there and signals running ASIO drivers. It follows device arrival and removal
// and changes others make to the store by refreshing. A value is written only when it differs
// from the stored one, and the drivers are signalled only for what the panel changed, so that
// the refreshes its own writes set off end at once: an idle panel neither writes nor refreshes.
#pragma once

#include "dev_info.h"
#include "panel_view.h"
#include "reg_key_watcher.h"

class CAsioControlPanelDlg {
public:
    explicit CAsioControlPanelDlg(IPanelView &view);
    ~CAsioControlPanelDlg();
    CAsioControlPanelDlg(const CAsioControlPanelDlg &) = delete;
    CAsioControlPanelDlg &operator=(const CAsioControlPanelDlg &) = delete;

    // WM_INITDIALOG.
    BOOL OnInitDialog();
    // WM_HSCROLL of the trackbar: scroll code and thumb position.
    void OnBufferScroll(int code, int position);
    // LBN_SELCHANGE of the device list.
    void OnDeviceSelChange();
    // CBN_SELCHANGE of the rate and bit-depth lists: the chosen item.
    void OnRateChange(int item);
    void OnBitDepthChange(int item);
    // WM_APP: re-reads the store and the device list.
    void OnRefresh();
    // WM_DEVICECHANGE: arrival and removal ask for a refresh.
    void OnDeviceChange(WPARAM event);
    // WM_DESTROY: ends the watch and the device notification before the window goes.
    void OnDestroy();

    // The entry of the device in use (drawn bold), -1 for none.
    int SelectedIndex() const { return m_selected; }

private:
    void FillDeviceList();
    void ShowCursorItem();
    void SetBufferLabel(int position);
    // Writes "buffer_size" for a trackbar position and signals the drivers.
    void StoreBufferPosition(int position);
    // Makes the entry at `index` the device in use and stores its instance id; true when the
    // stored value changed.
    bool SelectAndStore(int index);
    // Stores the selected entry's instance id (empty with none); true when it changed.
    bool StoreSelected();
    // Writes a 4-byte or 1-byte value only when it differs; true when it changed.
    static bool StoreIfChanged(ULONG id, DWORD value, ULONG size);
    static DWORD ReadDwordOrZero(ULONG id);
    static int RateItem(DWORD rate);

    IPanelView &m_view;
    CRegistryNotify m_watcher;
    HDEVNOTIFY m_deviceNotification = nullptr;
    HANDLE m_presence = nullptr;
    CDevInfo m_devInfo;
    int m_cursor = -1;
    int m_selected = -1;
    int m_rateIndex = -1;
    int m_bitDepthIndex = -1;
    DWORD m_rate = 0;
    DWORD m_bitDepth = 0;
    BYTE m_format = 0;
    LONG m_sampleType = 0;
};
