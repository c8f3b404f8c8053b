// The control panel's dialog logic in a user process of the simulated PC with the product
// driver's RV-D3 plugged, driven through a recording view on a window whose messages the test
// pumps, against the real settings store and a listening ASIO driver's events.
#include "win32/win32_fixture.h"

#include "devices/rvd3_model.h"
#include "kernel/registry_store.h"
#include "driver_session.h"

#include "asio_control_panel_dlg.h"
#include "asio_settings.h"
#include "panel_instance.h"

#include <map>

namespace {

class RecordingView;
RecordingView *activeView;
CAsioControlPanelDlg *activeDialog;
int refreshes;

LRESULT CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP && activeDialog != nullptr) {
        ++refreshes;
        activeDialog->OnRefresh();
        return 0;
    }
    if (message == WM_DEVICECHANGE && activeDialog != nullptr) {
        activeDialog->OnDeviceChange(wParam);
        return TRUE;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

std::u16string Text(LPCWSTR text) { return reinterpret_cast<const char16_t *>(text); }

class RecordingView : public IPanelView {
public:
    HWND window = nullptr;
    std::u16string title, group, label, version;
    std::vector<std::u16string> devices, rates, bitDepths;
    int cursor = -1, position = 0, minimum = 0, maximum = 0, rate = -1, bitDepth = -1;
    bool bufferEnabled = true, formatListsDisabled = false;

    HWND Window() override { return window; }
    void SetTitle(LPCWSTR text) override
    {
        title = Text(text);
        SetWindowTextW(window, text);
    }
    void ResetDevices() override { devices.clear(), cursor = -1; }
    void AddDevice(LPCWSTR name) override { devices.push_back(Text(name)); }
    int DeviceCursor() override { return cursor; }
    void SetDeviceCursor(int index) override
    {
        cursor = index >= 0 && index < int(devices.size()) ? index : -1;
    }
    void DeviceText(int index, LPWSTR text, int capacity) override
    {
        std::u16string item = index >= 0 && index < int(devices.size()) ? devices[index] : u"";
        item.resize(std::min<size_t>(item.size(), size_t(capacity - 1)));
        std::copy(item.begin(), item.end(), reinterpret_cast<char16_t *>(text));
        text[item.size()] = 0;
    }
    void SetGroupText(LPCWSTR text) override { group = Text(text); }
    void SetBufferRange(int low, int high) override { minimum = low, maximum = high; }
    int BufferPosition() override { return position; }
    void SetBufferPosition(int p) override { position = std::clamp(p, minimum, maximum); }
    void EnableBuffer(bool enable) override { bufferEnabled = enable; }
    void SetBufferLabel(LPCWSTR text) override { label = Text(text); }
    void AddRate(LPCWSTR text) override { rates.push_back(Text(text)); }
    void SelectRate(int item) override { rate = item; }
    void AddBitDepth(LPCWSTR text) override { bitDepths.push_back(Text(text)); }
    void SelectBitDepth(int item) override { bitDepth = item; }
    void DisableFormatLists() override { formatListsDisabled = true; }
    void SetVersionText(LPCWSTR text) override { version = Text(text); }
    void Redraw() override {}
};

constexpr int kPort = 1;

class Panel : public Win32Test {
protected:
    void SetUp() override
    {
        pnp_ = &host::PnpManager::Of(M());
        ASSERT_EQ(STATUS_SUCCESS, pnp_->Install(sim::QuenAudioPackage()));
        node_ = Plug(kPort);
        ASSERT_NE(nullptr, node_);
        refreshes = 0;
        WNDCLASSEXW description = {};
        description.cbSize = sizeof description;
        description.lpfnWndProc = DialogProc;
        description.lpszClassName = L"quen.panel";
        RegisterClassExW(&description);
        view_.window = CreateWindowExW(0, L"quen.panel", nullptr, 0, 0, 0, 0, 0, nullptr, nullptr,
                                       nullptr, nullptr);
        // A running ASIO driver's events: the panel signals only while one listens.
        listening_ = CreateEventW(nullptr, TRUE, FALSE, kListeningEventName);
        change_ = CreateEventW(nullptr, FALSE, FALSE, kChangeEventName);
    }
    void TearDown() override
    {
        Close();
        DestroyWindow(view_.window);
        CloseHandle(listening_);
        CloseHandle(change_);
        Win32Test::TearDown();
    }

    host::DeviceNode *Plug(int port)
    {
        return host::PnpManager::ServedBy(pnp_->Plug(port, std::make_shared<devices::Rvd3Model>()),
                                          u"norvane_quen_audio");
    }

    void Open()
    {
        dialog_ = std::make_unique<CAsioControlPanelDlg>(view_);
        activeDialog = dialog_.get();
        activeView = &view_;
        EXPECT_TRUE(dialog_->OnInitDialog());
    }
    void Close()
    {
        if (dialog_ != nullptr)
            dialog_->OnDestroy();
        activeDialog = nullptr;
        dialog_.reset();
    }

    // Runs the dialog's thread for `ms` of virtual time, handling what reaches it.
    void Pump(DWORD ms = 100)
    {
        MSG message;
        for (DWORD i = 0; i < ms; i += 10) {
            Sleep(10);
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
        }
    }
    // Signals sent to the listening driver since the last call.
    int Signals()
    {
        int count = 0;
        while (WaitForSingleObject(change_, 0) == WAIT_OBJECT_0)
            ++count;
        return count;
    }
    // The settings key's values, to see that nothing is written.
    std::map<std::u16string, std::vector<UCHAR>> Stored()
    {
        std::map<std::u16string, std::vector<UCHAR>> values;
        host::RegistryStore &registry = M().Registry();
        host::RegistryKey key;
        if (!NT_SUCCESS(registry.OpenKey(
                nullptr, host::RegistryStore::CurrentUserPath() + u"\\" + Text(kSettingsKey),
                &key)))
            return values;
        host::RegistryValue value;
        for (ULONG i = 0; NT_SUCCESS(registry.EnumerateValue(key, i, &value)); ++i)
            values[value.name] = value.data;
        return values;
    }
    // After an action: a simulated minute of idling makes no write, refresh or signal.
    void ExpectIdle()
    {
        Pump();
        Signals();
        int before = refreshes;
        auto stored = Stored();
        Pump(60000);
        EXPECT_EQ(refreshes, before);
        EXPECT_EQ(Stored(), stored);
        EXPECT_EQ(Signals(), 0);
    }

    static void WriteDword(ULONG id, DWORD value) { CAsioSettings::Write(id, &value, 4); }
    static DWORD ReadDword(ULONG id)
    {
        DWORD value = 0;
        CAsioSettings::ReadDword(id, &value);
        return value;
    }
    static std::u16string Selected()
    {
        WCHAR id[kInstanceIdUnits] = {};
        CAsioSettings::ReadSelected(id);
        return Text(id);
    }

    host::PnpManager *pnp_ = nullptr;
    host::DeviceNode *node_ = nullptr;
    RecordingView view_;
    std::unique_ptr<CAsioControlPanelDlg> dialog_;
    HANDLE listening_ = nullptr, change_ = nullptr;
};

TEST_F(Panel, StartsFromAFreshStore)
{
    Open();
    EXPECT_EQ(view_.title, u"RV-D3 Purestream Audio Control");
    ASSERT_EQ(view_.devices.size(), 1u);
    EXPECT_EQ(view_.devices[0], u"Quen DSD Audio RV-D3");
    EXPECT_EQ(dialog_->SelectedIndex(), 0);
    EXPECT_EQ(view_.cursor, 0);
    EXPECT_EQ(view_.group, view_.devices[0]);
    EXPECT_FALSE(Selected().empty());
    EXPECT_EQ(view_.rates.size(), 11u);
    EXPECT_EQ(view_.rate, 1); // 44100 Hz, the default
    EXPECT_EQ(ReadDword(kSettingBitDepth), 24u);
    EXPECT_EQ(view_.position, 64);
    EXPECT_EQ(view_.label, u"2048 Samples");
    EXPECT_TRUE(view_.formatListsDisabled);
    EXPECT_NE(view_.version.find(u"Version 1.0.0.2074  built 06/19/2013\r\n"),
              std::u16string::npos);
    ExpectIdle();
}

TEST_F(Panel, ShowsStoredValuesClampedWithoutRewritingThem)
{
    const struct {
        DWORD stored;
        int position;
        const char16_t *label;
    } cases[] = {{10, 2, u"64 Samples"}, {9000, 240, u"7680 Samples"}, {2000, 62, u"1984 Samples"}};
    for (const auto &c : cases) {
        WriteDword(kSettingBufferSize, c.stored);
        WriteDword(kSettingSamplingRate, 50000);
        Open();
        EXPECT_EQ(view_.position, c.position);
        EXPECT_EQ(view_.label, c.label);
        EXPECT_EQ(ReadDword(kSettingBufferSize), c.stored);
        // An unknown rate is shown and stored as 32000 Hz, and the driver told once.
        EXPECT_EQ(view_.rate, 0);
        EXPECT_EQ(ReadDword(kSettingSamplingRate), 32000u);
        EXPECT_EQ(Signals(), 1);
        ExpectIdle();
        Close();
    }
}

TEST_F(Panel, StoresTheBufferSizeWhenTheThumbIsReleasedOrMovedByKeys)
{
    Open();
    ExpectIdle();
    for (int p : {70, 80, 90}) {
        dialog_->OnBufferScroll(SB_THUMBTRACK, p);
        EXPECT_EQ(view_.label, u"" +
                                   std::u16string(p == 70   ? u"2240"
                                                  : p == 80 ? u"2560"
                                                            : u"2880") +
                                   u" Samples");
    }
    Pump();
    EXPECT_EQ(ReadDword(kSettingBufferSize), 2048u);
    EXPECT_EQ(Signals(), 0);
    view_.position = 90;
    dialog_->OnBufferScroll(SB_THUMBPOSITION, 90);
    EXPECT_EQ(ReadDword(kSettingBufferSize), 2880u);
    EXPECT_EQ(Signals(), 1);
    ExpectIdle();
    view_.position = 91; // the trackbar moved by a key
    dialog_->OnBufferScroll(SB_LINEDOWN, 0);
    EXPECT_EQ(ReadDword(kSettingBufferSize), 2912u);
    EXPECT_EQ(view_.label, u"2912 Samples");
    EXPECT_EQ(Signals(), 1);
    ExpectIdle();
}

TEST_F(Panel, AdoptsChangesOthersMakeWithoutEchoingThem)
{
    Open();
    ExpectIdle();
    WriteDword(kSettingSamplingRate, 96000); // the ASIO driver's setSampleRate
    WriteDword(kSettingBufferSize, 512);
    Pump();
    EXPECT_GE(refreshes, 1);
    EXPECT_LE(refreshes, 2) << "one refresh per change at most";
    EXPECT_EQ(view_.rate, 4);
    EXPECT_EQ(view_.position, 16);
    EXPECT_EQ(Signals(), 0);
    ExpectIdle();
}

TEST_F(Panel, ChoosingADeviceFollowsWhetherAHostStreams)
{
    host::DeviceNode *second = Plug(kPort + 1);
    ASSERT_NE(second, nullptr);
    Open();
    ASSERT_EQ(view_.devices.size(), 2u);
    const std::u16string first = Selected();
    ExpectIdle();

    WriteDword(kSettingStreaming, 1);
    Pump();
    view_.cursor = 1;
    dialog_->OnDeviceSelChange();
    EXPECT_EQ(dialog_->SelectedIndex(), 0);
    EXPECT_EQ(Selected(), first);
    EXPECT_EQ(Signals(), 0);
    ExpectIdle();

    WriteDword(kSettingStreaming, 0);
    Pump();
    view_.cursor = 1;
    dialog_->OnDeviceSelChange();
    EXPECT_EQ(dialog_->SelectedIndex(), 1);
    EXPECT_NE(Selected(), first);
    EXPECT_EQ(Signals(), 1);
    ExpectIdle();
}

TEST_F(Panel, FollowsUnplugAndReplug)
{
    std::map<int, host::DeviceNode *> nodes = {{kPort, node_}, {kPort + 1, Plug(kPort + 1)}};
    ASSERT_NE(nodes[kPort + 1], nullptr);
    Open();
    ExpectIdle();
    const std::u16string first = Selected();
    const int inUse = nodes[kPort]->instanceId == first ? kPort : kPort + 1;
    const int other = inUse == kPort ? kPort + 1 : kPort;
    WriteDword(kSettingStreaming, 1);
    Pump();
    // The device in use goes while a host streams: the other one takes over, the driver is told.
    pnp_->Unplug(*nodes[inUse]);
    Pump(500);
    ASSERT_EQ(view_.devices.size(), 1u);
    EXPECT_EQ(Selected(), nodes[other]->instanceId);
    EXPECT_EQ(dialog_->SelectedIndex(), 0);
    EXPECT_EQ(Signals(), 1);
    ExpectIdle();

    pnp_->Unplug(*nodes[other]);
    Pump(500);
    EXPECT_TRUE(view_.devices.empty());
    EXPECT_TRUE(Selected().empty());
    ExpectIdle();

    node_ = Plug(inUse);
    ASSERT_NE(node_, nullptr);
    WriteDword(kSettingStreaming, 0);
    Pump(500);
    EXPECT_EQ(view_.devices.size(), 1u);
    EXPECT_EQ(Selected(), first);
    EXPECT_EQ(dialog_->SelectedIndex(), 0);
    ExpectIdle();
}

TEST_F(Panel, ASecondStartBringsTheFirstForward)
{
    PKPROCESS early = Start("quen_asiocpl", [] { return DWORD(BringRunningPanelForward()); });
    EXPECT_EQ(Join(early), 0u);
    Open();
    PKPROCESS second = Start("quen_asiocpl", [] { return DWORD(BringRunningPanelForward()); });
    EXPECT_EQ(Join(second), 1u);
    EXPECT_TRUE(IsWindowVisible(view_.window));
    EXPECT_EQ(GetForegroundWindow(), view_.window);
}

} // namespace
