// The PnP manager of one machine. It owns the machine's USB host controller; a device plugged
// into a port is enumerated (its ids queried), matched against the installed driver packages,
// given its Enum and hardware keys, and its driver is loaded (DriverEntry with the service
// key), asked to add the device (AddDevice) and the stack started (IRP_MN_START_DEVICE with no
// resources, then IRP_MN_QUERY_CAPABILITIES). Later it runs orderly removal (query-remove,
// remove), surprise removal (remove once the device's last file has closed), rebalance
// (query-stop, stop, start) and system sleep and resume. A driver whose last device has gone is
// unloaded, and what it left behind is reported.
//
// Every request runs on the PnP manager's own system thread at PASSIVE_LEVEL, one at a time, as
// Windows serialises them; the calls below wait for it (their caller must be an emulated thread
// of the machine). Notification callbacks run on that thread too.
#pragma once

#include "device_interfaces.h"
#include "driver_package.h"

#include "kernel/machine.h"

#include <deque>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class UsbDeviceModel;
class UsbHostController;

enum class DeviceState {
    NoDriver,    // enumerated; no installed package serves it
    StartFailed, // its driver did not load, add or start it (see Problem)
    Started,
    Stopped,         // between stop and start of a rebalance
    SurpriseRemoved, // pulled out; removed once its last file closes
    Removed,
};

struct LoadedDriver {
    DriverPackage package;
    PDRIVER_OBJECT object = nullptr;
    std::u16string registryPath;
    ULONGLONG poolMark = 0; // pool allocations after this one are the driver's
    size_t devices = 0;
};

struct DeviceNode {
    PDEVICE_OBJECT pdo = nullptr;
    int port = 0; // the port of the USB device it is or belongs to
    // A device a bus driver enumerated (the function of a composite device) has a parent.
    DeviceNode *parent = nullptr;
    std::vector<DeviceNode *> children;
    std::u16string instanceId;
    DeviceState state = DeviceState::NoDriver;
    NTSTATUS problem = STATUS_SUCCESS;
    std::u16string service; // of the package plug and play chose for it; empty if none
    LoadedDriver *driver = nullptr;
};

class PnpManager : public MachineService {
public:
    // The machine's PnP manager, made with its USB host controller on first use.
    static PnpManager &Of(Machine &machine);
    // The PnP manager of the calling thread's machine, or null if it has none yet.
    static PnpManager *OfCurrentMachine();

    explicit PnpManager(Machine &machine);
    // Removes every device, unloads the drivers (reporting what they left) and stops the host
    // controller.
    ~PnpManager() override;
    PnpManager(const PnpManager &) = delete;
    PnpManager &operator=(const PnpManager &) = delete;

    Machine &Owner() { return machine_; }
    UsbHostController &Usb() { return *usb_; }
    DeviceInterfaces &Interfaces() { return *interfaces_; }

    // Installs a package as its INF would; devices plugged in later get its driver.
    NTSTATUS Install(const DriverPackage &package);

    // A device arrives on a port; returns its node (null if the controller could not enumerate
    // it). The node lives as long as the PnP manager. A composite device gets the system's
    // generic parent driver unless a package names the device itself, and its functions are
    // the node's children.
    DeviceNode *Plug(int port, std::shared_ptr<UsbDeviceModel> model);
    // The node of the device or of its function that `service` drives, or null.
    static DeviceNode *ServedBy(DeviceNode *node, const std::u16string &service);
    // Orderly removal of the node and its children (children first); a veto of a query is
    // returned (the devices stay).
    NTSTATUS Remove(DeviceNode &node);
    // Surprise removal: the USB device the node is or belongs to is pulled from its port.
    void Unplug(DeviceNode &node);
    // Rebalance of a device without children: query-stop, then stop and start; a veto of the
    // query is returned.
    NTSTATUS Rebalance(DeviceNode &node);
    // System sleep (S3) and resume (S0) of every started device.
    NTSTATUS Sleep();
    NTSTATUS Resume();

    // PoSetPowerState: records a device object's power state and returns the previous one
    // (working and D0 until first set).
    POWER_STATE RecordPowerState(PDEVICE_OBJECT device, POWER_STATE_TYPE type, POWER_STATE state);

    // Runs fn on the PnP thread and waits for it; on that thread it runs at once.
    void Run(const std::function<void()> &fn);
    // Queues fn to run on the PnP thread later.
    void Post(std::function<void()> fn);

private:
    void ThreadMain();
    void Stop();

    // --- on the PnP thread ---
    void Enumerate(DeviceNode &node);
    // Asks a started device for its children and enumerates the new ones.
    void EnumerateChildren(DeviceNode &node);
    // The package that ranks best for the ids: the one matching the earliest id.
    const DriverPackage *BestPackageLocked(const std::vector<std::u16string> &ids);
    NTSTATUS LoadDriver(LoadedDriver &driver);
    // Unloads a driver (DriverUnload if its DriverEntry succeeded) and reports its leftovers.
    void UnloadDriver(LoadedDriver &driver, bool entered);
    NTSTATUS StartStack(DeviceNode &node);
    void RemoveStack(DeviceNode &node);
    // A query-remove or query-stop; a veto is cancelled and returned.
    NTSTATUS Query(DeviceNode &node, UCHAR query, UCHAR cancel);
    // The query for the node's subtree, children first; on a veto the queried ones are
    // cancelled.
    NTSTATUS QueryTree(DeviceNode &node, UCHAR query, UCHAR cancel);
    // Surprise removal of the subtree (children first), once its device has gone.
    void SurpriseRemoveTree(DeviceNode &node);
    // Removes what has gone from the subtree once nothing holds it: a node when its last file
    // has closed and its children are removed.
    void FinishRemoval(DeviceNode &node);
    void DeviceFilesClosed(PDEVICE_OBJECT device);
    NTSTATUS SetSystemPower(SYSTEM_POWER_STATE state);

    Machine &machine_;
    std::unique_ptr<UsbHostController> usb_;
    std::unique_ptr<DeviceInterfaces> interfaces_;

    std::mutex lock_;
    std::vector<DriverPackage> packages_;
    std::list<LoadedDriver> drivers_;
    std::list<DeviceNode> devices_;
    std::map<std::pair<PDEVICE_OBJECT, POWER_STATE_TYPE>, POWER_STATE> powerStates_;

    PKTHREAD thread_ = nullptr;
    KEVENT work_;
    std::mutex jobsLock_;
    std::deque<std::function<void()>> jobs_;
    bool stopping_ = false;
};

} // namespace host
