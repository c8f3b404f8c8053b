#include "pnp_manager.h"

#include "pnp_requests.h"

#include "kernel/io_manager.h"
#include "kernel/registry_store.h"
#include "kernel/wide_string.h"
#include "usb/usb_composite_parent.h"
#include "usb/usb_host_controller.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace host {

namespace {

const char *const kServiceName = "PnP manager";

std::string Text(const std::u16string &s) { return ToUtf8(s); }

// The generic parent driver of composite USB devices, which the system's USB package installs.
DriverPackage CompositeParentPackage()
{
    DriverPackage package;
    package.service = kUsbCompositeParentService;
    package.image = kUsbCompositeParentImage;
    package.entry = UsbCompositeParentEntry;
    package.hardwareIds = {kUsbCompositeId};
    package.description = u"USB Composite Device";
    package.classGuid = u"{36fc9e60-c465-11cf-8056-444553540000}"; // USB
    return package;
}

DeviceNode &RootOf(DeviceNode &node)
{
    DeviceNode *root = &node;
    while (root->parent != nullptr)
        root = root->parent;
    return *root;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The manager and its thread

PnpManager &PnpManager::Of(Machine &machine)
{
    static std::mutex making;
    std::lock_guard<std::mutex> guard(making);
    if (MachineService *service = machine.Service(kServiceName))
        return static_cast<PnpManager &>(*service);
    return static_cast<PnpManager &>(
        machine.AddService(kServiceName, std::make_unique<PnpManager>(machine)));
}

PnpManager *PnpManager::OfCurrentMachine()
{
    Machine *machine = Machine::Current();
    return machine != nullptr ? static_cast<PnpManager *>(machine->Service(kServiceName)) : nullptr;
}

PnpManager::PnpManager(Machine &machine) : machine_(machine)
{
    usb_ = std::make_unique<UsbHostController>(machine_);
    interfaces_ = std::make_unique<DeviceInterfaces>(
        machine_, [this](std::function<void()> job) { Post(std::move(job)); });
    KeInitializeEvent(&work_, SynchronizationEvent, FALSE);
    thread_ =
        machine_.StartThread("PnP manager", machine_.SystemProcess(), [this] { ThreadMain(); });
    machine_.Io().SetLastFileClosedHandler(
        [this](PDEVICE_OBJECT device) { DeviceFilesClosed(device); });
    Install(CompositeParentPackage());
}

PnpManager::~PnpManager()
{
    std::optional<ThreadAttachment> attachment;
    if (CurrentThreadOrNull() == nullptr)
        attachment.emplace(machine_, "PnP teardown", false);
    Run([this] {
        for (DeviceNode &node : devices_)
            if (node.driver != nullptr)
                if (size_t open = machine_.Io().OpenFiles(node.pdo))
                    machine_.Checks().Report(VerifierCheck::ObjectLeak,
                                             std::to_string(open) + " file(s) still open on " +
                                                 Text(node.instanceId) + " at teardown");
        for (DeviceNode &node : devices_) // a parent's removal removes its children first
            if (node.driver != nullptr)
                RemoveStack(node);
    });
    Stop();
    machine_.Io().SetLastFileClosedHandler(nullptr);
    usb_.reset();
    interfaces_.reset();
}

void PnpManager::ThreadMain()
{
    for (;;) {
        KeWaitForSingleObject(&work_, Executive, KernelMode, FALSE, nullptr);
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> guard(jobsLock_);
                if (jobs_.empty()) {
                    if (stopping_)
                        return;
                    break;
                }
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            job();
            if (KeGetCurrentIrql() != PASSIVE_LEVEL)
                machine_.Checks().Report(VerifierCheck::Irql,
                                         "a PnP request returned above PASSIVE_LEVEL");
        }
    }
}

void PnpManager::Post(std::function<void()> fn)
{
    {
        std::lock_guard<std::mutex> guard(jobsLock_);
        jobs_.push_back(std::move(fn));
    }
    KeSetEvent(&work_, IO_NO_INCREMENT, FALSE);
}

void PnpManager::Run(const std::function<void()> &fn)
{
    if (KeGetCurrentThread() == thread_) {
        fn();
        return;
    }
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    Post([&] {
        fn();
        KeSetEvent(&done, IO_NO_INCREMENT, FALSE);
    });
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
}

void PnpManager::Stop()
{
    {
        std::lock_guard<std::mutex> guard(jobsLock_);
        stopping_ = true;
    }
    KeSetEvent(&work_, IO_NO_INCREMENT, FALSE);
    KeWaitForSingleObject(thread_, Executive, KernelMode, FALSE, nullptr);
    ObDereferenceObject(thread_);
    thread_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Packages and drivers

NTSTATUS PnpManager::Install(const DriverPackage &package)
{
    NTSTATUS status = InstallServiceKey(machine_.Registry(), package);
    if (!NT_SUCCESS(status))
        return status;
    std::lock_guard<std::mutex> guard(lock_);
    packages_.push_back(package);
    return STATUS_SUCCESS;
}

NTSTATUS PnpManager::LoadDriver(LoadedDriver &driver)
{
    driver.registryPath = ServiceKeyPath(driver.package.service);
    driver.object = CreateDriverObject(machine_, u"\\Driver\\" + driver.package.service);
    driver.poolMark = machine_.KernelPool().Mark();
    std::vector<WCHAR> path(driver.registryPath.begin(), driver.registryPath.end());
    UNICODE_STRING registryPath;
    registryPath.Buffer = path.data();
    registryPath.Length = registryPath.MaximumLength = USHORT(path.size() * sizeof(WCHAR));
    NTSTATUS status = driver.package.entry(driver.object, &registryPath);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        machine_.Checks().Report(VerifierCheck::Irql, "DriverEntry returned above PASSIVE_LEVEL");
    if (NT_SUCCESS(status) && driver.object->DriverExtension->AddDevice == nullptr) {
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "DriverEntry of " + Text(driver.package.service) +
                                     " succeeded without an AddDevice routine");
        status = STATUS_INVALID_DEVICE_REQUEST; // Windows cannot add a device to it
    }
    return status;
}

void PnpManager::UnloadDriver(LoadedDriver &driver, bool entered)
{
    // A failed DriverEntry gets no unload call; either way what the driver holds is reported.
    if (entered && driver.object->DriverUnload != nullptr)
        driver.object->DriverUnload(driver.object);
    const std::string name = Text(driver.package.service);
    for (PDEVICE_OBJECT device = driver.object->DeviceObject; device != nullptr;
         device = device->NextDevice) {
        char text[160];
        std::snprintf(text, sizeof text, "driver %s unloaded with device object %p still there",
                      name.c_str(), static_cast<void *>(device));
        machine_.Checks().Report(VerifierCheck::ObjectLeak, text);
    }
    for (const Pool::Outstanding &o : machine_.KernelPool().OutstandingByTag(driver.poolMark))
        machine_.Checks().Report(VerifierCheck::PoolLeak,
                                 std::to_string(o.blocks) + " pool block(s) with tag '" +
                                     Pool::TagText(o.tag) + "' (" + std::to_string(o.bytes) +
                                     " bytes) left by driver " + name + " at its unload");
    if (size_t left = interfaces_->NotificationsOf(driver.object))
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "driver " + name + " unloaded with " + std::to_string(left) +
                                     " PnP notification registration(s) in place");
    ObDereferenceObject(driver.object);
    std::lock_guard<std::mutex> guard(lock_);
    drivers_.remove_if([&](const LoadedDriver &d) { return &d == &driver; });
}

