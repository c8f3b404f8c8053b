// Memory descriptor lists: what they describe, locking pages, mapping them into system space,
// and mapping them into a process at an address of its own that aliases the same pages, until
// the mapping is removed or the process ends.
#include "kernel_fixture.h"

#include "kernel/io_manager.h"

#include <cstring>
#include <string>
#include <sys/mman.h>

namespace {

constexpr ULONG kTag = 0x41425355; // "USBA"

class MdlTest : public KernelTest {
protected:
    explicit MdlTest(const host::MachineOptions &options = host::MachineOptions())
        : KernelTest(options)
    {
    }

    void TearDown() override
    {
        if (process_ != nullptr)
            M().EndProcess(process_);
        KernelTest::TearDown();
    }

    // A non-paged pool block described by a fresh MDL built for non-paged pool.
    PMDL PoolMdl(ULONG bytes)
    {
        block_ = static_cast<char *>(ExAllocatePoolWithTag(NonPagedPool, bytes, kTag));
        PMDL mdl = IoAllocateMdl(block_, bytes, FALSE, FALSE, nullptr);
        MmBuildMdlForNonPagedPool(mdl);
        return mdl;
    }
    void FreePoolMdl(PMDL mdl)
    {
        IoFreeMdl(mdl);
        ExFreePoolWithTag(block_, kTag);
    }
    PKPROCESS AsioHost()
    {
        process_ = M().CreateProcess("asio host");
        return process_;
    }
    // Whether the host has the page of `address` mapped at all.
    static bool HostMapped(const void *address)
    {
        unsigned char resident;
        return mincore(PAGE_ALIGN(address), PAGE_SIZE, &resident) == 0;
    }
    // Writes through either address are seen through the other, at both ends of the block.
    void ExpectAliased(char *user, ULONG bytes)
    {
        std::memcpy(block_, "kernel", 7);
        EXPECT_STREQ("kernel", user);
        std::memcpy(user + bytes - 5, "user", 5);
        EXPECT_STREQ("user", block_ + bytes - 5);
    }
    void ExpectUsageReport(const char *what)
    {
        std::vector<host::VerifierReport> reports = Take(host::VerifierCheck::Usage);
        ASSERT_EQ(1u, reports.size());
        EXPECT_NE(std::string::npos, reports[0].message.find(what)) << reports[0].message;
    }

    char *block_ = nullptr;
    PKPROCESS process_ = nullptr;
};

TEST_F(MdlTest, AnMdlDescribesTheBufferItWasAllocatedFor)
{
    auto block = static_cast<char *>(ExAllocatePoolWithTag(NonPagedPool, 3 * PAGE_SIZE, kTag));
    char *start = block + 100;
    PMDL mdl = IoAllocateMdl(start, 5000, FALSE, FALSE, nullptr);
    ASSERT_NE(nullptr, mdl);
    ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(start, 5000);
    EXPECT_EQ(PAGE_ALIGN(start), mdl->StartVa);
    EXPECT_EQ(BYTE_OFFSET(start), MmGetMdlByteOffset(mdl));
    EXPECT_EQ(5000u, MmGetMdlByteCount(mdl));
    EXPECT_EQ(start, MmGetMdlVirtualAddress(mdl));
    EXPECT_EQ(SIZE_T(mdl->Size), MmSizeOfMdl(start, 5000));
    EXPECT_EQ(sizeof(MDL) + pages * sizeof(PFN_NUMBER), SIZE_T(mdl->Size));
    EXPECT_EQ(MDL_ALLOCATED_FIXED_SIZE, mdl->MdlFlags);
    EXPECT_EQ(nullptr, mdl->Next);
    IoFreeMdl(mdl);
    ExFreePoolWithTag(block, kTag);
}

TEST_F(MdlTest, MdlsAllocatedForAnIrpAreChainedToIt)
{
    char buffer[64];
    PIRP irp = IoAllocateIrp(1, FALSE);
    PMDL first = IoAllocateMdl(buffer, 32, FALSE, FALSE, irp);
    PMDL second = IoAllocateMdl(buffer + 32, 32, TRUE, FALSE, irp);
    EXPECT_EQ(first, irp->MdlAddress);
    EXPECT_EQ(second, first->Next);
    irp->MdlAddress = nullptr;
    IoFreeMdl(second);
    IoFreeMdl(first);
    IoFreeIrp(irp);
}

TEST_F(MdlTest, NonPagedPoolNeedsNoMapping)
{
    PMDL mdl = PoolMdl(2 * PAGE_SIZE);
    EXPECT_TRUE(mdl->MdlFlags & MDL_SOURCE_IS_NONPAGED_POOL);
    EXPECT_EQ(block_, mdl->MappedSystemVa);
    EXPECT_EQ(block_, MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    EXPECT_EQ(block_, MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE,
                                                   NormalPagePriority));
    PPFN_NUMBER frames = MmGetMdlPfnArray(mdl);
    auto start = reinterpret_cast<ULONG_PTR>(mdl->StartVa);
    for (ULONG i = 0; i < ADDRESS_AND_SIZE_TO_SPAN_PAGES(block_, 2 * PAGE_SIZE); ++i)
        EXPECT_EQ((start >> PAGE_SHIFT) + i, frames[i]);
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, LockedPagesMapToSystemSpaceUntilUnlocked)
{
    char buffer[100];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoWriteAccess);
    EXPECT_EQ(MDL_PAGES_LOCKED | MDL_WRITE_OPERATION,
              mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_WRITE_OPERATION));
    EXPECT_EQ(nullptr, mdl->Process);
    auto system = static_cast<char *>(MmGetSystemAddressForMdlSafe(mdl, NormalPagePriority));
    ASSERT_NE(nullptr, system);
    EXPECT_TRUE(mdl->MdlFlags & MDL_MAPPED_TO_SYSTEM_VA);
    system[10] = 42;
    EXPECT_EQ(42, buffer[10]);
    MmUnlockPages(mdl);
    EXPECT_EQ(0, mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA));
    IoFreeMdl(mdl);
}

