// Pool: tags, frees, leaks by tag, IRQL rules, and special pool catching overruns and uses
// after free.
#include "kernel_fixture.h"

#include <cstring>

namespace {

constexpr ULONG kTag = 'ABSU'; // "USBA" in memory order
constexpr ULONG kOtherTag = 'rCcP';

class PoolTest : public KernelTest {};

TEST_F(PoolTest, BlocksAreAlignedWritableAndTracked)
{
    auto *p = static_cast<UCHAR *>(ExAllocatePoolWithTag(NonPagedPoolNx, 100, kTag));
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(0u, reinterpret_cast<ULONG_PTR>(p) % 16);
    memset(p, 0xAB, 100);
    EXPECT_EQ(1u, M().KernelPool().OutstandingBlocks());
    ExFreePoolWithTag(p, kTag);
    EXPECT_EQ(0u, M().KernelPool().OutstandingBlocks());
}

// Windows leaves pool memory uninitialised; the emulation shows that with a pattern, so a read
// of bytes nobody wrote cannot pass for zeros.
TEST_F(PoolTest, FreshBlocksHoldThePatternNotZeros)
{
    auto *p = static_cast<UCHAR *>(ExAllocatePoolWithTag(NonPagedPoolNx, 5000, kTag));
    ASSERT_NE(nullptr, p);
    for (ULONG i = 0; i < 5000; ++i)
        ASSERT_EQ(host::Pool::kFreshPoolByte, p[i]) << "byte " << i;
    ExFreePoolWithTag(p, kTag);
}

TEST_F(PoolTest, LowResourcesSimulationFailsTheChosenAllocations)
{
    M().KernelPool().FailAllocations(kTag, 1, 2);
    PVOID other = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kOtherTag); // another tag: untouched
    PVOID first = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag);      // skipped
    EXPECT_EQ(nullptr, ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag));
    EXPECT_EQ(nullptr, ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag));
    PVOID after = ExAllocatePoolWithTag(NonPagedPoolNx, 8, kTag); // the simulation is over
    EXPECT_NE(nullptr, other);
    EXPECT_NE(nullptr, first);
    EXPECT_NE(nullptr, after);
    ExFreePoolWithTag(other, kOtherTag);
    ExFreePoolWithTag(first, kTag);
    ExFreePoolWithTag(after, kTag);
}

TEST_F(PoolTest, WrongTagAndDoubleFreeAreReported)
{
    PVOID p = ExAllocatePoolWithTag(NonPagedPoolNx, 32, kTag);
    ExFreePoolWithTag(p, kOtherTag);
    auto reports = Take(host::VerifierCheck::Pool);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("USBA"));
    ExFreePoolWithTag(p, kTag);
    ExFreePoolWithTag(p, kTag);
    reports = Take(host::VerifierCheck::Pool);
    ASSERT_EQ(1u, reports.size());
    EXPECT_NE(std::string::npos, reports[0].message.find("twice"));
    int local;
    ExFreePool(&local);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Pool).size());
}

TEST_F(PoolTest, PagedPoolAtDispatchLevelIsReported)
{
    KIRQL old;
    KeRaiseIrql(DISPATCH_LEVEL, &old);
    PVOID paged = ExAllocatePoolWithTag(PagedPool, 16, kTag);
    PVOID nonPaged = ExAllocatePoolWithTag(NonPagedPoolNx, 16, kTag);
    KeLowerIrql(old);
    EXPECT_EQ(1u, Take(host::VerifierCheck::Irql).size());
    ExFreePoolWithTag(paged, kTag);
    ExFreePoolWithTag(nonPaged, kTag);
}

TEST(PoolLeakTest, OutstandingBlocksAreReportedByTagAtTeardown)
{
    host::Machine machine;
    {
        host::ThreadAttachment attach(machine, "test");
        ExAllocatePoolWithTag(NonPagedPoolNx, 10, kTag);
        ExAllocatePoolWithTag(NonPagedPoolNx, 20, kTag);
        ExAllocatePoolWithTag(NonPagedPoolNx, 30, kOtherTag);
    }
    machine.PowerOff();
    auto leaks = machine.Checks().Take(host::VerifierCheck::PoolLeak);
    ASSERT_EQ(2u, leaks.size());
    std::string all = leaks[0].message + leaks[1].message;
    EXPECT_NE(std::string::npos, all.find("2 pool block(s) with tag 'USBA' (30 bytes)"));
    EXPECT_NE(std::string::npos, all.find("1 pool block(s) with tag 'PcCr' (30 bytes)"));
}

