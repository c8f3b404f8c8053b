// The kernel's Zw* registry services: opening and creating keys, value queries with their
// buffer-size rules, access checks on handles, deletion, enumeration and the IRQL rule.
#include "kernel_fixture.h"
#include "registry_test_support.h"

#include "kernel/process.h"
#include "kernel/registry_key_object.h"
#include "kernel/wide_string.h"

#include <wdm/ke.h>

using host::RegistryStore;

namespace {

constexpr WCHAR kDeviceParameters[] =
    L"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1D6B&PID_0D03\\0001\\Device "
    L"Parameters";
constexpr char16_t kDeviceParametersU[] =
    u"\\Registry\\Machine\\SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_1D6B&PID_0D03\\0001\\Device "
    u"Parameters";

constexpr ULONG AlignUp4(ULONG n) { return (n + 3) & ~3u; }

class ZwRegistryTest : public KernelTest {
protected:
    RegistryStore &Store() { return M().Registry(); }

    HANDLE OpenDeviceParameters(ACCESS_MASK access)
    {
        HANDLE key = nullptr;
        EXPECT_EQ(STATUS_SUCCESS, OpenKeyByPath(kDeviceParameters, access, &key));
        return key;
    }
};

// ----- ZwOpenKey / ZwCreateKey

TEST_F(ZwRegistryTest, OpenFindsAnExistingKeyAndGivesAKernelHandle)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"DSDNativeModeSupported", 1));
    HANDLE key = OpenDeviceParameters(KEY_ALL_ACCESS);
    ASSERT_NE(nullptr, key);
    EXPECT_TRUE(host::IsKernelHandle(key));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, OpenWithoutKernelHandleUsesTheCallersProcessTable)
{
    PKPROCESS user = M().CreateProcess("asio host");
    host::ThreadAttachment userThread(M(), "user thread", true, user);
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE", KEY_READ, &key,
                                            OBJ_CASE_INSENSITIVE));
    EXPECT_FALSE(host::IsKernelHandle(key));
    EXPECT_EQ(1u, user->handles.Count());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    EXPECT_EQ(0u, user->handles.Count());
}

TEST_F(ZwRegistryTest, OpenOfAMissingKeyFailsAndClearsTheHandle)
{
    HANDLE key = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance",
                            KEY_READ, &key));
    EXPECT_EQ(nullptr, key);
}

TEST_F(ZwRegistryTest, OpenRelativeToARootDirectoryHandle)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample "
                                               u"Device Performance",
                                               u"param1", 2));
    HANDLE software = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE", KEY_READ, &software));
    UNICODE_STRING name = Ustr(L"zel\\sample device performance");
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE, software, nullptr);
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_SUCCESS, ZwOpenKey(&key, KEY_READ, &oa));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(software));
}

TEST_F(ZwRegistryTest, OpenRejectsBothRegistryViewsAtOnce)
{
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE",
                            KEY_READ | KEY_WOW64_64KEY | KEY_WOW64_32KEY, &key));
    ASSERT_EQ(STATUS_SUCCESS,
              OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE", KEY_READ | KEY_WOW64_64KEY, &key));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, CreateReportsWhetherTheKeyIsNew)
{
    HANDLE key = nullptr;
    ULONG disposition = 0;
    ASSERT_EQ(STATUS_SUCCESS, CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\ZEL", KEY_ALL_ACCESS,
                                              &key, &disposition));
    EXPECT_EQ(ULONG(REG_CREATED_NEW_KEY), disposition);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    ASSERT_EQ(STATUS_SUCCESS, CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\zel", KEY_ALL_ACCESS,
                                              &key, &disposition));
    EXPECT_EQ(ULONG(REG_OPENED_EXISTING_KEY), disposition);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, CreateNeedsTheParentKey)
{
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance",
                              KEY_ALL_ACCESS, &key));
    EXPECT_FALSE(Store().KeyExists(u"\\Registry\\Machine\\SOFTWARE\\ZEL"));
}

TEST_F(ZwRegistryTest, CreateOptionsBeyondTheEmulationFailLoudly)
{
    HANDLE key = nullptr;
    EXPECT_EQ(STATUS_INVALID_PARAMETER, CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\X",
                                                        KEY_ALL_ACCESS, &key, nullptr, 0x100));
    EXPECT_EQ(STATUS_NOT_IMPLEMENTED,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\Link", KEY_ALL_ACCESS, &key, nullptr,
                              REG_OPTION_CREATE_LINK));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
    ASSERT_EQ(STATUS_SUCCESS, CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\Volatile",
                                              KEY_ALL_ACCESS, &key, nullptr, REG_OPTION_VOLATILE));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