// ---------------------------------------------------------------------------------------------
// Device arrival

DeviceNode *PnpManager::Plug(int port, std::shared_ptr<UsbDeviceModel> model)
{
    PDEVICE_OBJECT pdo = usb_->Plug(port, std::move(model));
    if (pdo == nullptr)
        return nullptr;
    DeviceNode *node;
    {
        std::lock_guard<std::mutex> guard(lock_);
        devices_.emplace_back();
        node = &devices_.back();
        node->pdo = pdo;
        node->port = port;
        node->instanceId = DeviceInstanceIdOf(pdo);
    }
    Run([this, node] { Enumerate(*node); });
    return node;
}

DeviceNode *PnpManager::ServedBy(DeviceNode *node, const std::u16string &service)
{
    if (node == nullptr || node->service == service)
        return node;
    for (DeviceNode *child : node->children)
        if (DeviceNode *found = ServedBy(child, service))
            return found;
    return nullptr;
}

const DriverPackage *PnpManager::BestPackageLocked(const std::vector<std::u16string> &ids)
{
    // Windows ranks a driver by the position of the id it matches: hardware ids before
    // compatible ids, earlier ones before later ones.
    for (const std::u16string &id : ids)
        for (const DriverPackage &candidate : packages_)
            if (PackageMatches(candidate, {id}))
                return &candidate;
    return nullptr;
}

