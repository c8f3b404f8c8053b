// The user-mode address space of an emulated process: views of locked kernel pages that
// MmMapLockedPagesSpecifyCache(UserMode) made, each at an address of its own.
//
// A view is a true alias, not a copy: every kernel page is a page of a MAP_SHARED anonymous
// mapping (the pool guarantees this for every block), and mremap(page, 0, ...) maps that same
// shared page a second time at the view's address. Writes through either address are seen
// through the other. Unmapping a view (or ending the process) munmaps it, so a stale user
// pointer faults instead of reading memory it no longer owns.
#pragma once

#include <wdm/ke.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace host {

class UserAddressSpace {
public:
    // A 32-bit (WOW64) process sees only the low 4 GiB: its views are placed there, so the
    // 32-bit addresses the kernel hands it are whole.
    explicit UserAddressSpace(bool below4GiB = false) : below4GiB_(below4GiB) {}
    ~UserAddressSpace();
    UserAddressSpace(const UserAddressSpace &) = delete;
    UserAddressSpace &operator=(const UserAddressSpace &) = delete;

    // Maps the pages whose frame numbers are given (frame = kernel address >> PAGE_SHIFT) as one
    // new view owned by `owner` (the MDL). Returns the page-aligned base of the view, or null with
    // the reason in *why (pages that are not shareable host memory, no address space left).
    void *MapView(const ULONG_PTR *frames, size_t pageCount, const void *owner, std::string *why);

    enum class UnmapResult { Unmapped, NotMapped, WrongOwner };
    // Removes the view that starts at the page of `address`, if `owner` made it.
    UnmapResult UnmapView(const void *address, const void *owner);

    // Removes every view (the process has ended).
    void UnmapAll();

    // True if [address, address + length) lies inside one live view: the check user-mode
    // emulation applies to a user pointer the kernel handed out.
    bool IsValid(const void *address, size_t length) const;

    // The frame number behind a page of a live view (locking a user buffer describes the pages
    // it aliases); false if the address is in no view.
    bool FrameOf(const void *address, ULONG_PTR *frame) const;

    size_t ViewCount() const;

private:
    struct View {
        size_t bytes;
        const void *owner;
        std::vector<ULONG_PTR> frames;
    };
    // The view containing address, or end(); lock_ held.
    std::map<ULONG_PTR, View>::const_iterator FindLocked(ULONG_PTR address) const;

    const bool below4GiB_;
    mutable std::mutex lock_;
    std::map<ULONG_PTR, View> views_; // by base address
};

} // namespace host
