// The verifier's view of every IRP of a machine: where it came from and who holds it. An IRP is
// held by its owner (the driver that allocated it, or the I/O manager for a thread's request)
// until IofCallDriver hands it down; it comes back when completion reaches the owner's stack
// location. Freeing, reusing or completing it while the wrong party holds it is what the
// I/O manager's checks report.
#pragma once

#include <wdm/io.h>

#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

namespace host {

class IrpTracker {
public:
    enum class Origin {
        Allocated,   // IoAllocateIrp: freed with IoFreeIrp or by the I/O manager
        Initialized, // IoInitializeIrp on memory the driver owns
    };
    enum class Holder { Owner, Lower };

    struct Record {
        Origin origin = Origin::Allocated;
        Holder holder = Holder::Owner;
        CHAR ownerLocation = 0;         // the owner's CurrentLocation when it sent the IRP
        ULONG bufferedOutputLength = 0; // METHOD_BUFFERED requests: room in the caller's buffer
    };

    // Starts (or, for an IRP re-initialised in place, restarts) tracking an IRP held by its owner.
    void Add(PIRP irp, Origin origin);
    // A copy of the IRP's record; false if the IRP is not live.
    bool Find(PIRP irp, Record *record) const;
    // IofCallDriver: the IRP goes down. Sent by its owner, it remembers the owner's location.
    void Dispatch(PIRP irp);
    // Completion reached the owner's location (or passed the top): the owner holds it again.
    void ReturnToOwner(PIRP irp);
    void SetBufferedOutputLength(PIRP irp, ULONG length);
    void Remove(PIRP irp);
    // Stops tracking every IRP that IoAllocateIrp made and returns them (machine teardown).
    std::vector<std::pair<PIRP, Record>> TakeAllocated();

private:
    mutable std::mutex lock_;
    std::unordered_map<PIRP, Record> records_;
};

} // namespace host
