// Kernel pool with verification: every block is tagged and tracked; frees are checked for tag
// and double free; a fresh block is filled with kFreshPoolByte, as Windows leaves pool memory
// uninitialised (a driver reading bytes it never wrote sees the pattern, not zeros); in
// special-pool mode each block sits at the end of its own pages with a guard
// page after it, and a freed block's pages stay inaccessible for a while (under AddressSanitizer:
// poisoned), so overruns and uses after free stop the program at once and are reported with the
// block's tag.
#pragma once

#include <wdm/ex.h>

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class Verifier;

class Pool {
public:
    static constexpr unsigned char kFreshPoolByte = 0xA5;

    Pool(Verifier &verifier, bool special, size_t quarantineBytes);
    ~Pool();

    PVOID Allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag, KIRQL irql);
    // Tag 0 means "any tag" (ExFreePool).
    void Free(PVOID block, ULONG tag, KIRQL irql);

    struct Outstanding {
        ULONG tag;
        size_t blocks;
        size_t bytes;
    };
    // Blocks still allocated, by tag; with a mark, only those allocated after it was taken.
    std::vector<Outstanding> OutstandingByTag(ULONGLONG since = 0) const;
    // A mark of the allocations made so far (driver load: what it allocates comes after).
    ULONGLONG Mark() const;

    // Low-resources simulation: after `skip` more allocations with `tag` (0: any tag), the next
    // `count` of them fail, so that a driver's out-of-memory paths can be driven.
    void FailAllocations(ULONG tag, size_t skip, size_t count);
    size_t OutstandingBlocks() const;
    // True if [address, address + length) touches a live pool block: kernel memory, which a
    // user-mode request must never name.
    bool Overlaps(ULONG_PTR address, size_t length) const;

    static std::string TagText(ULONG tag);

    // Describes a fault address in a freed block or a guard page (fault handler).
    bool DescribeFault(ULONG_PTR address, char *text, size_t size) const;

private:
    bool SimulatedFailure(ULONG tag);

    struct Block {
        SIZE_T size;
        ULONG tag;
        POOL_TYPE type;
        void *mapping; // special pool: the pages (block pages + guard page)
        size_t mappingSize;
        ULONGLONG serial; // allocation order
    };
    struct Fenced {
        void *mapping;
        size_t mappingSize;
        ULONG tag;
    };

    Verifier &verifier_;
    const bool special_;
    const size_t quarantineBytes_;
    mutable std::mutex lock_;
    std::map<ULONG_PTR, Block> live_;
    // Entries of freed blocks, kept for the next allocations: a block's bookkeeping then costs
    // no allocation of the host's own.
    std::vector<std::map<ULONG_PTR, Block>::node_type> spareEntries_;
    std::deque<Fenced> quarantine_;
    size_t quarantined_ = 0;
    ULONGLONG serial_ = 0;
    ULONG failTag_ = 0;
    size_t failSkip_ = 0;
    size_t failCount_ = 0;
    // The last frees, to tell a double free from a stray address. Looked up only on a bad free,
    // so a ring searched from its newest entry keeps every good free free of bookkeeping.
    struct Freed {
        ULONG_PTR address;
        ULONG tag;
    };
    std::vector<Freed> recentFrees_;
    size_t nextFree_ = 0; // the ring's oldest entry once it is full
};

} // namespace host
