// A device's life under the PnP manager with a port-class driver on it: arrival (package
// install, driver load, add, start, subdevice interfaces), orderly and surprise removal,
// rebalance, sleep and resume, a failing start. Every test ends with the device removed and the
// driver unloaded; the fixture fails a test on any verifier report, leaks included.
#include "portcls_fixture.h"

#include "kernel/io_manager.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <algorithm>

namespace portcls_tests {
namespace {

const std::u16string kControlSet = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet";

ULONG Dword(host::Machine &machine, const std::u16string &key, const std::u16string &name)
{
    auto value = machine.Registry().GetValue(key, name);
    ULONG data = 0;
    if (value && value->data.size() == sizeof data)
        std::memcpy(&data, value->data.data(), sizeof data);
    return data;
}

struct Notifications {
    std::mutex lock;
    std::vector<std::string> seen;
};

NTSTATUS RecordInterfaceChange(PVOID structure, PVOID context)
{
    auto change = static_cast<PDEVICE_INTERFACE_CHANGE_NOTIFICATION>(structure);
    auto notifications = static_cast<Notifications *>(context);
    std::lock_guard<std::mutex> guard(notifications->lock);
    notifications->seen.push_back(
        (IsEqualGUID(change->Event, GUID_DEVICE_INTERFACE_ARRIVAL) ? "arrival " : "removal ") +
        host::ToUtf8(host::ToU16(*change->SymbolicLinkName)));
    return STATUS_SUCCESS;
}

bool Has(const std::vector<std::string> &events, const std::string &event)
{
    return std::find(events.begin(), events.end(), event) != events.end();
}

// The events of these names, in the order they happened.
std::vector<std::string> Only(const std::vector<std::string> &events,
                              const std::vector<std::string> &names)
{
    std::vector<std::string> kept;
    for (const std::string &event : events)
        if (std::find(names.begin(), names.end(), event) != names.end())
            kept.push_back(event);
    return kept;
}

class DeviceLifecycleTest : public PortClsTest {};

TEST_F(DeviceLifecycleTest, ArrivalInstallsLoadsAndStartsAndRemovalUnloads)
{
    host::DeviceNode *node = Plug();
    ASSERT_EQ(host::DeviceState::Started, node->state);
    EXPECT_EQ(1u, log_.starts);

    // What the INF wrote: service, device instance, hardware key and machine values.
    host::RegistryStore &registry = M().Registry();
    auto image = registry.GetValue(kControlSet + u"\\Services\\quen_test_wave", u"ImagePath");
    ASSERT_TRUE(image.has_value());
    const std::u16string instance = kControlSet + u"\\Enum\\USB\\VID_2FC3&PID_D003\\1";
    EXPECT_TRUE(registry.GetValue(instance, u"Service").has_value());
    EXPECT_EQ(1u, Dword(M(), instance + u"\\Device Parameters", u"DSDNativeModeSupported"));
    EXPECT_EQ(4u, Dword(M(), u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance",
                        u"param1"));

    // What the PnP manager tells of the device: its ids, the name of its PDO.
    ULONG size = 0;
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              IoGetDeviceProperty(node->pdo, DevicePropertyHardwareID, 0, nullptr, &size));
    std::vector<WCHAR> ids(size / sizeof(WCHAR));
    ASSERT_EQ(STATUS_SUCCESS,
              IoGetDeviceProperty(node->pdo, DevicePropertyHardwareID, size, ids.data(), &size));
    EXPECT_EQ(u"USB\\VID_2FC3&PID_D003&REV_0100", host::ToU16(ids.data()));
    std::vector<WCHAR> name(64);
    ASSERT_EQ(STATUS_SUCCESS, IoGetDeviceProperty(node->pdo, DevicePropertyPhysicalDeviceObjectName,
                                                  128, name.data(), &size));
    EXPECT_EQ(host::DeviceNameOf(node->pdo), host::ToU16(name.data()));

    // The subdevice's interfaces: audio, render and capture, all named for "Wave".
    for (const GUID *category : {&KSCATEGORY_AUDIO, &KSCATEGORY_RENDER, &KSCATEGORY_CAPTURE}) {
        std::vector<std::u16string> links = sim::KsFilter::Interfaces(*category);
        ASSERT_EQ(1u, links.size());
        EXPECT_EQ(u"\\Wave", links[0].substr(links[0].size() - 5));
        EXPECT_EQ(u"\\??\\USB#VID_2FC3&PID_D003#1#{", links[0].substr(0, 29));
    }

    EXPECT_EQ(STATUS_SUCCESS, pnp_->Remove(*node));
    EXPECT_EQ(host::DeviceState::Removed, node->state);
    EXPECT_TRUE(sim::KsFilter::Interfaces(KSCATEGORY_AUDIO).empty());
    EXPECT_TRUE(Has(log_.TakeEvents(), "unload"));
}

TEST_F(DeviceLifecycleTest, QueriedRemovalAndStopAreVetoedWhileAFilterIsOpen)
{
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    ASSERT_NE(nullptr, filter);
    EXPECT_EQ(STATUS_DEVICE_BUSY, pnp_->Remove(*node_));
    EXPECT_EQ(STATUS_DEVICE_BUSY, pnp_->Rebalance(*node_));
    EXPECT_EQ(host::DeviceState::Started, node_->state);
    EXPECT_EQ(1u, log_.starts);
    filter.reset();
    EXPECT_EQ(STATUS_SUCCESS, pnp_->Remove(*node_));
}

TEST_F(DeviceLifecycleTest, SurpriseRemovalNotifiesAndRemovesOnceTheLastFileCloses)
{
    Notifications notifications;
    PDRIVER_OBJECT observer = host::CreateDriverObject(M(), u"\\Driver\\observer");
    PVOID entry = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoRegisterPlugPlayNotification(EventCategoryDeviceInterfaceChange,
                                             PNPNOTIFY_DEVICE_INTERFACE_INCLUDE_EXISTING_INTERFACES,
                                             const_cast<GUID *>(&KSCATEGORY_RENDER), observer,
                                             RecordInterfaceChange, &notifications, &entry));
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    std::unique_ptr<sim::KsPin> pin = CreatePin(*filter);
    ASSERT_NE(nullptr, pin);

