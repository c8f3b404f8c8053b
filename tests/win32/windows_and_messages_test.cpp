// Windows and message queues: the order messages arrive in, sends across threads, quitting,
// waits on the virtual clock, what ends with a window's thread, modal dialogs, and the errors
// Windows reports.
#include "win32_fixture.h"

#include <dbt.h>

#include <vector>

namespace {

// What the test window procedures saw, in order.
struct Seen {
    HWND window;
    UINT message;
    WPARAM wParam;
};
std::vector<Seen> seen;

LRESULT CALLBACK Recording(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_USER)
        seen.push_back({hwnd, message, wParam});
    if (message == WM_NCCREATE) // the creation parameter becomes the user data
        SetWindowLongPtrW(hwnd, GWLP_USERDATA,
                          LONG_PTR(reinterpret_cast<CREATESTRUCTW *>(lParam)->lpCreateParams));
    if (message >= WM_USER)
        return LRESULT(message + wParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

class WindowsAndMessages : public Win32Test {
protected:
    void SetUp() override
    {
        seen.clear();
        WNDCLASSEXW description = {};
        description.cbSize = sizeof description;
        description.lpfnWndProc = Recording;
        description.lpszClassName = L"quen.recording";
        ASSERT_NE(0, RegisterClassExW(&description));
    }

    static HWND MakeWindow(HWND parent = HWND_MESSAGE, DWORD style = 0, int id = 0)
    {
        return CreateWindowExW(0, L"quen.recording", L"recording", style, 0, 0, 0, 0, parent,
                               reinterpret_cast<HMENU>(LONG_PTR(id)), nullptr, nullptr);
    }

    // Dispatches what has arrived; returns how many posted messages there were.
    static int Pump()
    {
        MSG message;
        int count = 0;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
            ++count;
        }
        return count;
    }

    static std::vector<UINT> Messages()
    {
        std::vector<UINT> list;
        for (const Seen &s : seen)
            list.push_back(s.message);
        return list;
    }
};

struct SendRequest {
    HWND window;
    UINT message;
};

DWORD WINAPI SendFromThread(LPVOID parameter)
{
    auto request = static_cast<SendRequest *>(parameter);
    return DWORD(SendMessageW(request->window, request->message, 1, 0));
}

TEST_F(WindowsAndMessages, SentMessagesComeBeforePostedOnesWhichKeepTheirOrder)
{
    HWND window = MakeWindow();
    ASSERT_NE(nullptr, window);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostMessageW(window, WM_USER + 2, 0, 0));
    SendRequest request{window, WM_USER + 3};
    HANDLE sender = CreateThread(nullptr, 0, SendFromThread, &request, 0, nullptr);
    Sleep(10); // the sender now waits for this thread to take its message
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(sender, 0));
    EXPECT_EQ(2, Pump());
    EXPECT_EQ((std::vector<UINT>{WM_USER + 3, WM_USER + 1, WM_USER + 2}), Messages());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(sender, INFINITE));
    DWORD result = 0;
    GetExitCodeThread(sender, &result);
    EXPECT_EQ(DWORD(WM_USER + 3 + 1), result) << "the window procedure's result reaches the sender";
    CloseHandle(sender);
    EXPECT_EQ(LRESULT(WM_USER + 4 + 2), SendMessageW(window, WM_USER + 4, 2, 0))
        << "a send to the caller's own window is a call";
    EXPECT_TRUE(DestroyWindow(window));
}

// Answers a message by asking the window in its user data, whose thread is waiting on this one.
LRESULT CALLBACK AskingBack(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_USER + 10)
        return Recording(hwnd, message, wParam, lParam);
    auto asker = reinterpret_cast<HWND>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return SendMessageW(asker, WM_USER + 11, 0, 0) + 1;
}

