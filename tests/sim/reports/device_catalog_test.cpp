// The device catalog: the names --device accepts, and the speed a replayed dump is given.
#include <gtest/gtest.h>

#include "device_catalog.h"

#include <algorithm>
#include <string>

namespace {

bool Listed(const std::vector<sim::CatalogEntry> &list, const std::string &name)
{
    return std::any_of(list.begin(), list.end(),
                       [&](const sim::CatalogEntry &e) { return e.name == name; });
}

TEST(DeviceCatalogTest, ListsTheModelsTheMalformedSetsAndTheRealDumps)
{
    const std::vector<sim::CatalogEntry> list = sim::ListDevices(sim::DefaultDataDirectory());
    for (const char *name :
         {"rvd3", "fs-uac2", "uac1", "implicit", "clock-selector", "quirk-length-prefixed",
          "quirk-vendor-interface", "malformed:ZeroLengthDescriptor",
          "malformed:Uac1ContinuousRates", "real:topping-d50s", "real:maudio-micro"})
        EXPECT_TRUE(Listed(list, name)) << name;
    EXPECT_EQ("rvd3", list.front().name);
}

TEST(DeviceCatalogTest, EveryListedNameMakesADevice)
{
    for (const sim::CatalogEntry &entry : sim::ListDevices(sim::DefaultDataDirectory())) {
        sim::CatalogDevice device;
        std::string error;
        EXPECT_TRUE(sim::MakeDevice(entry.name, sim::DefaultDataDirectory(), &device, &error))
            << entry.name << ": " << error;
        EXPECT_NE(nullptr, device.model) << entry.name;
    }
}

TEST(DeviceCatalogTest, AReplayedDumpRunsAtTheSpeedItsDescriptorsImply)
{
    struct Expected {
        const char *name;
        host::UsbSpeed speed;
    };
    // Audio Class 2.0, or a periodic endpoint polled less than every frame: high speed.
    for (const Expected &e : {Expected{"real:topping-d50s", host::UsbSpeed::High},
                              Expected{"real:allenheath-xone43c", host::UsbSpeed::High},
                              Expected{"real:rode-ai1", host::UsbSpeed::Full},
                              Expected{"real:logitech-h340", host::UsbSpeed::Full},
                              Expected{"real:maudio-micro", host::UsbSpeed::Full}}) {
        sim::CatalogDevice device;
        std::string error;
        ASSERT_TRUE(sim::MakeDevice(e.name, sim::DefaultDataDirectory(), &device, &error)) << error;
        EXPECT_EQ(e.speed, device.model->Speed()) << e.name;
        EXPECT_TRUE(device.speedInferred) << e.name;
    }
}

TEST(DeviceCatalogTest, UnknownNamesAndMissingDumpsAreRefusedWithAReason)
{
    sim::CatalogDevice device;
    std::string error;
    EXPECT_FALSE(sim::MakeDevice("rvd4", sim::DefaultDataDirectory(), &device, &error));
    EXPECT_NE(std::string::npos, error.find("unknown device 'rvd4'")) << error;
    EXPECT_FALSE(
        sim::MakeDevice("malformed:Nothing", sim::DefaultDataDirectory(), &device, &error));
    EXPECT_NE(std::string::npos, error.find("unknown device")) << error;
    EXPECT_FALSE(sim::MakeDevice("real:topping-d50s", "/nonexistent", &device, &error));
    EXPECT_NE(std::string::npos, error.find("cannot load real device 'topping-d50s'")) << error;
    EXPECT_EQ(nullptr, device.model);
}

TEST(DeviceCatalogTest, AFolderWithoutDumpsListsNoRealDevices)
{
    for (const sim::CatalogEntry &entry : sim::ListDevices("/nonexistent"))
        EXPECT_NE(0, entry.name.compare(0, 5, "real:")) << entry.name;
}

} // namespace
