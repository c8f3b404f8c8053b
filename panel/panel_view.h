// What the panel's dialog logic needs of its window, in the dialog's own terms: the device list,
// the group box, the buffer-size trackbar and label, the two format lists, the version text and
// the title. The Win32 view maps these onto the dialog's controls; tests put a recording view
// in its place.
#pragma once

#include "quen_panel_platform.h"

class IPanelView {
public:
    virtual ~IPanelView() = default;

    // The dialog's window: where refresh requests and device notifications go.
    virtual HWND Window() = 0;
    virtual void SetTitle(LPCWSTR title) = 0;

    virtual void ResetDevices() = 0;
    virtual void AddDevice(LPCWSTR name) = 0;
    virtual int DeviceCursor() = 0; // -1 when no item is under the cursor
    virtual void SetDeviceCursor(int index) = 0;
    // The text of a device item, cut to `capacity` units with its terminator.
    virtual void DeviceText(int index, LPWSTR text, int capacity) = 0;
    virtual void SetGroupText(LPCWSTR text) = 0;

    virtual void SetBufferRange(int minimum, int maximum) = 0;
    virtual int BufferPosition() = 0;
    virtual void SetBufferPosition(int position) = 0;
    virtual void EnableBuffer(bool enable) = 0;
    virtual void SetBufferLabel(LPCWSTR text) = 0;

    virtual void AddRate(LPCWSTR label) = 0;
    virtual void SelectRate(int item) = 0;
    virtual void AddBitDepth(LPCWSTR label) = 0;
    virtual void SelectBitDepth(int item) = 0;
    // The rate and bit-depth lists stay disabled: the device's formats are not chosen here.
    virtual void DisableFormatLists() = 0;

    virtual void SetVersionText(LPCWSTR text) = 0;
    // Repaints the whole dialog (the device in use is drawn bold).
    virtual void Redraw() = 0;
};
