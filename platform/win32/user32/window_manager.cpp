#include "window_manager.h"

#include "user_threads.h"

#include "kernel/machine.h"
#include "kernel/wide_string.h"

#include <algorithm>

namespace host::win32 {

namespace {

// The dialog manager's class (WC_DIALOG), known to every process.
const char16_t kDialogClassName[] = u"#32770";
constexpr ATOM kDialogClassAtom = 0x8002;
constexpr int kDialogWindowExtra = DLGWINDOWEXTRA;

// An atom given where a class name is expected (MAKEINTATOM).
bool IsAtom(LPCWSTR name) { return ULONG_PTR(name) < 0x10000; }

std::u16string Text(LPCWSTR text) { return text != nullptr ? host::ToU16(text) : u""; }

bool InRange(UINT message, UINT first, UINT last)
{
    return (first == 0 && last == 0) || (message >= first && message <= last);
}

} // namespace

MessageQueue::MessageQueue(PKTHREAD owner) : thread(owner)
{
    ObfReferenceObject(thread);
    KeInitializeEvent(&wake, NotificationEvent, FALSE);
}

MessageQueue::~MessageQueue() { ObfDereferenceObject(thread); }

WindowManager::WindowManager(Machine &machine) : machine_(machine) {}

WindowManager::~WindowManager() = default;

std::shared_ptr<MessageQueue> WindowManager::QueueLocked(PKTHREAD thread, bool make)
{
    auto it = queues_.find(thread);
    if (it != queues_.end())
        return it->second;
    if (!make)
        return nullptr;
    auto queue = std::make_shared<MessageQueue>(thread);
    queues_[thread] = queue;
    return queue;
}

std::shared_ptr<MessageQueue> WindowManager::QueueOfCaller()
{
    PKTHREAD thread = CurrentThread("user32");
    std::lock_guard<std::mutex> guard(lock_);
    return QueueLocked(thread, true);
}

Window *WindowManager::FindLocked(HWND window)
{
    auto it = windows_.find(window);
    return it != windows_.end() ? &it->second : nullptr;
}

DWORD WindowManager::TickCount() { return DWORD(machine_.Clock().Now() / 10000); }

// ---------------------------------------------------------------------------------------------
// Classes

const WindowClass *WindowManager::ClassLocked(PKPROCESS process, LPCWSTR name)
{
    static const WindowClass kDialogClass = {kDialogClassAtom, kDialogClassName, DefDlgProcW,
                                             kDialogWindowExtra};
    if (IsAtom(name) ? ATOM(ULONG_PTR(name)) == kDialogClassAtom
                     : EqualIgnoreCase(Text(name), kDialogClassName))
        return &kDialogClass;
    for (const WindowClass &c : classes_[process])
        if (IsAtom(name) ? c.atom == ATOM(ULONG_PTR(name)) : EqualIgnoreCase(c.name, Text(name)))
            return &c;
    return nullptr;
}

ATOM WindowManager::RegisterClass(PKPROCESS process, const WNDCLASSEXW &description)
{
    if (description.cbSize != sizeof(WNDCLASSEXW) || description.lpszClassName == nullptr ||
        IsAtom(description.lpszClassName) || description.lpfnWndProc == nullptr ||
        description.cbWndExtra < 0 || description.cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::lock_guard<std::mutex> guard(lock_);
    if (ClassLocked(process, description.lpszClassName) != nullptr) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    ATOM atom = nextAtom_++;
    classes_[process].push_back(
        {atom, Text(description.lpszClassName), description.lpfnWndProc, description.cbWndExtra});
    return atom;
}

bool WindowManager::UnregisterClass(PKPROCESS process, LPCWSTR name)
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<WindowClass> &list = classes_[process];
    auto it = std::find_if(list.begin(), list.end(), [name](const WindowClass &c) {
        return IsAtom(name) ? c.atom == ATOM(ULONG_PTR(name)) : EqualIgnoreCase(c.name, Text(name));
    });
    if (it == list.end()) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return false;
    }
    for (auto &[handle, window] : windows_) {
        if (window.process == process && EqualIgnoreCase(window.className, it->name)) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return false;
        }
    }
    list.erase(it);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Windows

