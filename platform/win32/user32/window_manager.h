// user32's state of one machine: window classes (per process), windows (one handle space for
// every process, as on one desktop), and the message queue of every thread that has made a
// user32 call. One lock guards it all, as Windows serialises its window manager; window
// procedures always run without it, on the thread that owns the window.
//
// A message sent to a window of another thread waits in that thread's queue until the thread
// retrieves messages (GetMessage, PeekMessage, or a send of its own); the sender meanwhile
// handles messages sent to it, so two threads sending to each other cannot deadlock. A thread
// that ends drops its queue and its windows (no messages: the thread is gone); senders waiting
// on it get 0. A process that ends drops its classes too.
#pragma once

#include "kernel/emulated_thread.h"
#include "kernel/process.h"

#include <windows.h>

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {
class Machine;
}

namespace host::win32 {

struct MessageQueue;

// A message sent to a window of another thread, until it is replied to or abandoned.
struct SentMessage {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    std::shared_ptr<MessageQueue> sender; // woken by the reply
    LRESULT result = 0;
    bool replied = false;
    bool failed = false; // the window or its thread went before it was handled
};

struct MessageQueue {
    explicit MessageQueue(PKTHREAD owner); // references the thread, so its address stays its own
    ~MessageQueue();
    MessageQueue(const MessageQueue &) = delete;
    MessageQueue &operator=(const MessageQueue &) = delete;

    PKTHREAD thread;
    // Set when anything arrives; reset, under the manager's lock, by its thread before it waits.
    KEVENT wake;
    std::deque<MSG> posted;
    std::deque<std::shared_ptr<SentMessage>> sent;
    bool quit = false; // PostQuitMessage: WM_QUIT once no posted message is left
    int quitCode = 0;
};

struct WindowClass {
    ATOM atom;
    std::u16string name;
    WNDPROC procedure;
    int windowExtra; // bytes
};

struct Window {
    HWND handle;
    PKTHREAD thread;
    PKPROCESS process;
    std::u16string className;
    std::u16string title;
    WNDPROC procedure;
    HINSTANCE instance;
    HWND parent;      // null for a top-level or message-only window
    bool messageOnly; // a child of HWND_MESSAGE: never found, never broadcast to
    DWORD style;
    LONG_PTR id; // a child's control id
    LONG_PTR userData = 0;
    std::vector<BYTE> extra; // the class's window extra bytes (a dialog's DWLP_* slots)
    bool destroying = false;
    bool dialog = false;
    bool dialogEnded = false;
    INT_PTR dialogResult = 0;
};

// Posted messages a queue holds at most, as on Windows; PostMessage fails beyond.
constexpr size_t kPostedMessageQuota = 10000;

class WindowManager {
public:
    explicit WindowManager(Machine &machine);
    ~WindowManager();
    WindowManager(const WindowManager &) = delete;
    WindowManager &operator=(const WindowManager &) = delete;

    // The calling thread's queue, made on its first user32 call.
    std::shared_ptr<MessageQueue> QueueOfCaller();

    // Classes. The last error says why a call fails.
    ATOM RegisterClass(PKPROCESS process, const WNDCLASSEXW &description);
    bool UnregisterClass(PKPROCESS process, LPCWSTR name);

    // Makes a window for the calling thread (sends WM_NCCREATE and WM_CREATE); null on failure,
    // with the last error set.
    HWND Create(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, HWND parent,
                HMENU menu, HINSTANCE instance, LPVOID parameter, bool dialog = false);
    // DestroyWindow from the owning thread: WM_DESTROY, the children, WM_NCDESTROY.
    bool Destroy(HWND window);

    // A copy of a window's record; false (last error set) for an unknown handle.
    bool Find(HWND window, Window *copy);
    // Runs `change` on a window's record under the lock; false (last error set) if unknown.
    bool Change(HWND window, const std::function<void(Window &)> &change);
    // The child of `parent` with that control id, or null.
    HWND ChildWithId(HWND parent, LONG_PTR id);
    // FindWindow: the first top-level window (message-only ones are never found) with that
    // class and title; a null one matches any.
    HWND FindTopLevel(LPCWSTR className, LPCWSTR title);
    // The desktop's foreground window (null when it has gone).
    bool SetForeground(HWND window);
    HWND Foreground();

    // Messages.
    bool Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    bool PostToThread(ULONG threadId, UINT message, WPARAM wParam, LPARAM lParam);
    void PostQuit(int exitCode);
    // Sends and waits for the reply (at most `timeoutMs`, INFINITE for ever). False when the
    // window is unknown, goes away, or the time runs out (last error ERROR_TIMEOUT).
    bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
              LRESULT *result);
    // GetMessage/PeekMessage: handles sent messages, then returns a posted one (or WM_QUIT):
    // 1. Without `wait`, 0 when nothing matched; -1 for an unknown window (last error set) or
    // when the thread is ending.
    int Retrieve(MSG *message, HWND window, UINT first, UINT last, bool remove, bool wait);
    // Calls a window's procedure on the calling thread.
    LRESULT CallProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The thread or process is gone: its windows and queue go (and a process's classes).
    void ThreadEnded(PKTHREAD thread);
    void ProcessEnded(PKPROCESS process);

private:
    std::shared_ptr<MessageQueue> QueueLocked(PKTHREAD thread, bool make);
    Window *FindLocked(HWND window);
    const WindowClass *ClassLocked(PKPROCESS process, LPCWSTR name);
    // Removes windows and fails the messages sent to them; lock held.
    void DropWindowsLocked(const std::vector<HWND> &windows);
    void DropQueueLocked(PKTHREAD thread);
    // Drops the windows and queues of the threads `owner` picks.
    void DropOwnedLocked(const std::function<bool(PKTHREAD)> &owner);
    // Handles one message sent to the calling thread, if there is one; the lock is released
    // for the call and taken again.
    bool DeliverOneSentLocked(std::unique_lock<std::mutex> &lock, MessageQueue &queue);
    static void ReplyLocked(SentMessage &sent, LRESULT result, bool failed);
    // The caller waits on its queue's wake event; false if it must stop (its thread ends).
    bool WaitForWake(std::unique_lock<std::mutex> &lock, MessageQueue &queue,
                     PLARGE_INTEGER timeout, bool *timedOut);
    DWORD TickCount();

    Machine &machine_;
    std::mutex lock_;
    HWND foreground_ = nullptr;
    std::map<PKPROCESS, std::vector<WindowClass>> classes_;
    std::map<HWND, Window> windows_;
    std::map<PKTHREAD, std::shared_ptr<MessageQueue>> queues_;
    ULONG_PTR nextWindow_ = 0x10010;
    ATOM nextAtom_ = 0xC000;
};

} // namespace host::win32
