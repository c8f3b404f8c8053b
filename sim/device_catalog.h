// The devices quen-sim can plug: the emulated converters of devices/, the deliberately malformed
// descriptor sets, and real devices replayed from their descriptor dumps ("real:NAME").
#pragma once

#include "usb/usb_device_model.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

struct CatalogEntry {
    std::string name;
    std::string description;
};

// Every name --device accepts; real devices are those with a dump in dataDirectory.
std::vector<CatalogEntry> ListDevices(const std::string &dataDirectory);

struct CatalogDevice {
    std::shared_ptr<host::UsbDeviceModel> model;
    std::string description;
    bool speedInferred = false; // a replayed dump does not say at which speed the device ran
};

// Makes the named device. On an unknown name or an unreadable dump it returns false and says
// why in *error.
bool MakeDevice(const std::string &name, const std::string &dataDirectory, CatalogDevice *device,
                std::string *error);

// The folder of the real devices' dumps in the source tree this program was built from.
std::string DefaultDataDirectory();

} // namespace sim
