// One system work queue (critical, delayed, ...): a FIFO of I/O work items and the emulated
// system worker thread that runs them at PASSIVE_LEVEL, one after the other.
#pragma once

#include <wdm/io.h>

#include <mutex>

// The work item behind PIO_WORKITEM; drivers only see the pointer.
struct _IO_WORKITEM {
    static constexpr ULONG kMagic = 0x6b57496f; // "IoWk"
    ULONG magic = kMagic;
    bool queued = false;
    LIST_ENTRY link = {nullptr, nullptr}; // in its queue while queued
    PVOID ioObject = nullptr;             // the device object it was allocated for
    PIO_WORKITEM_ROUTINE routine = nullptr;
    PIO_WORKITEM_ROUTINE_EX routineEx = nullptr;
    PVOID context = nullptr;
};

namespace host {

class Machine;

class WorkItemQueue {
public:
    WorkItemQueue(Machine &machine, const char *name);
    WorkItemQueue(const WorkItemQueue &) = delete;
    WorkItemQueue &operator=(const WorkItemQueue &) = delete;

    // Appends an item whose device object the caller has referenced; the worker drops that
    // reference after the routine returns. Starts the worker on first use. False once stopped.
    bool Enqueue(PIO_WORKITEM item);
    // Lets the worker run what is queued, then ends it and waits for it. Called from an emulated
    // thread of the machine.
    void Stop();

private:
    void WorkerMain();
    PIO_WORKITEM Next(bool *stop);
    void Run(PIO_WORKITEM item);

    Machine &machine_;
    const char *name_;
    std::mutex lock_;
    LIST_ENTRY items_;
    KEVENT pending_;
    PKTHREAD worker_ = nullptr;
    bool stopping_ = false;
};

} // namespace host
