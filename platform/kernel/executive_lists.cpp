// Interlocked singly and doubly linked lists, sequenced lists and non-paged lookaside lists.
#include "machine.h"

#include <mutex>

namespace {

// Sequenced lists are lock-free on Windows; one host mutex per machine-independent list header
// would need storage the header does not have, so a small striped set of host locks stands in.
std::mutex &StripeFor(const void *header)
{
    static std::mutex stripes[64];
    return stripes[(reinterpret_cast<ULONG_PTR>(header) >> 4) % 64];
}

PSLIST_ENTRY FirstOf(PSLIST_HEADER head) { return reinterpret_cast<PSLIST_ENTRY>(head->Region); }

} // namespace

extern "C" {

void InitializeSListHead(PSLIST_HEADER SListHead)
{
    SListHead->Alignment = 0;
    SListHead->Region = 0;
}

PSLIST_ENTRY InterlockedPushEntrySList(PSLIST_HEADER ListHead, PSLIST_ENTRY ListEntry)
{
    std::lock_guard<std::mutex> guard(StripeFor(ListHead));
    PSLIST_ENTRY first = FirstOf(ListHead);
    ListEntry->Next = first;
    ListHead->Region = reinterpret_cast<ULONGLONG>(ListEntry);
    ListHead->Alignment = (ListHead->Alignment & ~0xffffull) | ((ListHead->Alignment + 1) & 0xffff);
    return first;
}

PSLIST_ENTRY InterlockedPopEntrySList(PSLIST_HEADER ListHead)
{
    std::lock_guard<std::mutex> guard(StripeFor(ListHead));
    PSLIST_ENTRY first = FirstOf(ListHead);
    if (first != nullptr) {
        ListHead->Region = reinterpret_cast<ULONGLONG>(first->Next);
        ListHead->Alignment =
            (ListHead->Alignment & ~0xffffull) | ((ListHead->Alignment - 1) & 0xffff);
    }
    return first;
}

PSLIST_ENTRY InterlockedFlushSList(PSLIST_HEADER ListHead)
{
    std::lock_guard<std::mutex> guard(StripeFor(ListHead));
    PSLIST_ENTRY first = FirstOf(ListHead);
    ListHead->Region = 0;
    ListHead->Alignment &= ~0xffffull;
    return first;
}

USHORT QueryDepthSList(PSLIST_HEADER SListHead)
{
    std::lock_guard<std::mutex> guard(StripeFor(SListHead));
    return USHORT(SListHead->Alignment & 0xffff);
}

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                        PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : ListHead->Flink;
    InsertHeadList(ListHead, ListEntry);
    KeReleaseSpinLock(Lock, old);
    return first;
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY ListHead, PLIST_ENTRY ListEntry,
                                        PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY last = IsListEmpty(ListHead) ? nullptr : ListHead->Blink;
    InsertTailList(ListHead, ListEntry);
    KeReleaseSpinLock(Lock, old);
    return last;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY ListHead, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PLIST_ENTRY first = IsListEmpty(ListHead) ? nullptr : RemoveHeadList(ListHead);
    KeReleaseSpinLock(Lock, old);
    return first;
}

PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY ListHead, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PSINGLE_LIST_ENTRY first = PopEntryList(ListHead);
    KeReleaseSpinLock(Lock, old);
    return first;
}

PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY ListHead,
                                              PSINGLE_LIST_ENTRY ListEntry, PKSPIN_LOCK Lock)
{
    KIRQL old;
    KeAcquireSpinLock(Lock, &old);
    PSINGLE_LIST_ENTRY first = ListHead->Next;
    PushEntryList(ListHead, ListEntry);
    KeReleaseSpinLock(Lock, old);
    return first;
}

void ExInitializeNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PALLOCATE_FUNCTION Allocate,
                                     PFREE_FUNCTION Free, ULONG, SIZE_T Size, ULONG Tag, USHORT)
{
    GENERAL_LOOKASIDE &l = Lookaside->L;
    InitializeSListHead(&l.ListHead);
    l.Depth = 4;
    l.MaximumDepth = 256;
    l.TotalAllocates = l.AllocateMisses = l.TotalFrees = l.FreeMisses = 0;
    l.Type = NonPagedPoolNx;
    l.Tag = Tag;
    // Entries must hold the list link; Windows rounds the size up the same way.
    l.Size = ULONG(Size < sizeof(SLIST_ENTRY) ? sizeof(SLIST_ENTRY) : Size);
    l.Allocate = Allocate;
    l.Free = Free;
    InitializeListHead(&l.ListEntry);
    l.LastTotalAllocates = l.LastAllocateMisses = 0;
}

void ExDeleteNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside)
{
    GENERAL_LOOKASIDE &l = Lookaside->L;
    while (PSLIST_ENTRY entry = InterlockedPopEntrySList(&l.ListHead)) {
        if (l.Free != nullptr)
            l.Free(entry);
        else
            ExFreePoolWithTag(entry, l.Tag);
    }
}

PVOID ExAllocateFromNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside)
{
    GENERAL_LOOKASIDE &l = Lookaside->L;
    InterlockedIncrement(reinterpret_cast<volatile LONG *>(&l.TotalAllocates));
    if (PSLIST_ENTRY entry = InterlockedPopEntrySList(&l.ListHead))
        return entry;
    InterlockedIncrement(reinterpret_cast<volatile LONG *>(&l.AllocateMisses));
    return l.Allocate != nullptr ? l.Allocate(l.Type, l.Size, l.Tag)
                                 : ExAllocatePoolWithTag(l.Type, l.Size, l.Tag);
}

void ExFreeToNPagedLookasideList(PNPAGED_LOOKASIDE_LIST Lookaside, PVOID Entry)
{
    GENERAL_LOOKASIDE &l = Lookaside->L;
    InterlockedIncrement(reinterpret_cast<volatile LONG *>(&l.TotalFrees));
    if (QueryDepthSList(&l.ListHead) >= l.MaximumDepth) {
        InterlockedIncrement(reinterpret_cast<volatile LONG *>(&l.FreeMisses));
        if (l.Free != nullptr)
            l.Free(Entry);
        else
            ExFreePoolWithTag(Entry, l.Tag);
        return;
    }
    InterlockedPushEntrySList(&l.ListHead, static_cast<PSLIST_ENTRY>(Entry));
}

} // extern "C"