TEST_F(WindowsAndMessages, ThreadsSendingToEachOtherHandleEachOthersMessages)
{
    WNDCLASSEXW description = {};
    description.cbSize = sizeof description;
    description.lpfnWndProc = AskingBack;
    description.lpszClassName = L"quen.asking-back";
    ASSERT_NE(0, RegisterClassExW(&description));
    static HWND asker;
    asker = MakeWindow();
    struct Other {
        HWND window = nullptr;
        HANDLE made;
        static DWORD WINAPI Run(LPVOID self)
        {
            auto other = static_cast<Other *>(self);
            other->window = CreateWindowExW(0, L"quen.asking-back", nullptr, 0, 0, 0, 0, 0,
                                            HWND_MESSAGE, nullptr, nullptr, asker);
            SetEvent(other->made);
            MSG message;
            while (GetMessageW(&message, nullptr, 0, 0) > 0)
                DispatchMessageW(&message);
            return DWORD(message.wParam);
        }
    } other;
    other.made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, Other::Run, &other, 0, nullptr);
    WaitForSingleObject(other.made, INFINITE);
    EXPECT_EQ(LRESULT(WM_USER + 11 + 1), SendMessageW(other.window, WM_USER + 10, 0, 0));
    EXPECT_EQ((std::vector<UINT>{WM_USER + 11}), Messages()) << "handled while this thread waited";
    EXPECT_TRUE(PostThreadMessageW(GetThreadId(thread), WM_QUIT, 3, 0));
    WaitForSingleObject(thread, INFINITE);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(3u, code);
    CloseHandle(thread);
    CloseHandle(other.made);
}

TEST_F(WindowsAndMessages, FiltersPickMessagesByRangeAndWindow)
{
    HWND window = MakeWindow();
    const HWND threadOnly = reinterpret_cast<HWND>(-1);
    ASSERT_TRUE(PostMessageW(window, WM_USER + 1, 0, 0));
    ASSERT_TRUE(PostMessageW(nullptr, WM_USER + 2, 0, 0)); // a thread message
    ASSERT_TRUE(PostMessageW(window, WM_APP, 0, 0));
    const struct {
        HWND filter;
        UINT first, last;
        UINT remove;
        BOOL found;
        UINT message;
    } kCases[] = {
        {nullptr, WM_APP, WM_APP, PM_NOREMOVE, TRUE, WM_APP}, // left in place
        {threadOnly, 0, 0, PM_NOREMOVE, TRUE, WM_USER + 2},
        {window, WM_USER + 2, WM_USER + 2, PM_NOREMOVE, FALSE, 0},
        {window, WM_APP, WM_APP, PM_REMOVE, TRUE, WM_APP},
        {nullptr, WM_APP, WM_APP, PM_NOREMOVE, FALSE, 0}, // taken by the case before
        {nullptr, 0, 0, PM_REMOVE, TRUE, WM_USER + 1},
        {nullptr, 0, 0, PM_REMOVE, TRUE, WM_USER + 2},
        {nullptr, 0, 0, PM_REMOVE, FALSE, 0},
    };
    for (const auto &c : kCases) {
        MSG message = {};
        EXPECT_EQ(c.found, PeekMessageW(&message, c.filter, c.first, c.last, c.remove))
            << std::hex << c.first;
        if (c.found) {
            EXPECT_EQ(c.message, message.message);
        }
    }
}

TEST_F(WindowsAndMessages, QuitComesOncePostedMessagesAreTaken)
{
    HWND window = MakeWindow();
    PostMessageW(window, WM_USER + 1, 0, 0);
    PostQuitMessage(5);
    PostMessageW(window, WM_USER + 2, 0, 0);
    MSG message;
    std::vector<UINT> order;
    BOOL got;
    while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0)
        order.push_back(message.message);
    EXPECT_EQ(0, got);
    EXPECT_EQ(WPARAM(5), message.wParam);
    EXPECT_EQ((std::vector<UINT>{WM_USER + 1, WM_USER + 2}), order);
    EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "only once";
}

TEST_F(WindowsAndMessages, GetMessageWaitsOnTheVirtualClock)
{
    HWND window = MakeWindow();
    struct Later {
        HWND window;
        static DWORD WINAPI Post(LPVOID self)
        {
            Sleep(250);
            PostMessageW(static_cast<Later *>(self)->window, WM_USER + 7, 0, 0);
            return 0;
        }
    } later{window};
    HANDLE thread = CreateThread(nullptr, 0, Later::Post, &later, 0, nullptr);
    ULONGLONG start = NowMs();
    MSG message;
    ASSERT_EQ(TRUE, GetMessageW(&message, nullptr, 0, 0));
    EXPECT_EQ(UINT(WM_USER + 7), message.message);
    EXPECT_EQ(window, message.hwnd);
    EXPECT_EQ(250u, NowMs() - start);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
}

