// A device information set of SetupAPI: the device interfaces of one class and the devices they
// belong to, as the registry records them when the set is made (the PnP manager writes each
// interface under Control\DeviceClasses and each device under Enum), with each device's
// properties read from its Enum key on demand; or the device the installer is installing, with
// the drivers it found for it.
#pragma once

#include "driver_node.h"

#include <setupapi.h>

#include <string>
#include <vector>

namespace host {
class Machine;
}

namespace host::win32 {

struct DeviceInfoEntry {
    std::u16string instanceId;
    GUID classGuid;
    DWORD devInst; // the device node's number on this machine
    std::vector<DriverNode> compatibleDrivers;
    std::string driverPath; // where the installer looks for drivers (device install parameters)
};

struct DeviceInterfaceEntry {
    GUID interfaceClass;
    std::u16string path; // "\\?\..." as CreateFile takes it
    bool active;         // enabled (its symbolic link exists)
    size_t device;       // index into the set's devices
};

class DeviceInfoSet {
public:
    // The interfaces of `interfaceClass` (only the active ones when presentOnly) and their devices.
    DeviceInfoSet(Machine &machine, const GUID &interfaceClass, bool presentOnly);
    // An empty set, which the device installer fills with the device it installs.
    explicit DeviceInfoSet(Machine &machine);

    // Adds the device of an instance id (once); returns its index.
    size_t AddDevice(const std::u16string &instanceId);
    DeviceInfoEntry &Device(size_t device) { return devices_[device]; }
    std::vector<DriverNode> &ClassDrivers() { return classDrivers_; }

    const std::vector<DeviceInfoEntry> &Devices() const { return devices_; }
    const std::vector<DeviceInterfaceEntry> &Interfaces() const { return interfaces_; }

    // The SP_DEVINFO_DATA of a device of the set.
    void Describe(size_t device, PSP_DEVINFO_DATA data) const;
    // The device an SP_DEVINFO_DATA of this set names; false if it names none.
    bool Find(const SP_DEVINFO_DATA &data, size_t *device) const;
    // The raw value of a device property (SPDRP_*) and its registry type. Returns a Win32
    // error: ERROR_INVALID_REG_PROPERTY for an unknown property, ERROR_INVALID_DATA when the
    // device has no such value.
    DWORD Property(size_t device, DWORD property, DWORD *type, std::vector<BYTE> *value) const;

private:
    Machine &machine_;
    std::vector<DeviceInfoEntry> devices_;
    std::vector<DeviceInterfaceEntry> interfaces_;
    std::vector<DriverNode> classDrivers_;
};

// The device node number of an instance id on a machine (stable while the machine runs).
DWORD DevInstOf(Machine &machine, const std::u16string &instanceId);

} // namespace host::win32