// ----- ZwQueryValueKey

TEST_F(ZwRegistryTest, QueryFullInformationInTheBufferTheDriverSizes)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetDword(kDeviceParametersU, u"DSDNativeModeSupported", 0x11223344));
    HANDLE key = OpenDeviceParameters(KEY_ALL_ACCESS);
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    // The value name's length plus 28 bytes holds the full record of a four-byte value.
    std::vector<ULONGLONG> storage((name.Length + 28 + 7) / 8);
    auto *info = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(storage.data());
    ULONG result = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValueFullInformation, info,
                                              name.Length + 28u, &result));
    EXPECT_EQ(ULONG(REG_DWORD), info->Type);
    EXPECT_EQ(4u, info->DataLength);
    EXPECT_EQ(name.Length, info->NameLength);
    EXPECT_EQ(0u, info->TitleIndex);
    EXPECT_EQ(0u, info->DataOffset % 4);
    EXPECT_GE(info->DataOffset, 20u + name.Length);
    EXPECT_EQ(info->DataOffset + 4, result);
    EXPECT_EQ(0, std::memcmp(info->Name, name.Buffer, name.Length));
    ULONG data;
    std::memcpy(&data, reinterpret_cast<UCHAR *>(info) + info->DataOffset, 4);
    EXPECT_EQ(0x11223344u, data);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, QueryPartialAndBasicInformation)
{
    std::vector<UCHAR> bytes = Utf16Bytes(u"RV-D3", false);
    ASSERT_EQ(STATUS_SUCCESS, Store().SetValue(kDeviceParametersU, u"Name", REG_SZ, bytes));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"name");
    ULONGLONG storage[8] = {};
    ULONG result = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValuePartialInformation, storage,
                                              sizeof storage, &result));
    auto *partial = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(storage);
    EXPECT_EQ(ULONG(REG_SZ), partial->Type);
    EXPECT_EQ(bytes.size(), partial->DataLength); // stored without a terminator, returned so
    EXPECT_EQ(12u + bytes.size(), result);
    EXPECT_EQ(0, std::memcmp(partial->Data, bytes.data(), bytes.size()));

    ASSERT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValueBasicInformation, storage,
                                              sizeof storage, &result));
    auto *basic = reinterpret_cast<PKEY_VALUE_BASIC_INFORMATION>(storage);
    EXPECT_EQ(ULONG(REG_SZ), basic->Type);
    EXPECT_EQ(8u, basic->NameLength); // the stored spelling, "Name"
    EXPECT_EQ(L'N', basic->Name[0]);
    EXPECT_EQ(12u + 8u, result);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, QueryBufferSmallerThanTheFixedPartIsTooSmallAndUntouched)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"DSDNativeModeSupported", 1));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    ULONG result = 0;
    // A sizing call: no buffer at all.
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              ZwQueryValueKey(key, &name, KeyValueFullInformation, nullptr, 0, &result));
    EXPECT_EQ(AlignUp4(20u + name.Length) + 4u, result);
    UCHAR buffer[19];
    std::memset(buffer, 0xCD, sizeof buffer);
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              ZwQueryValueKey(key, &name, KeyValueFullInformation, buffer, sizeof buffer, &result));
    EXPECT_EQ(AlignUp4(20u + name.Length) + 4u, result);
    for (UCHAR b : buffer)
        EXPECT_EQ(0xCD, b);
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer, 11, &result));
    EXPECT_EQ(16u, result);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, QueryBufferWithTheFixedPartOnlyOverflowsWithTheHeaderFilled)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"DSDNativeModeSupported", 7));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    ULONGLONG storage[4];
    ULONG result = 0;
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW,
              ZwQueryValueKey(key, &name, KeyValuePartialInformation, storage, 12, &result));
    auto *partial = reinterpret_cast<PKEY_VALUE_PARTIAL_INFORMATION>(storage);
    EXPECT_EQ(ULONG(REG_DWORD), partial->Type);
    EXPECT_EQ(4u, partial->DataLength);
    EXPECT_EQ(16u, result);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, QueryOfAMissingValueIsNameNotFound)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"Other", 1));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    UCHAR buffer[64];
    ULONG result = 0;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              ZwQueryValueKey(key, &name, KeyValueFullInformation, buffer, sizeof buffer, &result));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

// ----- Access checks