void PnpManager::Enumerate(DeviceNode &node)
{
    std::vector<std::u16string> hardwareIds = QueryIds(node.pdo, BusQueryHardwareIDs);
    std::vector<std::u16string> compatibleIds = QueryIds(node.pdo, BusQueryCompatibleIDs);
    std::vector<std::u16string> ids = hardwareIds;
    ids.insert(ids.end(), compatibleIds.begin(), compatibleIds.end());
    const DriverPackage *package = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        package = BestPackageLocked(ids);
    }
    if (package == nullptr) {
        node.state = DeviceState::NoDriver;
        return;
    }
    node.service = package->service;
    node.state = DeviceState::StartFailed;
    node.problem = InstallDeviceInstance(machine_.Registry(), *package, node.instanceId,
                                         hardwareIds, compatibleIds);
    if (!NT_SUCCESS(node.problem))
        return;

    LoadedDriver *driver = nullptr;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (LoadedDriver &loaded : drivers_)
            if (loaded.package.service == package->service)
                driver = &loaded;
        if (driver == nullptr) {
            drivers_.emplace_back();
            driver = &drivers_.back();
            driver->package = *package;
        }
    }
    if (driver->object == nullptr) {
        node.problem = LoadDriver(*driver);
        if (!NT_SUCCESS(node.problem)) {
            UnloadDriver(*driver, false);
            return;
        }
    }
    node.driver = driver;
    ++driver->devices;

    node.problem = driver->object->DriverExtension->AddDevice(driver->object, node.pdo);
    if (KeGetCurrentIrql() != PASSIVE_LEVEL)
        machine_.Checks().Report(VerifierCheck::Irql, "AddDevice returned above PASSIVE_LEVEL");
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(node.pdo);
    ObDereferenceObject(top);
    if (NT_SUCCESS(node.problem) && top == node.pdo) {
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "AddDevice succeeded without attaching a device object");
        node.problem = STATUS_INVALID_DEVICE_REQUEST;
    }
    if (NT_SUCCESS(node.problem) && (top->Flags & DO_DEVICE_INITIALIZING) != 0)
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "AddDevice left DO_DEVICE_INITIALIZING set on its device object");
    if (!NT_SUCCESS(node.problem)) {
        node.driver = nullptr;
        if (--driver->devices == 0)
            UnloadDriver(*driver, true);
        return;
    }
    node.problem = StartStack(node);
    if (!NT_SUCCESS(node.problem)) {
        RemoveStack(node); // Windows removes a stack that failed to start
        node.state = DeviceState::StartFailed;
        return;
    }
    node.state = DeviceState::Started;
    EnumerateChildren(node);
}

void PnpManager::EnumerateChildren(DeviceNode &node)
{
    StackRequestResult result =
        SendPnpRequest(node.pdo, IRP_MN_QUERY_DEVICE_RELATIONS, [](PIO_STACK_LOCATION l) {
            l->Parameters.QueryDeviceRelations.Type = BusRelations;
        });
    auto relations = reinterpret_cast<PDEVICE_RELATIONS>(result.information);
    if (!NT_SUCCESS(result.status) || relations == nullptr)
        return;
    std::vector<DeviceNode *> arrived;
    for (ULONG i = 0; i < relations->Count; ++i) {
        PDEVICE_OBJECT pdo = relations->Objects[i];
        bool known = false;
        for (DeviceNode *child : node.children)
            known = known || child->pdo == pdo;
        if (!known) {
            std::lock_guard<std::mutex> guard(lock_);
            devices_.emplace_back();
            DeviceNode *child = &devices_.back();
            child->pdo = pdo;
            child->port = node.port;
            child->parent = &node;
            child->instanceId = DeviceInstanceIdOf(pdo);
            node.children.push_back(child);
            arrived.push_back(child);
        }
        ObDereferenceObject(pdo); // the reference the list came with; the bus driver keeps its own
    }
    ExFreePool(relations);
    for (DeviceNode *child : arrived)
        Enumerate(*child);
}

