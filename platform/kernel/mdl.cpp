// Memory descriptor lists: allocating them, describing non-paged pool, and locking and
// unlocking the pages of a buffer. A page's frame number is its kernel address >> PAGE_SHIFT
// (a page of a user-mode view is described by the kernel page it aliases), so an MDL names the
// same pages however the buffer was reached.
#include "io_manager.h"
#include "machine.h"

#include <cstring>

using host::VerifierCheck;

namespace {

void CheckIrqlAtMostDispatch(host::IoManager &io, const char *entryPoint)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "%s at IRQL %u", entryPoint, irql);
}

// Fills the frame array; returns true if a page came from a view of `process`.
bool DescribePages(PMDL mdl, PKPROCESS process)
{
    ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(MmGetMdlVirtualAddress(mdl), mdl->ByteCount);
    PPFN_NUMBER frames = MmGetMdlPfnArray(mdl);
    auto start = reinterpret_cast<ULONG_PTR>(mdl->StartVa);
    bool fromView = false;
    for (ULONG i = 0; i < pages; ++i) {
        auto page = reinterpret_cast<const void *>(start + ULONG_PTR(i) * PAGE_SIZE);
        if (process != nullptr && process->addressSpace.FrameOf(page, &frames[i]))
            fromView = true;
        else
            frames[i] = (start >> PAGE_SHIFT) + i;
    }
    return fromView;
}

} // namespace

void host::ReleaseMdl(IoManager &io, PMDL mdl, KIRQL irql)
{
    mdl->MdlFlags &= ~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA);
    io.KernelPool().Free(mdl, kMdlTag, irql);
}

extern "C" {

SIZE_T MmSizeOfMdl(PVOID Base, SIZE_T Length)
{
    return sizeof(MDL) + sizeof(PFN_NUMBER) * ADDRESS_AND_SIZE_TO_SPAN_PAGES(Base, Length);
}

PMDL IoAllocateMdl(PVOID VirtualAddress, ULONG Length, BOOLEAN SecondaryBuffer,
                   BOOLEAN /*ChargeQuota*/, PIRP Irp)
{
    host::IoManager &io = host::CurrentIo("IoAllocateMdl");
    CheckIrqlAtMostDispatch(io, "IoAllocateMdl");
    SIZE_T size = MmSizeOfMdl(VirtualAddress, Length);
    if (size > 0x7fff)
        return nullptr; // MDL.Size is a CSHORT: a buffer this large needs a chain of MDLs
    auto mdl = static_cast<PMDL>(
        io.KernelPool().Allocate(NonPagedPool, size, host::kMdlTag, KeGetCurrentIrql()));
    if (mdl == nullptr)
        return nullptr;
    std::memset(static_cast<void *>(mdl), 0, size);
    MmInitializeMdl(mdl, VirtualAddress, Length);
    mdl->MdlFlags = MDL_ALLOCATED_FIXED_SIZE;
    if (Irp != nullptr) {
        if (!SecondaryBuffer || Irp->MdlAddress == nullptr) {
            Irp->MdlAddress = mdl;
        } else {
            PMDL tail = Irp->MdlAddress;
            while (tail->Next != nullptr)
                tail = tail->Next;
            tail->Next = mdl;
        }
    }
    return mdl;
}

void IoFreeMdl(PMDL Mdl)
{
    host::IoManager &io = host::CurrentIo("IoFreeMdl");
    CheckIrqlAtMostDispatch(io, "IoFreeMdl");
    if (Mdl->MdlFlags & MDL_PAGES_LOCKED)
        io.Report(VerifierCheck::Usage,
                  "IoFreeMdl(%p) with its pages still locked (MmUnlockPages first)",
                  static_cast<void *>(Mdl));
    io.KernelPool().Free(Mdl, host::kMdlTag, KeGetCurrentIrql());
}

void MmBuildMdlForNonPagedPool(PMDL MemoryDescriptorList)
{
    host::IoManager &io = host::CurrentIo("MmBuildMdlForNonPagedPool");
    CheckIrqlAtMostDispatch(io, "MmBuildMdlForNonPagedPool");
    PMDL mdl = MemoryDescriptorList;
    if (mdl->MdlFlags &
        (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL)) {
        io.Report(VerifierCheck::Usage,
                  "MmBuildMdlForNonPagedPool(%p) on an MDL that already describes locked or "
                  "mapped pages",
                  static_cast<void *>(mdl));
        return;
    }
    DescribePages(mdl, nullptr);
    mdl->Process = nullptr;
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
}

void MmProbeAndLockPages(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                         LOCK_OPERATION Operation)
{
    host::IoManager &io = host::CurrentIo("MmProbeAndLockPages");
    CheckIrqlAtMostDispatch(io, "MmProbeAndLockPages");
    PMDL mdl = MemoryDescriptorList;
    if (mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_PARTIAL)) {
        io.Report(VerifierCheck::Usage,
                  "MmProbeAndLockPages(%p) on an MDL whose pages are already locked or "
                  "described (Windows bug-checks)",
                  static_cast<void *>(mdl));
        return;
    }
    PKPROCESS process = PsGetCurrentProcess();
    bool fromView = DescribePages(mdl, process);
    mdl->Process = (AccessMode == UserMode || fromView) ? process : nullptr;
    mdl->MdlFlags |= MDL_PAGES_LOCKED;
    if (Operation != IoReadAccess)
        mdl->MdlFlags |= MDL_WRITE_OPERATION;
}

void MmUnlockPages(PMDL MemoryDescriptorList)
{
    host::IoManager &io = host::CurrentIo("MmUnlockPages");
    CheckIrqlAtMostDispatch(io, "MmUnlockPages");
    PMDL mdl = MemoryDescriptorList;
    if (!(mdl->MdlFlags & MDL_PAGES_LOCKED)) {
        io.Report(VerifierCheck::Usage,
                  "MmUnlockPages(%p) on pages that are not locked (Windows bug-checks)",
                  static_cast<void *>(mdl));
        return;
    }
    // Unlocking also ends the MDL's system-space mapping.
    mdl->MappedSystemVa = nullptr;
    mdl->MdlFlags &= ~(MDL_PAGES_LOCKED | MDL_WRITE_OPERATION | MDL_MAPPED_TO_SYSTEM_VA);
}

} // extern "C"