TEST_F(WindowsAndMessages, WindowsAndQueueEndWithTheirThreadAndItsSendersGetNothing)
{
    struct Owner {
        HWND window = nullptr;
        HANDLE made;
        static DWORD WINAPI Run(LPVOID self)
        {
            auto owner = static_cast<Owner *>(self);
            owner->window = MakeWindow();
            SetEvent(owner->made);
            Sleep(100); // never takes its messages
            return 0;
        }
    } owner;
    owner.made = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, Owner::Run, &owner, 0, nullptr);
    WaitForSingleObject(owner.made, INFINITE);
    DWORD threadId = GetThreadId(thread);
    EXPECT_TRUE(PostThreadMessageW(threadId, WM_USER, 0, 0));
    ULONGLONG start = NowMs();
    SetLastError(0);
    EXPECT_EQ(0, SendMessageW(owner.window, WM_USER + 1, 0, 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
    EXPECT_EQ(100u, NowMs() - start) << "the send ends when the thread does";
    EXPECT_FALSE(IsWindow(owner.window));
    EXPECT_FALSE(PostThreadMessageW(threadId, WM_USER, 0, 0));
    EXPECT_EQ(DWORD(ERROR_INVALID_THREAD_ID), GetLastError());
    EXPECT_TRUE(seen.empty());
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(owner.made);
}

TEST_F(WindowsAndMessages, DestroyingAWindowTakesItsChildrenAndPendingMessages)
{
    HWND parent = MakeWindow(nullptr);
    HWND child = MakeWindow(parent, WS_CHILD, 1000);
    ASSERT_NE(nullptr, child);
    PostMessageW(child, WM_USER, 0, 0);
    EXPECT_TRUE(DestroyWindow(parent));
    EXPECT_FALSE(IsWindow(child));
    EXPECT_EQ(0, Pump());
}

TEST_F(WindowsAndMessages, WindowDataAndTitles)
{
    int marker = 0;
    MakeWindow(); // message-only, titled "recording"
    HWND window = CreateWindowExW(0, L"quen.recording", L"RV-D3 test window", 0, 0, 0, 0, 0,
                                  nullptr, nullptr, nullptr, &marker);
    EXPECT_EQ(LONG_PTR(&marker), GetWindowLongPtrW(window, GWLP_USERDATA))
        << "set from WM_NCCREATE's creation record";
    EXPECT_EQ(LONG_PTR(&marker), SetWindowLongPtrW(window, GWLP_USERDATA, 7));
    EXPECT_EQ(7, GetWindowLongPtrW(window, GWLP_USERDATA));
    EXPECT_EQ(window, FindWindowW(nullptr, L"RV-D3 test window"));
    EXPECT_TRUE(SetWindowTextW(window, L"renamed"));
    EXPECT_EQ(nullptr, FindWindowW(nullptr, L"RV-D3 test window"));
    EXPECT_EQ(window, FindWindowW(L"QUEN.RECORDING", L"renamed"));
    EXPECT_EQ(nullptr, FindWindowW(nullptr, L"recording")) << "message-only windows are not found";
    DWORD processId = 0;
    EXPECT_EQ(GetCurrentThreadId(), GetWindowThreadProcessId(window, &processId));
    EXPECT_EQ(GetCurrentProcessId(), processId);
}

TEST_F(WindowsAndMessages, FailuresSetTheDocumentedErrors)
{
    HWND window = MakeWindow();
    WNDCLASSEXW again = {};
    again.cbSize = sizeof again;
    again.lpfnWndProc = Recording;
    again.lpszClassName = L"QUEN.RECORDING";
    WNDCLASSEXW badSize = again;
    badSize.cbSize = sizeof badSize - 8;
    badSize.lpszClassName = L"quen.other";
    HWND stale = reinterpret_cast<HWND>(0x7ff0);
    MSG message;
    const struct {
        const char *call;
        std::function<bool()> fails;
        DWORD error;
    } kCases[] = {
        {"RegisterClassExW twice", [&] { return RegisterClassExW(&again) == 0; },
         ERROR_CLASS_ALREADY_EXISTS},
        {"RegisterClassExW size", [&] { return RegisterClassExW(&badSize) == 0; },
         ERROR_INVALID_PARAMETER},
        {"CreateWindowExW class",
         [&] {
             return CreateWindowExW(0, L"quen.none", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                    nullptr, nullptr) == nullptr;
         },
         ERROR_CANNOT_FIND_WND_CLASS},
        {"CreateWindowExW child", [&] { return MakeWindow(nullptr, WS_CHILD) == nullptr; },
         ERROR_TLW_WITH_WSCHILD},
        {"CreateWindowExW parent", [&] { return MakeWindow(stale) == nullptr; },
         ERROR_INVALID_WINDOW_HANDLE},
        {"PostMessageW", [&] { return !PostMessageW(stale, WM_USER, 0, 0); },
         ERROR_INVALID_WINDOW_HANDLE},
        {"PostThreadMessageW", [&] { return !PostThreadMessageW(0x7777, WM_USER, 0, 0); },
         ERROR_INVALID_THREAD_ID},
        {"GetMessageW", [&] { return GetMessageW(&message, stale, 0, 0) == -1; },
         ERROR_INVALID_WINDOW_HANDLE},
        {"GetWindowLongPtrW", [&] { return GetWindowLongPtrW(window, 8) == 0; },
         ERROR_INVALID_INDEX},
        {"UnregisterClassW in use", [&] { return !UnregisterClassW(L"quen.recording", nullptr); },
         ERROR_CLASS_HAS_WINDOWS},
        {"DestroyWindow", [&] { return !DestroyWindow(stale); }, ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_TRUE(c.fails()) << c.call;
        EXPECT_EQ(c.error, GetLastError()) << c.call;
    }
}

TEST_F(WindowsAndMessages, PostedQueueHoldsTenThousandMessages)
{
    HWND window = MakeWindow();
    for (int i = 0; i < 10000; ++i)
        ASSERT_TRUE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_FALSE(PostMessageW(window, WM_USER, 0, 0));
    EXPECT_EQ(DWORD(ERROR_NOT_ENOUGH_QUOTA), GetLastError());
    EXPECT_EQ(10000, Pump());
    EXPECT_TRUE(PostMessageW(window, WM_USER, 0, 0));
}

TEST_F(WindowsAndMessages, DestroyWindowBelongsToTheWindowsOwnThread)
{
    HWND window = MakeWindow();
    HANDLE thread = CreateThread(
        nullptr, 0,
        [](LPVOID w) -> DWORD { return DestroyWindow(static_cast<HWND>(w)) ? 0 : GetLastError(); },
        window, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD error = 0;
    GetExitCodeThread(thread, &error);
    EXPECT_EQ(DWORD(ERROR_ACCESS_DENIED), error);
    EXPECT_TRUE(IsWindow(window));
    CloseHandle(thread);
}

// A dialog whose procedure makes one control, asks it something through the dialog manager
// once initialised, and ends with the answer.
INT_PTR CALLBACK AskingDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        CreateWindowExW(0, L"quen.recording", nullptr, WS_CHILD, 0, 0, 0, 0, dialog,
                        reinterpret_cast<HMENU>(1000), nullptr, nullptr);
        PostThreadMessageW(GetCurrentThreadId(), WM_APP + 1, 0, 0); // lost in the modal loop
        PostMessageW(dialog, WM_APP, 0, lParam);
        return TRUE;
    case WM_APP:
        EndDialog(dialog, INT_PTR(SendDlgItemMessageW(dialog, 1000, WM_USER, WPARAM(lParam), 0)));
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            EndDialog(dialog, -7);
        return TRUE;
    default: return FALSE;
    }
}

TEST_F(WindowsAndMessages, ModalDialogRunsUntilEndDialog)
{
    EXPECT_EQ(INT_PTR(WM_USER + 40),
              DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, AskingDialog, 40));
    EXPECT_EQ((std::vector<UINT>{WM_USER}), Messages()) << "the control got the question";
    EXPECT_FALSE(IsWindow(seen[0].window)) << "the dialog and its control are gone";
    EXPECT_EQ(0, Pump()) << "the thread message was dispatched nowhere";
    EXPECT_EQ(0, DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), reinterpret_cast<HWND>(0x7ff0),
                                 AskingDialog, 40))
        << "an owner that is no window";
    EXPECT_EQ(DWORD(ERROR_INVALID_WINDOW_HANDLE), GetLastError());
}

TEST_F(WindowsAndMessages, ClosingADialogIsCancel)
{
    auto closing = [](HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            PostMessageW(dialog, WM_CLOSE, 0, 0);
            return TRUE;
        }
        return AskingDialog(dialog, message, wParam, lParam);
    };
    EXPECT_EQ(-7, DialogBoxParamW(nullptr, MAKEINTRESOURCEW(102), nullptr, closing, 0));
}

} // namespace
