// RtlQueryRegistryValues (direct entries, defaults, query routines, key navigation, flags) and
// RtlWriteRegistryValue / RtlCheckRegistryKey / RtlCreateRegistryKey / RtlDeleteRegistryValue.
#include "kernel_fixture.h"
#include "registry_test_support.h"

#include "kernel/wide_string.h"

#include <wdm/ex.h>

using host::RegistryStore;

namespace {

constexpr WCHAR kPerformance[] = L"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance";
constexpr char16_t kPerformanceU[] =
    u"\\Registry\\Machine\\SOFTWARE\\ZEL\\Sample Device Performance";

class RtlQueryRegistryTest : public KernelTest {
protected:
    RegistryStore &Store() { return M().Registry(); }

    // A table of two direct REG_DWORD entries with four-byte defaults, as the driver builds it.
    NTSTATUS ReadPair(ULONG *first, ULONG firstDefault, ULONG *second, ULONG secondDefault)
    {
        RTL_QUERY_REGISTRY_TABLE table[3] = {};
        table[0] = {nullptr,
                    RTL_QUERY_REGISTRY_DIRECT,
                    const_cast<PWSTR>(L"param1"),
                    first,
                    REG_DWORD,
                    &firstDefault,
                    sizeof(ULONG)};
        table[1] = {nullptr,
                    RTL_QUERY_REGISTRY_DIRECT,
                    const_cast<PWSTR>(L"param2"),
                    second,
                    REG_DWORD,
                    &secondDefault,
                    sizeof(ULONG)};
        return RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr);
    }
};

// ----- Direct entries and defaults

TEST_F(RtlQueryRegistryTest, MissingValuesTakeTheirDefaults)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"unrelated", 9));
    ULONG first = 0xEEEE, second = 0xEEEE;
    EXPECT_EQ(STATUS_SUCCESS, ReadPair(&first, 4, &second, 8));
    EXPECT_EQ(4u, first);
    EXPECT_EQ(8u, second);
}

TEST_F(RtlQueryRegistryTest, StoredValuesOverrideTheDefaults)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"param1", 9));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"PARAM2", 0));
    ULONG first = 0, second = 0;
    EXPECT_EQ(STATUS_SUCCESS, ReadPair(&first, 4, &second, 8));
    EXPECT_EQ(9u, first);
    EXPECT_EQ(0u, second);
}

TEST_F(RtlQueryRegistryTest, AMissingKeyFailsTheWholeQueryWithoutDefaults)
{
    ULONG first = 0xEEEE, second = 0xEEEE;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, ReadPair(&first, 4, &second, 8));
    EXPECT_EQ(0xEEEEu, first);
    EXPECT_EQ(0xEEEEu, second);
}

TEST_F(RtlQueryRegistryTest, RequiredValuesMustExistAndNoDefaultMeansSkipped)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"present", 1));
    ULONG target = 0xEEEE;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {nullptr,
                RTL_QUERY_REGISTRY_DIRECT,
                const_cast<PWSTR>(L"absent"),
                &target,
                REG_NONE,
                nullptr,
                0};
    EXPECT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(0xEEEEu, target);
    ULONG fallback = 3;
    table[0].Flags |= RTL_QUERY_REGISTRY_REQUIRED;
    table[0].DefaultType = REG_DWORD;
    table[0].DefaultData = &fallback;
    table[0].DefaultLength = sizeof fallback;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(0xEEEEu, target);
}

TEST_F(RtlQueryRegistryTest, DirectStringAllocatesWhenTheBufferIsNull)
{
    // Stored without its terminating zero; the caller still gets a terminated string.
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetValue(kPerformanceU, u"name", REG_SZ, Utf16Bytes(u"RV-D3", false)));
    UNICODE_STRING text = {0, 0, nullptr};
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"name"), &text, REG_NONE, nullptr,
        0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    ASSERT_NE(nullptr, text.Buffer);
    EXPECT_EQ(10u, text.Length);
    EXPECT_EQ(12u, text.MaximumLength);
    EXPECT_EQ(0, text.Buffer[5]);
    UNICODE_STRING expected = Ustr(L"RV-D3");
    EXPECT_TRUE(RtlEqualUnicodeString(&text, &expected, FALSE));
    RtlFreeUnicodeString(&text);
    EXPECT_EQ(nullptr, text.Buffer);
}

