// IoOpenDeviceRegistryKey: where the device and driver keys of a device instance live, access,
// argument checks and the IRQL rule.
#include "kernel_fixture.h"
#include "registry_test_support.h"

#include "kernel/io_manager.h"

#include <wdm/io.h>

using host::RegistryStore;

namespace {

const std::u16string kInstance = u"USB\\VID_1D6B&PID_0D03\\0001";
const std::u16string kEnum = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\" + kInstance;
const std::u16string kClass = u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Control\\Class\\";

class DeviceRegistryKeyTest : public KernelTest {
protected:
    DeviceRegistryKeyTest()
    {
        driver_ = host::CreateDriverObject(M(), u"\\Driver\\usbhub");
        EXPECT_EQ(STATUS_SUCCESS,
                  IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_));
        host::SetDeviceInstanceId(pdo_, kInstance);
    }

    void TearDown() override
    {
        IoDeleteDevice(pdo_);
        ObDereferenceObject(driver_);
        KernelTest::TearDown();
    }

    RegistryStore &Store() { return M().Registry(); }

    // Writes a DWORD through the handle, so the test can find where the key is.
    void Mark(HANDLE key, ULONG value)
    {
        UNICODE_STRING name = Ustr(L"mark");
        EXPECT_EQ(STATUS_SUCCESS, ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof value));
    }

    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
};

TEST_F(DeviceRegistryKeyTest, TheDeviceKeyIsDeviceParametersOfTheInstance)
{
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key));
    EXPECT_TRUE(host::IsKernelHandle(key));
    Mark(key, 1);
    EXPECT_TRUE(Store().GetValue(kEnum + u"\\Device Parameters", u"mark").has_value());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, TheDriverReadsAValuePutInTheDeviceKey)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetDword(kEnum + u"\\Device Parameters", u"DSDNativeModeSupported", 0));
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key));
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    ULONGLONG buffer[12];
    ULONG result = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValueFullInformation, buffer,
                                              name.Length + 28u, &result));
    auto *info = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(buffer);
    ULONG data = 0xFFFF;
    std::memcpy(&data, reinterpret_cast<UCHAR *>(info) + info->DataOffset, sizeof data);
    EXPECT_EQ(0u, data);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, TheDriverKeyFollowsTheInstancesDriverValue)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetString(kEnum, u"Driver", u"{4d36e96c-e325-11ce-bfc1-08002be10318}\\0007"));
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER,
                                                      KEY_READ | KEY_SET_VALUE, &key));
    Mark(key, 7);
    EXPECT_TRUE(Store()
                    .GetValue(kClass + u"{4D36E96C-E325-11CE-BFC1-08002BE10318}\\0007", u"mark")
                    .has_value());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, AnInstanceWithoutADriverKeyGetsTheNextFreeOneOfItsClass)
{
    const std::u16string media = kClass + u"{4d36e96c-e325-11ce-bfc1-08002be10318}";
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(media + u"\\0000", u"taken", 1));
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, KEY_ALL_ACCESS, &key));
    Mark(key, 2);
    EXPECT_TRUE(Store().GetValue(media + u"\\0001", u"mark").has_value());
    auto driver = Store().GetValue(kEnum, u"Driver");
    ASSERT_TRUE(driver.has_value());
    EXPECT_EQ(Utf16Bytes(u"{4d36e96c-e325-11ce-bfc1-08002be10318}\\0001", true), driver->data);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));

    // The same key again on the next open.
    ASSERT_EQ(STATUS_SUCCESS,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DRIVER, KEY_READ, &key));
    UNICODE_STRING name = Ustr(L"mark");
    ULONGLONG buffer[4];
    ULONG result = 0;
    EXPECT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer,
                                              sizeof buffer, &result));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, TheCurrentHardwareProfileHasItsOwnDeviceKey)
{
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, IoOpenDeviceRegistryKey(
                                  pdo_, PLUGPLAY_REGKEY_DEVICE | PLUGPLAY_REGKEY_CURRENT_HWPROFILE,
                                  KEY_ALL_ACCESS, &key));
    Mark(key, 3);
    EXPECT_TRUE(Store()
                    .GetValue(u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Hardware "
                              u"Profiles\\Current\\System\\CurrentControlSet\\Enum\\" +
                                  kInstance + u"\\Device Parameters",
                              u"mark")
                    .has_value());
    EXPECT_FALSE(Store().GetValue(kEnum + u"\\Device Parameters", u"mark").has_value());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, TheHandleHasTheRequestedAccessOnly)
{
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key));
    UNICODE_STRING name = Ustr(L"mark");
    ULONG value = 1;
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwSetValueKey(key, &name, 0, REG_DWORD, &value, sizeof value));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(DeviceRegistryKeyTest, BadKeyTypesAndNonPhysicalDevicesAreRefused)
{
    HANDLE key = reinterpret_cast<HANDLE>(0x99);
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE | PLUGPLAY_REGKEY_DRIVER,
                                      KEY_READ, &key));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, IoOpenDeviceRegistryKey(pdo_, 0, KEY_READ, &key));
    EXPECT_EQ(nullptr, key);

    PDEVICE_OBJECT fdo = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              IoCreateDevice(driver_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &fdo));
    EXPECT_EQ(STATUS_INVALID_DEVICE_REQUEST,
              IoOpenDeviceRegistryKey(fdo, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
    IoDeleteDevice(fdo);
}

TEST_F(DeviceRegistryKeyTest, OpeningAbovePassiveLevelIsReported)
{
    HANDLE key = nullptr;
    KIRQL old;
    KeRaiseIrql(APC_LEVEL, &old);
    NTSTATUS status = IoOpenDeviceRegistryKey(pdo_, PLUGPLAY_REGKEY_DEVICE, KEY_READ, &key);
    KeLowerIrql(old);
    ASSERT_EQ(STATUS_SUCCESS, status);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

} // namespace
