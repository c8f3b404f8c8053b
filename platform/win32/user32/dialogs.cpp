// user32: modal dialog boxes, at the level a view over a dialog procedure needs. The dialog is a
// window of the dialog manager's class whose window procedure is DefDlgProcW; it calls the
// application's dialog procedure and runs the modal loop until EndDialog.
//
// Not emulated: dialog templates (the resource is not read, so the dialog starts without
// controls; a host-side view creates the child windows it needs with their control ids),
// keyboard navigation (IsDialogMessage), default push buttons and focus.
#include "caller.h"
#include "user32/window_manager.h"

using namespace host::win32;

namespace {

DLGPROC DialogProcedureOf(HWND hDlg)
{
    return reinterpret_cast<DLGPROC>(GetWindowLongPtrW(hDlg, DWLP_DLGPROC));
}

// Messages whose result is the dialog procedure's return value itself, not DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) { return message == WM_INITDIALOG; }

} // namespace

extern "C" {

INT_PTR WINAPI DialogBoxParamW(HINSTANCE hInstance, LPCWSTR, HWND hWndParent, DLGPROC lpDialogFunc,
                               LPARAM dwInitParam)
{
    Caller caller = CallerOf("DialogBoxParamW");
    WindowManager &windows = caller.win32.Windows();
    if (lpDialogFunc == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    Window owner;
    if (hWndParent != nullptr && !windows.Find(hWndParent, &owner))
        return 0; // as documented for an invalid owner, unlike other failures (-1)
    HWND dialog =
        windows.Create(0, MAKEINTRESOURCEW(0x8002), nullptr, WS_POPUP | WS_CAPTION | WS_SYSMENU,
                       hWndParent, nullptr, hInstance, nullptr, true);
    if (dialog == nullptr)
        return -1;
    SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(lpDialogFunc));
    SendMessageW(dialog, WM_INITDIALOG, 0, dwInitParam);
    // The modal loop: until EndDialog; WM_QUIT ends it too and is posted again for the caller's
    // own loop.
    Window state;
    MSG message;
    while (windows.Find(dialog, &state) && !state.dialogEnded) {
        BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(int(message.wParam));
            break;
        }
        if (got < 0)
            break;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    INT_PTR result = windows.Find(dialog, &state) && state.dialogEnded ? state.dialogResult : 0;
    DestroyWindow(dialog);
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    Caller caller = CallerOf("EndDialog");
    bool dialog = false;
    if (!caller.win32.Windows().Change(hDlg, [&](Window &window) {
            dialog = window.dialog;
            if (dialog) {
                window.dialogEnded = true;
                window.dialogResult = nResult;
            }
        }))
        return FALSE;
    if (!dialog) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Wakes the modal loop, which looks at the flag after every message.
    PostMessageW(hDlg, WM_NULL, 0, 0);
    return TRUE;
}

LRESULT WINAPI DefDlgProcW(HWND hDlg, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    CallerOf("DefDlgProcW");
    if (DLGPROC procedure = DialogProcedureOf(hDlg)) {
        SetWindowLongPtrW(hDlg, DWLP_MSGRESULT, 0);
        INT_PTR handled = procedure(hDlg, Msg, wParam, lParam);
        if (ReturnsDirectly(Msg))
            return handled;
        if (handled)
            return GetWindowLongPtrW(hDlg, DWLP_MSGRESULT);
    }
    switch (Msg) {
    case WM_CLOSE: // the close box is Esc: IDCANCEL
        SendMessageW(hDlg, WM_COMMAND, IDCANCEL, 0);
        return 0;
    case WM_INITDIALOG: return 0;
    default: return DefWindowProcW(hDlg, Msg, wParam, lParam);
    }
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    Caller caller = CallerOf("GetDlgItem");
    Window dialog;
    if (!caller.win32.Windows().Find(hDlg, &dialog))
        return nullptr;
    HWND item = caller.win32.Windows().ChildWithId(hDlg, nIDDlgItem);
    if (item == nullptr)
        SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
    return item;
}

LRESULT WINAPI SendDlgItemMessageW(HWND hDlg, int nIDDlgItem, UINT Msg, WPARAM wParam,
                                   LPARAM lParam)
{
    HWND item = GetDlgItem(hDlg, nIDDlgItem);
    return item != nullptr ? SendMessageW(item, Msg, wParam, lParam) : 0;
}

} // extern "C"