TEST_F(MdlTest, AUserMappingAliasesTheKernelPagesAtAnotherAddress)
{
    const ULONG bytes = 4112; // a shared block that straddles a page boundary
    PMDL mdl = PoolMdl(bytes);
    PKPROCESS process = AsioHost();
    PKPROCESS other = M().CreateProcess("another process");
    {
        host::ThreadAttachment thread(M(), "asio host thread", true, process);
        auto user = static_cast<char *>(MmMapLockedPagesSpecifyCache(
            mdl, UserMode, MmCached, nullptr, FALSE, NormalPagePriority));
        ASSERT_NE(nullptr, user);
        EXPECT_NE(block_, user);
        EXPECT_EQ(BYTE_OFFSET(block_), BYTE_OFFSET(user));

        // The view covers exactly the described pages, in this process only.
        ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(block_, bytes);
        char *viewEnd = static_cast<char *>(PAGE_ALIGN(user)) + pages * PAGE_SIZE;
        EXPECT_TRUE(process->addressSpace.IsValid(user, bytes));
        EXPECT_TRUE(process->addressSpace.IsValid(user, viewEnd - user));
        EXPECT_FALSE(process->addressSpace.IsValid(user, viewEnd - user + 1));
        EXPECT_FALSE(other->addressSpace.IsValid(user, 1));

        ExpectAliased(user, bytes);

        MmUnmapLockedPages(user, mdl);
        EXPECT_FALSE(process->addressSpace.IsValid(user, 1));
        EXPECT_FALSE(HostMapped(user)); // a stale user pointer faults
        EXPECT_STREQ("kernel", block_); // the kernel pages are untouched
    }
    M().EndProcess(other);
    FreePoolMdl(mdl);
}

class NormalPoolMdlTest : public MdlTest {
protected:
    NormalPoolMdlTest() : MdlTest(Options()) {}
    static host::MachineOptions Options()
    {
        host::MachineOptions options;
        options.specialPool = false;
        return options;
    }
};

TEST_F(NormalPoolMdlTest, AUserMappingAliasesTheKernelPagesWithoutSpecialPoolToo)
{
    const ULONG bytes = 3 * PAGE_SIZE;
    PMDL mdl = PoolMdl(bytes);
    host::ThreadAttachment thread(M(), "asio host thread", true, AsioHost());
    auto user = static_cast<char *>(
        MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, NormalPagePriority));
    ASSERT_NE(nullptr, user);
    EXPECT_NE(block_, user);
    ExpectAliased(user, bytes);
    MmUnmapLockedPages(user, mdl);
    EXPECT_FALSE(HostMapped(user));
    FreePoolMdl(mdl);
}

