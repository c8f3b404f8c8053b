// Integers and GUIDs to and from UNICODE_STRINGs.
#include "rtl_string_pool.h"

#include <wdm/rtl.h>

#include <cstdio>

namespace {

bool IsSupportedBase(ULONG base) { return base == 2 || base == 8 || base == 10 || base == 16; }

int DigitValue(WCHAR c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

// Reads `digits` hex digits at text[*at]; false if any is not a hex digit.
bool ReadHex(const WCHAR *text, size_t *at, int digits, ULONG *value)
{
    *value = 0;
    for (int i = 0; i < digits; ++i) {
        int digit = DigitValue(text[(*at)++]);
        if (digit >= 16)
            return false;
        *value = (*value << 4) | static_cast<ULONG>(digit);
    }
    return true;
}

bool Expect(const WCHAR *text, size_t *at, WCHAR c) { return text[(*at)++] == c; }

} // namespace

extern "C" {

NTSTATUS RtlIntegerToUnicodeString(ULONG Value, ULONG Base, PUNICODE_STRING String)
{
    if (Base == 0)
        Base = 10;
    if (!IsSupportedBase(Base))
        return STATUS_INVALID_PARAMETER;
    WCHAR digits[32];
    size_t count = 0;
    do {
        ULONG digit = Value % Base;
        digits[count++] = static_cast<WCHAR>(digit < 10 ? '0' + digit : 'A' + digit - 10);
        Value /= Base;
    } while (Value != 0);
    const size_t bytes = count * sizeof(WCHAR);
    // The terminator must fit as well.
    if (bytes >= String->MaximumLength)
        return STATUS_BUFFER_OVERFLOW;
    for (size_t i = 0; i < count; ++i)
        String->Buffer[i] = digits[count - 1 - i];
    String->Length = static_cast<USHORT>(bytes);
    if (bytes + sizeof(WCHAR) <= String->MaximumLength)
        String->Buffer[count] = 0;
    return STATUS_SUCCESS;
}

NTSTATUS RtlUnicodeStringToInteger(PCUNICODE_STRING String, ULONG Base, PULONG Value)
{
    const WCHAR *text = String->Buffer;
    const size_t chars = String->Length / sizeof(WCHAR);
    size_t i = 0;
    while (i < chars && text[i] <= ' ')
        ++i;
    bool negative = false;
    if (i < chars && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (Base == 0) {
        Base = 10;
        if (i + 1 < chars && text[i] == '0') {
            switch (text[i + 1]) {
            case 'x':
            case 'X':
                Base = 16;
                i += 2;
                break;
            case 'o':
            case 'O':
                Base = 8;
                i += 2;
                break;
            case 'b':
            case 'B':
                Base = 2;
                i += 2;
                break;
            default: break;
            }
        }
    } else if (!IsSupportedBase(Base)) {
        return STATUS_INVALID_PARAMETER;
    }
    ULONG result = 0;
    for (; i < chars; ++i) {
        int digit = DigitValue(text[i]);
        if (digit >= static_cast<int>(Base))
            break;
        result = result * Base + static_cast<ULONG>(digit);
    }
    *Value = negative ? 0u - result : result;
    return STATUS_SUCCESS;
}

NTSTATUS RtlStringFromGUID(REFGUID Guid, PUNICODE_STRING GuidString)
{
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  Guid.Data1, Guid.Data2, Guid.Data3, Guid.Data4[0], Guid.Data4[1], Guid.Data4[2],
                  Guid.Data4[3], Guid.Data4[4], Guid.Data4[5], Guid.Data4[6], Guid.Data4[7]);
    constexpr size_t kChars = 38;
    auto *buffer = static_cast<PWSTR>(host::AllocateRtlString((kChars + 1) * sizeof(WCHAR)));
    if (buffer == nullptr)
        return STATUS_NO_MEMORY;
    for (size_t i = 0; i <= kChars; ++i)
        buffer[i] = static_cast<WCHAR>(text[i]);
    RtlInitEmptyUnicodeString(GuidString, buffer, (kChars + 1) * sizeof(WCHAR));
    GuidString->Length = kChars * sizeof(WCHAR);
    return STATUS_SUCCESS;
}

NTSTATUS RtlGUIDFromString(PCUNICODE_STRING GuidString, GUID *Guid)
{
    // Exactly "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}", hex digits in either case.
    if (GuidString->Length != 38 * sizeof(WCHAR))
        return STATUS_INVALID_PARAMETER;
    const WCHAR *text = GuidString->Buffer;
    size_t at = 0;
    ULONG data1, data2, data3, byte;
    GUID guid;
    bool ok = Expect(text, &at, '{') && ReadHex(text, &at, 8, &data1) && Expect(text, &at, '-') &&
              ReadHex(text, &at, 4, &data2) && Expect(text, &at, '-') &&
              ReadHex(text, &at, 4, &data3) && Expect(text, &at, '-');
    for (int i = 0; ok && i < 8; ++i) {
        if (i == 2)
            ok = Expect(text, &at, '-');
        ok = ok && ReadHex(text, &at, 2, &byte);
        guid.Data4[i] = static_cast<UCHAR>(byte);
    }
    if (!ok || !Expect(text, &at, '}'))
        return STATUS_INVALID_PARAMETER;
    guid.Data1 = data1;
    guid.Data2 = static_cast<USHORT>(data2);
    guid.Data3 = static_cast<USHORT>(data3);
    *Guid = guid;
    return STATUS_SUCCESS;
}

} // extern "C"