using PoolDeathTest = PoolTest;

TEST_F(PoolDeathTest, UseAfterFreeFaultsWithTheBlocksTag)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto *p =
                static_cast<volatile UCHAR *>(ExAllocatePoolWithTag(NonPagedPoolNx, 64, kTag));
            ExFreePoolWithTag(const_cast<UCHAR *>(p), kTag);
            p[3] = 1;
        },
        "use of freed pool block \\(tag 'USBA'\\)");
}

TEST_F(PoolDeathTest, OverrunPastTheEndFaults)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            auto *p =
                static_cast<volatile UCHAR *>(ExAllocatePoolWithTag(NonPagedPoolNx, 4096, kTag));
            p[4096] = 1;
        },
        "beyond the end of pool block \\(tag 'USBA'");
}

struct CountingAllocator {
    static LONG allocations;
    static PVOID Allocate(POOL_TYPE type, SIZE_T size, ULONG tag)
    {
        InterlockedIncrement(&allocations);
        return ExAllocatePoolWithTag(type, size, tag);
    }
};
LONG CountingAllocator::allocations = 0;

TEST_F(PoolTest, LookasideListRecyclesEntriesAndFreesThemOnDelete)
{
    NPAGED_LOOKASIDE_LIST list;
    CountingAllocator::allocations = 0;
    ExInitializeNPagedLookasideList(&list, CountingAllocator::Allocate, nullptr, 0, 632, kTag, 0);
    PVOID a = ExAllocateFromNPagedLookasideList(&list);
    PVOID b = ExAllocateFromNPagedLookasideList(&list);
    ASSERT_NE(nullptr, a);
    ASSERT_NE(a, b);
    ExFreeToNPagedLookasideList(&list, a);
    EXPECT_EQ(a, ExAllocateFromNPagedLookasideList(&list)); // reused, not allocated again
    EXPECT_EQ(2, CountingAllocator::allocations);
    ExFreeToNPagedLookasideList(&list, a);
    ExFreeToNPagedLookasideList(&list, b);
    EXPECT_EQ(2u, M().KernelPool().OutstandingBlocks());
    ExDeleteNPagedLookasideList(&list);
    EXPECT_EQ(0u, M().KernelPool().OutstandingBlocks());
}

TEST_F(PoolTest, InterlockedListsKeepOrder)
{
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    LIST_ENTRY head;
    InitializeListHead(&head);
    LIST_ENTRY items[3];
    EXPECT_EQ(nullptr, ExInterlockedInsertTailList(&head, &items[0], &lock));
    EXPECT_EQ(&items[0], ExInterlockedInsertTailList(&head, &items[1], &lock));
    EXPECT_EQ(&items[0], ExInterlockedInsertHeadList(&head, &items[2], &lock));
    EXPECT_EQ(&items[2], ExInterlockedRemoveHeadList(&head, &lock));
    EXPECT_EQ(&items[0], ExInterlockedRemoveHeadList(&head, &lock));
    EXPECT_EQ(&items[1], ExInterlockedRemoveHeadList(&head, &lock));
    EXPECT_EQ(nullptr, ExInterlockedRemoveHeadList(&head, &lock));

    SINGLE_LIST_ENTRY single = {nullptr};
    SINGLE_LIST_ENTRY s1, s2;
    ExInterlockedPushEntryList(&single, &s1, &lock);
    ExInterlockedPushEntryList(&single, &s2, &lock);
    EXPECT_EQ(&s2, ExInterlockedPopEntryList(&single, &lock));
    EXPECT_EQ(&s1, ExInterlockedPopEntryList(&single, &lock));
    EXPECT_EQ(nullptr, ExInterlockedPopEntryList(&single, &lock));

    SLIST_HEADER sl;
    InitializeSListHead(&sl);
    SLIST_ENTRY e1, e2;
    InterlockedPushEntrySList(&sl, &e1);
    InterlockedPushEntrySList(&sl, &e2);
    EXPECT_EQ(2, QueryDepthSList(&sl));
    EXPECT_EQ(&e2, InterlockedPopEntrySList(&sl));
    EXPECT_EQ(&e1, InterlockedFlushSList(&sl));
    EXPECT_EQ(0, QueryDepthSList(&sl));
}

} // namespace