// A 32-bit process gets views it can address: below 4 GiB, wherever the kernel block lies.
TEST_F(MdlTest, A32BitProcessGetsItsViewsBelow4GiB)
{
    PMDL mdl = PoolMdl(2 * PAGE_SIZE);
    process_ = M().CreateProcess("32-bit asio host", true);
    host::ThreadAttachment thread(M(), "32-bit thread", true, process_);
    auto user = static_cast<char *>(
        MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, NormalPagePriority));
    ASSERT_NE(nullptr, user);
    EXPECT_LT(reinterpret_cast<ULONG_PTR>(user) + 2 * PAGE_SIZE, ULONG_PTR(1) << 32);
    ExpectAliased(user, 2 * PAGE_SIZE);
    MmUnmapLockedPages(user, mdl);
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, EndingTheProcessRemovesItsMappings)
{
    PMDL mdl = PoolMdl(PAGE_SIZE);
    PKPROCESS process = AsioHost();
    char *user;
    {
        host::ThreadAttachment thread(M(), "asio host thread", true, process);
        user = static_cast<char *>(MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr,
                                                                FALSE, NormalPagePriority));
        ASSERT_NE(nullptr, user);
    }
    EXPECT_TRUE(HostMapped(user));
    M().EndProcess(process);
    process_ = nullptr;
    EXPECT_FALSE(HostMapped(user));
    // Unmapping it now, from another process, finds nothing to unmap.
    MmUnmapLockedPages(user, mdl);
    ExpectUsageReport("no such mapping");
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, LockingAUserViewDescribesTheKernelPagesItAliases)
{
    const ULONG bytes = 6000;
    PMDL mdl = PoolMdl(bytes);
    PKPROCESS process = AsioHost();
    host::ThreadAttachment thread(M(), "asio host thread", true, process);
    auto user = static_cast<char *>(
        MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE, NormalPagePriority));
    ASSERT_NE(nullptr, user);

    PMDL userMdl = IoAllocateMdl(user, bytes, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(userMdl, UserMode, IoReadAccess);
    EXPECT_EQ(process, userMdl->Process);
    ULONG pages = ADDRESS_AND_SIZE_TO_SPAN_PAGES(user, bytes);
    for (ULONG i = 0; i < pages; ++i)
        EXPECT_EQ(MmGetMdlPfnArray(mdl)[i], MmGetMdlPfnArray(userMdl)[i]);
    EXPECT_EQ(block_, MmGetSystemAddressForMdlSafe(userMdl, NormalPagePriority));
    MmUnlockPages(userMdl);
    IoFreeMdl(userMdl);
    MmUnmapLockedPages(user, mdl);
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, MappingPagesThatAreNotLockedIsReported)
{
    block_ = static_cast<char *>(ExAllocatePoolWithTag(NonPagedPool, 64, kTag));
    PMDL mdl = IoAllocateMdl(block_, 64, FALSE, FALSE, nullptr);
    EXPECT_EQ(nullptr, MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE,
                                                    NormalPagePriority));
    ExpectUsageReport("not locked");
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, OnlyPoolPagesCanBeMappedToUserMode)
{
    char privateBuffer[64];
    PMDL mdl = IoAllocateMdl(privateBuffer, sizeof privateBuffer, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    host::ThreadAttachment thread(M(), "asio host thread", true, AsioHost());
    EXPECT_EQ(nullptr, MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr, FALSE,
                                                    NormalPagePriority));
    ExpectUsageReport("cannot be aliased");
    EXPECT_EQ(0u, process_->addressSpace.ViewCount());
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
}

TEST_F(MdlTest, UnmappingInAnotherProcessIsReported)
{
    PMDL mdl = PoolMdl(128);
    PKPROCESS process = AsioHost();
    char *user;
    {
        host::ThreadAttachment thread(M(), "asio host thread", true, process);
        user = static_cast<char *>(MmMapLockedPagesSpecifyCache(mdl, UserMode, MmCached, nullptr,
                                                                FALSE, NormalPagePriority));
    }
    MmUnmapLockedPages(user, mdl); // from the system process
    ExpectUsageReport("no such mapping");
    EXPECT_TRUE(process->addressSpace.IsValid(user, 128));
    {
        host::ThreadAttachment thread(M(), "asio host thread", true, process);
        MmUnmapLockedPages(user, mdl);
    }
    EXPECT_EQ(0u, process->addressSpace.ViewCount());
    FreePoolMdl(mdl);
}

TEST_F(MdlTest, LockingTwiceIsReported)
{
    char buffer[16];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    ExpectUsageReport("already locked");
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
}

TEST_F(MdlTest, UnlockingPagesThatAreNotLockedIsReported)
{
    char buffer[16];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    MmUnlockPages(mdl);
    ExpectUsageReport("not locked");
    IoFreeMdl(mdl);
}

TEST_F(MdlTest, FreeingAnMdlWithLockedPagesIsReported)
{
    char buffer[16];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    IoFreeMdl(mdl);
    ExpectUsageReport("still locked");
}

TEST_F(MdlTest, MappingToSystemSpaceTwiceIsReported)
{
    char buffer[16];
    PMDL mdl = IoAllocateMdl(buffer, sizeof buffer, FALSE, FALSE, nullptr);
    MmProbeAndLockPages(mdl, KernelMode, IoReadAccess);
    PVOID first =
        MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE, NormalPagePriority);
    EXPECT_EQ(first, MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE,
                                                  NormalPagePriority));
    ExpectUsageReport("twice");
    MmUnmapLockedPages(first, mdl);
    MmUnlockPages(mdl);
    IoFreeMdl(mdl);
}

} // namespace