HWND WindowManager::Create(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style,
                           HWND parent, HMENU menu, HINSTANCE instance, LPVOID parameter,
                           bool dialog)
{
    PKTHREAD thread = CurrentThread("CreateWindowExW");
    HWND handle;
    {
        std::lock_guard<std::mutex> guard(lock_);
        const WindowClass *windowClass = ClassLocked(thread->process, className);
        if (windowClass == nullptr) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        bool messageOnly = parent == HWND_MESSAGE;
        if (messageOnly) {
            parent = nullptr;
        } else if (parent != nullptr && FindLocked(parent) == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        } else if (parent == nullptr && (style & WS_CHILD)) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        handle = reinterpret_cast<HWND>(nextWindow_);
        nextWindow_ += 2;
        Window window{};
        window.handle = handle;
        window.thread = thread;
        window.process = thread->process;
        window.className = windowClass->name;
        window.title = Text(title);
        window.procedure = windowClass->procedure;
        window.instance = instance;
        window.parent = parent;
        window.messageOnly = messageOnly;
        window.style = style;
        window.id = (style & WS_CHILD) ? LONG_PTR(menu) : 0;
        window.extra.assign(size_t(windowClass->windowExtra), 0);
        window.dialog = dialog;
        windows_.emplace(handle, std::move(window));
        QueueLocked(thread, true);
    }
    CREATESTRUCTW create = {parameter, instance, menu,        parent, 0,         0,
                            0,         0,        LONG(style), title,  className, exStyle};
    LPARAM createParameter = reinterpret_cast<LPARAM>(&create);
    if (!CallProcedure(handle, WM_NCCREATE, 0, createParameter) ||
        CallProcedure(handle, WM_CREATE, 0, createParameter) == -1) {
        Destroy(handle);
        return nullptr;
    }
    return handle;
}

bool WindowManager::Destroy(HWND handle)
{
    PKTHREAD thread = CurrentThread("DestroyWindow");
    std::vector<HWND> children;
    {
        std::lock_guard<std::mutex> guard(lock_);
        Window *window = FindLocked(handle);
        if (window == nullptr) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return false;
        }
        if (window->thread != thread) {
            SetLastError(ERROR_ACCESS_DENIED);
            return false;
        }
        if (window->destroying)
            return true; // DestroyWindow from its own WM_DESTROY
        window->destroying = true;
        for (auto &[h, w] : windows_)
            if (w.parent == handle)
                children.push_back(h);
    }
    CallProcedure(handle, WM_DESTROY, 0, 0);
    for (HWND child : children)
        Destroy(child);
    CallProcedure(handle, WM_NCDESTROY, 0, 0);
    std::lock_guard<std::mutex> guard(lock_);
    DropWindowsLocked({handle});
    return true;
}

bool WindowManager::Find(HWND handle, Window *copy)
{
    return Change(handle, [copy](Window &window) { *copy = window; });
}

bool WindowManager::Change(HWND handle, const std::function<void(Window &)> &change)
{
    std::lock_guard<std::mutex> guard(lock_);
    Window *window = FindLocked(handle);
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    change(*window);
    return true;
}

HWND WindowManager::ChildWithId(HWND parent, LONG_PTR id)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[handle, window] : windows_)
        if (window.parent == parent && (window.style & WS_CHILD) && window.id == id)
            return handle;
    return nullptr;
}

HWND WindowManager::FindTopLevel(LPCWSTR className, LPCWSTR title)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[handle, window] : windows_) {
        if (window.parent != nullptr || window.messageOnly)
            continue;
        if (className != nullptr && !EqualIgnoreCase(window.className, Text(className)))
            continue;
        if (title != nullptr && window.title != Text(title))
            continue;
        return handle;
    }
    return nullptr;
}

bool WindowManager::SetForeground(HWND window)
{
    std::lock_guard<std::mutex> guard(lock_);
    Window *found = FindLocked(window);
    if (found == nullptr || found->parent != nullptr || found->messageOnly)
        return false;
    foreground_ = window;
    return true;
}

HWND WindowManager::Foreground()
{
    std::lock_guard<std::mutex> guard(lock_);
    return foreground_;
}

LRESULT WindowManager::CallProcedure(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    WNDPROC procedure;
    {
        std::lock_guard<std::mutex> guard(lock_);
        Window *window = FindLocked(handle);
        if (window == nullptr)
            return 0;
        procedure = window->procedure;
    }
    return procedure(handle, message, wParam, lParam);
}

void WindowManager::DropWindowsLocked(const std::vector<HWND> &handles)
{
    std::vector<HWND> children;
    for (HWND handle : handles) {
        auto it = windows_.find(handle);
        if (it == windows_.end())
            continue;
        if (foreground_ == handle)
            foreground_ = nullptr;
        if (std::shared_ptr<MessageQueue> queue = QueueLocked(it->second.thread, false)) {
            auto &posted = queue->posted;
            posted.erase(std::remove_if(posted.begin(), posted.end(),
                                        [handle](const MSG &m) { return m.hwnd == handle; }),
                         posted.end());
            auto &sent = queue->sent;
            for (auto s = sent.begin(); s != sent.end();) {
                if ((*s)->window != handle) {
                    ++s;
                    continue;
                }
                ReplyLocked(**s, 0, true);
                s = sent.erase(s);
            }
        }
        windows_.erase(it);
        for (auto &[h, w] : windows_)
            if (w.parent == handle)
                children.push_back(h);
    }
    if (!children.empty())
        DropWindowsLocked(children);
}

