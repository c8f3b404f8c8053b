#include "user_address_space.h"

#include <wdm/mm.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/mman.h>

namespace host {

UserAddressSpace::~UserAddressSpace() { UnmapAll(); }

void *UserAddressSpace::MapView(const ULONG_PTR *frames, size_t pageCount, const void *owner,
                                std::string *why)
{
    size_t bytes = pageCount * PAGE_SIZE;
    if (bytes == 0) {
        *why = "an MDL that describes no pages";
        return nullptr;
    }
    // Reserve the whole view first so its pages are contiguous, then put each kernel page in its
    // slot. One page at a time: consecutive frames may come from different host mappings.
    // MAP_32BIT places the view in the low 2 GiB, inside a 32-bit process's reach.
    void *reserved =
        mmap(nullptr, bytes, PROT_NONE,
             MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | (below4GiB_ ? MAP_32BIT : 0), -1, 0);
    if (reserved == MAP_FAILED) {
        *why = std::string("no address space for the view: ") + std::strerror(errno);
        return nullptr;
    }
    char *base = static_cast<char *>(reserved);
    for (size_t i = 0; i < pageCount; ++i) {
        void *page = reinterpret_cast<void *>(frames[i] << PAGE_SHIFT);
        // Old size 0 duplicates the mapping of a shared page; a private page is refused (EINVAL)
        // rather than copied, so a view is always a true alias.
        void *slot =
            mremap(page, 0, PAGE_SIZE, MREMAP_MAYMOVE | MREMAP_FIXED, base + i * PAGE_SIZE);
        if (slot == MAP_FAILED) {
            int error = errno;
            munmap(reserved, bytes);
            char text[160];
            std::snprintf(text, sizeof text,
                          "page %p cannot be aliased (%s): only non-paged pool pages can be "
                          "mapped to user mode",
                          page, std::strerror(error));
            *why = text;
            return nullptr;
        }
    }
    std::lock_guard<std::mutex> guard(lock_);
    views_[reinterpret_cast<ULONG_PTR>(base)] = {
        bytes, owner, std::vector<ULONG_PTR>(frames, frames + pageCount)};
    return base;
}

UserAddressSpace::UnmapResult UserAddressSpace::UnmapView(const void *address, const void *owner)
{
    auto page = reinterpret_cast<ULONG_PTR>(address) & ~ULONG_PTR(PAGE_SIZE - 1);
    std::lock_guard<std::mutex> guard(lock_);
    auto it = views_.find(page);
    if (it == views_.end())
        return UnmapResult::NotMapped;
    if (it->second.owner != owner)
        return UnmapResult::WrongOwner;
    munmap(reinterpret_cast<void *>(it->first), it->second.bytes);
    views_.erase(it);
    return UnmapResult::Unmapped;
}

void UserAddressSpace::UnmapAll()
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto &[base, view] : views_)
        munmap(reinterpret_cast<void *>(base), view.bytes);
    views_.clear();
}

std::map<ULONG_PTR, UserAddressSpace::View>::const_iterator
UserAddressSpace::FindLocked(ULONG_PTR address) const
{
    auto it = views_.upper_bound(address);
    if (it == views_.begin())
        return views_.end();
    --it;
    return address < it->first + it->second.bytes ? it : views_.end();
}

bool UserAddressSpace::IsValid(const void *address, size_t length) const
{
    auto start = reinterpret_cast<ULONG_PTR>(address);
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindLocked(start);
    return it != views_.end() && length <= it->first + it->second.bytes - start;
}

bool UserAddressSpace::FrameOf(const void *address, ULONG_PTR *frame) const
{
    auto where = reinterpret_cast<ULONG_PTR>(address);
    std::lock_guard<std::mutex> guard(lock_);
    auto it = FindLocked(where);
    if (it == views_.end())
        return false;
    *frame = it->second.frames[(where - it->first) / PAGE_SIZE];
    return true;
}

size_t UserAddressSpace::ViewCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return views_.size();
}

} // namespace host
