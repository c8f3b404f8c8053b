#include "usb_transfer_buffer.h"

#include <algorithm>
#include <cstring>

namespace host {

bool UsbTransferBuffer::Bind(PVOID buffer, PMDL mdl, ULONG length, std::string *why)
{
    direct_ = static_cast<PUCHAR>(buffer);
    mdl_ = mdl;
    length_ = length;
    if (mdl != nullptr) {
        if ((mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL)) == 0) {
            *why = "its TransferBufferMDL describes no locked pages (MmProbeAndLockPages or "
                   "MmBuildMdlForNonPagedPool first)";
            return false;
        }
        if (MmGetMdlByteCount(mdl) < length) {
            *why = "TransferBufferLength " + std::to_string(length) + " is larger than its MDL's " +
                   std::to_string(MmGetMdlByteCount(mdl)) + " bytes";
            return false;
        }
        return true;
    }
    if (buffer == nullptr && length != 0) {
        *why = "TransferBufferLength " + std::to_string(length) +
               " with neither TransferBuffer nor TransferBufferMDL";
        return false;
    }
    return true;
}

PUCHAR UsbTransferBuffer::Locate(ULONG offset, ULONG *runOnPage) const
{
    if (mdl_ == nullptr) {
        *runOnPage = length_ - offset;
        return direct_ + offset;
    }
    ULONG_PTR position = ULONG_PTR(MmGetMdlByteOffset(mdl_)) + offset;
    ULONG_PTR frame = MmGetMdlPfnArray(mdl_)[position >> PAGE_SHIFT];
    ULONG inPage = ULONG(position & (PAGE_SIZE - 1));
    *runOnPage = ULONG(PAGE_SIZE) - inPage;
    return reinterpret_cast<PUCHAR>((frame << PAGE_SHIFT) + inPage);
}

void UsbTransferBuffer::Read(ULONG offset, UCHAR *to, ULONG count) const
{
    while (count != 0) {
        ULONG run;
        PUCHAR at = Locate(offset, &run);
        run = std::min(run, count);
        std::memcpy(to, at, run);
        to += run;
        offset += run;
        count -= run;
    }
}

void UsbTransferBuffer::Write(ULONG offset, const UCHAR *from, ULONG count) const
{
    while (count != 0) {
        ULONG run;
        PUCHAR at = Locate(offset, &run);
        run = std::min(run, count);
        std::memcpy(at, from, run);
        from += run;
        offset += run;
        count -= run;
    }
}

const UCHAR *UsbTransferBuffer::View(ULONG offset, ULONG count, UCHAR *scratch) const
{
    if (count == 0)
        return scratch;
    ULONG run;
    PUCHAR at = Locate(offset, &run);
    if (run >= count)
        return at;
    Read(offset, scratch, count);
    return scratch;
}

} // namespace host
