// The data buffer of a transfer as the host controller reaches it: through the page frames of
// the URB's MDL, as bus-master DMA does, or else at the URB's TransferBuffer address.
#pragma once

#include <wdm.h>

#include <string>

namespace host {

class UsbTransferBuffer {
public:
    // Binds the buffer a URB names (the MDL wins over TransferBuffer, as in Windows). False,
    // with the reason, when it cannot hold `length` bytes: no buffer at all, an MDL shorter
    // than the length, or an MDL whose pages are neither locked nor built for non-paged pool.
    bool Bind(PVOID buffer, PMDL mdl, ULONG length, std::string *why);

    ULONG Length() const { return length_; }
    void Read(ULONG offset, UCHAR *to, ULONG count) const;
    void Write(ULONG offset, const UCHAR *from, ULONG count) const;
    // The bytes [offset, offset + count): in place when they are contiguous, else copied into
    // `scratch` (count bytes of room).
    const UCHAR *View(ULONG offset, ULONG count, UCHAR *scratch) const;

private:
    // The kernel address of a byte and how many bytes follow it on the same page.
    PUCHAR Locate(ULONG offset, ULONG *runOnPage) const;

    PUCHAR direct_ = nullptr;
    PMDL mdl_ = nullptr;
    ULONG length_ = 0;
};

} // namespace host
