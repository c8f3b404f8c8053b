// user32: window classes and windows, their data (GetWindowLongPtr/SetWindowLongPtr), titles and
// the default window procedure.
#include "caller.h"
#include "user32/window_manager.h"

#include "kernel/wide_string.h"

#include <cstring>

using namespace host::win32;

namespace {

// A window's data slot: the named ones, or a LONG_PTR at a byte offset of its extra bytes. The
// window's owner process alone may change it.
bool AccessWindowData(const char *entryPoint, HWND hWnd, int nIndex, const LONG_PTR *newValue,
                      LONG_PTR *oldValue)
{
    Caller caller = CallerOf(entryPoint);
    bool ok = true;
    bool found = caller.win32.Windows().Change(hWnd, [&](Window &window) {
        if (newValue != nullptr && window.process != caller.thread->process) {
            SetLastError(ERROR_ACCESS_DENIED);
            ok = false;
            return;
        }
        LONG_PTR *slot = nullptr;
        LONG_PTR procedure = reinterpret_cast<LONG_PTR>(window.procedure);
        LONG_PTR instance = reinterpret_cast<LONG_PTR>(window.instance);
        switch (nIndex) {
        case GWLP_USERDATA: slot = &window.userData; break;
        case GWLP_ID: slot = &window.id; break;
        case GWLP_WNDPROC: slot = &procedure; break;
        case GWLP_HINSTANCE: slot = &instance; break;
        default:
            if (nIndex < 0 || size_t(nIndex) + sizeof(LONG_PTR) > window.extra.size()) {
                SetLastError(ERROR_INVALID_INDEX);
                ok = false;
                return;
            }
            std::memcpy(oldValue, window.extra.data() + nIndex, sizeof(LONG_PTR));
            if (newValue != nullptr)
                std::memcpy(window.extra.data() + nIndex, newValue, sizeof(LONG_PTR));
            return;
        }
        *oldValue = *slot;
        if (newValue == nullptr)
            return;
        *slot = *newValue;
        window.procedure = reinterpret_cast<WNDPROC>(procedure);
        window.instance = reinterpret_cast<HINSTANCE>(instance);
    });
    return found && ok;
}

} // namespace

extern "C" {

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW *lpWndClass)
{
    Caller caller = CallerOf("RegisterClassExW");
    if (lpWndClass == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return caller.win32.Windows().RegisterClass(caller.thread->process, *lpWndClass);
}

BOOL WINAPI UnregisterClassW(LPCWSTR lpClassName, HINSTANCE)
{
    Caller caller = CallerOf("UnregisterClassW");
    return caller.win32.Windows().UnregisterClass(caller.thread->process, lpClassName);
}

HWND WINAPI CreateWindowExW(DWORD dwExStyle, LPCWSTR lpClassName, LPCWSTR lpWindowName,
                            DWORD dwStyle, int, int, int, int, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam)
{
    Caller caller = CallerOf("CreateWindowExW");
    if (lpClassName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return caller.win32.Windows().Create(dwExStyle, lpClassName, lpWindowName, dwStyle, hWndParent,
                                         hMenu, hInstance, lpParam);
}

BOOL WINAPI DestroyWindow(HWND hWnd)
{
    return CallerOf("DestroyWindow").win32.Windows().Destroy(hWnd);
}

BOOL WINAPI IsWindow(HWND hWnd)
{
    Window window;
    return CallerOf("IsWindow").win32.Windows().Find(hWnd, &window);
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId)
{
    Window window;
    if (!CallerOf("GetWindowThreadProcessId").win32.Windows().Find(hWnd, &window))
        return 0;
    if (lpdwProcessId != nullptr)
        *lpdwProcessId = window.process->id;
    return window.thread->id;
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND hWnd, int nIndex)
{
    LONG_PTR value = 0;
    return AccessWindowData("GetWindowLongPtrW", hWnd, nIndex, nullptr, &value) ? value : 0;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND hWnd, int nIndex, LONG_PTR dwNewLong)
{
    // As documented, a previous value of 0 returns 0 without clearing the last error.
    LONG_PTR previous = 0;
    return AccessWindowData("SetWindowLongPtrW", hWnd, nIndex, &dwNewLong, &previous) ? previous
                                                                                      : 0;
}

BOOL WINAPI SetWindowTextW(HWND hWnd, LPCWSTR lpString)
{
    return SendMessageW(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) != 0;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow)
{
    bool wasVisible = false;
    CallerOf("ShowWindow").win32.Windows().Change(hWnd, [&wasVisible, nCmdShow](Window &window) {
        wasVisible = (window.style & WS_VISIBLE) != 0;
        if (nCmdShow == SW_HIDE)
            window.style &= ~DWORD(WS_VISIBLE);
        else
            window.style |= WS_VISIBLE;
    });
    return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd)
{
    Window window;
    return CallerOf("IsWindowVisible").win32.Windows().Find(hWnd, &window) &&
           (window.style & WS_VISIBLE) != 0;
}

// Any process may set the foreground window here: the simulated user never works in another
// program, so Windows' foreground lock would let the request through.
BOOL WINAPI SetForegroundWindow(HWND hWnd)
{
    return CallerOf("SetForegroundWindow").win32.Windows().SetForeground(hWnd);
}

HWND WINAPI GetForegroundWindow(void)
{
    return CallerOf("GetForegroundWindow").win32.Windows().Foreground();
}

HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName)
{
    return CallerOf("FindWindowW").win32.Windows().FindTopLevel(lpClassName, lpWindowName);
}

LRESULT WINAPI DefWindowProcW(HWND hWnd, UINT Msg, WPARAM, LPARAM lParam)
{
    Caller caller = CallerOf("DefWindowProcW");
    switch (Msg) {
    case WM_NCCREATE: return TRUE;
    case WM_CLOSE: DestroyWindow(hWnd); return 0;
    case WM_SETTEXT: {
        auto text = reinterpret_cast<LPCWSTR>(lParam);
        return caller.win32.Windows().Change(hWnd, [text](Window &window) {
            window.title = text != nullptr ? host::ToU16(text) : u"";
        });
    }
    default: return 0;
    }
}

LRESULT WINAPI CallWindowProcW(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                               LPARAM lParam)
{
    CallerOf("CallWindowProcW");
    return lpPrevWndFunc != nullptr ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}

} // extern "C"