// ---------------------------------------------------------------------------------------------
// Messages

bool WindowManager::Post(HWND handle, UINT message, WPARAM wParam, LPARAM lParam)
{
    PKTHREAD caller = CurrentThread("PostMessageW");
    if (handle == HWND_BROADCAST) {
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "a message posted to HWND_BROADCAST: not emulated");
        SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
        return false;
    }
    std::lock_guard<std::mutex> guard(lock_);
    std::shared_ptr<MessageQueue> queue;
    if (handle == nullptr) {
        queue = QueueLocked(caller, true);
    } else if (Window *window = FindLocked(handle)) {
        queue = QueueLocked(window->thread, true);
    } else {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (queue->posted.size() >= kPostedMessageQuota) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return false;
    }
    queue->posted.push_back({handle, message, wParam, lParam, TickCount(), {0, 0}});
    KeSetEvent(&queue->wake, IO_NO_INCREMENT, FALSE);
    return true;
}

bool WindowManager::PostToThread(ULONG threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[thread, queue] : queues_) {
        if (thread->id != threadId)
            continue;
        if (queue->posted.size() >= kPostedMessageQuota) {
            SetLastError(ERROR_NOT_ENOUGH_QUOTA);
            return false;
        }
        queue->posted.push_back({nullptr, message, wParam, lParam, TickCount(), {0, 0}});
        KeSetEvent(&queue->wake, IO_NO_INCREMENT, FALSE);
        return true;
    }
    SetLastError(ERROR_INVALID_THREAD_ID);
    return false;
}

void WindowManager::PostQuit(int exitCode)
{
    std::shared_ptr<MessageQueue> queue = QueueOfCaller();
    std::lock_guard<std::mutex> guard(lock_);
    queue->quit = true;
    queue->quitCode = exitCode;
    KeSetEvent(&queue->wake, IO_NO_INCREMENT, FALSE);
}

void WindowManager::ReplyLocked(SentMessage &sent, LRESULT result, bool failed)
{
    sent.result = result;
    sent.replied = true;
    sent.failed = failed;
    KeSetEvent(&sent.sender->wake, IO_NO_INCREMENT, FALSE);
}

bool WindowManager::DeliverOneSentLocked(std::unique_lock<std::mutex> &lock, MessageQueue &queue)
{
    if (queue.sent.empty())
        return false;
    std::shared_ptr<SentMessage> sent = queue.sent.front();
    queue.sent.pop_front();
    Window *window = FindLocked(sent->window);
    if (window == nullptr) {
        ReplyLocked(*sent, 0, true);
        return true;
    }
    WNDPROC procedure = window->procedure;
    lock.unlock();
    LRESULT result;
    try {
        result = procedure(sent->window, sent->message, sent->wParam, sent->lParam);
    } catch (...) { // the thread is ending inside the procedure: the sender waits no longer
        lock.lock();
        ReplyLocked(*sent, 0, true);
        throw;
    }
    lock.lock();
    ReplyLocked(*sent, result, false);
    return true;
}

bool WindowManager::WaitForWake(std::unique_lock<std::mutex> &lock, MessageQueue &queue,
                                PLARGE_INTEGER timeout, bool *timedOut)
{
    KeResetEvent(&queue.wake);
    lock.unlock();
    // A system thread (the device broadcasts) waits as the kernel does; a user thread's wait
    // ends when its process does.
    KPROCESSOR_MODE mode =
        queue.thread->process == machine_.SystemProcess() ? KernelMode : UserMode;
    NTSTATUS status = KeWaitForSingleObject(&queue.wake, UserRequest, mode, FALSE, timeout);
    lock.lock();
    *timedOut = status == STATUS_TIMEOUT;
    return status == STATUS_WAIT_0 || status == STATUS_TIMEOUT;
}

