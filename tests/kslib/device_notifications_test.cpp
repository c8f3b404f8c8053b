// Device-interface notifications to windows while the product driver's RV-D3 comes and goes:
// what arrives, for which registrations, and what ends them.
#include "kslib_fixture.h"

#include "driver_session.h"

#include <dbt.h>

namespace {

struct Broadcast {
    HWND window;
    WPARAM event;
    DWORD size;
    GUID interfaceClass;
    std::u16string path;
};
std::vector<Broadcast> received;

LRESULT CALLBACK Listening(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_DEVICECHANGE)
        return DefWindowProcW(hwnd, message, wParam, lParam);
    auto header = reinterpret_cast<const DEV_BROADCAST_HDR *>(lParam);
    if (header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE) {
        auto d = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W *>(lParam);
        received.push_back({hwnd, wParam, d->dbcc_size, d->dbcc_classguid,
                            reinterpret_cast<const char16_t *>(d->dbcc_name)});
    }
    return TRUE;
}

const GUID kOtherClass = {0x1a2b3c4d, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};

class DeviceNotifications : public KsLibTest {
protected:
    DeviceNotifications() : KsLibTest(sim::QuenAudioPackage()) {}

    void SetUp() override
    {
        KsLibTest::SetUp();
        received.clear();
        RegisterListeningClass();
        paths_ = AudioInterfacePaths();
        ASSERT_EQ(1u, paths_.size());
    }

    // Classes belong to their process: each registers its own.
    static void RegisterListeningClass()
    {
        WNDCLASSEXW description = {};
        description.cbSize = sizeof description;
        description.lpfnWndProc = Listening;
        description.lpszClassName = L"quen.listening";
        RegisterClassExW(&description);
    }

    static HWND Listener()
    {
        return CreateWindowExW(0, L"quen.listening", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               nullptr, nullptr);
    }

    static HDEVNOTIFY Register(HWND window, const GUID &interfaceClass, DWORD flags = 0)
    {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = interfaceClass;
        return RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE | flags);
    }

    // Takes what the broadcasts send this thread until they have nothing more: once the clock
    // has moved on, the sending thread waits either for this one or for the next event.
    static void Pump()
    {
        MSG message;
        for (size_t before = ~size_t(0); before != received.size();) {
            before = received.size();
            Sleep(1);
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }

    void Unplug()
    {
        pnp_->Unplug(*node_);
        Pump();
    }
    void Plug()
    {
        node_ = pnp_->Plug(portcls_tests::kPort, std::make_shared<devices::Rvd3Model>());
        ASSERT_NE(nullptr, node_);
        Pump();
    }

    // What one window received of the audio class: its events in order.
    std::vector<WPARAM> AudioEventsOf(HWND window)
    {
        std::vector<WPARAM> events;
        for (const Broadcast &b : received)
            if (b.window == window && b.interfaceClass == KSCATEGORY_AUDIO)
                events.push_back(b.event);
        return events;
    }

    std::vector<std::u16string> paths_;
};

TEST_F(DeviceNotifications, RemovalAndArrivalCarryTheInterfacePath)
{
    HWND window = Listener();
    HDEVNOTIFY registration = Register(window, KSCATEGORY_AUDIO);
    ASSERT_NE(nullptr, registration);
    Unplug();
    Plug();
    ASSERT_EQ(2u, received.size());
    const WPARAM kEvents[] = {DBT_DEVICEREMOVECOMPLETE, DBT_DEVICEARRIVAL};
    for (size_t i = 0; i < received.size(); ++i) {
        const Broadcast &b = received[i];
        EXPECT_EQ(kEvents[i], b.event);
        EXPECT_EQ(window, b.window);
        EXPECT_EQ(KSCATEGORY_AUDIO, b.interfaceClass);
        EXPECT_EQ(paths_[0], b.path) << "the path SetupAPI reports";
        EXPECT_EQ(u"\\\\?\\", b.path.substr(0, 4));
        EXPECT_EQ(offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) +
                      (b.path.size() + 1) * sizeof(WCHAR),
                  b.size);
    }
    EXPECT_TRUE(UnregisterDeviceNotification(registration));
    EXPECT_FALSE(UnregisterDeviceNotification(registration));
    EXPECT_EQ(DWORD(ERROR_INVALID_HANDLE), GetLastError());
}

