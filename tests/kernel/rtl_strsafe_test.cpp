// ntstrsafe routines: truncation with STATUS_BUFFER_OVERFLOW, termination, invalid sizes and
// Windows printf formatting into WCHAR buffers.
#include <gtest/gtest.h>

#include "kernel/wide_string.h"

#include <ntstrsafe.h>

#include <algorithm>

namespace {

std::u16string Text(const WCHAR *s) { return host::ToU16(s); }

TEST(RtlStringSafeCopy, CopiesWhatFitsAndAlwaysTerminates)
{
    WCHAR dest[5];
    EXPECT_EQ(STATUS_SUCCESS, RtlStringCchCopyW(dest, 5, L"Wave"));
    EXPECT_EQ(u"Wave", Text(dest));
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCchCopyW(dest, 5, L"Speakers"));
    EXPECT_EQ(u"Spea", Text(dest));
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCbCopyW(dest, 6, L"Speakers")); // three chars
    EXPECT_EQ(u"Sp", Text(dest));
    EXPECT_EQ(STATUS_SUCCESS, RtlStringCchCopyW(dest, 1, L""));
    EXPECT_EQ(0, dest[0]);
}

TEST(RtlStringSafeCopy, AnInvalidDestinationSizeLeavesTheBufferAlone)
{
    WCHAR dest[4] = {L'x', L'y', 0, 0};
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchCopyW(dest, 0, L"a"));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCbCopyW(dest, 1, L"a"));
    EXPECT_EQ(STATUS_INVALID_PARAMETER,
              RtlStringCchCopyW(dest, size_t(NTSTRSAFE_MAX_CCH) + 1, L"a"));
    EXPECT_EQ(u"xy", Text(dest));
}

TEST(RtlStringSafeLength, FailsWhenNoTerminatorLiesWithinTheLimit)
{
    const WCHAR text[] = {L'a', L'b', L'c', 0};
    size_t length = 99;
    EXPECT_EQ(STATUS_SUCCESS, RtlStringCchLengthW(text, 4, &length));
    EXPECT_EQ(3u, length);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchLengthW(text, 3, &length));
    EXPECT_EQ(0u, length);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchLengthW(nullptr, 3, &length));
    EXPECT_EQ(STATUS_SUCCESS, RtlStringCbLengthW(text, 8, &length));
    EXPECT_EQ(6u, length);
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCbLengthW(text, 6, &length));
}

TEST(RtlStringSafePrintf, FormatsWithWindowsConversions)
{
    WCHAR dest[128];
    UNICODE_STRING name;
    name.Buffer = const_cast<PWSTR>(L"Wave-ignored");
    name.Length = 8;
    name.MaximumLength = 8;
    ASSERT_EQ(STATUS_SUCCESS, RtlStringCchPrintfW(dest, 128, L"%s|%S|%wZ|%lu|%I64X|%04x|%c|%-3d|",
                                                  L"wide", "narrow", &name, ULONG(4000000000u),
                                                  ULONGLONG(0x1122334455667788ull), 0xAB, L'Q', 7));
    EXPECT_EQ(u"wide|narrow|Wave|4000000000|1122334455667788|00ab|Q|7  |", Text(dest));
}

TEST(RtlStringSafePrintf, TruncatesAndTerminates)
{
    WCHAR dest[6];
    EXPECT_EQ(STATUS_BUFFER_OVERFLOW, RtlStringCchPrintfW(dest, 6, L"%u Hz", 48000u));
    EXPECT_EQ(u"48000", Text(dest));
    EXPECT_EQ(STATUS_SUCCESS, RtlStringCbPrintfW(dest, sizeof dest, L"%u", 48000u));
    EXPECT_EQ(u"48000", Text(dest));
    EXPECT_EQ(STATUS_INVALID_PARAMETER, RtlStringCchPrintfW(dest, 0, L"x"));
}

} // namespace
