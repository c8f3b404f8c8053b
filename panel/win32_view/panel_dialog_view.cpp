#include "panel_dialog_view.h"

#include "resource.h"

#include <windowsx.h>

CPanelDialogView::CPanelDialogView(HINSTANCE instance)
    : m_instance(instance), m_icon(LoadIconW(instance, MAKEINTRESOURCEW(IDI_PANEL))), m_logic(*this)
{
}

CPanelDialogView::~CPanelDialogView()
{
    if (m_boldFont != nullptr)
        DeleteObject(m_boldFont);
}

INT_PTR CPanelDialogView::Run()
{
    return DialogBoxParamW(m_instance, MAKEINTRESOURCEW(IDD_CONTROL_PANEL), nullptr, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CPanelDialogView::DialogProc(HWND dialog, UINT message, WPARAM wParam,
                                              LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrW(dialog, GWLP_USERDATA, lParam);
        reinterpret_cast<CPanelDialogView *>(lParam)->m_dialog = dialog;
    }
    auto view = reinterpret_cast<CPanelDialogView *>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    return view != nullptr ? view->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CPanelDialogView::Handle(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        SendMessageW(m_dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
        SendMessageW(m_dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
        return m_logic.OnInitDialog();
    case WM_HSCROLL:
        if (reinterpret_cast<HWND>(lParam) == GetDlgItem(m_dialog, IDC_BUFFER))
            m_logic.OnBufferScroll(LOWORD(wParam), short(HIWORD(wParam)));
        return TRUE;
    case WM_COMMAND: OnCommand(LOWORD(wParam), HIWORD(wParam)); return TRUE;
    case WM_APP: m_logic.OnRefresh(); return Result(0);
    case WM_DEVICECHANGE: m_logic.OnDeviceChange(wParam); return Result(TRUE);
    case WM_MEASUREITEM:
        MeasureDeviceItem(*reinterpret_cast<MEASUREITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_DRAWITEM:
        DrawDeviceItem(*reinterpret_cast<const DRAWITEMSTRUCT *>(lParam));
        return TRUE;
    case WM_PAINT: return PaintIconic();
    case WM_QUERYDRAGICON: return Result(reinterpret_cast<LONG_PTR>(m_icon));
    case WM_DESTROY: m_logic.OnDestroy(); return FALSE;
    default: return FALSE;
    }
}

void CPanelDialogView::OnCommand(int control, int code)
{
    switch (control) {
    case IDOK:
    case IDCANCEL: EndDialog(m_dialog, control); break;
    case IDC_DEVICES:
        if (code == LBN_SELCHANGE)
            m_logic.OnDeviceSelChange();
        break;
    case IDC_RATE:
        if (code == CBN_SELCHANGE)
            m_logic.OnRateChange(int(Send(IDC_RATE, CB_GETCURSEL)));
        break;
    case IDC_BIT_DEPTH:
        if (code == CBN_SELCHANGE)
            m_logic.OnBitDepthChange(int(Send(IDC_BIT_DEPTH, CB_GETCURSEL)));
        break;
    default: break;
    }
}

void CPanelDialogView::MeasureDeviceItem(MEASUREITEMSTRUCT &item)
{
    if (item.CtlID != IDC_DEVICES)
        return;
    HDC dc = GetDC(m_dialog);
    HGDIOBJ old = SelectObject(dc, GetWindowFont(m_dialog));
    TEXTMETRICW metrics = {};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(m_dialog, dc);
    item.itemHeight = UINT(metrics.tmHeight + 2);
}

void CPanelDialogView::DrawDeviceItem(const DRAWITEMSTRUCT &item)
{
    if (item.CtlID != IDC_DEVICES || item.itemID == UINT(-1))
        return;
    HDC dc = item.hDC;
    RECT area = item.rcItem;
    const bool underCursor = (item.itemState & ODS_SELECTED) != 0;
    COLORREF oldText =
        SetTextColor(dc, GetSysColor(underCursor ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    COLORREF background = underCursor ? GetSysColor(COLOR_HIGHLIGHT) : GetBkColor(dc);
    COLORREF oldBackground = SetBkColor(dc, background);
    HBRUSH brush = CreateSolidBrush(background);
    FillRect(dc, &area, brush);
    DeleteObject(brush);

    HGDIOBJ oldFont = nullptr;
    if (int(item.itemID) == m_logic.SelectedIndex()) {
        if (m_boldFont == nullptr) {
            LOGFONTW font = {};
            GetObjectW(GetWindowFont(item.hwndItem), sizeof font, &font);
            font.lfWeight = FW_HEAVY;
            m_boldFont = CreateFontIndirectW(&font);
        }
        if (m_boldFont != nullptr)
            oldFont = SelectObject(dc, m_boldFont);
    }
    WCHAR text[128] = {};
    DeviceText(int(item.itemID), text, 128);
    DrawTextW(dc, text, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    if (item.itemState & ODS_FOCUS)
        DrawFocusRect(dc, &area);
    if (oldFont != nullptr)
        SelectObject(dc, oldFont);
    SetTextColor(dc, oldText);
    SetBkColor(dc, oldBackground);
}

bool CPanelDialogView::PaintIconic()
{
    if (!IsIconic(m_dialog))
        return false;
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(m_dialog, &paint);
    RECT client;
    GetClientRect(m_dialog, &client);
    DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
             (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, m_icon);
    EndPaint(m_dialog, &paint);
    return true;
}

LRESULT CPanelDialogView::Send(int control, UINT message, WPARAM wParam, LPARAM lParam)
{
    return SendDlgItemMessageW(m_dialog, control, message, wParam, lParam);
}

INT_PTR CPanelDialogView::Result(LONG_PTR result)
{
    SetWindowLongPtrW(m_dialog, DWLP_MSGRESULT, result);
    return TRUE;
}

void CPanelDialogView::SetTitle(LPCWSTR title) { SetWindowTextW(m_dialog, title); }

void CPanelDialogView::ResetDevices() { Send(IDC_DEVICES, LB_RESETCONTENT); }

void CPanelDialogView::AddDevice(LPCWSTR name)
{
    Send(IDC_DEVICES, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

int CPanelDialogView::DeviceCursor()
{
    LRESULT cursor = Send(IDC_DEVICES, LB_GETCURSEL);
    return cursor == LB_ERR ? -1 : int(cursor);
}

void CPanelDialogView::SetDeviceCursor(int index) { Send(IDC_DEVICES, LB_SETCURSEL, index); }

void CPanelDialogView::DeviceText(int index, LPWSTR text, int capacity)
{
    text[0] = 0;
    LRESULT length = Send(IDC_DEVICES, LB_GETTEXTLEN, index);
    if (length == LB_ERR || capacity <= 0)
        return;
    if (length < capacity) {
        Send(IDC_DEVICES, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
        return;
    }
    // Longer than the caller's buffer: read it whole, then cut.
    WCHAR *whole = new (std::nothrow) WCHAR[length + 1];
    if (whole == nullptr)
        return;
    Send(IDC_DEVICES, LB_GETTEXT, index, reinterpret_cast<LPARAM>(whole));
    lstrcpynW(text, whole, capacity);
    delete[] whole;
}

void CPanelDialogView::SetGroupText(LPCWSTR text)
{
    SetDlgItemTextW(m_dialog, IDC_SETTING_GROUP, text);
}

void CPanelDialogView::SetBufferRange(int minimum, int maximum)
{
    Send(IDC_BUFFER, TBM_SETRANGE, TRUE, MAKELPARAM(minimum, maximum));
}

int CPanelDialogView::BufferPosition() { return int(Send(IDC_BUFFER, TBM_GETPOS)); }

void CPanelDialogView::SetBufferPosition(int position)
{
    Send(IDC_BUFFER, TBM_SETPOS, TRUE, position);
}

void CPanelDialogView::EnableBuffer(bool enable)
{
    EnableWindow(GetDlgItem(m_dialog, IDC_BUFFER), enable);
}

void CPanelDialogView::SetBufferLabel(LPCWSTR text)
{
    SetDlgItemTextW(m_dialog, IDC_BUFFER_LABEL, text);
}

void CPanelDialogView::AddRate(LPCWSTR label)
{
    Send(IDC_RATE, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
}

void CPanelDialogView::SelectRate(int item) { Send(IDC_RATE, CB_SETCURSEL, item); }

void CPanelDialogView::AddBitDepth(LPCWSTR label)
{
    Send(IDC_BIT_DEPTH, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label));
}

void CPanelDialogView::SelectBitDepth(int item) { Send(IDC_BIT_DEPTH, CB_SETCURSEL, item); }

void CPanelDialogView::DisableFormatLists()
{
    EnableWindow(GetDlgItem(m_dialog, IDC_RATE), FALSE);
    EnableWindow(GetDlgItem(m_dialog, IDC_BIT_DEPTH), FALSE);
}

void CPanelDialogView::SetVersionText(LPCWSTR text)
{
    SetDlgItemTextW(m_dialog, IDC_VERSION, text);
}

void CPanelDialogView::Redraw()
{
    RedrawWindow(m_dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}