TEST_F(DeviceNotifications, EachRegistrationGetsItsClassesUntilItEnds)
{
    HWND audio = Listener(), all = Listener(), other = Listener(), dropped = Listener(),
         destroyed = Listener();
    ASSERT_NE(nullptr, Register(audio, KSCATEGORY_AUDIO));
    ASSERT_NE(nullptr, Register(all, kOtherClass, DEVICE_NOTIFY_ALL_INTERFACE_CLASSES));
    ASSERT_NE(nullptr, Register(other, kOtherClass));
    EXPECT_TRUE(UnregisterDeviceNotification(Register(dropped, KSCATEGORY_AUDIO)));
    ASSERT_NE(nullptr, Register(destroyed, KSCATEGORY_AUDIO));
    EXPECT_TRUE(DestroyWindow(destroyed));
    Unplug();
    const std::vector<WPARAM> kRemoval = {DBT_DEVICEREMOVECOMPLETE};
    EXPECT_EQ(kRemoval, AudioEventsOf(audio));
    EXPECT_EQ(kRemoval, AudioEventsOf(all));
    size_t allClasses = 0;
    for (const Broadcast &b : received) {
        EXPECT_NE(other, b.window);
        EXPECT_NE(dropped, b.window);
        EXPECT_NE(destroyed, b.window);
        allClasses += b.window == all;
    }
    EXPECT_GE(allClasses, 2u) << "the filter's other categories too";
}

TEST_F(DeviceNotifications, WindowOfAnotherProcessGetsThemOnItsThreadAndEndsWithIt)
{
    static HWND remote;
    HANDLE registered = CreateEventW(nullptr, TRUE, FALSE, L"quen.registered");
    PKPROCESS panel = Start("panel", [] {
        RegisterListeningClass();
        remote = Listener();
        if (Register(remote, KSCATEGORY_AUDIO) == nullptr)
            return DWORD(1);
        HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"quen.registered");
        SetEvent(ready);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        return DWORD(message.wParam);
    });
    WaitForSingleObject(registered, INFINITE);
    Unplug();
    ASSERT_EQ(1u, received.size());
    EXPECT_EQ(remote, received[0].window);
    Win32().Terminate(panel, 0);
    Join(panel);
    // The process's window and registration went with it; nothing waits for them.
    HWND local = Listener();
    Register(local, KSCATEGORY_AUDIO);
    ULONGLONG start = NowMs();
    Plug();
    EXPECT_EQ(std::vector<WPARAM>{DBT_DEVICEARRIVAL}, AudioEventsOf(local));
    EXPECT_EQ(2u, received.size());
    EXPECT_LT(NowMs() - start, 1000u);
    CloseHandle(registered);
}

TEST_F(DeviceNotifications, RegistrationChecksItsArguments)
{
    HWND window = Listener();
    DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    DEV_BROADCAST_DEVICEINTERFACE_W small = filter;
    small.dbcc_size = sizeof small - 4;
    DEV_BROADCAST_DEVICEINTERFACE_W volume = filter;
    volume.dbcc_devicetype = DBT_DEVTYP_VOLUME;
    const struct {
        HANDLE recipient;
        LPVOID filter;
        DWORD flags;
        DWORD error;
    } kCases[] = {
        {window, &filter, 0x10, ERROR_INVALID_PARAMETER},
        {window, nullptr, 0, ERROR_INVALID_PARAMETER},
        {window, &small, 0, ERROR_INVALID_DATA},
        {window, &volume, 0, ERROR_INVALID_DATA},
        {reinterpret_cast<HANDLE>(0x7ff0), &filter, 0, ERROR_INVALID_WINDOW_HANDLE},
    };
    for (const auto &c : kCases) {
        SetLastError(0);
        EXPECT_EQ(nullptr, RegisterDeviceNotificationW(c.recipient, c.filter, c.flags));
        EXPECT_EQ(c.error, GetLastError()) << std::hex << c.flags;
    }
    EXPECT_EQ(nullptr, RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_SERVICE_HANDLE));
    EXPECT_EQ(DWORD(ERROR_CALL_NOT_IMPLEMENTED), GetLastError());
    EXPECT_EQ(1u, Reports(host::VerifierCheck::Usage)) << "service recipients are not emulated";
}

} // namespace
