// The generic parent of composite devices: how it divides real devices' configurations into
// functions, what plug and play makes of a composite device no package names, and what a
// function's driver sees through its child.
#include "usb_test_fixture.h"

#include "devices/hex_descriptor_file.h"
#include "devices/raw_descriptor_model.h"
#include "pnp/pnp_manager.h"
#include "pnp/pnp_requests.h"
#include "usb/usb_composite_functions.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using usb_tests::SubmitUrbSync;
using usb_tests::UrbBuffer;

std::string DumpDirectory()
{
    const std::string source = __FILE__;
    return source.substr(0, source.rfind("/usb/")) + "/devices/data/usb-descriptors";
}

devices::DescriptorSet Dump(const std::string &name)
{
    devices::DescriptorSet set;
    std::string error;
    EXPECT_TRUE(devices::LoadDescriptorDump(DumpDirectory(), name, &set, &error)) << error;
    return set;
}

struct ExpectedFunction {
    std::vector<UCHAR> interfaces;
    UCHAR cls, subClass, protocol;
};

struct Grouping {
    const char *device;
    std::vector<ExpectedFunction> functions;
};

// Interface association descriptors where the device has them, the legacy audio grouping where
// it has none, every other interface alone.
const Grouping kGroupings[] = {
    {"logitech-h340", {{{0, 1, 2}, 0x01, 0x01, 0x00}, {{3}, 0x03, 0x00, 0x00}}},
    {"focusrite-scarlett-2i2", {{{0, 1, 2}, 0x01, 0x00, 0x20}, {{3}, 0xFF, 0x01, 0x10}}},
    {"schiit-hel", {{{0, 1, 2}, 0x01, 0x00, 0x20}, {{3}, 0x03, 0x00, 0x00}}},
};

TEST(CompositeFunctionsTest, RealDevicesSplitIntoTheirFunctions)
{
    for (const Grouping &g : kGroupings) {
        SCOPED_TRACE(g.device);
        const devices::Bytes configuration = Dump(g.device).configuration;
        std::vector<host::UsbCompositeFunction> functions;
        ASSERT_TRUE(host::SplitIntoFunctions(configuration.data(), ULONG(configuration.size()),
                                             &functions));
        ASSERT_EQ(g.functions.size(), functions.size());
        for (size_t f = 0; f < functions.size(); ++f) {
            const host::UsbCompositeFunction &got = functions[f];
            EXPECT_EQ(g.functions[f].interfaces, got.interfaces);
            EXPECT_EQ(got.interfaces.front(), got.firstInterface);
            EXPECT_EQ(g.functions[f].cls, got.functionClass);
            EXPECT_EQ(g.functions[f].subClass, got.functionSubClass);
            EXPECT_EQ(g.functions[f].protocol, got.functionProtocol);
            // The function's configuration: its own length and interface count, and only
            // interface descriptors of its interfaces.
            const std::vector<UCHAR> &c = got.configuration;
            ASSERT_GE(c.size(), sizeof(USB_CONFIGURATION_DESCRIPTOR));
            EXPECT_EQ(c.size(), size_t(c[2] | c[3] << 8));
            EXPECT_EQ(got.interfaces.size(), c[4]);
            for (size_t at = c[0]; at < c.size(); at += c[at])
                if (c[at + 1] == USB_INTERFACE_DESCRIPTOR_TYPE) {
                    EXPECT_NE(got.interfaces.end(),
                              std::find(got.interfaces.begin(), got.interfaces.end(), c[at + 2]));
                }
        }
    }
}

TEST(CompositeFunctionsTest, MalformedConfigurationsAreRefused)
{
    const std::vector<UCHAR> header = {9, 2, 0, 0, 2, 1, 0, 0x80, 50};
    const std::vector<UCHAR> interface0 = {9, 4, 0, 0, 0, 1, 1, 0, 0};
    const std::vector<UCHAR> interface1 = {9, 4, 1, 0, 0, 1, 2, 0, 0};
    const std::vector<UCHAR> association = {8, 11, 0, 2, 1, 0, 0x20, 0};
    auto join = [&](std::vector<std::vector<UCHAR>> parts, int totalAdjust) {
        std::vector<UCHAR> out;
        for (const auto &p : parts)
            out.insert(out.end(), p.begin(), p.end());
        const size_t total = out.size() + totalAdjust;
        out[2] = UCHAR(total);
        out[3] = UCHAR(total >> 8);
        return out;
    };
    struct Case {
        const char *what;
        std::vector<UCHAR> bytes;
    } cases[] = {
        {"total length beyond the data", join({header, interface0, interface1}, 1)},
        {"descriptor running past the total", join({header, interface0, interface1}, -1)},
        {"zero-length descriptor", join({header, interface0, {0, 4}}, 0)},
        {"interface in two associations",
         join({header, association, association, interface0, interface1}, 0)},
        {"not a configuration descriptor", join({{9, 4, 0, 0, 0, 1, 1, 0, 0}, interface0}, 0)},
        {"shorter than its header", {9, 2, 9, 0}},
    };
    for (const Case &c : cases) {
        std::vector<host::UsbCompositeFunction> functions;
        EXPECT_FALSE(host::SplitIntoFunctions(c.bytes.data(), ULONG(c.bytes.size()), &functions))
            << c.what;
        EXPECT_TRUE(functions.empty()) << c.what;
    }
}