bool WindowManager::Send(HWND handle, UINT message, WPARAM wParam, LPARAM lParam, DWORD timeoutMs,
                         LRESULT *result)
{
    std::shared_ptr<MessageQueue> self = QueueOfCaller();
    std::unique_lock<std::mutex> lock(lock_);
    Window *window = FindLocked(handle);
    if (window == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    if (window->thread == self->thread) {
        WNDPROC procedure = window->procedure;
        lock.unlock();
        *result = procedure(handle, message, wParam, lParam);
        return true;
    }
    std::shared_ptr<MessageQueue> target = QueueLocked(window->thread, true);
    auto sent = std::make_shared<SentMessage>(SentMessage{handle, message, wParam, lParam, self});
    target->sent.push_back(sent);
    KeSetEvent(&target->wake, IO_NO_INCREMENT, FALSE);
    const ULONGLONG deadline = machine_.Clock().Now() + ULONGLONG(timeoutMs) * 10000;
    for (;;) {
        if (sent->replied) {
            *result = sent->result;
            if (sent->failed)
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return !sent->failed;
        }
        if (DeliverOneSentLocked(lock, *self))
            continue;
        LARGE_INTEGER storage;
        PLARGE_INTEGER timeout = nullptr;
        if (timeoutMs != INFINITE) {
            ULONGLONG now = machine_.Clock().Now();
            storage.QuadPart = now < deadline ? -LONGLONG(deadline - now) : 0;
            timeout = &storage;
        }
        bool timedOut = false;
        bool woken = WaitForWake(lock, *self, timeout, &timedOut);
        if (sent->replied)
            continue;
        if (woken && !timedOut)
            continue;
        // Given up: the message is withdrawn unless its handling has begun.
        auto &queued = target->sent;
        queued.erase(std::remove(queued.begin(), queued.end(), sent), queued.end());
        if (!woken) {
            lock.unlock();
            ThreadTerminating();
            return false;
        }
        SetLastError(ERROR_TIMEOUT);
        return false;
    }
}

int WindowManager::Retrieve(MSG *message, HWND handle, UINT first, UINT last, bool remove,
                            bool wait)
{
    std::shared_ptr<MessageQueue> self = QueueOfCaller();
    std::unique_lock<std::mutex> lock(lock_);
    const HWND threadMessagesOnly = reinterpret_cast<HWND>(-1);
    if (handle != nullptr && handle != threadMessagesOnly && FindLocked(handle) == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return -1;
    }
    for (;;) {
        if (DeliverOneSentLocked(lock, *self))
            continue;
        auto &posted = self->posted;
        auto it = std::find_if(posted.begin(), posted.end(), [&](const MSG &m) {
            bool windowMatches =
                handle == nullptr ||
                (handle == threadMessagesOnly ? m.hwnd == nullptr : m.hwnd == handle);
            return windowMatches && (m.message == WM_QUIT || InRange(m.message, first, last));
        });
        if (it != posted.end()) {
            *message = *it;
            if (remove)
                posted.erase(it);
            return 1;
        }
        if (self->quit) {
            *message = {nullptr, WM_QUIT, WPARAM(self->quitCode), 0, TickCount(), {0, 0}};
            if (remove)
                self->quit = false;
            return 1;
        }
        if (!wait)
            return 0;
        bool timedOut;
        if (!WaitForWake(lock, *self, nullptr, &timedOut)) {
            lock.unlock();
            ThreadTerminating();
            return -1;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Rundown

void WindowManager::DropQueueLocked(PKTHREAD thread)
{
    auto it = queues_.find(thread);
    if (it == queues_.end())
        return;
    std::shared_ptr<MessageQueue> queue = it->second;
    queues_.erase(it);
    for (const std::shared_ptr<SentMessage> &sent : queue->sent)
        ReplyLocked(*sent, 0, true);
    queue->sent.clear();
    // What it was sending itself waits nowhere any more.
    for (auto &[other, q] : queues_) {
        auto &sent = q->sent;
        sent.erase(std::remove_if(
                       sent.begin(), sent.end(),
                       [&](const std::shared_ptr<SentMessage> &s) { return s->sender == queue; }),
                   sent.end());
    }
}

void WindowManager::DropOwnedLocked(const std::function<bool(PKTHREAD)> &owner)
{
    std::vector<HWND> windows;
    for (auto &[handle, window] : windows_)
        if (owner(window.thread))
            windows.push_back(handle);
    DropWindowsLocked(windows);
    std::vector<PKTHREAD> threads;
    for (auto &[thread, queue] : queues_)
        if (owner(thread))
            threads.push_back(thread);
    for (PKTHREAD thread : threads)
        DropQueueLocked(thread);
}

void WindowManager::ThreadEnded(PKTHREAD thread)
{
    std::lock_guard<std::mutex> guard(lock_);
    DropOwnedLocked([thread](PKTHREAD t) { return t == thread; });
}

void WindowManager::ProcessEnded(PKPROCESS process)
{
    std::lock_guard<std::mutex> guard(lock_);
    DropOwnedLocked([process](PKTHREAD t) { return t->process == process; });
    classes_.erase(process);
}

} // namespace host::win32