NTSTATUS PnpManager::StartStack(DeviceNode &node)
{
    // A USB device uses no hardware resources: both lists are absent.
    NTSTATUS status = SendPnpRequest(node.pdo, IRP_MN_START_DEVICE, [](PIO_STACK_LOCATION l) {
                          l->Parameters.StartDevice.AllocatedResources = nullptr;
                          l->Parameters.StartDevice.AllocatedResourcesTranslated = nullptr;
                      }).status;
    if (!NT_SUCCESS(status))
        return status;
    DEVICE_CAPABILITIES capabilities = {};
    capabilities.Size = sizeof capabilities;
    capabilities.Version = 1;
    capabilities.Address = capabilities.UINumber = ULONG(-1);
    return SendPnpRequest(node.pdo, IRP_MN_QUERY_CAPABILITIES,
                          [&](PIO_STACK_LOCATION l) {
                              l->Parameters.DeviceCapabilities.Capabilities = &capabilities;
                          })
        .status;
}

// ---------------------------------------------------------------------------------------------
// Removal

void PnpManager::RemoveStack(DeviceNode &node)
{
    for (DeviceNode *child : node.children)
        if (child->pdo != nullptr && child->state != DeviceState::Removed)
            RemoveStack(*child);
    PDEVICE_OBJECT pdo = node.pdo;
    ObReferenceObject(pdo); // the bus driver deletes the PDO of a device that is gone
    SendPnpRequest(pdo, IRP_MN_REMOVE_DEVICE);
    for (const std::u16string &link : interfaces_->DisableAllOf(pdo))
        machine_.Checks().Report(VerifierCheck::Usage,
                                 "device interface " + Text(link) +
                                     " still enabled after IRP_MN_REMOVE_DEVICE");
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    ObDereferenceObject(top);
    if (top != pdo)
        machine_.Checks().Report(VerifierCheck::Usage, "a device object is still attached to " +
                                                           Text(node.instanceId) +
                                                           " after IRP_MN_REMOVE_DEVICE");
    ObDereferenceObject(pdo);
    // A bus driver deletes its children's device objects with its own.
    for (DeviceNode *child : node.children)
        if (child->pdo != nullptr) {
            interfaces_->ForgetDevice(child->pdo);
            child->pdo = nullptr;
        }
    node.state = DeviceState::Removed;
    if (LoadedDriver *driver = node.driver) {
        node.driver = nullptr;
        if (--driver->devices == 0)
            UnloadDriver(*driver, true);
    }
}

NTSTATUS PnpManager::Query(DeviceNode &node, UCHAR query, UCHAR cancel)
{
    if (node.state != DeviceState::Started)
        return STATUS_INVALID_DEVICE_STATE;
    NTSTATUS status = SendPnpRequest(node.pdo, query).status;
    if (!NT_SUCCESS(status))
        SendPnpRequest(node.pdo, cancel); // a veto: the device goes on as it was
    return status;
}

NTSTATUS PnpManager::QueryTree(DeviceNode &node, UCHAR query, UCHAR cancel)
{
    if (node.state != DeviceState::Started)
        return STATUS_INVALID_DEVICE_STATE;
    std::vector<DeviceNode *> order; // children before their parent
    std::function<void(DeviceNode &)> collect = [&](DeviceNode &at) {
        for (DeviceNode *child : at.children)
            collect(*child);
        if (at.state == DeviceState::Started)
            order.push_back(&at);
    };
    collect(node);
    for (size_t i = 0; i < order.size(); ++i) {
        NTSTATUS status = SendPnpRequest(order[i]->pdo, query).status;
        if (!NT_SUCCESS(status)) { // a veto: everything queried goes on as it was
            for (size_t j = 0; j <= i; ++j)
                SendPnpRequest(order[j]->pdo, cancel);
            return status;
        }
    }
    return STATUS_SUCCESS;
}

NTSTATUS PnpManager::Remove(DeviceNode &node)
{
    NTSTATUS status = STATUS_SUCCESS;
    Run([&] {
        status = QueryTree(node, IRP_MN_QUERY_REMOVE_DEVICE, IRP_MN_CANCEL_REMOVE_DEVICE);
        if (NT_SUCCESS(status))
            RemoveStack(node);
    });
    return status;
}

void PnpManager::Unplug(DeviceNode &node)
{
    DeviceNode &root = RootOf(node);
    Run([&] {
        usb_->Unplug(root.port);
        SurpriseRemoveTree(root);
        FinishRemoval(root);
    });
}

