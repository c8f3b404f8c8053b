// user32: posting, sending, retrieving and dispatching messages.
#include "caller.h"
#include "user32/window_manager.h"

using namespace host::win32;

namespace {

WindowManager &Windows(const char *entryPoint) { return CallerOf(entryPoint).win32.Windows(); }

bool MessageOut(LPMSG lpMsg)
{
    if (lpMsg != nullptr)
        return true;
    SetLastError(ERROR_NOACCESS);
    return false;
}

} // namespace

extern "C" {

BOOL WINAPI GetMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax)
{
    WindowManager &windows = Windows("GetMessageW");
    if (!MessageOut(lpMsg))
        return -1;
    int got = windows.Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax, true, true);
    if (got < 0)
        return -1;
    return lpMsg->message != WM_QUIT;
}

BOOL WINAPI PeekMessageW(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg)
{
    WindowManager &windows = Windows("PeekMessageW");
    if (!MessageOut(lpMsg))
        return FALSE;
    return windows.Retrieve(lpMsg, hWnd, wMsgFilterMin, wMsgFilterMax,
                            (wRemoveMsg & PM_REMOVE) != 0, false) > 0;
}

BOOL WINAPI TranslateMessage(const MSG *)
{
    // Nothing here makes keyboard input, so there is never a character message to make.
    CallerOf("TranslateMessage");
    return FALSE;
}

LRESULT WINAPI DispatchMessageW(const MSG *lpMsg)
{
    WindowManager &windows = Windows("DispatchMessageW");
    if (lpMsg == nullptr || lpMsg->hwnd == nullptr)
        return 0; // a thread message has no window procedure
    Window window;
    if (!windows.Find(lpMsg->hwnd, &window))
        return 0;
    if (window.thread != KeGetCurrentThread()) {
        SetLastError(ERROR_MESSAGE_SYNC_ONLY);
        return 0;
    }
    return windows.CallProcedure(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

BOOL WINAPI PostMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return Windows("PostMessageW").Post(hWnd, Msg, wParam, lParam);
}

BOOL WINAPI PostThreadMessageW(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    return Windows("PostThreadMessageW").PostToThread(idThread, Msg, wParam, lParam);
}

LRESULT WINAPI SendMessageW(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    return Windows("SendMessageW").Send(hWnd, Msg, wParam, lParam, INFINITE, &result) ? result : 0;
}

void WINAPI PostQuitMessage(int nExitCode) { Windows("PostQuitMessage").PostQuit(nExitCode); }

} // extern "C"
