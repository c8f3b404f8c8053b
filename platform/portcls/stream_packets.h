// The stream requests of a pin (IOCTL_KS_WRITE_STREAM, IOCTL_KS_READ_STREAM): each carries an
// array of KSSTREAM_HEADERs in its output buffer, one per data buffer. A packet is a request
// with its headers checked and its buffers reachable from any thread: a kernel-mode request's
// as they are; a user-mode request's headers captured and each data buffer probed, locked and
// mapped into system space through an MDL of the request.
#pragma once

#include "ks_request.h"

#include <vector>

namespace host {

struct StreamSegment {
    PUCHAR data;
    ULONG length; // bytes to play, or room to fill
    ULONG done;
    PKSSTREAM_HEADER header;
};

struct StreamPacket {
    PIRP irp;
    KsRequestBuffers buffers;
    std::vector<StreamSegment> segments;
    size_t current = 0;
    ULONGLONG bytes = 0; // all segments

    bool Finished() const { return current == segments.size(); }
    // Moves past the current segment once it is done (and past empty ones).
    void SkipDone();
};

// Builds the packet of a stream request; `capture` for IOCTL_KS_READ_STREAM. On failure the
// request is left to the caller, which completes it with the status.
NTSTATUS BuildStreamPacket(PIRP irp, bool capture, StreamPacket *packet);

} // namespace host