void PnpManager::SurpriseRemoveTree(DeviceNode &node)
{
    for (DeviceNode *child : node.children)
        SurpriseRemoveTree(*child);
    if (node.state == DeviceState::Started || node.state == DeviceState::Stopped) {
        SendPnpRequest(node.pdo, IRP_MN_SURPRISE_REMOVAL);
        node.state = DeviceState::SurpriseRemoved;
    }
}

void PnpManager::FinishRemoval(DeviceNode &node)
{
    for (DeviceNode *child : node.children)
        FinishRemoval(*child);
    if (node.pdo == nullptr)
        return;
    for (DeviceNode *child : node.children)
        if (child->pdo != nullptr)
            return; // once its children are removed
    if (node.state == DeviceState::SurpriseRemoved) {
        if (machine_.Io().OpenFiles(node.pdo) != 0)
            return; // when its last file closes
        RemoveStack(node);
    } else {
        SendPnpRequest(node.pdo, IRP_MN_REMOVE_DEVICE); // the bus driver deletes its PDO
    }
    interfaces_->ForgetDevice(node.pdo);
    node.pdo = nullptr;
}

void PnpManager::DeviceFilesClosed(PDEVICE_OBJECT device)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (DeviceNode &node : devices_)
        if (node.pdo == device && node.state == DeviceState::SurpriseRemoved)
            Post([this, &node] { FinishRemoval(RootOf(node)); });
}

// ---------------------------------------------------------------------------------------------
// Rebalance and power

NTSTATUS PnpManager::Rebalance(DeviceNode &node)
{
    if (!node.children.empty())
        return STATUS_INVALID_DEVICE_REQUEST; // USB devices hold no resources to rebalance
    NTSTATUS status = STATUS_SUCCESS;
    Run([&] {
        status = Query(node, IRP_MN_QUERY_STOP_DEVICE, IRP_MN_CANCEL_STOP_DEVICE);
        if (!NT_SUCCESS(status))
            return;
        SendPnpRequest(node.pdo, IRP_MN_STOP_DEVICE);
        node.state = DeviceState::Stopped;
        status = StartStack(node);
        if (!NT_SUCCESS(status)) {
            node.problem = status;
            RemoveStack(node);
            node.state = DeviceState::StartFailed;
            return;
        }
        node.state = DeviceState::Started;
    });
    return status;
}

NTSTATUS PnpManager::SetSystemPower(SYSTEM_POWER_STATE state)
{
    POWER_STATE power;
    power.SystemState = state;
    NTSTATUS result = STATUS_SUCCESS;
    // Children follow their parents in the list: going to sleep they go first, waking last.
    std::vector<DeviceNode *> order;
    for (DeviceNode &node : devices_)
        order.push_back(&node);
    if (state != PowerSystemWorking)
        std::reverse(order.begin(), order.end());
    for (DeviceNode *at : order) {
        DeviceNode &node = *at;
        if (node.state != DeviceState::Started)
            continue;
        if (state != PowerSystemWorking) {
            NTSTATUS query =
                SendPowerRequest(node.pdo, IRP_MN_QUERY_POWER, SystemPowerState, power);
            if (!NT_SUCCESS(query)) {
                result = query; // a veto keeps the machine awake
                continue;
            }
        }
        NTSTATUS status = SendPowerRequest(node.pdo, IRP_MN_SET_POWER, SystemPowerState, power);
        if (!NT_SUCCESS(status))
            result = status;
    }
    return result;
}

POWER_STATE PnpManager::RecordPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type,
                                         POWER_STATE state)
{
    std::lock_guard<std::mutex> guard(lock_);
    POWER_STATE working;
    working.DeviceState = type == DevicePowerState ? PowerDeviceD0 : DEVICE_POWER_STATE(0);
    if (type == SystemPowerState)
        working.SystemState = PowerSystemWorking;
    auto inserted = powerStates_.emplace(std::make_pair(device, type), working);
    POWER_STATE previous = inserted.first->second;
    inserted.first->second = state;
    return previous;
}

NTSTATUS PnpManager::Sleep()
{
    NTSTATUS status = STATUS_SUCCESS;
    Run([&] { status = SetSystemPower(PowerSystemSleeping3); });
    return status;
}

NTSTATUS PnpManager::Resume()
{
    NTSTATUS status = STATUS_SUCCESS;
    Run([&] { status = SetSystemPower(PowerSystemWorking); });
    return status;
}

} // namespace host