TEST_F(ZwRegistryTest, QueryNeedsKeyQueryValueOnTheHandle)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"DSDNativeModeSupported", 1));
    HANDLE key = OpenDeviceParameters(KEY_SET_VALUE);
    UNICODE_STRING name = Ustr(L"DSDNativeModeSupported");
    UCHAR buffer[64];
    ULONG result = 0;
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer,
                                                    sizeof buffer, &result));
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwEnumerateValueKey(key, 0, KeyValueBasicInformation, buffer,
                                                        sizeof buffer, &result));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, WritesNeedKeySetValueAndDeletionNeedsDelete)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"x", 1));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"x");
    ULONG one = 1;
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwSetValueKey(key, &name, 0, REG_DWORD, &one, sizeof one));
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwDeleteValueKey(key, &name));
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwDeleteKey(key));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, GenericAndMaximumRightsMapToKeyRights)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"x", 5));
    UNICODE_STRING name = Ustr(L"x");
    UCHAR buffer[32];
    ULONG result = 0;
    ULONG one = 1;
    HANDLE key = OpenDeviceParameters(GENERIC_READ);
    EXPECT_EQ(STATUS_SUCCESS, ZwQueryValueKey(key, &name, KeyValuePartialInformation, buffer,
                                              sizeof buffer, &result));
    EXPECT_EQ(STATUS_ACCESS_DENIED, ZwSetValueKey(key, &name, 0, REG_DWORD, &one, sizeof one));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    key = OpenDeviceParameters(MAXIMUM_ALLOWED);
    EXPECT_EQ(STATUS_SUCCESS, ZwSetValueKey(key, &name, 0, REG_DWORD, &one, sizeof one));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, AHandleOfAnotherTypeIsATypeMismatch)
{
    UNICODE_STRING name = Ustr(L"x");
    UCHAR buffer[32];
    ULONG result = 0;
    HANDLE process = attach_->Thread()->process->handles.Insert(attach_->Thread(), 0x1fffff);
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
              ZwQueryValueKey(process, &name, KeyValuePartialInformation, buffer, sizeof buffer,
                              &result));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(process));
    EXPECT_EQ(STATUS_INVALID_HANDLE,
              ZwQueryValueKey(reinterpret_cast<HANDLE>(0x7770), &name, KeyValuePartialInformation,
                              buffer, sizeof buffer, &result));
}

// ----- Setting, deleting, enumerating

TEST_F(ZwRegistryTest, SetValueStoresTheCallersBytesExactly)
{
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\ZEL", KEY_ALL_ACCESS, &key));
    UNICODE_STRING name = Ustr(L"selected");
    WCHAR text[] = {L'U', L'S', L'B'};
    ASSERT_EQ(STATUS_SUCCESS, ZwSetValueKey(key, &name, 0, REG_SZ, text, sizeof text));
    auto value = Store().GetValue(u"\\Registry\\Machine\\SOFTWARE\\ZEL", u"selected");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(Utf16Bytes(u"USB", false), value->data);
    ASSERT_EQ(STATUS_SUCCESS, ZwDeleteValueKey(key, &name));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, ZwDeleteValueKey(key, &name));
    EXPECT_FALSE(Store().GetValue(u"\\Registry\\Machine\\SOFTWARE\\ZEL", u"selected").has_value());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, DeletedKeyStaysOpenButEveryOperationFails)
{
    HANDLE parent = nullptr;
    HANDLE child = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\P", KEY_ALL_ACCESS, &parent));
    ASSERT_EQ(STATUS_SUCCESS,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\P\\C", KEY_ALL_ACCESS, &child));
    EXPECT_EQ(STATUS_CANNOT_DELETE, ZwDeleteKey(parent));
    ASSERT_EQ(STATUS_SUCCESS, ZwDeleteKey(child));
    UNICODE_STRING name = Ustr(L"v");
    ULONG one = 1;
    EXPECT_EQ(STATUS_KEY_DELETED, ZwSetValueKey(child, &name, 0, REG_DWORD, &one, sizeof one));
    EXPECT_EQ(STATUS_KEY_DELETED, ZwFlushKey(child));
    EXPECT_EQ(STATUS_KEY_DELETED, ZwDeleteKey(child));
    EXPECT_EQ(STATUS_SUCCESS, ZwFlushKey(parent));
    EXPECT_EQ(STATUS_SUCCESS, ZwDeleteKey(parent));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(child));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(parent));
}