TEST_F(RtlQueryRegistryTest, DirectStringIntoTheCallersBufferMustFitWithItsTerminator)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetString(kPerformanceU, u"name", u"RV-D3"));
    WCHAR storage[6];
    UNICODE_STRING text;
    RtlInitEmptyUnicodeString(&text, storage, 10); // room for the characters only
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"name"), &text, REG_NONE, nullptr,
        0};
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    text.MaximumLength = sizeof storage;
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(10u, text.Length);
    EXPECT_EQ(storage, text.Buffer);
}

TEST_F(RtlQueryRegistryTest, DirectSmallDataWritesOnlyItsBytes)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetValue(kPerformanceU, u"lock", REG_BINARY, {0x01}));
    ULONG target = 0xAABBCCDD;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"lock"), &target, REG_NONE, nullptr,
        0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(0xAABBCC01u, target);
}

TEST_F(RtlQueryRegistryTest, DirectLargeDataUsesTheSizeInTheFirstLong)
{
    std::vector<UCHAR> blob = {1, 2, 3, 4, 5, 6};
    ASSERT_EQ(STATUS_SUCCESS, Store().SetValue(kPerformanceU, u"blob", REG_BINARY, blob));
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    UCHAR buffer[16];
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"blob"), buffer, REG_NONE, nullptr,
        0};

    // Negative: the data alone.
    LONG size = -8;
    std::memcpy(buffer, &size, sizeof size);
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(0, std::memcmp(buffer, blob.data(), blob.size()));

    // Positive: length, type, data.
    size = 16;
    std::memcpy(buffer, &size, sizeof size);
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    ULONG header[2];
    std::memcpy(header, buffer, sizeof header);
    EXPECT_EQ(6u, header[0]);
    EXPECT_EQ(ULONG(REG_BINARY), header[1]);
    EXPECT_EQ(0, std::memcmp(buffer + 8, blob.data(), blob.size()));

    // Too small either way.
    size = -5;
    std::memcpy(buffer, &size, sizeof size);
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    size = 13;
    std::memcpy(buffer, &size, sizeof size);
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
}

TEST_F(RtlQueryRegistryTest, TypeCheckRefusesAValueOfAnotherType)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetValue(kPerformanceU, u"param1", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}));
    ULONG target = 0;
    ULONG fallback = 4;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {nullptr,
                RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_TYPECHECK,
                const_cast<PWSTR>(L"param1"),
                &target,
                (REG_DWORD << RTL_QUERY_REGISTRY_TYPECHECK_SHIFT) | REG_DWORD,
                &fallback,
                sizeof fallback};
    EXPECT_EQ(STATUS_OBJECT_TYPE_MISMATCH,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(0u, target);
    // The default of a type-checked entry is used as usual.
    ASSERT_EQ(STATUS_SUCCESS, Store().DeleteKeyTree(kPerformanceU));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"other", 1));
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(4u, target);
}

// ----- Query routines

struct Call {
    std::u16string name;
    ULONG type;
    std::vector<UCHAR> data;
    PVOID context;
    PVOID entryContext;
};

NTSTATUS Record(PWSTR ValueName, ULONG ValueType, PVOID ValueData, ULONG ValueLength, PVOID Context,
                PVOID EntryContext)
{
    auto *calls = static_cast<std::vector<Call> *>(Context);
    const auto *bytes = static_cast<const UCHAR *>(ValueData);
    calls->push_back({ValueName != nullptr ? host::ToU16(ValueName) : u"", ValueType,
                      std::vector<UCHAR>(bytes, bytes + ValueLength), Context, EntryContext});
    return STATUS_SUCCESS;
}

NTSTATUS Refuse(PWSTR, ULONG, PVOID, ULONG, PVOID, PVOID) { return STATUS_INVALID_DEVICE_STATE; }

TEST_F(RtlQueryRegistryTest, RoutinesReceiveNameTypeDataAndBothContexts)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"param1", 5));
    std::vector<Call> calls;
    int entryContext = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {Record, 0, const_cast<PWSTR>(L"param1"), &entryContext, REG_NONE, nullptr, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(u"param1", calls[0].name);
    EXPECT_EQ(ULONG(REG_DWORD), calls[0].type);
    EXPECT_EQ(DwordBytes(5), calls[0].data);
    EXPECT_EQ(&calls, calls[0].context);
    EXPECT_EQ(&entryContext, calls[0].entryContext);
}

