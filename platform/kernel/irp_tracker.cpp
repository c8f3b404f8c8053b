#include "irp_tracker.h"

namespace host {

void IrpTracker::Add(PIRP irp, Origin origin)
{
    std::lock_guard<std::mutex> guard(lock_);
    Record &record = records_[irp];
    record = Record();
    record.origin = origin;
}

bool IrpTracker::Find(PIRP irp, Record *record) const
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(irp);
    if (it == records_.end())
        return false;
    *record = it->second;
    return true;
}

void IrpTracker::Dispatch(PIRP irp)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(irp);
    if (it == records_.end() || it->second.holder == Holder::Lower)
        return; // passed on by a lower driver: the owner's location is already known
    it->second.holder = Holder::Lower;
    it->second.ownerLocation = irp->CurrentLocation;
}

void IrpTracker::ReturnToOwner(PIRP irp)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(irp);
    if (it != records_.end())
        it->second.holder = Holder::Owner;
}

void IrpTracker::SetBufferedOutputLength(PIRP irp, ULONG length)
{
    std::lock_guard<std::mutex> guard(lock_);
    auto it = records_.find(irp);
    if (it != records_.end())
        it->second.bufferedOutputLength = length;
}

void IrpTracker::Remove(PIRP irp)
{
    std::lock_guard<std::mutex> guard(lock_);
    records_.erase(irp);
}

std::vector<std::pair<PIRP, IrpTracker::Record>> IrpTracker::TakeAllocated()
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::pair<PIRP, Record>> taken;
    for (auto it = records_.begin(); it != records_.end();) {
        if (it->second.origin == Origin::Allocated) {
            taken.emplace_back(it->first, it->second);
            it = records_.erase(it);
        } else {
            ++it;
        }
    }
    return taken;
}

} // namespace host