TEST_F(ZwRegistryTest, EnumerateValuesAndSubkeysUntilNoMoreEntries)
{
    const std::u16string path = u"\\Registry\\Machine\\SOFTWARE\\ASIO";
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(path + u"\\Quen_Norvane_asio", u"a", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(path, u"first", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(path, u"second", 2));
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\ASIO", KEY_READ, &key));
    ULONGLONG storage[16];
    ULONG result = 0;
    ASSERT_EQ(STATUS_SUCCESS, ZwEnumerateValueKey(key, 1, KeyValueFullInformation, storage,
                                                  sizeof storage, &result));
    auto *full = reinterpret_cast<PKEY_VALUE_FULL_INFORMATION>(storage);
    EXPECT_EQ(12u, full->NameLength);
    EXPECT_EQ(L's', full->Name[0]);
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES, ZwEnumerateValueKey(key, 2, KeyValueFullInformation, storage,
                                                          sizeof storage, &result));

    ASSERT_EQ(STATUS_SUCCESS,
              ZwEnumerateKey(key, 0, KeyBasicInformation, storage, sizeof storage, &result));
    auto *basic = reinterpret_cast<PKEY_BASIC_INFORMATION>(storage);
    EXPECT_EQ(34u, basic->NameLength); // "Quen_Norvane_asio"
    EXPECT_EQ(16u + 34u, result);
    EXPECT_EQ(STATUS_NO_MORE_ENTRIES,
              ZwEnumerateKey(key, 1, KeyBasicInformation, storage, sizeof storage, &result));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              ZwEnumerateKey(key, 0, KeyNameInformation, storage, sizeof storage, &result));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, QueryKeyGivesCountsAndTheFullName)
{
    const std::u16string path = u"\\Registry\\Machine\\SOFTWARE\\ASIO";
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(path + u"\\Quen_Norvane_asio", u"a", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(path, u"count", 1));
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              OpenKeyByPath(L"\\Registry\\Machine\\software\\asio", KEY_READ, &key));
    ULONGLONG storage[32];
    ULONG result = 0;
    ASSERT_EQ(STATUS_SUCCESS,
              ZwQueryKey(key, KeyFullInformation, storage, sizeof storage, &result));
    auto *full = reinterpret_cast<PKEY_FULL_INFORMATION>(storage);
    EXPECT_EQ(1u, full->SubKeys);
    EXPECT_EQ(1u, full->Values);
    EXPECT_EQ(34u, full->MaxNameLen);
    EXPECT_EQ(10u, full->MaxValueNameLen);
    EXPECT_EQ(4u, full->MaxValueDataLen);
    EXPECT_EQ(0xFFFFFFFFu, full->ClassOffset);
    EXPECT_EQ(44u, result);

    ASSERT_EQ(STATUS_SUCCESS,
              ZwQueryKey(key, KeyNameInformation, storage, sizeof storage, &result));
    auto *name = reinterpret_cast<PKEY_NAME_INFORMATION>(storage);
    EXPECT_EQ(u"\\REGISTRY\\MACHINE\\SOFTWARE\\ASIO",
              host::ToU16(name->Name, name->NameLength / 2));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

// ----- Handles, notifications and the IRQL rule

TEST_F(ZwRegistryTest, ClosingAKeyHandleWakesItsPendingNotification)
{
    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS,
              CreateKeyByPath(L"\\Registry\\Machine\\SOFTWARE\\Watched", KEY_ALL_ACCESS, &key));
    host::KeyObject *object = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, host::ReferenceKey(key, KEY_NOTIFY, "test", &object));
    int fired = 0;
    object->NotifyChange(true, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++fired; });
    ObDereferenceObject(object);
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetDword(u"\\Registry\\Machine\\SOFTWARE\\Watched\\Below", u"v", 1));
    EXPECT_EQ(1, fired);
    ASSERT_EQ(STATUS_SUCCESS, host::ReferenceKey(key, KEY_NOTIFY, "test", &object));
    object->NotifyChange(true, REG_NOTIFY_CHANGE_LAST_SET, [&] { ++fired; });
    ObDereferenceObject(object);
    EXPECT_EQ(1, fired);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    EXPECT_EQ(2, fired);
}

TEST_F(ZwRegistryTest, RegistryCallsAbovePassiveLevelAreReported)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    HANDLE key = nullptr;
    NTSTATUS status = OpenKeyByPath(L"\\Registry\\Machine\\SOFTWARE", KEY_READ, &key);
    KeLowerIrql(old);
    EXPECT_EQ(STATUS_SUCCESS, status);
    auto reports = Take(host::VerifierCheck::Irql);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("ZwOpenKey"));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(ZwRegistryTest, MissingOutputPointersAreReported)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kDeviceParametersU, u"x", 1));
    HANDLE key = OpenDeviceParameters(KEY_READ);
    UNICODE_STRING name = Ustr(L"x");
    UCHAR buffer[32];
    EXPECT_EQ(STATUS_ACCESS_VIOLATION, ZwQueryValueKey(key, &name, KeyValuePartialInformation,
                                                       buffer, sizeof buffer, nullptr));
    EXPECT_EQ(1u, Take(host::VerifierCheck::Usage).size());
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

} // namespace