TEST_F(RtlQueryRegistryTest, MultiStringsAreSplitAndExpandStringsExpanded)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetValue(kPerformanceU, u"list", REG_MULTI_SZ,
                                               Utf16Bytes(std::u16string(u"one\0two\0", 8), true)));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetValue(kPerformanceU, u"path", REG_EXPAND_SZ,
                                               Utf16Bytes(u"%SystemRoot%\\x %NOPE%", true)));
    std::vector<Call> calls;
    RTL_QUERY_REGISTRY_TABLE table[3] = {};
    table[0] = {Record, 0, const_cast<PWSTR>(L"list"), nullptr, REG_NONE, nullptr, 0};
    table[1] = {Record, 0, const_cast<PWSTR>(L"path"), nullptr, REG_NONE, nullptr, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    ASSERT_EQ(3u, calls.size());
    EXPECT_EQ(ULONG(REG_SZ), calls[0].type);
    EXPECT_EQ(Utf16Bytes(u"one", true), calls[0].data);
    EXPECT_EQ(Utf16Bytes(u"two", true), calls[1].data);
    EXPECT_EQ(ULONG(REG_SZ), calls[2].type);
    EXPECT_EQ(Utf16Bytes(u"C:\\Windows\\x %NOPE%", true), calls[2].data);

    // NOEXPAND hands both over as stored.
    calls.clear();
    table[0].Flags = table[1].Flags = RTL_QUERY_REGISTRY_NOEXPAND;
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(ULONG(REG_MULTI_SZ), calls[0].type);
    EXPECT_EQ(ULONG(REG_EXPAND_SZ), calls[1].type);
    EXPECT_EQ(Utf16Bytes(u"%SystemRoot%\\x %NOPE%", true), calls[1].data);
}

TEST_F(RtlQueryRegistryTest, AFailingRoutineStopsTheQuery)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"a", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"b", 2));
    std::vector<Call> calls;
    RTL_QUERY_REGISTRY_TABLE table[3] = {};
    table[0] = {Refuse, 0, const_cast<PWSTR>(L"a"), nullptr, REG_NONE, nullptr, 0};
    table[1] = {Record, 0, const_cast<PWSTR>(L"b"), nullptr, REG_NONE, nullptr, 0};
    EXPECT_EQ(STATUS_INVALID_DEVICE_STATE,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    EXPECT_TRUE(calls.empty());
}

TEST_F(RtlQueryRegistryTest, ANullNameEnumeratesEveryValue)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"param1", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"param2", 2));
    std::vector<Call> calls;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {Record, 0, nullptr, nullptr, REG_NONE, nullptr, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(u"param1", calls[0].name);
    EXPECT_EQ(u"param2", calls[1].name);
}

TEST_F(RtlQueryRegistryTest, ADefaultReachesTheRoutineUnderTheEntrysName)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"other", 1));
    std::vector<Call> calls;
    WCHAR fallback[] = L"def";
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {Record, 0, const_cast<PWSTR>(L"missing"), nullptr, REG_SZ, fallback, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, &calls, nullptr));
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(u"missing", calls[0].name);
    EXPECT_EQ(ULONG(REG_SZ), calls[0].type);
    EXPECT_EQ(Utf16Bytes(u"def", true), calls[0].data); // zero length: measured
}

// ----- Keys, flags and relative roots

TEST_F(RtlQueryRegistryTest, SubkeyAndTopkeyEntriesMoveBetweenKeys)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"v", 1));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(std::u16string(kPerformanceU) + u"\\Sub", u"v", 2));
    ULONG top1 = 0, sub = 0, top2 = 0;
    RTL_QUERY_REGISTRY_TABLE table[6] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"v"), &top1, REG_NONE, nullptr, 0};
    table[1] = {
        nullptr, RTL_QUERY_REGISTRY_SUBKEY, const_cast<PWSTR>(L"Sub"), nullptr, REG_NONE, nullptr,
        0};
    table[2] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"v"), &sub, REG_NONE, nullptr, 0};
    table[3] = {nullptr, RTL_QUERY_REGISTRY_TOPKEY, nullptr, nullptr, REG_NONE, nullptr, 0};
    table[4] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"v"), &top2, REG_NONE, nullptr, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(1u, top1);
    EXPECT_EQ(2u, sub);
    EXPECT_EQ(1u, top2);
}

TEST_F(RtlQueryRegistryTest, DeleteFlagRemovesTheValueAfterReadingIt)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"once", 7));
    ULONG target = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {nullptr,
                RTL_QUERY_REGISTRY_DIRECT | RTL_QUERY_REGISTRY_DELETE,
                const_cast<PWSTR>(L"once"),
                &target,
                REG_NONE,
                nullptr,
                0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(7u, target);
    EXPECT_FALSE(Store().GetValue(kPerformanceU, u"once").has_value());
}

