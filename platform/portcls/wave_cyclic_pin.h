// A pin instance of a WaveCyclic port: the miniport's stream (NewStream), the cyclic buffer its
// DMA channel describes, and the client's stream requests, moved between the two by the
// port's service routine.
//
// How the port runs the buffer (choices where the documentation is silent are marked *):
// - The pin is a member of the stream's service group; a Notify queues the group's DPC, whose
//   call to the pin's RequestService runs one service pass at DISPATCH_LEVEL. A pass reads
//   GetPosition and then, for render, copies client bytes with CopyTo from its write offset up
//   to the play position (the whole free part of the buffer), in pieces that never cross the
//   buffer's end or a client buffer's end*; for capture it copies what lies between its read
//   offset and the capture position into client buffers with CopyFrom (bytes with no client
//   buffer to take them are dropped*).
// - Render bookkeeping: the bytes of client data between the play position and the write
//   offset. A position that moved further than that has played past the data: an under-run,
//   not a wrap; writing resumes at the position. When the client has no data the port calls
//   Silence on the free part of the buffer that is not silent yet, so stale bytes never play;
//   new data still goes right behind the old (the silence is a placeholder)*.
// - Entering RUN the port re-reads the buffer (SystemAddress, BufferSize)* and, for render,
//   runs one pass before the miniport's SetState(RUN), so the buffer holds data when the device
//   starts*. After a format change (KSPROPERTY_CONNECTION_DATAFORMAT) it re-reads the buffer
//   too*. Positions start afresh after STOP.
// - KSPROPERTY_CONNECTION_STATE walks every intermediate state (ACQUIRE to RUN goes through
//   PAUSE), one miniport SetState per step; a failing step leaves the pin in the state reached.
// - Stream requests are refused in STOP (STATUS_INVALID_DEVICE_STATE); going to STOP, cleanup
//   and close cancel what is queued. A request completes once all its bytes are copied
//   (render) or its buffers are full (capture).
// - KSPROPERTY_AUDIO_POSITION: WriteOffset is the bytes the client has submitted (render data,
//   capture room); PlayOffset the bytes the device has taken from or given to them*.
// - Property and state requests are serialised per pin and run in the caller's thread at
//   PASSIVE_LEVEL; close runs on the closing thread and walks the stream down to STOP.
#pragma once

#include "ks_property.h"
#include "port_subdevice.h"
#include "stream_packets.h"

#include <stdunk.h>

#include <deque>
#include <vector>

namespace host {

class WaveCyclicFilter;

class WaveCyclicPin : public KsObject, public IServiceSink, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    IMP_IServiceSink

        static NTSTATUS
        Create(WaveCyclicFilter &filter, ULONG pinId, const KSDATAFORMAT &format, PIRP irp,
               WaveCyclicPin **pin);

    NTSTATUS DeviceControl(PIRP irp) override;
    void Cleanup() override;
    void Close() override;

    // Power: a running stream pauses before the device powers down and runs again after it is
    // back in D0. The stream hears of the change if it implements IPowerNotify.
    void PauseForPowerDown();
    void ResumeAfterPowerUp();
    void NotifyPower(POWER_STATE state);

private:
    WaveCyclicPin(WaveCyclicFilter &filter, ULONG pinId, bool capture);
    ~WaveCyclicPin() override;

    NTSTATUS SetState(KSSTATE target);
    NTSTATUS Step(KSSTATE next);
    NTSTATUS StreamIo(PIRP irp, bool capture);
    static void CancelStreamIo(PDEVICE_OBJECT device, PIRP irp);
    // Completes the packets, outside the lock.
    static void CompletePackets(std::vector<StreamPacket *> &packets, NTSTATUS status);
    // Takes every queued packet out for cancelling (those whose cancel routine is already
    // running stay for it).
    void TakeQueuedLocked(std::vector<StreamPacket *> *taken);
    bool ReadBufferLocked();
    void ServiceLocked(std::vector<StreamPacket *> *finished);
    void ServiceRenderLocked(ULONG position, std::vector<StreamPacket *> *finished);
    void ServiceCaptureLocked(ULONG position, std::vector<StreamPacket *> *finished);
    void FinishFrontLocked(std::vector<StreamPacket *> *finished);

    static NTSTATUS ConnectionProperty(void *pin, PropertyCall &call);
    static NTSTATUS PositionProperty(void *pin, PropertyCall &call);

    WaveCyclicFilter &filter_;
    const ULONG pinId_;
    const bool capture_;
    PMINIPORTWAVECYCLICSTREAM stream_ = nullptr;
    PDMACHANNEL dma_ = nullptr;
    PSERVICEGROUP group_ = nullptr;
    std::vector<UCHAR> format_;
    KMUTEX requests_;
    KSPIN_LOCK lock_;

    // --- under lock_ ---
    KSSTATE state_ = KSSTATE_STOP;
    KSSTATE powerResumeState_ = KSSTATE_STOP;
    bool running_ = false;
    bool fresh_ = true; // positions start afresh at the next RUN
    PUCHAR buffer_ = nullptr;
    ULONG size_ = 0;
    ULONG position_ = 0; // the stream's last position
    ULONG offset_ = 0;   // render: write offset; capture: read offset
    ULONG ahead_ = 0;    // render: data bytes from the position to the write offset
    ULONG silent_ = 0;   // render: silent bytes after the write offset
    ULONGLONG submitted_ = 0;
    ULONGLONG moved_ = 0;
    ULONG underruns_ = 0;
    std::deque<StreamPacket *> queue_;
    std::vector<StreamPacket *> cancelling_; // taken out while their cancel routine runs
};

} // namespace host
