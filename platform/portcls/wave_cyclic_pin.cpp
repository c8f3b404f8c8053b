#include "wave_cyclic_pin.h"

#include "pin_connect.h"
#include "pool_tags.h"
#include "port_wave_cyclic.h"
#include "wave_cyclic_filter.h"

#include "kernel/machine.h"

#include <algorithm>
#include <cstring>

namespace host {

namespace {

// The notification interval the port asks of every stream, as Windows' port does.
constexpr ULONG kNotificationIntervalMs = 10;

void Report(VerifierCheck check, const std::string &what)
{
    CurrentThread("WaveCyclic pin")->machine->Checks().Report(check, what);
}

} // namespace

WaveCyclicPin::WaveCyclicPin(WaveCyclicFilter &filter, ULONG pinId, bool capture)
    : CUnknown(nullptr), filter_(filter), pinId_(pinId), capture_(capture)
{
    KeInitializeMutex(&requests_, 0);
    KeInitializeSpinLock(&lock_);
}

WaveCyclicPin::~WaveCyclicPin() = default;

STDMETHODIMP_(NTSTATUS) WaveCyclicPin::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IServiceSink)) {
        *object = PVOID(PSERVICESINK(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

NTSTATUS WaveCyclicPin::Create(WaveCyclicFilter &filter, ULONG pinId, const KSDATAFORMAT &format,
                               PIRP, WaveCyclicPin **created)
{
    CPortWaveCyclic &port = filter.Port();
    const bool capture =
        PinDescriptorOf(port.Descriptor(), pinId).KsPinDescriptor.DataFlow == KSPIN_DATAFLOW_OUT;
    auto pin = new (NonPagedPoolNx, kPinTag) WaveCyclicPin(filter, pinId, capture);
    if (pin == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    pin->NonDelegatingAddRef(); // released by Close
    auto bytes = reinterpret_cast<const UCHAR *>(&format);
    pin->format_.assign(bytes, bytes + format.FormatSize);
    NTSTATUS status = port.Miniport()->NewStream(
        &pin->stream_, nullptr, NonPagedPool, pinId, capture,
        reinterpret_cast<PKSDATAFORMAT>(pin->format_.data()), &pin->dma_, &pin->group_);
    if (NT_SUCCESS(status) &&
        (pin->stream_ == nullptr || pin->dma_ == nullptr || pin->group_ == nullptr)) {
        Report(VerifierCheck::Usage,
               "IMiniportWaveCyclic::NewStream succeeded without a stream, DMA channel or "
               "service group");
        for (PUNKNOWN given : {PUNKNOWN(pin->stream_), PUNKNOWN(pin->dma_), PUNKNOWN(pin->group_)})
            if (given != nullptr)
                given->Release();
        status = STATUS_UNSUCCESSFUL;
    }
    if (!NT_SUCCESS(status)) {
        pin->Release();
        return status;
    }
    ULONG frameSize = 0;
    pin->stream_->SetNotificationFreq(kNotificationIntervalMs, &frameSize);
    pin->group_->AddMember(pin);
    port.PinOpened(pin);
    *created = pin;
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Requests

NTSTATUS WaveCyclicPin::DeviceControl(PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    switch (location->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_KS_PROPERTY: {
        static const PortPropertyItem items[] = {
            {&KSPROPSETID_Connection, KSPROPERTY_CONNECTION_STATE,
             KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 0, sizeof(KSSTATE), ConnectionProperty},
            {&KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT,
             KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET, 0, 0, ConnectionProperty},
            {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_POSITION, KSPROPERTY_TYPE_GET, 0,
             sizeof(KSAUDIO_POSITION), PositionProperty},
        };
        CPortWaveCyclic &port = filter_.Port();
        const PCFILTER_DESCRIPTOR &descriptor = port.Descriptor();
        PropertyTarget target{this,
                              items,
                              std::size(items),
                              PinDescriptorOf(descriptor, pinId_).AutomationTable,
                              &descriptor,
                              port.Miniport(),
                              stream_};
        KeWaitForSingleObject(&requests_, Executive, KernelMode, FALSE, nullptr);
        NTSTATUS status = DispatchProperty(irp, target);
        KeReleaseMutex(&requests_, FALSE);
        return status;
    }
    case IOCTL_KS_WRITE_STREAM: return StreamIo(irp, false);
    case IOCTL_KS_READ_STREAM: return StreamIo(irp, true);
    case IOCTL_KS_RESET_STATE: // what is queued is cancelled, as at cleanup
        Cleanup();
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_SUCCESS;
    default:
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
}

NTSTATUS WaveCyclicPin::ConnectionProperty(void *object, PropertyCall &call)
{
    auto pin = static_cast<WaveCyclicPin *>(object);
    if (call.property->Id == KSPROPERTY_CONNECTION_STATE) {
        if (call.verb == KSPROPERTY_TYPE_GET) {
            KSSTATE state = pin->state_;
            std::memcpy(call.value, &state, sizeof state);
            return STATUS_SUCCESS;
        }
        KSSTATE target;
        std::memcpy(&target, call.value, sizeof target);
        return pin->SetState(target);
    }
    if (call.verb == KSPROPERTY_TYPE_GET)
        return AnswerValue(call, pin->format_.data(), ULONG(pin->format_.size()));
    // A new format: checked like a pin's first, then given to the stream.
    if (call.valueSize < sizeof(KSDATAFORMAT))
        return STATUS_BUFFER_TOO_SMALL;
    auto format = static_cast<PKSDATAFORMAT>(call.value);
    if (format->FormatSize < sizeof(KSDATAFORMAT) || format->FormatSize > call.valueSize)
        return STATUS_INVALID_BUFFER_SIZE;
    const PCPIN_DESCRIPTOR &descriptor =
        PinDescriptorOf(pin->filter_.Port().Descriptor(), pin->pinId_);
    if (!FormatInPinRanges(descriptor, *format))
        return STATUS_NO_MATCH;
    NTSTATUS status = pin->stream_->SetFormat(format);
    if (!NT_SUCCESS(status))
        return status;
    auto bytes = reinterpret_cast<const UCHAR *>(format);
    pin->format_.assign(bytes, bytes + format->FormatSize);
    KIRQL irql;
    KeAcquireSpinLock(&pin->lock_, &irql);
    pin->fresh_ = true; // the stream may have a new buffer: re-read at the next RUN
    if (pin->running_ && pin->ReadBufferLocked()) {
        pin->stream_->GetPosition(&pin->position_);
        pin->offset_ = pin->position_ % pin->size_;
        pin->ahead_ = pin->silent_ = 0;
        pin->fresh_ = false;
    }
    KeReleaseSpinLock(&pin->lock_, irql);
    call.information = 0;
    return STATUS_SUCCESS;
}

NTSTATUS WaveCyclicPin::PositionProperty(void *object, PropertyCall &call)
{
    auto pin = static_cast<WaveCyclicPin *>(object);
    KSAUDIO_POSITION position = {};
    KIRQL irql;
    KeAcquireSpinLock(&pin->lock_, &irql);
    position.WriteOffset = pin->submitted_;
    position.PlayOffset = pin->moved_;
    if (pin->running_) {
        ULONG now = 0;
        pin->stream_->GetPosition(&now);
        const ULONG advance = (now % pin->size_ + pin->size_ - pin->position_) % pin->size_;
        position.PlayOffset += pin->capture_ ? advance : std::min(advance, pin->ahead_);
    }
    KeReleaseSpinLock(&pin->lock_, irql);
    std::memcpy(call.value, &position, sizeof position);
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// States

NTSTATUS WaveCyclicPin::SetState(KSSTATE target)
{
    if (target < KSSTATE_STOP || target > KSSTATE_RUN)
        return STATUS_INVALID_PARAMETER;
    while (state_ != target) {
        NTSTATUS status = Step(KSSTATE(state_ < target ? state_ + 1 : state_ - 1));
        if (!NT_SUCCESS(status))
            return status;
    }
    return STATUS_SUCCESS;
}

NTSTATUS WaveCyclicPin::Step(KSSTATE next)
{
    std::vector<StreamPacket *> finished;
    KIRQL irql;
    NTSTATUS status;
    if (next == KSSTATE_RUN) {
        KeAcquireSpinLock(&lock_, &irql);
        if (!ReadBufferLocked()) {
            KeReleaseSpinLock(&lock_, irql);
            Report(VerifierCheck::Usage,
                   "a stream entered RUN while its DMA channel describes no buffer");
            return STATUS_INVALID_DEVICE_STATE;
        }
        if (fresh_) {
            stream_->GetPosition(&position_);
            position_ %= size_;
            offset_ = position_;
            ahead_ = silent_ = 0;
            fresh_ = false;
        }
        if (!capture_)
            ServiceLocked(&finished); // the buffer holds data before the device starts
        KeReleaseSpinLock(&lock_, irql);
        CompletePackets(finished, STATUS_SUCCESS);
        status = stream_->SetState(KSSTATE_RUN);
        if (NT_SUCCESS(status)) {
            KeAcquireSpinLock(&lock_, &irql);
            state_ = KSSTATE_RUN;
            running_ = true;
            KeReleaseSpinLock(&lock_, irql);
        }
        return status;
    }
    if (state_ == KSSTATE_RUN) { // to PAUSE: the service passes stop first
        KeAcquireSpinLock(&lock_, &irql);
        running_ = false;
        KeReleaseSpinLock(&lock_, irql);
    }
    status = stream_->SetState(next);
    KeAcquireSpinLock(&lock_, &irql);
    if (NT_SUCCESS(status)) {
        state_ = next;
        if (next == KSSTATE_STOP) {
            fresh_ = true;
            TakeQueuedLocked(&finished);
        }
    } else if (state_ == KSSTATE_RUN) {
        running_ = true;
    }
    KeReleaseSpinLock(&lock_, irql);
    CompletePackets(finished, STATUS_CANCELLED);
    return status;
}

bool WaveCyclicPin::ReadBufferLocked()
{
    buffer_ = static_cast<PUCHAR>(dma_->SystemAddress());
    const ULONG size = dma_->BufferSize();
    if (size != size_)
        fresh_ = true;
    size_ = size;
    return buffer_ != nullptr && size_ != 0;
}

// ---------------------------------------------------------------------------------------------
// The service pass

STDMETHODIMP_(void) WaveCyclicPin::RequestService()
{
    std::vector<StreamPacket *> finished;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    if (running_)
        ServiceLocked(&finished);
    KeReleaseSpinLock(&lock_, irql);
    CompletePackets(finished, STATUS_SUCCESS);
}

void WaveCyclicPin::ServiceLocked(std::vector<StreamPacket *> *finished)
{
    ULONG position = 0;
    stream_->GetPosition(&position);
    if (position >= size_) {
        Report(VerifierCheck::Usage, "GetPosition returned " + std::to_string(position) +
                                         ", beyond the " + std::to_string(size_) +
                                         "-byte cyclic buffer");
        position %= size_;
    }
    if (capture_)
        ServiceCaptureLocked(position, finished);
    else
        ServiceRenderLocked(position, finished);
}

void WaveCyclicPin::FinishFrontLocked(std::vector<StreamPacket *> *finished)
{
    StreamPacket *packet = queue_.front();
    queue_.pop_front();
    if (IoSetCancelRoutine(packet->irp, nullptr) != nullptr)
        finished->push_back(packet);
    else
        cancelling_.push_back(packet); // its cancel routine runs and completes it
}

void WaveCyclicPin::ServiceRenderLocked(ULONG position, std::vector<StreamPacket *> *finished)
{
    const ULONG advance = (position + size_ - position_) % size_;
    position_ = position;
    if (advance > ahead_) {
        // The device played past the data: an under-run. Writing resumes at the position.
        ++underruns_;
        moved_ += ahead_;
        const ULONG past = advance - ahead_;
        silent_ = silent_ > past ? silent_ - past : 0;
        offset_ = position;
        ahead_ = 0;
    } else {
        ahead_ -= advance;
        moved_ += advance;
    }
    ULONG room = size_ - ahead_;
    while (room != 0 && !queue_.empty()) {
        StreamPacket &packet = *queue_.front();
        StreamSegment &segment = packet.segments[packet.current];
        const ULONG n = std::min({room, segment.length - segment.done, size_ - offset_});
        dma_->CopyTo(buffer_ + offset_, segment.data + segment.done, n);
        segment.done += n;
        offset_ = (offset_ + n) % size_;
        ahead_ += n;
        room -= n;
        silent_ = silent_ > n ? silent_ - n : 0;
        packet.SkipDone();
        if (packet.Finished())
            FinishFrontLocked(finished);
    }
    if (queue_.empty() && room > silent_) {
        // No data: the part of the free buffer that is not silent yet becomes silence.
        ULONG at = (offset_ + silent_) % size_;
        for (ULONG left = room - silent_; left != 0;) {
            const ULONG n = std::min(left, size_ - at);
            stream_->Silence(buffer_ + at, n);
            at = (at + n) % size_;
            left -= n;
        }
        silent_ = room;
    }
}

void WaveCyclicPin::ServiceCaptureLocked(ULONG position, std::vector<StreamPacket *> *finished)
{
    ULONG available = (position + size_ - offset_) % size_;
    moved_ += available;
    position_ = position;
    while (available != 0) {
        if (queue_.empty()) {
            offset_ = position; // nobody takes these bytes: they are lost
            return;
        }
        StreamPacket &packet = *queue_.front();
        StreamSegment &segment = packet.segments[packet.current];
        const ULONG n = std::min({available, segment.length - segment.done, size_ - offset_});
        dma_->CopyFrom(segment.data + segment.done, buffer_ + offset_, n);
        segment.done += n;
        segment.header->DataUsed += n;
        offset_ = (offset_ + n) % size_;
        available -= n;
        packet.SkipDone();
        if (packet.Finished())
            FinishFrontLocked(finished);
    }
}

// ---------------------------------------------------------------------------------------------
// Stream requests

NTSTATUS WaveCyclicPin::StreamIo(PIRP irp, bool capture)
{
    auto packet = new StreamPacket();
    NTSTATUS status = capture == capture_ ? BuildStreamPacket(irp, capture, packet)
                                          : STATUS_INVALID_DEVICE_REQUEST;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    if (NT_SUCCESS(status) && state_ == KSSTATE_STOP)
        status = STATUS_INVALID_DEVICE_STATE;
    if (NT_SUCCESS(status)) {
        IoMarkIrpPending(irp);
        irp->Tail.Overlay.DriverContext[0] = this;
        irp->Tail.Overlay.DriverContext[1] = packet;
        IoSetCancelRoutine(irp, CancelStreamIo);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            status = STATUS_CANCELLED;
        } else {
            AddRef(); // the pin lives as long as its packets
            queue_.push_back(packet);
            submitted_ += packet->bytes;
        }
    }
    KeReleaseSpinLock(&lock_, irql);
    if (status == STATUS_CANCELLED) {
        AddRef();
        std::vector<StreamPacket *> cancelled{packet};
        CompletePackets(cancelled, status);
        return STATUS_PENDING;
    }
    if (!NT_SUCCESS(status)) {
        CompleteKsRequest(irp, packet->buffers, status, 0);
        delete packet;
        return status;
    }
    return STATUS_PENDING;
}

void WaveCyclicPin::CancelStreamIo(PDEVICE_OBJECT, PIRP irp)
{
    IoReleaseCancelSpinLock(irp->CancelIrql);
    auto pin = static_cast<WaveCyclicPin *>(irp->Tail.Overlay.DriverContext[0]);
    auto packet = static_cast<StreamPacket *>(irp->Tail.Overlay.DriverContext[1]);
    KIRQL irql;
    KeAcquireSpinLock(&pin->lock_, &irql);
    auto queued = std::find(pin->queue_.begin(), pin->queue_.end(), packet);
    if (queued != pin->queue_.end())
        pin->queue_.erase(queued);
    pin->cancelling_.erase(std::remove(pin->cancelling_.begin(), pin->cancelling_.end(), packet),
                           pin->cancelling_.end());
    KeReleaseSpinLock(&pin->lock_, irql);
    std::vector<StreamPacket *> cancelled{packet};
    CompletePackets(cancelled, STATUS_CANCELLED);
}

void WaveCyclicPin::TakeQueuedLocked(std::vector<StreamPacket *> *taken)
{
    for (StreamPacket *packet : queue_) {
        if (IoSetCancelRoutine(packet->irp, nullptr) != nullptr)
            taken->push_back(packet);
        else
            cancelling_.push_back(packet);
    }
    queue_.clear();
}

void WaveCyclicPin::CompletePackets(std::vector<StreamPacket *> &packets, NTSTATUS status)
{
    for (StreamPacket *packet : packets) {
        WaveCyclicPin *pin =
            static_cast<WaveCyclicPin *>(packet->irp->Tail.Overlay.DriverContext[0]);
        const ULONG_PTR information = NT_SUCCESS(status) ? packet->buffers.outputLength : 0;
        CompleteKsRequest(packet->irp, packet->buffers, status, information);
        delete packet;
        pin->Release();
    }
    packets.clear();
}

// ---------------------------------------------------------------------------------------------
// Cleanup, close and power

void WaveCyclicPin::Cleanup()
{
    std::vector<StreamPacket *> taken;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    TakeQueuedLocked(&taken);
    KeReleaseSpinLock(&lock_, irql);
    CompletePackets(taken, STATUS_CANCELLED);
}

void WaveCyclicPin::Close()
{
    KeWaitForSingleObject(&requests_, Executive, KernelMode, FALSE, nullptr);
    // The stream is walked down to STOP whatever it answers; its resources go either way.
    while (state_ != KSSTATE_STOP) {
        const KSSTATE from = state_;
        if (!NT_SUCCESS(Step(KSSTATE(from - 1)))) {
            Report(VerifierCheck::Usage, "the stream refused to leave state " +
                                             std::to_string(from) + " while its pin closed");
            KIRQL irql;
            KeAcquireSpinLock(&lock_, &irql);
            state_ = KSSTATE(from - 1);
            running_ = false;
            KeReleaseSpinLock(&lock_, irql);
        }
    }
    Cleanup();
    group_->RemoveMember(this);
    filter_.Port().PinClosed(this);
    group_->Release();
    dma_->Release();
    if (ULONG left = stream_->Release())
        Report(VerifierCheck::ObjectLeak, "the stream of pin " + std::to_string(pinId_) +
                                              " still has " + std::to_string(left) +
                                              " reference(s) after its pin closed");
    stream_ = nullptr;
    filter_.PinClosed(pinId_);
    KeReleaseMutex(&requests_, FALSE);
    Release(); // the pin's own reference (packets being cancelled hold theirs)
}

void WaveCyclicPin::PauseForPowerDown()
{
    KeWaitForSingleObject(&requests_, Executive, KernelMode, FALSE, nullptr);
    powerResumeState_ = state_;
    if (state_ == KSSTATE_RUN)
        Step(KSSTATE_PAUSE);
    KeReleaseMutex(&requests_, FALSE);
}

void WaveCyclicPin::ResumeAfterPowerUp()
{
    KeWaitForSingleObject(&requests_, Executive, KernelMode, FALSE, nullptr);
    if (powerResumeState_ == KSSTATE_RUN && state_ == KSSTATE_PAUSE)
        Step(KSSTATE_RUN);
    powerResumeState_ = KSSTATE_STOP;
    KeReleaseMutex(&requests_, FALSE);
}

void WaveCyclicPin::NotifyPower(POWER_STATE state)
{
    PVOID notify = nullptr;
    if (stream_ != nullptr && NT_SUCCESS(stream_->QueryInterface(IID_IPowerNotify, &notify))) {
        static_cast<PPOWERNOTIFY>(notify)->PowerChangeNotify(state);
        static_cast<PPOWERNOTIFY>(notify)->Release();
    }
}

} // namespace host