TEST_F(RtlQueryRegistryTest, MalformedTablesAreInvalid)
{
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"v", 1));
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"v"), nullptr, REG_NONE, nullptr, 0};
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    ULONG target;
    table[0] = {nullptr, RTL_QUERY_REGISTRY_DIRECT, nullptr, &target, REG_NONE, nullptr, 0};
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              RtlQueryRegistryValues(RTL_REGISTRY_ABSOLUTE, kPerformance, table, nullptr, nullptr));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              RtlQueryRegistryValues(RTL_REGISTRY_MAXIMUM, L"x", table, nullptr, nullptr));
}

TEST_F(RtlQueryRegistryTest, RelativeRootsAndHandlesNameTheRightKey)
{
    ASSERT_EQ(STATUS_SUCCESS,
              Store().SetDword(u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\quen",
                               u"v", 11));
    ASSERT_EQ(
        STATUS_SUCCESS,
        Store().SetDword(RegistryStore::CurrentUserPath() + u"\\SOFTWARE\\Norvane_Quen", u"v", 12));
    ASSERT_EQ(STATUS_SUCCESS, Store().SetDword(kPerformanceU, u"v", 13));
    ULONG target = 0;
    RTL_QUERY_REGISTRY_TABLE table[2] = {};
    table[0] = {
        nullptr, RTL_QUERY_REGISTRY_DIRECT, const_cast<PWSTR>(L"v"), &target, REG_NONE, nullptr, 0};
    ASSERT_EQ(STATUS_SUCCESS,
              RtlQueryRegistryValues(RTL_REGISTRY_SERVICES, L"quen", table, nullptr, nullptr));
    EXPECT_EQ(11u, target);
    ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_USER, L"SOFTWARE\\Norvane_Quen",
                                                     table, nullptr, nullptr));
    EXPECT_EQ(12u, target);

    HANDLE key = nullptr;
    ASSERT_EQ(STATUS_SUCCESS, OpenKeyByPath(kPerformance, KEY_READ, &key));
    ASSERT_EQ(STATUS_SUCCESS, RtlQueryRegistryValues(RTL_REGISTRY_HANDLE, static_cast<PCWSTR>(key),
                                                     table, nullptr, nullptr));
    EXPECT_EQ(13u, target);
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
    ASSERT_EQ(STATUS_SUCCESS, OpenKeyByPath(kPerformance, KEY_SET_VALUE, &key));
    EXPECT_EQ(STATUS_ACCESS_DENIED,
              RtlQueryRegistryValues(RTL_REGISTRY_HANDLE, static_cast<PCWSTR>(key), table, nullptr,
                                     nullptr));
    EXPECT_EQ(STATUS_SUCCESS, ZwClose(key));
}

TEST_F(RtlQueryRegistryTest, QueriesAbovePassiveLevelAreReported)
{
    ULONG first = 0, second = 0;
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    NTSTATUS status = ReadPair(&first, 4, &second, 8);
    KeLowerIrql(old);
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND, status);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
}

// ----- Writing, checking and creating keys

TEST_F(RtlQueryRegistryTest, WriteCreatesTheLastKeyAndStoresTheBytes)
{
    ULONG value = 20;
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kPerformance, L"param4", REG_DWORD,
                                    &value, sizeof value)); // ZEL is missing too
    ASSERT_EQ(STATUS_SUCCESS,
              RtlCreateRegistryKey(RTL_REGISTRY_ABSOLUTE,
                                   const_cast<PWSTR>(L"\\Registry\\Machine\\SOFTWARE\\ZEL")));
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              RtlCheckRegistryKey(RTL_REGISTRY_ABSOLUTE, const_cast<PWSTR>(kPerformance)));
    ASSERT_EQ(STATUS_SUCCESS, RtlWriteRegistryValue(RTL_REGISTRY_ABSOLUTE, kPerformance, L"param4",
                                                    REG_DWORD, &value, sizeof value));
    EXPECT_EQ(STATUS_SUCCESS,
              RtlCheckRegistryKey(RTL_REGISTRY_ABSOLUTE, const_cast<PWSTR>(kPerformance)));
    auto stored = Store().GetValue(kPerformanceU, u"param4");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(DwordBytes(20), stored->data);
    ASSERT_EQ(STATUS_SUCCESS,
              RtlDeleteRegistryValue(RTL_REGISTRY_ABSOLUTE, kPerformance, L"param4"));
    EXPECT_FALSE(Store().GetValue(kPerformanceU, u"param4").has_value());
    EXPECT_EQ(STATUS_OBJECT_NAME_NOT_FOUND,
              RtlDeleteRegistryValue(RTL_REGISTRY_ABSOLUTE, kPerformance, L"param4"));
}

} // namespace
