// The USB bus interface from IRP_MN_QUERY_INTERFACE, and the PnP identifiers of the PDO.
#include "usb_test_fixture.h"

#include <usbbusif.h>

#include <functional>

namespace usb_tests {
namespace {

class BusInterfaceTest : public UsbTest {
protected:
    explicit BusInterfaceTest(host::UsbSpeed speed = host::UsbSpeed::High) : UsbTest(speed) {}
    void SetUp() override { Plug(); }

    // Sends a PnP request the way a driver does: fresh IRP, STATUS_NOT_SUPPORTED preset.
    NTSTATUS Pnp(UCHAR minor, const std::function<void(PIO_STACK_LOCATION)> &fill,
                 ULONG_PTR *information = nullptr)
    {
        PIRP irp = IoAllocateIrp(pdo_->StackSize, FALSE);
        irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_PNP;
        next->MinorFunction = minor;
        fill(next);
        PendingUrb pending;
        KeInitializeEvent(&pending.done, NotificationEvent, FALSE);
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP irp, PVOID context) {
                auto p = static_cast<PendingUrb *>(context);
                p->status = irp->IoStatus.Status;
                KeSetEvent(&p->done, IO_NO_INCREMENT, FALSE);
                return NTSTATUS(STATUS_MORE_PROCESSING_REQUIRED);
            },
            &pending, TRUE, TRUE, TRUE);
        IoCallDriver(pdo_, irp);
        KeWaitForSingleObject(&pending.done, Executive, KernelMode, FALSE, nullptr);
        if (information != nullptr)
            *information = irp->IoStatus.Information;
        IoFreeIrp(irp);
        return pending.status;
    }

    NTSTATUS QueryBusInterface(USB_BUS_INTERFACE_USBDI_V1 *busInterface, USHORT version,
                               const GUID &type = USB_BUS_INTERFACE_USBDI_GUID)
    {
        return Pnp(IRP_MN_QUERY_INTERFACE, [&](PIO_STACK_LOCATION next) {
            next->Parameters.QueryInterface.InterfaceType = &type;
            next->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
            next->Parameters.QueryInterface.Version = version;
            next->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(busInterface);
        });
    }

    std::u16string QueryId(BUS_QUERY_ID_TYPE type)
    {
        ULONG_PTR information = 0;
        EXPECT_EQ(STATUS_SUCCESS,
                  Pnp(
                      IRP_MN_QUERY_ID,
                      [&](PIO_STACK_LOCATION next) { next->Parameters.QueryId.IdType = type; },
                      &information));
        auto text = reinterpret_cast<PWCHAR>(information);
        // Hardware and compatible ids are a multi-string (read whole, with its separators, up
        // to the empty string that ends it); the others one string.
        const bool multi = type == BusQueryHardwareIDs || type == BusQueryCompatibleIDs;
        std::u16string result;
        for (size_t i = 0; text[i] != 0 || (multi && text[i + 1] != 0); ++i)
            result.push_back(char16_t(text[i]));
        ExFreePool(text);
        return result;
    }
};

TEST_F(BusInterfaceTest, VersionOneTellsHighSpeedAndTheFrameNumber)
{
    USB_BUS_INTERFACE_USBDI_V1 busInterface{};
    ASSERT_EQ(STATUS_SUCCESS, QueryBusInterface(&busInterface, USB_BUSIF_USBDI_VERSION_1));
    EXPECT_EQ(sizeof(USB_BUS_INTERFACE_USBDI_V1), busInterface.Size);
    EXPECT_EQ(USB_BUSIF_USBDI_VERSION_1, busInterface.Version);
    ASSERT_NE(nullptr, busInterface.IsDeviceHighSpeed);
    EXPECT_TRUE(busInterface.IsDeviceHighSpeed(busInterface.BusContext));

    Sleep(12);
    ULONG frame = 0;
    EXPECT_EQ(STATUS_SUCCESS, busInterface.QueryBusTime(busInterface.BusContext, &frame));
    EXPECT_EQ(ULONG(Now() / 10000), frame); // milliseconds, not microframes
    EXPECT_EQ(controller_->CurrentFrame(), frame);

    USBD_VERSION_INFORMATION version{};
    ULONG capabilities = 0xFF;
    busInterface.GetUSBDIVersion(busInterface.BusContext, &version, &capabilities);
    EXPECT_EQ(0x600u, version.USBDI_Version);
    EXPECT_EQ(0u, capabilities);
    EXPECT_EQ(STATUS_NOT_SUPPORTED, busInterface.SubmitIsoOutUrb(busInterface.BusContext, nullptr));
    busInterface.InterfaceDereference(busInterface.BusContext);
}

TEST_F(BusInterfaceTest, OtherInterfaceTypesAreLeftAsTheyCame)
{
    static const GUID other = {0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10}};
    USB_BUS_INTERFACE_USBDI_V1 busInterface{};
    EXPECT_EQ(STATUS_NOT_SUPPORTED, QueryBusInterface(&busInterface, 1, other));
    EXPECT_EQ(nullptr, busInterface.QueryBusTime);
}

TEST_F(BusInterfaceTest, VersionsBeyondOneAreReportedAsNotEmulated)
{
    USB_BUS_INTERFACE_USBDI_V1 busInterface{};
    EXPECT_EQ(STATUS_NOT_SUPPORTED, QueryBusInterface(&busInterface, USB_BUSIF_USBDI_VERSION_2));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
}

TEST_F(BusInterfaceTest, IdentifiersNameVendorProductRevisionClassAndComposite)
{
    EXPECT_EQ(u"USB\\VID_1234&PID_5678", QueryId(BusQueryDeviceID));
    EXPECT_EQ(std::u16string(u"USB\\VID_1234&PID_5678&REV_0100") + u'\0' +
                  u"USB\\VID_1234&PID_5678",
              QueryId(BusQueryHardwareIDs));
    EXPECT_EQ(std::u16string(u"USB\\Class_EF&SubClass_02&Prot_01") + u'\0' +
                  u"USB\\Class_EF&SubClass_02" + u'\0' + u"USB\\Class_EF" + u'\0' +
                  u"USB\\COMPOSITE", // one configuration of four interfaces
              QueryId(BusQueryCompatibleIDs));
    EXPECT_EQ(u"1", QueryId(BusQueryInstanceID));
}

class FullSpeedBusInterfaceTest : public BusInterfaceTest {
protected:
    FullSpeedBusInterfaceTest() : BusInterfaceTest(host::UsbSpeed::Full) {}
};

TEST_F(FullSpeedBusInterfaceTest, FullSpeedDeviceIsNotHighSpeed)
{
    USB_BUS_INTERFACE_USBDI_V1 busInterface{};
    ASSERT_EQ(STATUS_SUCCESS, QueryBusInterface(&busInterface, USB_BUSIF_USBDI_VERSION_1));
    EXPECT_FALSE(busInterface.IsDeviceHighSpeed(busInterface.BusContext));
}

} // namespace
} // namespace usb_tests
