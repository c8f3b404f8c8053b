// What a user process needs to reach the driver the way the ASIO driver does: the "Wave" filter
// through SetupAPI, pins made by the KS client library, and the private property set sent raw
// with DeviceIoControl, so that a test can send anything a hostile caller could. Shared by the
// tests and the property fuzzer; the calling thread must be in a user process.
#pragma once

#include "ks_aud_filter.h"
#include "ks_aud_pin.h"

#include <ks.h>
#include <setupapi.h>
#include <windows.h>

#include "asio/asio_private_properties.h"
#include "kslib/pcm_format.h"

#include <cstring>
#include <memory>
#include <vector>

namespace asio_kernel_tests {

using Bytes = std::vector<UCHAR>;

// The RV-D3 records 24-bit samples only.
constexpr WORD kCaptureBits = 24;

// What a request returned: the Win32 error (0 for success) and the bytes the driver reported.
struct Reply {
    DWORD error;
    DWORD returned;
};

// The device's audio filter, opened by its SetupAPI path, with its pins listed; null if it
// cannot be.
inline std::unique_ptr<CKsAudFilter2> OpenFilter()
{
    HDEVINFO set = SetupDiGetClassDevsW(&KSCATEGORY_AUDIO, nullptr, nullptr,
                                        DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data = {};
    data.cbSize = sizeof data;
    std::unique_ptr<CKsAudFilter2> filter;
    if (set != INVALID_HANDLE_VALUE &&
        SetupDiEnumDeviceInterfaces(set, nullptr, &KSCATEGORY_AUDIO, 0, &data)) {
        DWORD needed = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &needed, nullptr);
        std::vector<BYTE> detail(needed);
        auto d = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail.data());
        d->cbSize = sizeof *d;
        HRESULT status = E_FAIL;
        if (SetupDiGetDeviceInterfaceDetailW(set, &data, d, needed, nullptr, nullptr)) {
            filter = std::make_unique<CKsAudFilter2>(d->DevicePath, &status);
        }
        if (status != S_OK || filter->OpenFilter() != S_OK || filter->ListPins() != S_OK) {
            filter.reset();
        }
    }
    if (set != INVALID_HANDLE_VALUE) {
        SetupDiDestroyDeviceInfoList(set);
    }
    return filter;
}

using ::Pcm;

// One private property request: the KSPROPERTY header with Flags, then Instance, in; Value
// out.
inline Reply Send(HANDLE target, ULONG id, ULONG flags, const Bytes &instance, void *value,
                  ULONG valueBytes)
{
    Bytes in(sizeof(KSPROPERTY) + instance.size());
    KSPROPERTY property = {};
    property.Set = KSPROPSETID_AsioPrivate;
    property.Id = id;
    property.Flags = flags;
    std::memcpy(in.data(), &property, sizeof property);
    if (!instance.empty()) {
        std::memcpy(in.data() + sizeof property, instance.data(), instance.size());
    }
    // As the KS client library sends them: overlapped, waited for.
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD returned = 0;
    BOOL ok = DeviceIoControl(target, IOCTL_KS_PROPERTY, in.data(), DWORD(in.size()), value,
                              valueBytes, &returned, &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        ok = GetOverlappedResult(target, &overlapped, &returned, TRUE);
    }
    const DWORD error = ok ? 0 : GetLastError();
    CloseHandle(event);
    return {error, returned};
}

// The instance of a buffer request: count, total samples, then (type, index) pairs.
inline Bytes BufferRequest(ULONG count, ULONG total, const std::vector<ULONG> &pairs)
{
    std::vector<ULONG> words = {count, total};
    words.insert(words.end(), pairs.begin(), pairs.end());
    Bytes bytes(words.size() * sizeof(ULONG));
    std::memcpy(bytes.data(), words.data(), bytes.size());
    return bytes;
}

inline Bytes HandleBytes(HANDLE handle)
{
    Bytes bytes(sizeof handle);
    std::memcpy(bytes.data(), &handle, sizeof handle);
    return bytes;
}

} // namespace asio_kernel_tests
