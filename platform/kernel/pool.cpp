#include "pool.h"

#include "verifier.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iterator>
#include <list>
#include <map>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utility>

namespace host {

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kAlignment = 16;
constexpr size_t kMaxQuarantinedBlocks = 4096; // keeps the number of host mappings bounded
constexpr size_t kRecentFrees = 4096;
constexpr size_t kSpareEntries = 1024;

size_t RoundUp(size_t value, size_t to) { return (value + to - 1) / to * to; }

// Fault reporting: the pools of every machine in the program, consulted by the SIGSEGV handler.
std::mutex poolsLock;
std::list<const Pool *> pools;
struct sigaction previousHandler;

// Mappings of freed blocks that have left their pool's quarantine (or whose machine is gone),
// fenced off until an allocation of the same size takes one again: a program that boots a
// machine after another (a fuzzer boots one per input), or a machine that opens and closes
// streams all day, would otherwise spend its time mapping, first touching and unmapping pages.
// Beyond the budget the mappings given longest ago go, so the sizes in use stay. A special-pool
// mapping keeps its guard page.
class SpareMappings {
public:
    void *Take(size_t size, bool special)
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = bySize_.find({size, special});
        if (it == bySize_.end() || it->second.empty())
            return nullptr;
        // The one given last: its pages are the likeliest to be in the caches still.
        auto spare = it->second.back();
        it->second.pop_back();
        void *mapping = spare->mapping;
        bytes_ -= size;
        unused_.splice(unused_.end(), order_, spare);
        return mapping;
    }

    // Takes a mapping already fenced off.
    void Give(void *mapping, size_t size, bool special)
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (unused_.empty())
            order_.push_back({mapping, size, special});
        else {
            order_.splice(order_.end(), unused_, unused_.begin());
            order_.back() = {mapping, size, special};
        }
        bySize_[{size, special}].push_back(std::prev(order_.end()));
        bytes_ += size;
        while (bytes_ > kSpareBytes) {
            const Spare oldest = order_.front();
            bySize_[{oldest.size, oldest.special}]
                .pop_front(); // a size's oldest is first there too
            unused_.splice(unused_.end(), order_, order_.begin());
            bytes_ -= oldest.size;
            // Whatever the host maps here next starts without this mapping's poisoning.
            ASAN_UNPOISON_MEMORY_REGION(oldest.mapping, oldest.size);
            munmap(oldest.mapping, oldest.size);
        }
    }

private:
    struct Spare {
        void *mapping;
        size_t size;
        bool special;
    };
    static constexpr size_t kSpareBytes = 64u << 20;
    std::mutex lock_;
    std::list<Spare> order_; // oldest first
    // The entries of mappings taken or unmapped, and the queues of sizes whose spares are all
    // gone, stay for the next ones: giving and taking cost no allocation of the host's own.
    std::list<Spare> unused_;
    std::map<std::pair<size_t, bool>, std::deque<std::list<Spare>::iterator>> bySize_;
    size_t bytes_ = 0;
};

SpareMappings &Spares()
{
    static SpareMappings *spares = new SpareMappings; // outlives every machine
    return *spares;
}

// Under AddressSanitizer a freed block is fenced off by poisoning its bytes rather than by taking
// its pages' access away: the sanitizer stops the program at the first use and the verifier names
// the block's tag in its report, while the pages stay mapped, so that a free costs no change of
// page protection (each one flushes TLBs) and a reuse no fresh page faults. Guard pages stay
// inaccessible in both forms.
#if defined(__SANITIZE_ADDRESS__)
#define POOL_FENCES_BY_POISONING 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define POOL_FENCES_BY_POISONING 1
#endif
#endif
#ifdef POOL_FENCES_BY_POISONING
constexpr bool kFenceByPoisoning = true;
#else
constexpr bool kFenceByPoisoning = false;
#endif

// Makes a mapping's pages unusable up to its end (its guard page is so already).
void Fence(void *mapping, size_t size)
{
    if (kFenceByPoisoning) {
        ASAN_POISON_MEMORY_REGION(mapping, size);
        return;
    }
    mprotect(mapping, size, PROT_NONE);
}

// Makes a fenced mapping's first `bytes` usable again.
void Unfence(void *mapping, size_t bytes)
{
    if (kFenceByPoisoning) {
        ASAN_UNPOISON_MEMORY_REGION(mapping, bytes);
        return;
    }
    mprotect(mapping, bytes, PROT_READ | PROT_WRITE);
}

} // namespace

// Describes a fault address inside a fenced-off or guard page of this pool (used by the fault
// handler; tries the lock only, since the faulting thread may hold it).
bool DescribePoolFault(const Pool &pool, ULONG_PTR address, char *text, size_t size);

