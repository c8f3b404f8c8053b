#include "dma_channel.h"

#include "pool_tags.h"

#include <stdunk.h>

#include <cstring>

namespace host {

namespace {

class CDmaChannel : public IDmaChannel, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    CDmaChannel(PUNKNOWN outer, ULONG maximumLength)
        : CUnknown(outer), maximumLength_(maximumLength)
    {
    }
    ~CDmaChannel() override { FreeBuffer(); }
    IMP_IDmaChannel;

private:
    const ULONG maximumLength_;
    PUCHAR buffer_ = nullptr;
    ULONG allocated_ = 0;
    ULONG size_ = 0;
};

STDMETHODIMP_(NTSTATUS) CDmaChannel::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IDmaChannel)) {
        *object = PVOID(PDMACHANNEL(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

STDMETHODIMP_(NTSTATUS) CDmaChannel::AllocateBuffer(ULONG BufferSize, PPHYSICAL_ADDRESS)
{
    if (buffer_ != nullptr || BufferSize == 0 || BufferSize > maximumLength_)
        return STATUS_INVALID_PARAMETER;
    buffer_ =
        static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, BufferSize, kDmaChannelTag));
    if (buffer_ == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    allocated_ = size_ = BufferSize;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(void) CDmaChannel::FreeBuffer()
{
    if (buffer_ != nullptr)
        ExFreePoolWithTag(buffer_, kDmaChannelTag);
    buffer_ = nullptr;
    allocated_ = size_ = 0;
}

STDMETHODIMP_(ULONG) CDmaChannel::TransferCount() { return size_; }
STDMETHODIMP_(ULONG) CDmaChannel::MaximumBufferSize() { return maximumLength_; }
STDMETHODIMP_(ULONG) CDmaChannel::AllocatedBufferSize() { return allocated_; }
STDMETHODIMP_(ULONG) CDmaChannel::BufferSize() { return size_; }

STDMETHODIMP_(void) CDmaChannel::SetBufferSize(ULONG BufferSize)
{
    if (BufferSize <= allocated_)
        size_ = BufferSize;
}

STDMETHODIMP_(PVOID) CDmaChannel::SystemAddress() { return buffer_; }

STDMETHODIMP_(PHYSICAL_ADDRESS) CDmaChannel::PhysicalAddress()
{
    PHYSICAL_ADDRESS address;
    address.QuadPart = LONGLONG(reinterpret_cast<ULONG_PTR>(buffer_));
    return address;
}

STDMETHODIMP_(PADAPTER_OBJECT) CDmaChannel::GetAdapterObject() { return nullptr; }

STDMETHODIMP_(void) CDmaChannel::CopyTo(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    std::memcpy(Destination, Source, ByteCount);
}

STDMETHODIMP_(void) CDmaChannel::CopyFrom(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    std::memcpy(Destination, Source, ByteCount);
}

} // namespace

NTSTATUS NewMasterDmaChannel(PDMACHANNEL *channel, PUNKNOWN outer, ULONG maximumLength)
{
    *channel = nullptr;
    auto object = new (NonPagedPoolNx, kDmaChannelTag) CDmaChannel(outer, maximumLength);
    if (object == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    object->NonDelegatingAddRef();
    *channel = object;
    return STATUS_SUCCESS;
}

} // namespace host
