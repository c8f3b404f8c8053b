// Writes the fuzz target's seed corpus: one input per known device (the twelve real devices'
// dumps at both speeds, the RV-D3, the test devices and every descriptor variant), each with an
// empty reply script. Run once after a device or variant is added; the files are committed.
//
//   quen_fuzz_seed_export <usb-descriptors directory> <corpus directory>
#include "fuzz_input.h"

#include "devices/descriptor_variants.h"
#include "devices/hex_descriptor_file.h"
#include "devices/rvd3_model.h"
#include "devices/test_devices.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

namespace {

// The dumps in the usb-descriptors directory.
const char *const kRealDevices[] = {
    "allenheath-xone43c",
    "arturia-af16rig",
    "behringer-umc202hd",
    "focusrite-scarlett-2i2",
    "gigabyte-trx40-realtek",
    "logitech-h340",
    "maudio-micro",
    "nux-mg300",
    "rode-ai1",
    "schiit-hel",
    "ssl-2plus",
    "topping-d50s",
};

USHORT DeviceWord(const devices::Bytes &device, size_t offset)
{
    return device.size() < offset + 2
               ? 0
               : static_cast<USHORT>(device[offset] | device[offset + 1] << 8);
}

// "FeatureUnitShorterThanChannels" -> "feature-unit-shorter-than-channels"
std::string FileName(const std::string &name)
{
    std::string out;
    for (char c : name) {
        if (std::isupper(static_cast<unsigned char>(c)) && !out.empty() && out.back() != '-')
            out += '-';
        out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool Write(const std::string &directory, const std::string &name, host::UsbSpeed speed,
           const devices::DescriptorSet &set)
{
    const devices::Bytes input = fuzz::WriteFuzzInput(
        speed, 1, DeviceWord(set.device, 8), DeviceWord(set.device, 10), set.configuration);
    const std::string path = directory + "/" + name;
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char *>(input.data()), std::streamsize(input.size()));
    if (!file) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

bool WriteModel(const std::string &directory, const std::string &name,
                const devices::UsbAudioDeviceModel &model)
{
    return Write(directory, name, model.Speed(), model.Descriptors());
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <usb-descriptors directory> <corpus directory>\n", argv[0]);
        return 2;
    }
    const std::string dumps = argv[1];
    const std::string corpus = argv[2];
    bool ok = true;
    for (const char *name : kRealDevices) {
        devices::DescriptorSet set;
        std::string error;
        if (!devices::LoadDescriptorDump(dumps, name, &set, &error)) {
            std::fprintf(stderr, "%s: %s\n", name, error.c_str());
            return 1;
        }
        ok &= Write(corpus, std::string("real-") + name + "-high", host::UsbSpeed::High, set);
        ok &= Write(corpus, std::string("real-") + name + "-full", host::UsbSpeed::Full, set);
    }
    ok &= WriteModel(corpus, "rvd3", devices::Rvd3Model());
    ok &= WriteModel(corpus, "test-full-speed-uac2", *devices::MakeFullSpeedUac2Device());
    ok &= WriteModel(corpus, "test-uac1-synch-endpoint", *devices::MakeUac1SynchEndpointDevice());
    ok &= WriteModel(corpus, "test-implicit-feedback", *devices::MakeImplicitFeedbackDevice());
    ok &= WriteModel(corpus, "test-clock-selector", *devices::MakeClockSelectorDevice());
    ok &=
        WriteModel(corpus, "test-length-prefixed-quirk", *devices::MakeLengthPrefixedQuirkDevice());
    ok &= WriteModel(corpus, "test-vendor-interface-quirk",
                     *devices::MakeVendorInterfaceQuirkDevice());
    for (devices::DescriptorVariant variant : devices::AllDescriptorVariants()) {
        ok &= Write(corpus, "variant-" + FileName(devices::DescriptorVariantName(variant)),
                    devices::DescriptorVariantSpeed(variant),
                    devices::MakeDescriptorVariant(variant));
    }
    return ok ? 0 : 1;
}