namespace {

// Writes what the pools know of a fault address to stderr.
void DescribeFaultAddress(ULONG_PTR address)
{
    char text[256];
    bool described = false;
    if (poolsLock.try_lock()) {
        for (const Pool *pool : pools)
            if ((described = DescribePoolFault(*pool, address, text, sizeof text)))
                break;
        poolsLock.unlock();
    }
    if (described) {
        ssize_t ignored = write(STDERR_FILENO, text, strlen(text));
        (void)ignored;
    }
}

void OnSegmentationFault(int signal, siginfo_t *info, void *context)
{
    DescribeFaultAddress(reinterpret_cast<ULONG_PTR>(info->si_addr));
    // Hand the fault to whoever handled it before (a sanitizer, the default action).
    sigaction(SIGSEGV, &previousHandler, nullptr);
    if (previousHandler.sa_flags & SA_SIGINFO) {
        if (previousHandler.sa_sigaction != nullptr)
            previousHandler.sa_sigaction(signal, info, context);
    }
}

#ifdef POOL_FENCES_BY_POISONING
// A use of a poisoned (freed) block: the sanitizer's report, then the block's tag.
void OnSanitizerReport(const char *)
{
    DescribeFaultAddress(reinterpret_cast<ULONG_PTR>(__asan_get_report_address()));
}
#endif

void InstallFaultHandler()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action = {};
        action.sa_sigaction = OnSegmentationFault;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGSEGV, &action, &previousHandler);
#ifdef POOL_FENCES_BY_POISONING
        __asan_set_error_report_callback(OnSanitizerReport);
#endif
    });
}

} // namespace

std::string Pool::TagText(ULONG tag)
{
    std::string text;
    for (int i = 0; i < 4; ++i) {
        char c = char((tag >> (8 * i)) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? c : '.';
    }
    return text;
}

Pool::Pool(Verifier &verifier, bool special, size_t quarantineBytes)
    : verifier_(verifier), special_(special), quarantineBytes_(quarantineBytes)
{
    if (special_) {
        InstallFaultHandler();
        std::lock_guard<std::mutex> guard(poolsLock);
        pools.push_back(this);
    }
}

Pool::~Pool()
{
    if (special_) {
        std::lock_guard<std::mutex> guard(poolsLock);
        pools.remove(this);
    }
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[address, block] : live_) {
        Fence(block.mapping, block.mappingSize);
        Spares().Give(block.mapping, block.mappingSize, special_);
    }
    for (auto &fenced : quarantine_)
        Spares().Give(fenced.mapping, fenced.mappingSize, special_);
}

PVOID Pool::Allocate(POOL_TYPE type, SIZE_T bytes, ULONG tag, KIRQL irql)
{
    bool paged = (type & 1) != 0;
    if (paged && irql > APC_LEVEL)
        verifier_.Report(VerifierCheck::Irql, "paged pool allocation (tag '" + TagText(tag) +
                                                  "') at IRQL " + std::to_string(irql));
    else if (irql > DISPATCH_LEVEL)
        verifier_.Report(VerifierCheck::Irql, "pool allocation above DISPATCH_LEVEL");
    if (tag == 0)
        verifier_.Report(VerifierCheck::Pool, "pool allocation without a tag");
    if (bytes == 0)
        bytes = 1;
    if (bytes > (size_t(1) << 40))
        return nullptr; // no machine has that much; Windows fails the same way
    if (SimulatedFailure(tag))
        return nullptr;

    size_t dataPages = RoundUp(bytes, kPage);
    size_t mappingSize = dataPages + (special_ ? kPage : 0);
    void *mapping = Spares().Take(mappingSize, special_);
    if (mapping != nullptr) {
        Unfence(mapping, dataPages);
    } else {
        // Shared anonymous pages, so that a second view (a user-mode mapping of locked pages)
        // can alias them.
        mapping =
            mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            return nullptr;
        if (special_)
            mprotect(static_cast<char *>(mapping) + dataPages, kPage, PROT_NONE); // guard page
    }
    char *base = static_cast<char *>(mapping);
    char *block = base;
    if (special_) {
        block = base + dataPages - RoundUp(bytes, kAlignment);
        // The alignment slack before the guard page is off limits too, where a sanitizer can
        // tell (the macros do nothing in other builds).
        ASAN_POISON_MEMORY_REGION(block + bytes, RoundUp(bytes, kAlignment) - bytes);
    }
    std::memset(block, kFreshPoolByte, bytes);
    std::lock_guard<std::mutex> guard(lock_);
    // A reused address keeps its entry among the recent frees: a free finds it live first, and
    // its next free replaces the entry.
    const auto address = reinterpret_cast<ULONG_PTR>(block);
    const Block entry = {bytes, tag, type, mapping, mappingSize, ++serial_};
    if (spareEntries_.empty()) {
        live_[address] = entry;
    } else {
        auto node = std::move(spareEntries_.back());
        spareEntries_.pop_back();
        node.key() = address;
        node.mapped() = entry;
        live_.insert(std::move(node));
    }
    return block;
}

