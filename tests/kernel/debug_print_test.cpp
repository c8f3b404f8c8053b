// DbgPrint/DbgPrintEx into the machine's debug log with the kernel's format rules, and ASSERT
// failures reported by the verifier.
#include "kernel_fixture.h"

#include "kernel/debug_log.h"

#include <wdm/rtl.h>

#include <string>

namespace {

class DebugPrintTest : public KernelTest {
protected:
    host::DebugLog &Log() { return host::DebugLogOf(M()); }
};

TEST_F(DebugPrintTest, DbgPrintWritesTheFormattedMessageToTheMachinesLog)
{
    DbgPrint("UsbAudio!DriverEntry\n");
    ASSERT_EQ(1u, Log().Messages().size());
    EXPECT_EQ("UsbAudio!DriverEntry\n", Log().Text());
    EXPECT_EQ(ULONG(DPFLTR_DEFAULT_ID), Log().Messages()[0].componentId);
}

TEST_F(DebugPrintTest, FormatsFollowTheKernelsRules)
{
    UNICODE_STRING wide;
    RtlInitUnicodeString(&wide, L"Wave");
    ANSI_STRING ansi;
    RtlInitAnsiString(&ansi, "PcCr");
    DbgPrint("%s %S %ws %wZ %Z|%ld %lu %lx|%I64d %llx|%08X|%c%C|%5s|%-5s|%.2s|%%\n", "a", L"b",
             L"c", &wide, &ansi, LONG(-1), ULONG(4294967295u), ULONG(0xABCDEF01u), LONGLONG(-5),
             ULONGLONG(0x100000000ull), 0xBEEFu, 'x', L'y', "r", "l", "trunc");
    EXPECT_EQ("a b c Wave PcCr|-1 4294967295 abcdef01|-5 100000000|0000BEEF|xy|    r|l    |tr|%\n",
              Log().Text());
}

TEST_F(DebugPrintTest, PointersPrintAsSixteenUpperCaseHexDigits)
{
    DbgPrint("%p", reinterpret_cast<void *>(0xfffff80012345678ull));
    EXPECT_EQ("FFFFF80012345678", Log().Text());
}

TEST_F(DebugPrintTest, DbgPrintExRecordsComponentAndLevel)
{
    DbgPrintEx(DPFLTR_IHVAUDIO_ID, DPFLTR_ERROR_LEVEL, "stall on pipe %u\n", 3u);
    KdPrint(("rate %u\n", 44100u));
    auto messages = Log().Messages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(ULONG(DPFLTR_IHVAUDIO_ID), messages[0].componentId);
    EXPECT_EQ(ULONG(DPFLTR_ERROR_LEVEL), messages[0].level);
    EXPECT_EQ("stall on pipe 3\n", messages[0].text);
    EXPECT_EQ("rate 44100\n", messages[1].text);
}

TEST_F(DebugPrintTest, TheComponentFilterMaskDecidesWhatGetsThrough)
{
    // Level 0-31 is one bit of the component's mask, a larger level a mask of its own.
    struct Case {
        ULONG setLevel;
        BOOLEAN on;
        ULONG printLevel;
        bool logged;
    } cases[] = {
        {DPFLTR_TRACE_LEVEL, FALSE, DPFLTR_TRACE_LEVEL, false},
        {DPFLTR_TRACE_LEVEL, FALSE, DPFLTR_ERROR_LEVEL, true},
        {0x1FF, FALSE, 0x104, false},
        {0x1FF, FALSE, 0x300, true},
        {0x1FF, FALSE, DPFLTR_INFO_LEVEL, false},
        {DPFLTR_TRACE_LEVEL, TRUE, DPFLTR_TRACE_LEVEL, true},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(STATUS_SUCCESS, DbgSetDebugFilterState(DPFLTR_IHVAUDIO_ID, c.setLevel, c.on));
        const size_t before = Log().Messages().size();
        DbgPrintEx(DPFLTR_IHVAUDIO_ID, c.printLevel, "message\n");
        DbgPrintEx(DPFLTR_IHVBUS_ID, c.printLevel, "other component\n");
        EXPECT_EQ(before + (c.logged ? 2 : 1), Log().Messages().size()) << c.setLevel;
        ASSERT_EQ(STATUS_SUCCESS, DbgSetDebugFilterState(DPFLTR_IHVAUDIO_ID, ~ULONG(0), TRUE));
    }
    EXPECT_EQ(STATUS_INVALID_PARAMETER_1, DbgSetDebugFilterState(500, DPFLTR_ERROR_LEVEL, FALSE));
}

TEST_F(DebugPrintTest, AMessageIsLimitedToWhatTheKernelTransmits)
{
    std::string longText(700, 'z');
    DbgPrint("%s", longText.c_str());
    EXPECT_EQ(512u, Log().Text().size());
}

TEST_F(DebugPrintTest, EachMachineHasItsOwnLog)
{
    DbgPrint("first machine\n");
    host::Machine other;
    {
        host::ThreadAttachment attach(other, "other");
        DbgPrint("second machine\n");
    }
    EXPECT_EQ("first machine\n", Log().Text());
    EXPECT_EQ("second machine\n", host::DebugLogOf(other).Text());
    other.PowerOff();
}

TEST_F(DebugPrintTest, AFailedAssertIsReportedAndLogged)
{
    int streams = 2;
    ASSERT(streams == 2);
    EXPECT_TRUE(M().Checks().Reports().empty());
    ASSERT(streams == 1);
    auto reports = Take(host::VerifierCheck::Usage);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("streams == 1"));
    EXPECT_TRUE(Log().Contains("Assertion failed: streams == 1"));
}

} // namespace
