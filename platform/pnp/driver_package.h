// A driver package as its INF installs it: the service that runs the driver image, the hardware
// ids it serves, and the registry values its AddReg sections write (HKR of the hardware section:
// the device's hardware key; HKLM: machine-wide keys such as performance parameters).
#pragma once

#include <wdm.h>

#include <string>
#include <vector>

namespace host {

class RegistryStore;

struct PackageRegistryValue {
    std::u16string key; // absolute for machine values; empty for the device's hardware key
    std::u16string name;
    ULONG type;
    std::vector<UCHAR> data;

    static PackageRegistryValue Dword(std::u16string key, std::u16string name, ULONG value);
};

struct DriverPackage {
    std::u16string service;                  // service key name, also the driver object's name
    std::u16string image;                    // the .sys file in System32\drivers
    PDRIVER_INITIALIZE entry;                // the image's DriverEntry (the host loads no files)
    std::vector<std::u16string> hardwareIds; // matched against hardware and compatible ids
    std::u16string description;              // the model's name: the device's DeviceDesc
    std::u16string classGuid = u"{4d36e96c-e325-11ce-bfc1-08002be10318}"; // media
    std::vector<PackageRegistryValue> hardwareKeyValues;
    std::vector<PackageRegistryValue> machineValues;
};

// \Registry\Machine\SYSTEM\CurrentControlSet\Services\<service>: what DriverEntry gets.
std::u16string ServiceKeyPath(const std::u16string &service);

// Writes the service key (ImagePath, Type, Start, ErrorControl) and the machine values.
NTSTATUS InstallServiceKey(RegistryStore &registry, const DriverPackage &package);

// Writes a device's Enum key (hardware and compatible ids, description, service, class) and the
// package's values into its hardware key ("Device Parameters").
NTSTATUS InstallDeviceInstance(RegistryStore &registry, const DriverPackage &package,
                               const std::u16string &instanceId,
                               const std::vector<std::u16string> &hardwareIds,
                               const std::vector<std::u16string> &compatibleIds);

// Whether the package serves a device with these ids (case-insensitive).
bool PackageMatches(const DriverPackage &package, const std::vector<std::u16string> &ids);

} // namespace host
