// Counted strings (UNICODE_STRING, ANSI_STRING): initialisation, copy, append, comparison, case,
// ANSI conversion and freeing. Lengths are in bytes; a terminator is written only where the
// buffer has room for it beyond Length, as on Windows.
#include "rtl_string_pool.h"
#include "wide_string.h"

#include <wdm/rtl.h>

#include <algorithm>

namespace {

constexpr USHORT kMaximumUnicodeBytes = 0xFFFE; // MAX_USTRING

void TerminateIfRoom(PUNICODE_STRING string)
{
    if (static_cast<ULONG>(string->Length) + sizeof(WCHAR) <= string->MaximumLength)
        string->Buffer[string->Length / sizeof(WCHAR)] = 0;
}

NTSTATUS Append(PUNICODE_STRING destination, const WCHAR *source, size_t bytes)
{
    if (bytes == 0)
        return STATUS_SUCCESS;
    if (destination->Length + bytes > destination->MaximumLength)
        return STATUS_BUFFER_TOO_SMALL;
    std::memmove(destination->Buffer + destination->Length / sizeof(WCHAR), source, bytes);
    destination->Length = static_cast<USHORT>(destination->Length + bytes);
    TerminateIfRoom(destination);
    return STATUS_SUCCESS;
}

WCHAR Fold(WCHAR c, BOOLEAN caseInsensitive)
{
    return caseInsensitive ? static_cast<WCHAR>(host::UpcaseChar(static_cast<char16_t>(c))) : c;
}

} // namespace

extern "C" {

void RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString)
{
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    size_t bytes = std::min<size_t>(host::WideLength(SourceString) * sizeof(WCHAR),
                                    kMaximumUnicodeBytes - sizeof(WCHAR));
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
}

void RtlInitAnsiString(PANSI_STRING DestinationString, PCSTR SourceString)
{
    DestinationString->Buffer = const_cast<PCHAR>(SourceString);
    if (SourceString == nullptr) {
        DestinationString->Length = DestinationString->MaximumLength = 0;
        return;
    }
    size_t bytes = std::min<size_t>(std::char_traits<char>::length(SourceString), MAXUSHORT - 1);
    DestinationString->Length = static_cast<USHORT>(bytes);
    DestinationString->MaximumLength = static_cast<USHORT>(bytes + 1);
}

void RtlCopyUnicodeString(PUNICODE_STRING DestinationString, PCUNICODE_STRING SourceString)
{
    if (SourceString == nullptr) {
        DestinationString->Length = 0;
        return;
    }
    USHORT bytes = std::min(SourceString->Length, DestinationString->MaximumLength);
    std::memmove(DestinationString->Buffer, SourceString->Buffer, bytes);
    DestinationString->Length = bytes;
    TerminateIfRoom(DestinationString);
}

NTSTATUS RtlAppendUnicodeToString(PUNICODE_STRING Destination, PCWSTR Source)
{
    if (Source == nullptr)
        return STATUS_SUCCESS;
    return Append(Destination, Source, host::WideLength(Source) * sizeof(WCHAR));
}

NTSTATUS RtlAppendUnicodeStringToString(PUNICODE_STRING Destination, PCUNICODE_STRING Source)
{
    return Append(Destination, Source->Buffer, Source->Length);
}

LONG RtlCompareUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                             BOOLEAN CaseInSensitive)
{
    size_t chars = std::min(String1->Length, String2->Length) / sizeof(WCHAR);
    for (size_t i = 0; i < chars; ++i) {
        WCHAR a = Fold(String1->Buffer[i], CaseInSensitive);
        WCHAR b = Fold(String2->Buffer[i], CaseInSensitive);
        if (a != b)
            return static_cast<LONG>(a) - static_cast<LONG>(b);
    }
    return static_cast<LONG>(String1->Length) - static_cast<LONG>(String2->Length);
}

BOOLEAN RtlEqualUnicodeString(PCUNICODE_STRING String1, PCUNICODE_STRING String2,
                              BOOLEAN CaseInSensitive)
{
    return String1->Length == String2->Length &&
           RtlCompareUnicodeString(String1, String2, CaseInSensitive) == 0;
}

WCHAR RtlUpcaseUnicodeChar(WCHAR SourceCharacter) { return Fold(SourceCharacter, TRUE); }

void RtlFreeUnicodeString(PUNICODE_STRING UnicodeString)
{
    if (UnicodeString->Buffer != nullptr)
        host::FreeRtlString(UnicodeString->Buffer);
    RtlInitEmptyUnicodeString(UnicodeString, nullptr, 0);
}

void RtlFreeAnsiString(PANSI_STRING AnsiString)
{
    if (AnsiString->Buffer != nullptr)
        host::FreeRtlString(AnsiString->Buffer);
    AnsiString->Buffer = nullptr;
    AnsiString->Length = AnsiString->MaximumLength = 0;
}

NTSTATUS RtlUnicodeStringToAnsiString(PANSI_STRING DestinationString, PCUNICODE_STRING SourceString,
                                      BOOLEAN AllocateDestinationString)
{
    const size_t chars = SourceString->Length / sizeof(WCHAR);
    if (chars + 1 > MAXUSHORT)
        return STATUS_INVALID_PARAMETER_2;
    NTSTATUS status = STATUS_SUCCESS;
    size_t converted = chars;
    if (AllocateDestinationString) {
        DestinationString->Buffer = static_cast<PCHAR>(host::AllocateRtlString(chars + 1));
        if (DestinationString->Buffer == nullptr)
            return STATUS_NO_MEMORY;
        DestinationString->MaximumLength = static_cast<USHORT>(chars + 1);
    } else if (chars >= DestinationString->MaximumLength) {
        // What fits is converted, and still terminated.
        if (DestinationString->MaximumLength == 0)
            return STATUS_BUFFER_OVERFLOW;
        converted = DestinationString->MaximumLength - 1u;
        status = STATUS_BUFFER_OVERFLOW;
    }
    for (size_t i = 0; i < converted; ++i) {
        WCHAR c = SourceString->Buffer[i];
        DestinationString->Buffer[i] = c <= 0xFF ? static_cast<CHAR>(c) : '?';
    }
    DestinationString->Buffer[converted] = 0;
    DestinationString->Length = static_cast<USHORT>(converted);
    return status;
}

NTSTATUS RtlAnsiStringToUnicodeString(PUNICODE_STRING DestinationString, PCANSI_STRING SourceString,
                                      BOOLEAN AllocateDestinationString)
{
    const size_t bytes = SourceString->Length * sizeof(WCHAR);
    if (bytes + sizeof(WCHAR) > MAXUSHORT)
        return STATUS_INVALID_PARAMETER_2;
    if (AllocateDestinationString) {
        DestinationString->Buffer =
            static_cast<PWSTR>(host::AllocateRtlString(bytes + sizeof(WCHAR)));
        if (DestinationString->Buffer == nullptr)
            return STATUS_NO_MEMORY;
        DestinationString->MaximumLength = static_cast<USHORT>(bytes + sizeof(WCHAR));
    } else if (bytes >= DestinationString->MaximumLength) {
        return STATUS_BUFFER_OVERFLOW;
    }
    for (size_t i = 0; i < SourceString->Length; ++i)
        DestinationString->Buffer[i] = static_cast<UCHAR>(SourceString->Buffer[i]);
    DestinationString->Length = static_cast<USHORT>(bytes);
    TerminateIfRoom(DestinationString);
    return STATUS_SUCCESS;
}

} // extern "C"
