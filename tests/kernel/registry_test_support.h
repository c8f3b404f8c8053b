// Helpers the registry tests share: opening keys by absolute path through the Zw* entry points
// and reading values back from the machine's store.
#pragma once

#include "kernel/registry_store.h"

#include <wdm/rtl.h>
#include <wdm/zw.h>

#include <string>
#include <vector>

inline UNICODE_STRING Ustr(PCWSTR text)
{
    UNICODE_STRING s;
    RtlInitUnicodeString(&s, text);
    return s;
}

inline NTSTATUS OpenKeyByPath(PCWSTR path, ACCESS_MASK access, HANDLE *handle,
                              ULONG attributes = OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE)
{
    UNICODE_STRING name = Ustr(path);
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, attributes, nullptr, nullptr);
    return ZwOpenKey(handle, access, &oa);
}

inline NTSTATUS CreateKeyByPath(PCWSTR path, ACCESS_MASK access, HANDLE *handle,
                                ULONG *disposition = nullptr, ULONG options = 0)
{
    UNICODE_STRING name = Ustr(path);
    OBJECT_ATTRIBUTES oa;
    InitializeObjectAttributes(&oa, &name, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, nullptr,
                               nullptr);
    return ZwCreateKey(handle, access, &oa, 0, nullptr, options, disposition);
}

// Little-endian bytes of UTF-16 text, with or without its terminating zero.
inline std::vector<UCHAR> Utf16Bytes(const std::u16string &text, bool terminated)
{
    std::vector<UCHAR> bytes;
    for (char16_t c : terminated ? text + u'\0' : text) {
        bytes.push_back(static_cast<UCHAR>(c & 0xFF));
        bytes.push_back(static_cast<UCHAR>(c >> 8));
    }
    return bytes;
}

inline std::vector<UCHAR> DwordBytes(ULONG value)
{
    return {static_cast<UCHAR>(value), static_cast<UCHAR>(value >> 8),
            static_cast<UCHAR>(value >> 16), static_cast<UCHAR>(value >> 24)};
}
