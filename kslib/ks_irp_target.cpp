#include "ks_irp_target.h"

#include <cstring>
#include <new>

namespace {

// A KSPROPERTY with instance data behind it; small requests (every one the library makes itself)
// need no allocation.
class PropertyBuffer {
public:
    PropertyBuffer(REFGUID set, ULONG id, ULONG flags, const void *extra, ULONG extraSize)
        : m_size(sizeof(KSPROPERTY) + extraSize)
    {
        m_bytes = m_size <= sizeof m_inline ? m_inline : new (std::nothrow) BYTE[m_size];
        if (m_bytes == nullptr)
            return;
        KSPROPERTY property = {};
        property.Set = set;
        property.Id = id;
        property.Flags = flags;
        std::memcpy(m_bytes, &property, sizeof property);
        if (extraSize != 0)
            std::memcpy(m_bytes + sizeof property, extra, extraSize);
    }
    ~PropertyBuffer()
    {
        if (m_bytes != m_inline)
            delete[] m_bytes;
    }
    PropertyBuffer(const PropertyBuffer &) = delete;
    PropertyBuffer &operator=(const PropertyBuffer &) = delete;

    const BYTE *Bytes() const { return m_bytes; }
    ULONG Size() const { return m_size; }

private:
    alignas(8) BYTE m_inline[64];
    BYTE *m_bytes;
    ULONG m_size;
};

bool IsMoreData(DWORD error)
{
    return error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_MORE_DATA;
}

} // namespace

HRESULT CKsIrpTarget::IssueIoctl(HANDLE handle, ULONG controlCode, PVOID input, ULONG inputSize,
                                 PVOID output, ULONG outputSize, PULONG bytesReturned)
{
    ULONG local = 0;
    ULONG &bytes = bytesReturned != nullptr ? *bytesReturned : local;
    bytes = 0;
    if (!IsValidHandle(handle))
        return E_FAIL;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr)
        return E_OUTOFMEMORY;
    // The tag bit keeps the completion off any I/O completion port the handle may be bound to.
    OVERLAPPED overlapped = {};
    overlapped.hEvent = reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | 1);
    DWORD transferred = 0;
    HRESULT result = S_OK;
    BOOL done = DeviceIoControl(handle, controlCode, input, inputSize, output, outputSize,
                                &transferred, &overlapped);
    DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_IO_PENDING) {
        // The request's real outcome and byte count come from its completion. A driver that does
        // not complete it in time has it cancelled, and it is waited for before its buffers go.
        if (WaitForSingleObject(event, kRequestTimeoutMs) != WAIT_OBJECT_0) {
            CancelIoEx(handle, &overlapped);
            GetOverlappedResult(handle, &overlapped, &transferred, TRUE);
            error = ERROR_TIMEOUT;
        } else {
            done = GetOverlappedResult(handle, &overlapped, &transferred, FALSE);
            error = done ? ERROR_SUCCESS : GetLastError();
        }
    }
    if (error == ERROR_SUCCESS) {
        // A driver's count is passed on as it gave it; no more than the buffer holds is data.
        bytes = transferred < outputSize ? transferred : outputSize;
    } else if (IsMoreData(error) && controlCode == IOCTL_KS_PROPERTY && outputSize == 0) {
        bytes = transferred; // a size query: the size needed
    } else {
        result = E_FAIL;
    }
    CloseHandle(event);
    return result;
}

HRESULT CKsIrpTarget::PropertyRequest(HANDLE handle, const void *request, ULONG requestSize,
                                      PVOID data, ULONG dataSize, PULONG bytesReturned)
{
    return IssueIoctl(handle, IOCTL_KS_PROPERTY, const_cast<void *>(request), requestSize, data,
                      dataSize, bytesReturned);
}

HRESULT CKsIrpTarget::PropertyRequestAlloc(HANDLE handle, const void *request, ULONG requestSize,
                                           PBYTE *buffer, PULONG size)
{
    *buffer = nullptr;
    *size = 0;
    ULONG needed = 0;
    HRESULT result = PropertyRequest(handle, request, requestSize, nullptr, 0, &needed);
    if (FAILED(result) || needed == 0)
        return result;
    PBYTE data = new (std::nothrow) BYTE[needed];
    if (data == nullptr)
        return E_OUTOFMEMORY;
    ULONG returned = 0;
    result = PropertyRequest(handle, request, requestSize, data, needed, &returned);
    if (FAILED(result)) {
        delete[] data;
        return result;
    }
    *buffer = data;
    *size = returned;
    return S_OK;
}

HRESULT CKsIrpTarget::QueryProperty(REFGUID set, ULONG id, PVOID data, ULONG dataSize, PVOID extra,
                                    ULONG extraSize, PULONG bytesReturned)
{
    PropertyBuffer request(set, id, KSPROPERTY_TYPE_GET, extra, extraSize);
    if (request.Bytes() == nullptr)
        return E_OUTOFMEMORY;
    return PropertyRequest(m_handle, request.Bytes(), request.Size(), data, dataSize,
                           bytesReturned);
}

HRESULT CKsIrpTarget::StoreProperty(REFGUID set, ULONG id, PVOID data, ULONG dataSize, PVOID extra,
                                    ULONG extraSize)
{
    PropertyBuffer request(set, id, KSPROPERTY_TYPE_SET, extra, extraSize);
    if (request.Bytes() == nullptr)
        return E_OUTOFMEMORY;
    return PropertyRequest(m_handle, request.Bytes(), request.Size(), data, dataSize, nullptr);
}

HRESULT CKsIrpTarget::QueryPropertyAlloc(REFGUID set, ULONG id, PBYTE *buffer, PULONG size)
{
    PropertyBuffer request(set, id, KSPROPERTY_TYPE_GET, nullptr, 0);
    return PropertyRequestAlloc(m_handle, request.Bytes(), request.Size(), buffer, size);
}

void CKsIrpTarget::CloseTargetHandle()
{
    if (IsValidHandle(m_handle))
        CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
}
