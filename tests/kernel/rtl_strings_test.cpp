// Counted-string routines: lengths, truncation and termination rules, comparison, ANSI
// conversion, integers and GUIDs.
#include "kernel_fixture.h"

#include <wdm/rtl.h>

namespace {

using RtlStringTest = KernelTest;

TEST_F(RtlStringTest, InitMeasuresInBytesWithRoomForTheTerminator)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, L"Wave");
    EXPECT_EQ(8u, s.Length);
    EXPECT_EQ(10u, s.MaximumLength);
    RtlInitUnicodeString(&s, nullptr);
    EXPECT_EQ(0u, s.Length);
    EXPECT_EQ(0u, s.MaximumLength);
    EXPECT_EQ(nullptr, s.Buffer);
    ANSI_STRING a;
    RtlInitAnsiString(&a, "USBA");
    EXPECT_EQ(4u, a.Length);
    EXPECT_EQ(5u, a.MaximumLength);
}

TEST_F(RtlStringTest, CopyTruncatesToTheDestinationAndTerminatesOnlyWithRoom)
{
    UNICODE_STRING source;
    RtlInitUnicodeString(&source, L"abcdef");
    WCHAR storage[8];
    std::fill(std::begin(storage), std::end(storage), L'#');
    UNICODE_STRING dest;
    RtlInitEmptyUnicodeString(&dest, storage, 8); // four characters
    RtlCopyUnicodeString(&dest, &source);
    EXPECT_EQ(8u, dest.Length);
    EXPECT_EQ(L'd', storage[3]);
    EXPECT_EQ(L'#', storage[4]); // no room, no terminator
    RtlInitEmptyUnicodeString(&dest, storage, sizeof storage);
    RtlCopyUnicodeString(&dest, &source);
    EXPECT_EQ(12u, dest.Length);
    EXPECT_EQ(0, storage[6]);
    RtlCopyUnicodeString(&dest, nullptr);
    EXPECT_EQ(0u, dest.Length);
}

TEST_F(RtlStringTest, AppendFailsWholeWhenItDoesNotFit)
{
    WCHAR storage[6];
    UNICODE_STRING dest;
    RtlInitEmptyUnicodeString(&dest, storage, sizeof storage);
    ASSERT_EQ(STATUS_SUCCESS, RtlAppendUnicodeToString(&dest, L"ab"));
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, RtlAppendUnicodeToString(&dest, L"cdefg"));
    EXPECT_EQ(4u, dest.Length);
    UNICODE_STRING tail;
    RtlInitUnicodeString(&tail, L"cde");
    ASSERT_EQ(STATUS_SUCCESS, RtlAppendUnicodeStringToString(&dest, &tail));
    EXPECT_EQ(10u, dest.Length);
    EXPECT_EQ(0, storage[5]);
    RtlInitUnicodeString(&tail, L"fg");
    EXPECT_EQ(STATUS_BUFFER_TOO_SMALL, RtlAppendUnicodeStringToString(&dest, &tail));
    EXPECT_EQ(10u, dest.Length);
    RtlInitUnicodeString(&tail, L"f");
    EXPECT_EQ(STATUS_SUCCESS, RtlAppendUnicodeStringToString(&dest, &tail)); // exactly full
    EXPECT_EQ(12u, dest.Length);
    EXPECT_EQ(STATUS_SUCCESS, RtlAppendUnicodeToString(&dest, nullptr));
}

TEST_F(RtlStringTest, ComparisonHonoursCaseInsensitivityForLatin1)
{
    UNICODE_STRING a, b, c;
    RtlInitUnicodeString(&a, L"Caf\u00e9 Wave");
    RtlInitUnicodeString(&b, L"CAF\u00c9 WAVE");
    RtlInitUnicodeString(&c, L"Caf\u00e9");
    EXPECT_TRUE(RtlEqualUnicodeString(&a, &b, TRUE));
    EXPECT_FALSE(RtlEqualUnicodeString(&a, &b, FALSE));
    EXPECT_EQ(0, RtlCompareUnicodeString(&a, &b, TRUE));
    EXPECT_GT(RtlCompareUnicodeString(&a, &b, FALSE), 0);
    EXPECT_GT(RtlCompareUnicodeString(&a, &c, TRUE), 0); // longer after a common prefix
    EXPECT_LT(RtlCompareUnicodeString(&c, &a, TRUE), 0);
    EXPECT_EQ(L'\u0178', RtlUpcaseUnicodeChar(L'\u00ff'));
    EXPECT_EQ(L'\u00f7', RtlUpcaseUnicodeChar(L'\u00f7'));
}

TEST_F(RtlStringTest, AnsiConversionsAllocateOrTruncate)
{
    UNICODE_STRING wide;
    RtlInitUnicodeString(&wide, L"Quen \u20ac");
    ANSI_STRING ansi;
    ASSERT_EQ(STATUS_SUCCESS, RtlUnicodeStringToAnsiString(&ansi, &wide, TRUE));
    EXPECT_EQ(6u, ansi.Length);
    EXPECT_STREQ("Quen ?", ansi.Buffer);
    RtlFreeAnsiString(&ansi);

    char small[4];
    ansi.Buffer = small;
    ansi.Length = 0;
    ansi.MaximumLength = sizeof small;
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlUnicodeStringToAnsiString(&ansi, &wide, FALSE));
    EXPECT_EQ(3u, ansi.Length);
    EXPECT_STREQ("Que", small);

    ANSI_STRING source;
    RtlInitAnsiString(&source, "Wave");
    UNICODE_STRING back;
    ASSERT_EQ(STATUS_SUCCESS, RtlAnsiStringToUnicodeString(&back, &source, TRUE));
    UNICODE_STRING expected;
    RtlInitUnicodeString(&expected, L"Wave");
    EXPECT_TRUE(RtlEqualUnicodeString(&back, &expected, FALSE));
    EXPECT_EQ(0, back.Buffer[4]);
    RtlFreeUnicodeString(&back);

    WCHAR four[4];
    RtlInitEmptyUnicodeString(&back, four, sizeof four);
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlAnsiStringToUnicodeString(&back, &source, FALSE));
}

