// The I/O manager's side of the requests a user process sends to devices through file handles
// (DeviceIoControl): the IRP it builds for one, its completion back to the caller, and its
// cancellation.
//
// A request is an IRP the I/O manager owns (its completion routine takes it back, with
// STATUS_MORE_PROCESSING_REQUIRED): once the driver completes it, the output of a buffered
// request is copied out, the caller's status block (its OVERLAPPED) is written and its event set,
// as Windows does, except for a request that failed without having been pended, whose failure
// reaches the caller through the call's return only. Until then it is listed with its process,
// so that CancelIoEx and CancelIo find it, and a thread that ends has its requests cancelled and
// waits for them, since they may name buffers its unwinding frees.
#pragma once

#include <wdm.h>

#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace host::win32 {

struct OutstandingRequest;

// One per process; shared with its outstanding requests, which may complete after the process.
class UserRequests : public std::enable_shared_from_this<UserRequests> {
public:
    UserRequests() = default;
    UserRequests(const UserRequests &) = delete;
    UserRequests &operator=(const UserRequests &) = delete;

    struct Parameters {
        PFILE_OBJECT file; // referenced by the caller; the request takes its own reference
        ULONG controlCode;
        PVOID input;
        ULONG inputLength;
        PVOID output;
        ULONG outputLength;
        PIO_STATUS_BLOCK statusBlock; // where the outcome goes (an OVERLAPPED, or the caller's)
        PKEVENT event;                // set at completion
        bool eventIsObject;           // an event object (the request takes a reference)
    };

    // Builds the request and sends it to the top of the file's device stack; returns what the
    // driver returned (STATUS_PENDING while the request is outstanding).
    NTSTATUS Send(const Parameters &parameters);

    // Cancels the process's outstanding requests on the file (only the calling thread's when
    // `callingThreadOnly`), those whose status block is `statusBlock` if it is given. False if
    // there were none.
    bool Cancel(PFILE_OBJECT file, PIO_STATUS_BLOCK statusBlock, bool callingThreadOnly);

    // Cancels the outstanding requests of a thread (of every thread when null) and waits until
    // each has completed.
    void Drain(PKTHREAD thread);

private:
    static NTSTATUS Completed(PDEVICE_OBJECT device, PIRP irp, PVOID context);
    // The caller's copy of the outcome, then the IRP and the references go.
    static void Finish(OutstandingRequest *request);
    // IoCancelIrp on a listed request, kept from being freed meanwhile.
    void CancelListed(OutstandingRequest *request);

    std::mutex lock_;
    std::list<OutstandingRequest *> outstanding_;
};

} // namespace host::win32