// A composite device no package names: the generic parent drives it and reports its functions.
class CompositeParentTest : public KernelTest {
protected:
    void SetUp() override
    {
        pnp_ = &host::PnpManager::Of(M());
        devices::DescriptorSet set = Dump("logitech-h340");
        node_ =
            pnp_->Plug(usb_tests::kPort,
                       std::make_shared<devices::RawDescriptorModel>(host::UsbSpeed::Full, set));
        ASSERT_NE(nullptr, node_);
        ASSERT_EQ(2u, node_->children.size());
    }

    PDEVICE_OBJECT Child(size_t index) { return node_->children[index]->pdo; }

    std::vector<UCHAR> ChildConfiguration(size_t index)
    {
        std::vector<UCHAR> bytes(512);
        UrbBuffer urb(sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
        UsbBuildGetDescriptorRequest(urb.Get(), sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                     USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, bytes.data(), nullptr,
                                     ULONG(bytes.size()), nullptr);
        EXPECT_EQ(STATUS_SUCCESS, SubmitUrbSync(Child(index), urb.Get()));
        bytes.resize(urb->UrbControlDescriptorRequest.TransferBufferLength);
        return bytes;
    }

    // Selects the configuration through a child, naming `number` at alternate setting 0.
    USBD_STATUS SelectThroughChild(size_t index, std::vector<UCHAR> configuration, UCHAR number,
                                   USBD_INTERFACE_INFORMATION *selected = nullptr)
    {
        auto descriptor = reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration.data());
        USB_INTERFACE_DESCRIPTOR setting = {9, 4, number, 0, 0, 0, 0, 0, 0};
        if (PUSB_INTERFACE_DESCRIPTOR own =
                USBD_ParseConfigurationDescriptorEx(descriptor, descriptor, number, 0, -1, -1, -1))
            setting = *own;
        USBD_INTERFACE_LIST_ENTRY list[] = {{&setting, nullptr}, {nullptr, nullptr}};
        PURB urb = USBD_CreateConfigurationRequestEx(descriptor, list);
        SubmitUrbSync(Child(index), urb);
        USBD_STATUS status = urb->UrbHeader.Status;
        if (selected != nullptr)
            std::memcpy(selected, list[0].Interface, sizeof *selected);
        EXPECT_EQ(status == USBD_STATUS_SUCCESS,
                  urb->UrbSelectConfiguration.ConfigurationHandle != nullptr);
        ExFreePool(urb);
        return status;
    }

    host::PnpManager *pnp_ = nullptr;
    host::DeviceNode *node_ = nullptr;
};

TEST_F(CompositeParentTest, TheFunctionsBecomeChildrenWithInterfaceIds)
{
    EXPECT_EQ(host::DeviceState::Started, node_->state);
    EXPECT_EQ(u"usbccgp", node_->service);
    const char16_t *expected[][2] = {
        {u"USB\\VID_046D&PID_0A38&MI_00", u"USB\\Class_01&SubClass_01&Prot_00"},
        {u"USB\\VID_046D&PID_0A38&MI_03", u"USB\\Class_03&SubClass_00&Prot_00"},
    };
    for (size_t i = 0; i < 2; ++i) {
        const host::DeviceNode &child = *node_->children[i];
        EXPECT_EQ(host::DeviceState::NoDriver, child.state);
        EXPECT_EQ(node_, child.parent);
        EXPECT_EQ(0u, child.instanceId.rfind(std::u16string(expected[i][0]) + u"\\", 0));
        std::vector<std::u16string> hardware = host::QueryIds(Child(i), BusQueryHardwareIDs);
        ASSERT_EQ(2u, hardware.size());
        EXPECT_EQ(expected[i][0], hardware[1]);
        EXPECT_EQ(expected[i][1], host::QueryIds(Child(i), BusQueryCompatibleIDs).front());
    }
    EXPECT_EQ(u"USB\\COMPOSITE", host::QueryIds(node_->pdo, BusQueryCompatibleIDs).back());
}

TEST_F(CompositeParentTest, AChildSelectsOnlyItsOwnInterfacesOfItsOwnConfiguration)
{
    const std::vector<UCHAR> hid = ChildConfiguration(1);
    ASSERT_GE(hid.size(), sizeof(USB_CONFIGURATION_DESCRIPTOR));
    EXPECT_EQ(1u, hid[4]); // one interface: the HID function's
    USBD_INTERFACE_INFORMATION selected{};
    EXPECT_EQ(USBD_STATUS_SUCCESS, SelectThroughChild(1, hid, 3, &selected));
    EXPECT_EQ(0x03, selected.Class);
    EXPECT_NE(nullptr, selected.InterfaceHandle);
    EXPECT_EQ(1u, selected.NumberOfPipes);
    // The audio function's interface is not the HID function's to select, whichever
    // configuration descriptor the request names.
    EXPECT_NE(USBD_STATUS_SUCCESS, SelectThroughChild(1, hid, 0));
    EXPECT_EQ(USBD_STATUS_INVALID_PARAMETER,
              SelectThroughChild(1, Dump("logitech-h340").configuration, 0));
}

TEST_F(CompositeParentTest, UnpluggingRemovesTheChildrenAndTheParent)
{
    pnp_->Unplug(*node_->children[0]);
    EXPECT_EQ(nullptr, node_->pdo);
    for (const host::DeviceNode *child : node_->children)
        EXPECT_EQ(nullptr, child->pdo);
}

} // namespace
