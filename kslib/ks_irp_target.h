// CKsIrpTarget: one kernel-streaming handle (a filter or a pin) and the requests sent on it. All
// device I/O is synchronous from the caller's view; a request the driver pends is waited for,
// within a time limit after which it is cancelled.
#pragma once

#include "quen_kslib_platform.h"

class CKsIrpTarget {
public:
    CKsIrpTarget() = default;
    CKsIrpTarget(const CKsIrpTarget &) = delete;
    CKsIrpTarget &operator=(const CKsIrpTarget &) = delete;

    HANDLE Handle() const { return m_handle; }
    // Null and INVALID_HANDLE_VALUE both mean "no handle".
    static bool IsValidHandle(HANDLE handle)
    {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }

    // DeviceIoControl on `handle`, waited for. A size query (IOCTL_KS_PROPERTY without output
    // buffer) answered with "more data" succeeds and reports the size needed in *bytesReturned;
    // every failure reports 0 bytes, and a success no more than the output buffer holds.
    HRESULT IssueIoctl(HANDLE handle, ULONG controlCode, PVOID input, ULONG inputSize, PVOID output,
                       ULONG outputSize, PULONG bytesReturned);

    // GET and SET of a property of this object; `extra` bytes follow the KSPROPERTY as instance
    // data, and the property's data travels in the output buffer either way.
    HRESULT QueryProperty(REFGUID set, ULONG id, PVOID data, ULONG dataSize, PVOID extra = nullptr,
                          ULONG extraSize = 0, PULONG bytesReturned = nullptr);
    HRESULT StoreProperty(REFGUID set, ULONG id, PVOID data, ULONG dataSize, PVOID extra = nullptr,
                          ULONG extraSize = 0);
    // A GET of a property of any size: the size is asked first, then the value is read into a
    // new buffer (delete[]) of that size. S_OK without a buffer when the size is 0.
    HRESULT QueryPropertyAlloc(REFGUID set, ULONG id, PBYTE *buffer, PULONG size);

    // How long a request the driver has pended may take before it is cancelled.
    static constexpr DWORD kRequestTimeoutMs = 5000;

protected:
    // A property request to the handle: the request header (and instance data) in, the data out.
    HRESULT PropertyRequest(HANDLE handle, const void *request, ULONG requestSize, PVOID data,
                            ULONG dataSize, PULONG bytesReturned);
    // Sends `request` once with no output to learn the value's size, then again into a new buffer.
    HRESULT PropertyRequestAlloc(HANDLE handle, const void *request, ULONG requestSize,
                                 PBYTE *buffer, PULONG size);
    // Closes the handle if one is held and marks it absent.
    void CloseTargetHandle();

    HANDLE m_handle = INVALID_HANDLE_VALUE;
};
