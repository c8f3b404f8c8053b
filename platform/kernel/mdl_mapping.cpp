// Mapping the locked pages an MDL describes: into system space (where a page's kernel address
// is its mapping) or into the current process, where the process's address space makes a view
// that aliases the same pages at an address of its own.
#include "io_manager.h"
#include "machine.h"

#include <string>

using host::VerifierCheck;

namespace {

PVOID MapToSystem(host::IoManager &io, PMDL mdl)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > DISPATCH_LEVEL)
        io.Report(VerifierCheck::Irql, "MmMapLockedPagesSpecifyCache(KernelMode) at IRQL %u", irql);
    if (mdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL)
        return mdl->MappedSystemVa;
    if (mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) {
        io.Report(VerifierCheck::Usage, "MDL %p mapped to system space twice",
                  static_cast<void *>(mdl));
        return mdl->MappedSystemVa;
    }
    ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(MmGetMdlVirtualAddress(mdl), mdl->ByteCount);
    PPFN_NUMBER frames = MmGetMdlPfnArray(mdl);
    for (ULONG i = 1; i < pages; ++i) {
        if (frames[i] != frames[0] + i) {
            io.Report(VerifierCheck::Usage,
                      "MmMapLockedPagesSpecifyCache(%p, KernelMode): pages that are not "
                      "contiguous in kernel space are not emulated",
                      static_cast<void *>(mdl));
            return nullptr;
        }
    }
    if (pages == 0) {
        io.Report(VerifierCheck::Usage, "MmMapLockedPagesSpecifyCache(%p): the MDL is empty",
                  static_cast<void *>(mdl));
        return nullptr;
    }
    mdl->MappedSystemVa = reinterpret_cast<PVOID>((frames[0] << PAGE_SHIFT) + mdl->ByteOffset);
    mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return mdl->MappedSystemVa;
}

PVOID MapToUser(host::IoManager &io, PMDL mdl, PVOID requestedAddress)
{
    KIRQL irql = KeGetCurrentIrql();
    if (irql > APC_LEVEL)
        io.Report(VerifierCheck::Irql, "MmMapLockedPagesSpecifyCache(UserMode) at IRQL %u", irql);
    if (requestedAddress != nullptr) {
        io.Report(VerifierCheck::Usage,
                  "MmMapLockedPagesSpecifyCache(%p, UserMode) at a requested address is not "
                  "emulated",
                  static_cast<void *>(mdl));
        return nullptr;
    }
    PKPROCESS process = PsGetCurrentProcess();
    ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(MmGetMdlVirtualAddress(mdl), mdl->ByteCount);
    std::string why;
    void *view = process->addressSpace.MapView(MmGetMdlPfnArray(mdl), pages, mdl, &why);
    if (view == nullptr) {
        // Windows raises an exception here; the caller sees the failure as a null address.
        io.Report(VerifierCheck::Usage, "MmMapLockedPagesSpecifyCache(%p, UserMode) in '%s': %s",
                  static_cast<void *>(mdl), process->name.c_str(), why.c_str());
        return nullptr;
    }
    return static_cast<char *>(view) + mdl->ByteOffset;
}

} // namespace

extern "C" {

PVOID MmMapLockedPagesSpecifyCache(PMDL MemoryDescriptorList, KPROCESSOR_MODE AccessMode,
                                   MEMORY_CACHING_TYPE CacheType, PVOID RequestedAddress,
                                   ULONG /*BugCheckOnFailure*/, ULONG /*Priority*/)
{
    host::IoManager &io = host::CurrentIo("MmMapLockedPagesSpecifyCache");
    PMDL mdl = MemoryDescriptorList;
    if (!(mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL))) {
        io.Report(VerifierCheck::Usage,
                  "MmMapLockedPagesSpecifyCache(%p): the pages are not locked "
                  "(MmProbeAndLockPages or MmBuildMdlForNonPagedPool first)",
                  static_cast<void *>(mdl));
        return nullptr;
    }
    if (CacheType < MmNonCached || CacheType >= MmMaximumCacheType) {
        io.Report(VerifierCheck::Usage, "MmMapLockedPagesSpecifyCache(%p): cache type %d",
                  static_cast<void *>(mdl), CacheType);
        return nullptr;
    }
    switch (AccessMode) {
    case KernelMode: return MapToSystem(io, mdl);
    case UserMode: return MapToUser(io, mdl, RequestedAddress);
    default:
        io.Report(VerifierCheck::Usage, "MmMapLockedPagesSpecifyCache(%p): access mode %d",
                  static_cast<void *>(mdl), AccessMode);
        return nullptr;
    }
}

void MmUnmapLockedPages(PVOID BaseAddress, PMDL MemoryDescriptorList)
{
    host::IoManager &io = host::CurrentIo("MmUnmapLockedPages");
    PMDL mdl = MemoryDescriptorList;
    if ((mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA) && mdl->MappedSystemVa == BaseAddress) {
        KIRQL irql = KeGetCurrentIrql();
        if (irql > DISPATCH_LEVEL)
            io.Report(VerifierCheck::Irql, "MmUnmapLockedPages(KernelMode) at IRQL %u", irql);
        mdl->MappedSystemVa = nullptr;
        mdl->MdlFlags &= ~MDL_MAPPED_TO_SYSTEM_VA;
        return;
    }
    PKPROCESS process = PsGetCurrentProcess();
    switch (process->addressSpace.UnmapView(BaseAddress, mdl)) {
    case host::UserAddressSpace::UnmapResult::Unmapped: {
        KIRQL irql = KeGetCurrentIrql();
        if (irql > APC_LEVEL)
            io.Report(VerifierCheck::Irql, "MmUnmapLockedPages(UserMode) at IRQL %u", irql);
        return;
    }
    case host::UserAddressSpace::UnmapResult::WrongOwner:
        io.Report(VerifierCheck::Usage,
                  "MmUnmapLockedPages(%p, %p): the view at that address maps another MDL",
                  BaseAddress, static_cast<void *>(mdl));
        return;
    case host::UserAddressSpace::UnmapResult::NotMapped:
        io.Report(VerifierCheck::Usage,
                  "MmUnmapLockedPages(%p, %p): no such mapping of this MDL in process '%s' "
                  "(unmapped already, made in another process, or the process has ended)",
                  BaseAddress, static_cast<void *>(mdl), process->name.c_str());
        return;
    }
}

} // extern "C"
