// The USBD library: descriptor parsing on real devices' configuration descriptors and on
// malformed ones, and the select-configuration request it builds.
#include "kernel/kernel_fixture.h"

#include <usbdlib.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

namespace {

// The recorded devices, kept with the device-model tests.
std::string DumpPath(const std::string &name)
{
    std::string source = __FILE__;
    std::string tests = source.substr(0, source.rfind("/usb/"));
    return tests + "/devices/data/usb-descriptors/" + name + ".cfg.hex";
}

// Hex text, one descriptor per line, into bytes.
std::vector<UCHAR> LoadHex(const std::string &name)
{
    std::ifstream file(DumpPath(name));
    EXPECT_TRUE(file.good()) << "cannot read " << DumpPath(name);
    std::vector<UCHAR> bytes;
    std::string token;
    while (file >> token)
        bytes.push_back(UCHAR(std::stoul(token, nullptr, 16)));
    return bytes;
}

PUSB_CONFIGURATION_DESCRIPTOR AsConfiguration(std::vector<UCHAR> &bytes)
{
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
}

PUSB_INTERFACE_DESCRIPTOR Find(std::vector<UCHAR> &bytes, LONG number, LONG alternate,
                               LONG cls = -1, LONG subClass = -1, LONG protocol = -1)
{
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
    return USBD_ParseConfigurationDescriptorEx(c, c, number, alternate, cls, subClass, protocol);
}

class UsbdHelpersTest : public KernelTest {};

const char *const kDevices[] = {
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

TEST_F(UsbdHelpersTest, EveryRecordedDeviceParsesToTheInterfacesItsHeaderAnnounces)
{
    for (const char *name : kDevices) {
        SCOPED_TRACE(name);
        std::vector<UCHAR> bytes = LoadHex(name);
        ASSERT_GE(bytes.size(), sizeof(USB_CONFIGURATION_DESCRIPTOR));
        PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
        EXPECT_EQ(bytes.size(), c->wTotalLength);
        // Interface numbers need not be contiguous (behringer-umc202hd has 0, 1, 2, 5).
        std::set<UCHAR> numbers;
        PVOID start = c;
        while (PUSB_INTERFACE_DESCRIPTOR d =
                   USBD_ParseConfigurationDescriptorEx(c, start, -1, -1, -1, -1, -1)) {
            numbers.insert(d->bInterfaceNumber);
            start = reinterpret_cast<PUCHAR>(d) + d->bLength;
        }
        EXPECT_EQ(c->bNumInterfaces, numbers.size());
        for (UCHAR number : numbers)
            EXPECT_NE(nullptr, Find(bytes, number, 0)) << "interface " << int(number);
    }
}

TEST_F(UsbdHelpersTest, SearchMatchesNumberAlternateSettingAndClassWithMinusOneAsWildcard)
{
    std::vector<UCHAR> bytes = LoadHex("topping-d50s");
    PUSB_INTERFACE_DESCRIPTOR setting = Find(bytes, 1, 3);
    ASSERT_NE(nullptr, setting);
    EXPECT_EQ(1, setting->bInterfaceNumber);
    EXPECT_EQ(3, setting->bAlternateSetting);
    EXPECT_EQ(2, setting->bNumEndpoints);

    PUSB_INTERFACE_DESCRIPTOR control = Find(bytes, -1, -1, 1, 1);
    ASSERT_NE(nullptr, control);
    EXPECT_EQ(0, control->bInterfaceNumber); // the first audio-control interface

    PUSB_INTERFACE_DESCRIPTOR dfu = Find(bytes, -1, -1, 0xFE);
    ASSERT_NE(nullptr, dfu);
    EXPECT_EQ(2, dfu->bInterfaceNumber);

    EXPECT_EQ(nullptr, Find(bytes, 1, 4));
    EXPECT_EQ(nullptr, Find(bytes, 7, -1));
    EXPECT_EQ(nullptr, Find(bytes, 1, 1, 1, 2, 0x10)); // protocol 0x20, not 0x10
}

TEST_F(UsbdHelpersTest, SearchStartsAtTheGivenPositionAndReturnsADescriptorThatStartsThere)
{
    std::vector<UCHAR> bytes = LoadHex("schiit-hel");
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
    PUSB_INTERFACE_DESCRIPTOR first = USBD_ParseConfigurationDescriptorEx(c, c, 1, -1, -1, -1, -1);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(first, USBD_ParseConfigurationDescriptorEx(c, first, 1, -1, -1, -1, -1));
    PUSB_INTERFACE_DESCRIPTOR next = USBD_ParseConfigurationDescriptorEx(
        c, reinterpret_cast<PUCHAR>(first) + first->bLength, 1, -1, -1, -1, -1);
    ASSERT_NE(nullptr, next);
    EXPECT_EQ(first->bAlternateSetting + 1, next->bAlternateSetting);
}

TEST_F(UsbdHelpersTest, ParseDescriptorsFindsEndpointsAfterAnInterfaceAndNothingOutsideTheBuffer)
{
    std::vector<UCHAR> bytes = LoadHex("nux-mg300");
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
    PUSB_INTERFACE_DESCRIPTOR setting = Find(bytes, 1, 1);
    ASSERT_NE(nullptr, setting);
    auto endpoint = reinterpret_cast<PUSB_ENDPOINT_DESCRIPTOR>(
        USBD_ParseDescriptors(c, c->wTotalLength, setting, USB_ENDPOINT_DESCRIPTOR_TYPE));
    ASSERT_NE(nullptr, endpoint);
    EXPECT_EQ(0x01, endpoint->bEndpointAddress);
    EXPECT_EQ(0x05, endpoint->bmAttributes & 0x0F);

    // A start position outside the buffer, or no type present, gives nothing.
    EXPECT_EQ(nullptr, USBD_ParseDescriptors(c, c->wTotalLength, bytes.data() + bytes.size() + 1,
                                             USB_ENDPOINT_DESCRIPTOR_TYPE));
    EXPECT_EQ(nullptr, USBD_ParseDescriptors(c, c->wTotalLength, c, 0x42));
}

// A configuration descriptor wrapped in guard bytes the parser must never reach.
struct Malformed {
    std::vector<UCHAR> bytes;
    PUSB_CONFIGURATION_DESCRIPTOR Config() { return AsConfiguration(bytes); }
};

Malformed WithInterfaceAfter(std::vector<UCHAR> before)
{
    Malformed m;
    m.bytes = {9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    for (UCHAR b : before)
        m.bytes.push_back(b);
    for (UCHAR b : {9, 4, 0, 0, 0, 1, 1, 0, 0})
        m.bytes.push_back(b);
    m.bytes[2] = UCHAR(m.bytes.size());
    return m;
}

TEST_F(UsbdHelpersTest, ZeroLengthDescriptorEndsTheWalk)
{
    Malformed m = WithInterfaceAfter({0, 0x24, 1, 2});
    EXPECT_EQ(nullptr,
              USBD_ParseConfigurationDescriptorEx(m.Config(), m.Config(), -1, -1, -1, -1, -1));
    EXPECT_EQ(nullptr, USBD_ParseDescriptors(m.Config(), m.Config()->wTotalLength, m.Config(),
                                             USB_INTERFACE_DESCRIPTOR_TYPE));
}

TEST_F(UsbdHelpersTest, OneByteDescriptorEndsTheWalk)
{
    Malformed m = WithInterfaceAfter({1, 0x24});
    EXPECT_EQ(nullptr,
              USBD_ParseConfigurationDescriptorEx(m.Config(), m.Config(), 0, 0, -1, -1, -1));
}

TEST_F(UsbdHelpersTest, DescriptorOverrunningTheTotalLengthIsNotReturned)
{
    // The interface descriptor claims 9 bytes but wTotalLength cuts it after 5.
    std::vector<UCHAR> bytes = {9,
                                2,
                                14,
                                0,
                                1,
                                1,
                                0,
                                0x80,
                                50,
                                9,
                                4,
                                0,
                                0,
                                0,
                                /* beyond wTotalLength: */ 1,
                                1,
                                0,
                                0};
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
    EXPECT_EQ(nullptr, USBD_ParseConfigurationDescriptorEx(c, c, 0, 0, -1, -1, -1));
    EXPECT_EQ(nullptr, USBD_ParseDescriptors(c, c->wTotalLength, c, USB_INTERFACE_DESCRIPTOR_TYPE));
}

TEST_F(UsbdHelpersTest, ShortInterfaceDescriptorIsNotReadPastItsLength)
{
    // A 4-byte "interface descriptor": its number and setting fields are not there.
    Malformed m = WithInterfaceAfter({4, 4, 0, 0});
    EXPECT_EQ(nullptr,
              USBD_ParseConfigurationDescriptorEx(m.Config(), m.Config(), 0, 0, -1, -1, -1));
}

TEST_F(UsbdHelpersTest, TotalLengthShorterThanTheBufferHidesWhatFollows)
{
    Malformed m = WithInterfaceAfter({});
    m.bytes[2] = 9; // only the configuration header counts
    EXPECT_EQ(nullptr,
              USBD_ParseConfigurationDescriptorEx(m.Config(), m.Config(), -1, -1, -1, -1, -1));
}

TEST_F(UsbdHelpersTest, ConfigurationRequestHasOneRecordPerListedInterfaceAndPoolMemory)
{
    std::vector<UCHAR> bytes = LoadHex("topping-d50s");
    PUSB_CONFIGURATION_DESCRIPTOR c = AsConfiguration(bytes);
    USBD_INTERFACE_LIST_ENTRY list[] = {
        {Find(bytes, 0, 0), nullptr}, {Find(bytes, 1, 1), nullptr}, {nullptr, nullptr}};
    PURB urb = USBD_CreateConfigurationRequestEx(c, list);
    ASSERT_NE(nullptr, urb);
    EXPECT_EQ(URB_FUNCTION_SELECT_CONFIGURATION, urb->UrbHeader.Function);
    // Header (40 bytes) + interface 0 without pipes (24) + interface 1 with 2 pipes (72).
    EXPECT_EQ(40 + 24 + 72, urb->UrbHeader.Length);
    EXPECT_EQ(c, urb->UrbSelectConfiguration.ConfigurationDescriptor);
    EXPECT_EQ(nullptr, urb->UrbSelectConfiguration.ConfigurationHandle);

    ASSERT_EQ(&urb->UrbSelectConfiguration.Interface, list[0].Interface);
    EXPECT_EQ(24, list[0].Interface->Length);
    EXPECT_EQ(0, list[0].Interface->InterfaceNumber);
    EXPECT_EQ(0u, list[0].Interface->NumberOfPipes);

    auto second = reinterpret_cast<PUSBD_INTERFACE_INFORMATION>(
        reinterpret_cast<PUCHAR>(list[0].Interface) + 24);
    ASSERT_EQ(second, list[1].Interface);
    EXPECT_EQ(GET_USBD_INTERFACE_SIZE(2), second->Length);
    EXPECT_EQ(1, second->InterfaceNumber);
    EXPECT_EQ(1, second->AlternateSetting);
    EXPECT_EQ(2u, second->NumberOfPipes);
    for (ULONG i = 0; i < 2; ++i) {
        EXPECT_EQ(ULONG(USBD_DEFAULT_MAXIMUM_TRANSFER_SIZE), second->Pipes[i].MaximumTransferSize);
        EXPECT_EQ(0u, second->Pipes[i].PipeFlags);
        EXPECT_EQ(nullptr, second->Pipes[i].PipeHandle); // filled by the stack
    }
    ExFreePool(urb); // pool memory, freed as the documentation says
}

TEST_F(UsbdHelpersTest, RequestSizeMacrosAndVersionMatchWindows)
{
    EXPECT_EQ(632u, GET_ISO_URB_SIZE(40));
    EXPECT_EQ(56u, GET_SELECT_INTERFACE_REQUEST_SIZE(0));
    EXPECT_EQ(104u, GET_SELECT_INTERFACE_REQUEST_SIZE(2));
    EXPECT_EQ(72u, GET_USBD_INTERFACE_SIZE(2));
    EXPECT_EQ(0x220003u, ULONG(IOCTL_INTERNAL_USB_SUBMIT_URB));
    EXPECT_EQ(0x220013u, ULONG(IOCTL_INTERNAL_USB_GET_PORT_STATUS));
    EXPECT_EQ(0x220007u, ULONG(IOCTL_INTERNAL_USB_RESET_PORT));
    USBD_VERSION_INFORMATION version{};
    USBD_GetUSBDIVersion(&version);
    EXPECT_EQ(0x600u, version.USBDI_Version);
    EXPECT_EQ(0x200u, version.Supported_USB_Version);
}

} // namespace