    pnp_->Unplug(*node_);
    EXPECT_EQ(host::DeviceState::SurpriseRemoved, node_->state);
    EXPECT_TRUE(sim::KsFilter::Interfaces(KSCATEGORY_AUDIO).empty());
    EXPECT_FALSE(Has(log_.TakeEvents(), "unload"));
    pin.reset();
    filter.reset();
    Sleep(1); // the PnP manager removes the device on its own thread
    EXPECT_EQ(host::DeviceState::Removed, node_->state);
    EXPECT_TRUE(Has(log_.TakeEvents(), "unload"));

    ASSERT_EQ(STATUS_SUCCESS, IoUnregisterPlugPlayNotificationEx(entry));
    ObDereferenceObject(observer);
    std::lock_guard<std::mutex> guard(notifications.lock);
    ASSERT_EQ(2u, notifications.seen.size());
    EXPECT_EQ(0u, notifications.seen[0].find("arrival \\??\\USB#VID_2FC3&PID_D003#1#"));
    EXPECT_EQ(0u, notifications.seen[1].find("removal \\??\\USB#VID_2FC3&PID_D003#1#"));
}

TEST_F(DeviceLifecycleTest, RebalanceStopsAndStartsTheSubdeviceAgain)
{
    host::DeviceNode *node = Plug();
    ASSERT_EQ(STATUS_SUCCESS, pnp_->Rebalance(*node));
    EXPECT_EQ(host::DeviceState::Started, node->state);
    EXPECT_EQ(2u, log_.starts);
    std::unique_ptr<sim::KsFilter> filter = Open(); // served by the new subdevice
    ASSERT_NE(nullptr, filter);
    ULONG pins = 0;
    EXPECT_EQ(STATUS_SUCCESS, filter->PinCount(&pins));
    EXPECT_EQ(ULONG(kPinCount), pins);
}

TEST_F(DeviceLifecycleTest, SleepPausesTheStreamBeforePowerDownAndResumeRunsItAgain)
{
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    std::unique_ptr<sim::KsPin> pin = CreatePin(*filter);
    ASSERT_EQ(STATUS_SUCCESS, pin->SetState(KSSTATE_RUN));
    log_.TakeEvents();

    ASSERT_EQ(STATUS_SUCCESS, pnp_->Sleep());
    const std::vector<std::string> power = {"render state 2", "render state 3", "miniport D3",
                                            "adapter D3",     "miniport D0",    "adapter D0"};
    EXPECT_EQ((std::vector<std::string>{"render state 2", "miniport D3", "adapter D3"}),
              Only(log_.TakeEvents(), power));
    ASSERT_EQ(STATUS_SUCCESS, pnp_->Resume());
    EXPECT_EQ((std::vector<std::string>{"adapter D0", "miniport D0", "render state 3"}),
              Only(log_.TakeEvents(), power));
    KSSTATE state;
    EXPECT_EQ(STATUS_SUCCESS, pin->State(&state));
    EXPECT_EQ(KSSTATE_RUN, state);
}

TEST_F(DeviceLifecycleTest, AFailingStartLeavesNoSubdeviceNoDriverAndNoLeak)
{
    log_.failStart = STATUS_UNSUCCESSFUL;
    host::DeviceNode *node = Plug();
    EXPECT_EQ(host::DeviceState::StartFailed, node->state);
    EXPECT_EQ(STATUS_UNSUCCESSFUL, node->problem);
    EXPECT_TRUE(sim::KsFilter::Interfaces(KSCATEGORY_AUDIO).empty());
    EXPECT_TRUE(Has(log_.TakeEvents(), "unload"));
}

// A reference a driver forgets is reported where it shows: the stream outlives its pin, and what
// it holds is still allocated when the driver unloads.
TEST_F(DeviceLifecycleTest, AStreamReferenceLeftBehindIsReported)
{
    log_.leakStreamReference = true;
    std::unique_ptr<sim::KsFilter> filter = PlugAndOpen();
    CreatePin(*filter).reset();
    std::vector<host::VerifierReport> leaks = Take(host::VerifierCheck::ObjectLeak);
    ASSERT_EQ(1u, leaks.size());
    EXPECT_NE(std::string::npos, leaks[0].message.find("stream of pin 0 still has 1 reference"));
    filter.reset();
    EXPECT_EQ(STATUS_SUCCESS, pnp_->Remove(*node_));
    bool atUnload = false;
    for (const host::VerifierReport &report : Take(host::VerifierCheck::PoolLeak))
        atUnload |= report.message.find("'Test'") != std::string::npos &&
                    report.message.find("left by driver quen_test_wave") != std::string::npos;
    EXPECT_TRUE(atUnload);
    attach_.reset();
    M().PowerOff(); // what is still allocated is reported again at teardown
    Take(host::VerifierCheck::PoolLeak);
}

} // namespace
} // namespace portcls_tests
