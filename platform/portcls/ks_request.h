// The buffers of a KS request (IOCTL_KS_PROPERTY, IOCTL_KS_WRITE_STREAM, IOCTL_KS_READ_STREAM:
// METHOD_NEITHER). A kernel-mode request's buffers are used as they are. A user-mode request's
// buffers are probed and captured into one system buffer, output part first, which the I/O
// manager copies back to the caller's output buffer when the request completes, in the
// caller's context: the driver never touches user addresses.
#pragma once

#include <wdm.h>
#include <ks.h>

namespace host {

struct KsRequestBuffers {
    PVOID input;
    ULONG inputLength;
    PVOID output;
    ULONG outputLength;
    bool captured; // a user-mode request, captured
};

// STATUS_SUCCESS, or the probe's or the allocation's failure.
NTSTATUS CaptureKsRequest(PIRP irp, KsRequestBuffers *buffers);

// Completes a KS request: status and information, and for a captured request whether its
// output is copied back (not for errors, nor when the information exceeds the output buffer,
// as for the needed size a size query returns).
void CompleteKsRequest(PIRP irp, const KsRequestBuffers &buffers, NTSTATUS status,
                       ULONG_PTR information);

} // namespace host
