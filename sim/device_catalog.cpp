#include "device_catalog.h"

#include "devices/descriptor_variants.h"
#include "devices/descriptor_walker.h"
#include "devices/hex_descriptor_file.h"
#include "devices/raw_descriptor_model.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"
#include "devices/usb_constants.h"

#include <dirent.h>

#include <algorithm>
#include <functional>

namespace sim {

namespace {

const char kRealPrefix[] = "real:";
const char kVariantPrefix[] = "malformed:";
const char kDumpSuffix[] = ".cfg.hex";

struct BuiltIn {
    const char *name;
    const char *description;
    std::function<std::shared_ptr<host::UsbDeviceModel>()> make;
};

const std::vector<BuiltIn> &BuiltIns()
{
    static const std::vector<BuiltIn> list = {
        {"rvd3", "RV-D3: high-speed Audio Class 2.0 DAC with capture path",
         [] { return std::make_shared<devices::Rvd3Model>(); }},
        {"rvd3-render", "RV-D3 without its capture path",
         [] {
             devices::Rvd3Options options;
             options.capture = false;
             return std::make_shared<devices::Rvd3Model>(options);
         }},
        {"fs-uac2", "full-speed Audio Class 2.0 DAC, 10.14 feedback",
         [] { return std::shared_ptr<host::UsbDeviceModel>(devices::MakeFullSpeedUac2Device()); }},
        {"uac1", "full-speed Audio Class 1.0 DAC with a synch endpoint",
         [] {
             return std::shared_ptr<host::UsbDeviceModel>(devices::MakeUac1SynchEndpointDevice());
         }},
        {"implicit", "high-speed Audio Class 2.0, render clocked by capture (implicit feedback)",
         [] {
             return std::shared_ptr<host::UsbDeviceModel>(devices::MakeImplicitFeedbackDevice());
         }},
        {"clock-selector", "high-speed Audio Class 2.0 with a clock selector over two sources",
         [] { return std::shared_ptr<host::UsbDeviceModel>(devices::MakeClockSelectorDevice()); }},
        {"quirk-length-prefixed",
         "vendor-class audio function with length-prefixed packets (1686:00DD)",
         [] {
             return std::shared_ptr<host::UsbDeviceModel>(devices::MakeLengthPrefixedQuirkDevice());
         }},
        {"quirk-vendor-interface", "audio function plus a vendor interface (20B1:0002)",
         [] {
             return std::shared_ptr<host::UsbDeviceModel>(
                 devices::MakeVendorInterfaceQuirkDevice());
         }},
        {"short-range-reply", "valid function whose clock RANGE reply is shorter than announced",
         [] {
             return std::shared_ptr<host::UsbDeviceModel>(devices::MakeShortRangeReplyDevice());
         }},
    };
    return list;
}

bool StartsWith(const std::string &text, const char *prefix)
{
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

std::vector<std::string> DumpNames(const std::string &directory)
{
    std::vector<std::string> names;
    DIR *dir = opendir(directory.c_str());
    if (dir == nullptr)
        return names;
    const size_t suffixLength = sizeof(kDumpSuffix) - 1;
    while (const dirent *entry = readdir(dir)) {
        const std::string file = entry->d_name;
        if (file.size() > suffixLength &&
            file.compare(file.size() - suffixLength, suffixLength, kDumpSuffix) == 0)
            names.push_back(file.substr(0, file.size() - suffixLength));
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

// The dumps do not say at which speed the device ran: a USB 2.0 device with an Audio Class 2.0
// interface, or with a periodic endpoint polled less than every (micro)frame, only makes sense at
// high speed (full-speed isochronous audio endpoints poll every frame).
host::UsbSpeed InferSpeed(const devices::DescriptorSet &set)
{
    if (set.device.size() < 4 || (set.device[2] | set.device[3] << 8) < 0x0200)
        return host::UsbSpeed::Full;
    for (const devices::DescriptorView &d : devices::WalkDescriptors(set.configuration)) {
        if (d.type == devices::usb::kInterfaceDescriptor &&
            d.Byte(5) == devices::uac::kAudioClass && d.Byte(7) == devices::uac::kProtocolVersion2)
            return host::UsbSpeed::High;
        if (d.type == devices::usb::kEndpointDescriptor &&
            (d.Byte(3) & devices::usb::kTransferTypeMask) == devices::usb::kIsochronous &&
            d.Byte(6) > 1)
            return host::UsbSpeed::High;
    }
    return host::UsbSpeed::Full;
}

bool MakeRealDevice(const std::string &name, const std::string &directory, CatalogDevice *device,
                    std::string *error)
{
    devices::DescriptorSet set;
    if (!devices::LoadDescriptorDump(directory, name, &set, error)) {
        *error = "cannot load real device '" + name + "' from " + directory + ": " + *error;
        return false;
    }
    const host::UsbSpeed speed = InferSpeed(set);
    device->model = std::make_shared<devices::RawDescriptorModel>(speed, set);
    device->description = "real device " + name + ", replayed from its descriptor dump";
    device->speedInferred = true;
    return true;
}

} // namespace

std::string DefaultDataDirectory() { return QUEN_SIM_DEFAULT_DATA_DIR; }

std::vector<CatalogEntry> ListDevices(const std::string &dataDirectory)
{
    std::vector<CatalogEntry> entries;
    for (const BuiltIn &device : BuiltIns())
        entries.push_back({device.name, device.description});
    for (devices::DescriptorVariant variant : devices::AllDescriptorVariants())
        entries.push_back({std::string(kVariantPrefix) + devices::DescriptorVariantName(variant),
                           "descriptor set beyond or outside what the driver accepts"});
    for (const std::string &name : DumpNames(dataDirectory))
        entries.push_back({kRealPrefix + name, "real device, replayed from " + name + ".*.hex"});
    return entries;
}

bool MakeDevice(const std::string &name, const std::string &dataDirectory, CatalogDevice *device,
                std::string *error)
{
    *device = CatalogDevice();
    for (const BuiltIn &builtIn : BuiltIns()) {
        if (name == builtIn.name) {
            device->model = builtIn.make();
            device->description = builtIn.description;
            return true;
        }
    }
    if (StartsWith(name, kRealPrefix))
        return MakeRealDevice(name.substr(sizeof(kRealPrefix) - 1), dataDirectory, device, error);
    if (StartsWith(name, kVariantPrefix)) {
        const std::string variantName = name.substr(sizeof(kVariantPrefix) - 1);
        for (devices::DescriptorVariant variant : devices::AllDescriptorVariants()) {
            if (variantName == devices::DescriptorVariantName(variant)) {
                device->model = std::make_shared<devices::RawDescriptorModel>(
                    devices::DescriptorVariantSpeed(variant),
                    devices::MakeDescriptorVariant(variant));
                device->description = "descriptor set " + variantName;
                return true;
            }
        }
    }
    *error = "unknown device '" + name + "' (--list-devices lists them)";
    return false;
}

} // namespace sim
