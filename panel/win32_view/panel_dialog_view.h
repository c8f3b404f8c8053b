// The control panel's Win32 dialog: runs the dialog resource modally and maps its messages to the
// dialog logic and the logic's view calls to the controls. It draws the device list itself, the
// device in use in bold.
#pragma once

#include "asio_control_panel_dlg.h"
#include "panel_view.h"

class CPanelDialogView : public IPanelView {
public:
    explicit CPanelDialogView(HINSTANCE instance);
    ~CPanelDialogView() override;
    CPanelDialogView(const CPanelDialogView &) = delete;
    CPanelDialogView &operator=(const CPanelDialogView &) = delete;

    // Shows the dialog until the user closes it.
    INT_PTR Run();

    HWND Window() override { return m_dialog; }
    void SetTitle(LPCWSTR title) override;
    void ResetDevices() override;
    void AddDevice(LPCWSTR name) override;
    int DeviceCursor() override;
    void SetDeviceCursor(int index) override;
    void DeviceText(int index, LPWSTR text, int capacity) override;
    void SetGroupText(LPCWSTR text) override;
    void SetBufferRange(int minimum, int maximum) override;
    int BufferPosition() override;
    void SetBufferPosition(int position) override;
    void EnableBuffer(bool enable) override;
    void SetBufferLabel(LPCWSTR text) override;
    void AddRate(LPCWSTR label) override;
    void SelectRate(int item) override;
    void AddBitDepth(LPCWSTR label) override;
    void SelectBitDepth(int item) override;
    void DisableFormatLists() override;
    void SetVersionText(LPCWSTR text) override;
    void Redraw() override;

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int control, int code);
    void MeasureDeviceItem(MEASUREITEMSTRUCT &item);
    void DrawDeviceItem(const DRAWITEMSTRUCT &item);
    bool PaintIconic();
    LRESULT Send(int control, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
    INT_PTR Result(LONG_PTR result);

    HINSTANCE m_instance;
    HWND m_dialog = nullptr;
    HICON m_icon;
    HFONT m_boldFont = nullptr; // made once, for the device in use
    CAsioControlPanelDlg m_logic;
};