TEST_F(RtlStringTest, IntegersConvertInEveryBaseAndNeedRoomForTheTerminator)
{
    WCHAR storage[9];
    UNICODE_STRING s;
    RtlInitEmptyUnicodeString(&s, storage, sizeof storage);
    ASSERT_EQ(STATUS_SUCCESS, RtlIntegerToUnicodeString(48000, 0, &s));
    UNICODE_STRING expected;
    RtlInitUnicodeString(&expected, L"48000");
    EXPECT_TRUE(RtlEqualUnicodeString(&s, &expected, FALSE));
    ASSERT_EQ(STATUS_SUCCESS, RtlIntegerToUnicodeString(0xBEEF, 16, &s));
    RtlInitUnicodeString(&expected, L"BEEF");
    EXPECT_TRUE(RtlEqualUnicodeString(&s, &expected, FALSE));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlIntegerToUnicodeString(1, 7, &s));
    RtlInitEmptyUnicodeString(&s, storage, 8); // four characters, no room for a terminator
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlIntegerToUnicodeString(1234, 10, &s));
    ASSERT_EQ(STATUS_SUCCESS, RtlIntegerToUnicodeString(123, 10, &s));
    EXPECT_EQ(6u, s.Length);
}

TEST_F(RtlStringTest, ParsingIntegersFollowsPrefixesSignsAndStopsAtJunk)
{
    auto parse = [](PCWSTR text, ULONG base, ULONG *value) {
        UNICODE_STRING s;
        RtlInitUnicodeString(&s, text);
        return RtlUnicodeStringToInteger(&s, base, value);
    };
    ULONG value = 0;
    EXPECT_EQ(STATUS_SUCCESS, parse(L"  384000", 0, &value));
    EXPECT_EQ(384000u, value);
    EXPECT_EQ(STATUS_SUCCESS, parse(L"0x1F", 0, &value));
    EXPECT_EQ(31u, value);
    EXPECT_EQ(STATUS_SUCCESS, parse(L"0b101", 0, &value));
    EXPECT_EQ(5u, value);
    EXPECT_EQ(STATUS_SUCCESS, parse(L"-2", 10, &value));
    EXPECT_EQ(0xFFFFFFFEu, value);
    EXPECT_EQ(STATUS_SUCCESS, parse(L"12ms", 10, &value));
    EXPECT_EQ(12u, value);
    EXPECT_EQ(STATUS_SUCCESS, parse(L"ff", 16, &value));
    EXPECT_EQ(255u, value);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, parse(L"1", 3, &value));
}

TEST_F(RtlStringTest, GuidsRoundTripThroughTheirRegistryForm)
{
    const GUID media = {
        0x4d36e96c, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};
    UNICODE_STRING text;
    ASSERT_EQ(STATUS_SUCCESS, RtlStringFromGUID(media, &text));
    UNICODE_STRING expected;
    RtlInitUnicodeString(&expected, L"{4D36E96C-E325-11CE-BFC1-08002BE10318}");
    EXPECT_TRUE(RtlEqualUnicodeString(&text, &expected, FALSE));
    GUID parsed = {};
    RtlInitUnicodeString(&expected, L"{4d36e96c-e325-11ce-bfc1-08002be10318}");
    ASSERT_EQ(STATUS_SUCCESS, RtlGUIDFromString(&expected, &parsed));
    EXPECT_EQ(media, parsed);
    RtlFreeUnicodeString(&text);

    for (PCWSTR bad :
         {L"4D36E96C-E325-11CE-BFC1-08002BE10318", L"{4D36E96C-E325-11CE-BFC1-08002BE1031G}",
          L"{4D36E96C-E325-11CE+BFC1-08002BE10318}"}) {
        RtlInitUnicodeString(&expected, bad);
        EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlGUIDFromString(&expected, &parsed));
    }
}

TEST_F(RtlStringTest, MemoryHelpersBehaveAsTheCLibrary)
{
    UCHAR a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    UCHAR b[8];
    RtlCopyMemory(b, a, sizeof a);
    EXPECT_TRUE(RtlEqualMemory(a, b, sizeof a));
    b[5] = 0;
    EXPECT_EQ(5u, RtlCompareMemory(a, b, sizeof a));
    RtlFillMemory(b, 4, 0xAB);
    EXPECT_EQ(0xAB, b[3]);
    RtlMoveMemory(a + 1, a, 4);
    EXPECT_EQ(1, a[1]);
    EXPECT_EQ(4, a[4]);
    RtlZeroMemory(a, sizeof a);
    EXPECT_EQ(0u, RtlCompareMemory(a, b, sizeof a));
}

} // namespace