void Pool::Free(PVOID pointer, ULONG tag, KIRQL irql)
{
    auto address = reinterpret_cast<ULONG_PTR>(pointer);
    std::unique_lock<std::mutex> held(lock_);
    auto it = live_.find(address);
    if (it == live_.end()) {
        const Freed *freed = nullptr;
        for (size_t i = 1; i <= recentFrees_.size() && freed == nullptr; ++i) {
            const Freed &f =
                recentFrees_[(nextFree_ + recentFrees_.size() - i) % recentFrees_.size()];
            if (f.address == address)
                freed = &f;
        }
        std::string what = freed != nullptr
                               ? "pool block (tag '" + TagText(freed->tag) + "') freed twice"
                               : "free of an address that is not a pool block";
        held.unlock();
        verifier_.Report(VerifierCheck::Pool, what);
        return;
    }
    Block block = it->second;
    if (tag != 0 && tag != block.tag) {
        held.unlock();
        verifier_.Report(VerifierCheck::Pool, "pool block allocated with tag '" +
                                                  TagText(block.tag) + "' freed with tag '" +
                                                  TagText(tag) + "'");
        return; // Windows bug-checks (BAD_POOL_CALLER); the block stays allocated
    }
    if ((block.type & 1) != 0 && irql > APC_LEVEL)
        verifier_.Report(VerifierCheck::Irql, "paged pool freed at IRQL " + std::to_string(irql));
    if (spareEntries_.size() < kSpareEntries)
        spareEntries_.push_back(live_.extract(it));
    else
        live_.erase(it);
    if (recentFrees_.size() < kRecentFrees)
        recentFrees_.push_back({address, block.tag});
    else
        recentFrees_[nextFree_] = {address, block.tag};
    nextFree_ = (nextFree_ + 1) % kRecentFrees;
    // Fence the freed block off: in special pool any later use faults and is reported with its
    // tag.
    Fence(block.mapping, block.mappingSize);
    if (!special_) {
        Spares().Give(block.mapping, block.mappingSize, special_);
        return;
    }
    quarantine_.push_back({block.mapping, block.mappingSize, block.tag});
    quarantined_ += block.mappingSize;
    while (quarantined_ > quarantineBytes_ || quarantine_.size() > kMaxQuarantinedBlocks) {
        Spares().Give(quarantine_.front().mapping, quarantine_.front().mappingSize, special_);
        quarantined_ -= quarantine_.front().mappingSize;
        quarantine_.pop_front();
    }
}

void Pool::FailAllocations(ULONG tag, size_t skip, size_t count)
{
    std::lock_guard<std::mutex> guard(lock_);
    failTag_ = tag;
    failSkip_ = skip;
    failCount_ = count;
}

bool Pool::SimulatedFailure(ULONG tag)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (failCount_ == 0 || (failTag_ != 0 && tag != failTag_))
        return false;
    if (failSkip_ != 0) {
        --failSkip_;
        return false;
    }
    --failCount_;
    return true;
}

std::vector<Pool::Outstanding> Pool::OutstandingByTag(ULONGLONG since) const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::map<ULONG, Outstanding> byTag;
    for (auto &[address, block] : live_) {
        if (block.serial <= since)
            continue;
        Outstanding &o = byTag[block.tag];
        o.tag = block.tag;
        ++o.blocks;
        o.bytes += block.size;
    }
    std::vector<Outstanding> result;
    for (auto &[tag, o] : byTag)
        result.push_back(o);
    return result;
}

bool Pool::Overlaps(ULONG_PTR address, size_t length) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = live_.upper_bound(address + (length != 0 ? length - 1 : 0));
    if (it == live_.begin())
        return false;
    --it;
    return it->first + it->second.size > address;
}

ULONGLONG Pool::Mark() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return serial_;
}

size_t Pool::OutstandingBlocks() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return live_.size();
}

bool DescribePoolFault(const Pool &pool, ULONG_PTR address, char *text, size_t size)
{
    return pool.DescribeFault(address, text, size);
}

bool Pool::DescribeFault(ULONG_PTR address, char *text, size_t size) const
{
    if (!lock_.try_lock())
        return false;
    bool found = false;
    for (auto &fenced : quarantine_) {
        auto base = reinterpret_cast<ULONG_PTR>(fenced.mapping);
        if (address >= base && address < base + fenced.mappingSize) {
            snprintf(text, size, "[verifier] pool: use of freed pool block (tag '%s') at %p\n",
                     TagText(fenced.tag).c_str(), reinterpret_cast<void *>(address));
            found = true;
            break;
        }
    }
    if (!found) {
        for (auto &[blockAddress, block] : live_) {
            auto base = reinterpret_cast<ULONG_PTR>(block.mapping);
            if (address >= base + block.mappingSize - kPage && address < base + block.mappingSize) {
                snprintf(text, size,
                         "[verifier] pool: access beyond the end of pool block (tag '%s', %zu "
                         "bytes) at %p\n",
                         TagText(block.tag).c_str(), static_cast<size_t>(block.size),
                         reinterpret_cast<void *>(address));
                found = true;
                break;
            }
        }
    }
    lock_.unlock();
    return found;
}

} // namespace host
