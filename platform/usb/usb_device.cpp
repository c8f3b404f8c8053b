#include "usb_device.h"

#include "usb_host_controller.h"

#include <usbdlib.h>

#include <algorithm>
#include <cstdio>

namespace host {

namespace {

ULONGLONG AlignUp(ULONGLONG value, ULONG period) { return (value + period - 1) / period * period; }

UsbSetupPacket Setup(UCHAR bmRequestType, UCHAR bRequest, USHORT wValue, USHORT wIndex,
                     USHORT wLength)
{
    return {bmRequestType, bRequest, wValue, wIndex, wLength};
}

const char *PipeTypeName(USBD_PIPE_TYPE type)
{
    switch (type) {
    case UsbdPipeTypeControl: return "a control";
    case UsbdPipeTypeIsochronous: return "an isochronous";
    case UsbdPipeTypeBulk: return "a bulk";
    case UsbdPipeTypeInterrupt: return "an interrupt";
    }
    return "?";
}

std::string HandleText(PVOID handle)
{
    char text[32];
    std::snprintf(text, sizeof text, "%p", handle);
    return text;
}

} // namespace

UsbDevice::UsbDevice(UsbHostController &controller, int port, std::shared_ptr<UsbDeviceModel> model,
                     UsbFaultScript &faults, ULONGLONG plugTime)
    : controller_(controller), port_(port), model_(std::move(model)), faults_(faults),
      speed_(model_->Speed()), intervalTime_(speed_ == UsbSpeed::High ? 1250 : 10000),
      intervalsPerFrame_(speed_ == UsbSpeed::High ? 8 : 1),
      baseFrame_((plugTime + kFrameTime - 1) / kFrameTime)
{
}

UsbDevice::~UsbDevice() = default;

ULONGLONG UsbDevice::IntervalInProgress(ULONGLONG now) const
{
    ULONGLONG base = baseFrame_ * kFrameTime;
    return now < base ? 0 : (now - base) / intervalTime_;
}

ULONGLONG UsbDevice::EndTime(ULONGLONG interval) const
{
    return baseFrame_ * kFrameTime + (interval + 1) * intervalTime_;
}

ULONGLONG UsbDevice::FirstSchedulableInterval(ULONGLONG now) const
{
    // The interval in progress has begun: the earliest one the schedule can still take is the
    // next (or interval 0 before the first frame after the plug).
    return now < baseFrame_ * kFrameTime ? 0 : IntervalInProgress(now) + 1;
}

ULONG UsbDevice::FrameOf(ULONGLONG interval) const
{
    return ULONG(baseFrame_ + interval / intervalsPerFrame_);
}

PUSB_CONFIGURATION_DESCRIPTOR UsbDevice::Configuration()
{
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(configuration_.data());
}

UsbPipe *UsbDevice::FindPipe(USBD_PIPE_HANDLE handle)
{
    for (OpenInterface &open : interfaces_)
        for (auto &pipe : open.pipes)
            if (pipe->handle == handle)
                return pipe.get();
    return nullptr;
}

UsbDevice::OpenInterface *UsbDevice::FindOpenInterface(UCHAR number)
{
    for (OpenInterface &open : interfaces_)
        if (open.number == number)
            return &open;
    return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Enumeration and the default pipe

bool UsbDevice::Enumerate()
{
    model_->Connected(*this);
    ULONG length = 0;
    USBD_STATUS status =
        ControlTransfer(Setup(0x80, USB_REQUEST_GET_DESCRIPTOR,
                              USB_DESCRIPTOR_MAKE_TYPE_AND_INDEX(USB_DEVICE_DESCRIPTOR_TYPE, 0), 0,
                              sizeof descriptor_),
                        reinterpret_cast<UCHAR *>(&descriptor_), &length, 0);
    if (status != USBD_STATUS_SUCCESS || length != sizeof descriptor_ ||
        descriptor_.bDescriptorType != USB_DEVICE_DESCRIPTOR_TYPE)
        return false;
    // The hub reads the configuration's header as well, to tell a composite device: a class of
    // 0 or the interface association class, one configuration, more than one interface. It
    // goes straight to the device: a port's scripted faults are for the client driver's requests.
    USB_CONFIGURATION_DESCRIPTOR header{};
    const UsbControlResult result = model_->Control(
        Setup(0x80, USB_REQUEST_GET_DESCRIPTOR,
              USB_DESCRIPTOR_MAKE_TYPE_AND_INDEX(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0), 0,
              sizeof header),
        reinterpret_cast<UCHAR *>(&header), 0);
    const bool associationClass = descriptor_.bDeviceClass == 0xEF &&
                                  descriptor_.bDeviceSubClass == 0x02 &&
                                  descriptor_.bDeviceProtocol == 0x01;
    composite_ = !result.stall && result.length >= sizeof header &&
                 header.bDescriptorType == USB_CONFIGURATION_DESCRIPTOR_TYPE &&
                 header.bNumInterfaces > 1 && descriptor_.bNumConfigurations == 1 &&
                 (descriptor_.bDeviceClass == 0 || associationClass);
    return true;
}

USBD_STATUS UsbDevice::ControlTransfer(const UsbSetupPacket &setup, UCHAR *data, ULONG *length,
                                       ULONGLONG interval)
{
    *length = 0;
    USBD_STATUS fault = faults_.ControlFault(setup);
    if (fault != USBD_STATUS_SUCCESS)
        return fault;
    UCHAR none = 0; // a request without a data stage still gets a valid pointer
    UsbControlResult result = model_->Control(setup, data != nullptr ? data : &none, interval);
    if (result.stall)
        return USBD_STATUS_STALL_PID;
    *length = std::min<ULONG>(result.length, setup.wLength);
    return USBD_STATUS_SUCCESS;
}

void UsbDevice::ScheduleControl(UsbTransfer &transfer, ULONGLONG now)
{
    // One control transfer per bus interval, in the order they came.
    transfer.interval = std::max(FirstSchedulableInterval(now), nextControlInterval_);
    nextControlInterval_ = transfer.interval + 1;
    controlQueue_.push_back(&transfer);
    transfer.queued = true;
    controller_.WakeByLocked(EndTime(transfer.interval));
}

UsbRequestCheck UsbDevice::Queue(UsbTransfer &transfer, ULONGLONG now)
{
    switch (transfer.kind) {
    case UsbRequestKind::Isochronous: return QueueIsochronous(transfer, now);
    case UsbRequestKind::BulkOrInterrupt: return QueueBulkOrInterrupt(transfer, now);
    case UsbRequestKind::SelectConfiguration:
        if (transfer.urb->UrbSelectConfiguration.ConfigurationDescriptor != nullptr) {
            std::vector<PUSBD_INTERFACE_INFORMATION> records;
            UsbRequestCheck check = SelectConfigurationRecords(transfer.urb, &records);
            if (!check.Accepted())
                return check;
        }
        break;
    case UsbRequestKind::SelectInterface: {
        UsbRequestCheck check = CheckSelectInterface(transfer);
        if (!check.Accepted())
            return check;
        break;
    }
    case UsbRequestKind::ResetPipe:
    case UsbRequestKind::ResetPipeAndClearStall:
    case UsbRequestKind::ClearStall:
        if (FindPipe(transfer.pipeHandle) == nullptr)
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PIPE_HANDLE,
                                           "pipe request on pipe handle " +
                                               HandleText(transfer.pipeHandle) +
                                               ", which is not open");
        break;
    case UsbRequestKind::Control:
    case UsbRequestKind::ResetPort: break;
    case UsbRequestKind::AbortPipe:
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER); // aborts are not queued
    }
    ScheduleControl(transfer, now);
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UsbDevice::CheckSelectInterface(const UsbTransfer &transfer)
{
    const auto &request = transfer.urb->UrbSelectInterface;
    ULONG room = request.Hdr.Length - ULONG(offsetof(struct _URB_SELECT_INTERFACE, Interface));
    if (configurationHandle_ == nullptr || request.ConfigurationHandle != configurationHandle_)
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
    if (FindOpenInterface(request.Interface.InterfaceNumber) == nullptr)
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER); // not configured
    return CheckInterfaceRecord(Configuration(), request.Interface, room);
}

void UsbDevice::Dequeue(UsbTransfer &transfer)
{
    std::deque<UsbTransfer *> &queue =
        transfer.pipe != nullptr ? transfer.pipe->transfers : controlQueue_;
    auto it = std::find(queue.begin(), queue.end(), &transfer);
    if (it == queue.end())
        return;
    bool wasHead = it == queue.begin();
    queue.erase(it);
    transfer.queued = false;
    UsbPipe *pipe = transfer.pipe;
    // A bulk or interrupt transfer that moves up is served from the next interval on.
    if (pipe != nullptr && wasHead && !pipe->Isochronous() && !queue.empty())
        queue.front()->interval = AlignUp(advancedTo_ + 1, pipe->attributes.period);
}

void UsbDevice::Finish(UsbTransfer &transfer, USBD_STATUS status)
{
    transfer.status = status;
    transfer.queued = false;
    controller_.FinishLocked(&transfer);
}

void UsbDevice::FinishAll(std::deque<UsbTransfer *> &queue, USBD_STATUS status)
{
    while (!queue.empty()) {
        UsbTransfer *transfer = queue.front();
        queue.pop_front();
        if (transfer->transferLength != nullptr)
            *transfer->transferLength = 0;
        Finish(*transfer, status);
    }
}

// ---------------------------------------------------------------------------------------------
// Isochronous, bulk and interrupt queueing

UsbRequestCheck UsbDevice::QueueIsochronous(UsbTransfer &transfer, ULONGLONG now)
{
    UsbPipe *pipe = FindPipe(transfer.pipeHandle);
    if (pipe == nullptr)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PIPE_HANDLE,
                                       "isochronous transfer on pipe handle " +
                                           HandleText(transfer.pipeHandle) + ", which is not open");
    if (!pipe->Isochronous())
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       std::string("isochronous transfer on ") +
                                           PipeTypeName(pipe->attributes.type) + " pipe");
    auto &iso = transfer.urb->UrbIsochronousTransfer;
    const ULONG packets = iso.NumberOfPackets;
    // Documented limits: 1024 packets per URB at high speed, 255 at full speed.
    const ULONG limit = speed_ == UsbSpeed::High ? 1024 : 255;
    if (packets == 0 || packets > limit)
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
    const ULONG needed = ULONG(offsetof(struct _URB_ISOCH_TRANSFER, IsoPacket)) +
                         packets * ULONG(sizeof(USBD_ISO_PACKET_DESCRIPTOR));
    if (iso.Hdr.Length < needed)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       "isochronous URB Length " + std::to_string(iso.Hdr.Length) +
                                           " holds fewer than " + std::to_string(packets) +
                                           " packet descriptors");
    const ULONG period = pipe->attributes.period;
    // High speed: a URB covers whole frames, so the packet count is a multiple of the
    // packets per frame (8, 4 or 2 for bInterval 1, 2 or 3).
    if (period < intervalsPerFrame_ && packets % (intervalsPerFrame_ / period) != 0)
        return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);

    const ULONG length = transfer.buffer.Length();
    for (ULONG i = 0; i < packets; ++i) {
        ULONG offset = iso.IsoPacket[i].Offset;
        if (offset > length)
            return UsbRequestCheck::Misuse(
                USBD_STATUS_INVALID_PARAMETER,
                "isochronous packet " + std::to_string(i) + " at offset " + std::to_string(offset) +
                    " lies beyond the transfer buffer (" + std::to_string(length) + " bytes)");
        ULONG end = i + 1 < packets ? iso.IsoPacket[i + 1].Offset : length;
        if (end < offset)
            return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                           "isochronous packet offsets decrease at packet " +
                                               std::to_string(i + 1));
        if (!pipe->In() && end - offset > pipe->attributes.maximumPacketSize)
            return UsbRequestCheck::Fail(USBD_STATUS_INVALID_PARAMETER);
    }

    ULONGLONG first;
    if (iso.TransferFlags & USBD_START_ISO_TRANSFER_ASAP) {
        if (pipe->scheduled && pipe->nextIsoInterval >= FirstSchedulableInterval(now)) {
            first = pipe->nextIsoInterval; // continues the stream without a gap
        } else {
            // An idle pipe (or one whose stream has run dry) starts a small margin ahead.
            ULONGLONG frameInProgress = IntervalInProgress(now) / intervalsPerFrame_;
            ULONGLONG delay = now < baseFrame_ * kFrameTime
                                  ? UsbHostController::kAsapStartDelayFrames - 1
                                  : UsbHostController::kAsapStartDelayFrames;
            first = (frameInProgress + delay) * intervalsPerFrame_;
        }
    } else {
        // StartFrame must lie ahead of the current frame, within USBD_ISO_START_FRAME_RANGE.
        ULONGLONG current = now / kFrameTime;
        LONG ahead = LONG(iso.StartFrame - ULONG(current));
        if (ahead < 1 || ahead >= USBD_ISO_START_FRAME_RANGE)
            return UsbRequestCheck::Fail(USBD_STATUS_BAD_START_FRAME);
        first = (current + ULONGLONG(ahead) - baseFrame_) * intervalsPerFrame_;
        // The pipe cannot carry two packets in one interval.
        if (!pipe->transfers.empty() && first < pipe->nextIsoInterval)
            return UsbRequestCheck::Fail(USBD_STATUS_BAD_START_FRAME);
    }

    transfer.pipe = pipe;
    transfer.scriptedFailure = faults_.IsoTransferSubmitted(pipe->endpointAddress);
    transfer.interval = first;
    transfer.packets = packets;
    iso.StartFrame = FrameOf(first);
    iso.ErrorCount = 0;
    pipe->nextIsoInterval = first + ULONGLONG(packets) * period;
    pipe->scheduled = true;
    pipe->transfers.push_back(&transfer);
    transfer.queued = true;
    controller_.WakeByLocked(EndTime(pipe->transfers.front()->LastPacketInterval(period)));
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UsbDevice::QueueBulkOrInterrupt(UsbTransfer &transfer, ULONGLONG now)
{
    UsbPipe *pipe = FindPipe(transfer.pipeHandle);
    if (pipe == nullptr)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PIPE_HANDLE,
                                       "bulk or interrupt transfer on pipe handle " +
                                           HandleText(transfer.pipeHandle) + ", which is not open");
    USBD_PIPE_TYPE type = pipe->attributes.type;
    if (type != UsbdPipeTypeBulk && type != UsbdPipeTypeInterrupt)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PARAMETER,
                                       std::string("bulk or interrupt transfer on ") +
                                           PipeTypeName(type) + " pipe");
    transfer.pipe = pipe;
    transfer.interval = AlignUp(FirstSchedulableInterval(now), pipe->attributes.period);
    pipe->transfers.push_back(&transfer);
    transfer.queued = true;
    if (pipe->transfers.size() == 1 && !pipe->halted && !pipe->parked)
        controller_.WakeByLocked(EndTime(transfer.interval));
    return UsbRequestCheck::Ok();
}

UsbRequestCheck UsbDevice::AbortPipe(USBD_PIPE_HANDLE handle)
{
    UsbPipe *pipe = FindPipe(handle);
    if (pipe == nullptr)
        return UsbRequestCheck::Misuse(USBD_STATUS_INVALID_PIPE_HANDLE, "abort of pipe handle " +
                                                                            HandleText(handle) +
                                                                            ", which is not open");
    FinishAll(pipe->transfers, USBD_STATUS_CANCELED);
    pipe->scheduled = false;
    pipe->parked = false;
    return UsbRequestCheck::Ok();
}

// ---------------------------------------------------------------------------------------------
// The pass

ULONGLONG UsbDevice::NextEventInterval()
{
    ULONGLONG next = kNever;
    if (!controlQueue_.empty())
        next = controlQueue_.front()->interval;
    for (UsbPipe *pipe : servingOrder_) {
        if (pipe->transfers.empty())
            continue;
        const UsbTransfer &head = *pipe->transfers.front();
        if (pipe->Isochronous())
            next = std::min(next, head.NextPacketInterval(pipe->attributes.period));
        else if (!pipe->halted && !pipe->parked)
            next = std::min(next, head.interval);
    }
    ULONGLONG removal;
    if (faults_.RemovalInterval(&removal))
        next = std::min(next, removal);
    if (!wakeRequests_.empty())
        next = std::min(next, *wakeRequests_.begin());
    return next;
}

ULONGLONG UsbDevice::NextDueTime()
{
    if (gone_)
        return kNever;
    // Packets in between are exchanged lazily in the pass that completes their transfer.
    ULONGLONG due = kNever;
    if (!controlQueue_.empty())
        due = controlQueue_.front()->interval;
    for (UsbPipe *pipe : servingOrder_) {
        if (pipe->transfers.empty())
            continue;
        const UsbTransfer &head = *pipe->transfers.front();
        if (pipe->Isochronous())
            due = std::min(due, head.LastPacketInterval(pipe->attributes.period));
        else if (!pipe->halted && !pipe->parked)
            due = std::min(due, head.interval);
    }
    ULONGLONG removal;
    if (faults_.RemovalInterval(&removal))
        due = std::min(due, removal);
    if (!wakeRequests_.empty())
        due = std::min(due, *wakeRequests_.begin());
    return due == kNever ? kNever : EndTime(due);
}

void UsbDevice::AdvanceModel(ULONGLONG interval)
{
    if (interval <= advancedTo_)
        return;
    advancedTo_ = interval;
    model_->AdvanceTo(interval);
}

void UsbDevice::Run(ULONGLONG now)
{
    if (gone_ || now < baseFrame_ * kFrameTime)
        return;
    const ULONGLONG end = IntervalInProgress(now); // intervals before it have ended
    for (;;) {
        ULONGLONG interval = NextEventInterval();
        if (interval >= end)
            break;
        AdvanceModel(interval);
        ULONGLONG removal;
        if (faults_.RemovalInterval(&removal) && removal <= interval) {
            Disconnect();
            return;
        }
        ServeWakeRequests(interval);
        if (!controlQueue_.empty() && controlQueue_.front()->interval == interval)
            RunControlRequest(*controlQueue_.front(), interval);
        // A control request may have changed the pipes: take the order afterwards.
        std::vector<UsbPipe *> pipes = servingOrder_;
        for (UsbPipe *pipe : pipes) {
            if (pipe->transfers.empty())
                continue;
            const UsbTransfer &head = *pipe->transfers.front();
            if (pipe->Isochronous()) {
                if (head.NextPacketInterval(pipe->attributes.period) == interval)
                    ServeIsochronous(*pipe, interval);
            } else if (!pipe->halted && !pipe->parked && head.interval == interval) {
                ServeBulkOrInterrupt(*pipe, interval);
            }
        }
    }
    AdvanceModel(end);
}

void UsbDevice::ServeWakeRequests(ULONGLONG interval)
{
    if (wakeRequests_.empty() || *wakeRequests_.begin() > interval)
        return;
    wakeRequests_.erase(wakeRequests_.begin(), wakeRequests_.upper_bound(interval));
    for (UsbPipe *pipe : servingOrder_) {
        if (!pipe->parked)
            continue;
        pipe->parked = false;
        UsbTransfer &head = *pipe->transfers.front();
        head.interval = AlignUp(interval, pipe->attributes.period);
    }
}

void UsbDevice::RequestWake(ULONGLONG interval)
{
    std::lock_guard<std::recursive_mutex> guard(controller_.Lock());
    if (gone_)
        return;
    wakeRequests_.insert(interval);
    controller_.WakeByLocked(EndTime(interval));
}

void UsbDevice::Disconnect()
{
    if (gone_)
        return;
    gone_ = true;
    FinishAll(controlQueue_, USBD_STATUS_DEVICE_GONE);
    for (UsbPipe *pipe : servingOrder_)
        FinishAll(pipe->transfers, USBD_STATUS_DEVICE_GONE);
    wakeRequests_.clear();
    model_->Disconnected();
    model_.reset();
}

// ---------------------------------------------------------------------------------------------
// Packets

void UsbDevice::ServeIsochronous(UsbPipe &pipe, ULONGLONG interval)
{
    UsbTransfer &transfer = *pipe.transfers.front();
    auto &iso = transfer.urb->UrbIsochronousTransfer;
    const ULONG index = transfer.nextPacket++;
    USBD_ISO_PACKET_DESCRIPTOR &packet = iso.IsoPacket[index];
    const ULONG offset = packet.Offset;
    const ULONG end =
        index + 1 < transfer.packets ? iso.IsoPacket[index + 1].Offset : transfer.buffer.Length();
    const ULONG room = end - offset;
    const ULONG maximum = pipe.attributes.maximumPacketSize;
    if (scratch_.size() < std::max(room, maximum))
        scratch_.resize(std::max(room, maximum));

    USBD_STATUS status = transfer.scriptedFailure;
    if (status == USBD_STATUS_SUCCESS)
        status = faults_.PacketFault(pipe.endpointAddress, interval);
    if (pipe.In())
        packet.Length = 0;
    if (status != USBD_STATUS_SUCCESS) {
        ++transfer.errors;
    } else if (!pipe.In()) {
        model_->IsochronousOut(pipe.endpointAddress, interval,
                               transfer.buffer.View(offset, room, scratch_.data()), room);
    } else {
        ULONG received = std::min(
            model_->IsochronousIn(pipe.endpointAddress, interval, scratch_.data(), maximum),
            maximum);
        received = faults_.ShortenedLength(pipe.endpointAddress, interval, received);
        if (received > room) {
            status = USBD_STATUS_DATA_OVERRUN; // more than the packet's room in the buffer
            received = room;
            ++transfer.errors;
        }
        transfer.buffer.Write(offset, scratch_.data(), received);
        packet.Length = received;
    }
    packet.Status = status;

    if (transfer.nextPacket < transfer.packets)
        return;
    pipe.transfers.pop_front();
    iso.ErrorCount = transfer.errors;
    // The URB fails only when every packet failed (or the whole transfer was made to fail).
    USBD_STATUS result = transfer.scriptedFailure;
    if (result == USBD_STATUS_SUCCESS && transfer.errors == transfer.packets)
        result = USBD_STATUS_ISOCH_REQUEST_FAILED;
    Finish(transfer, result);
}

void UsbDevice::ServeBulkOrInterrupt(UsbPipe &pipe, ULONGLONG interval)
{
    UsbTransfer &transfer = *pipe.transfers.front();
    const ULONG length = transfer.buffer.Length();
    if (scratch_.size() < length)
        scratch_.resize(length);
    UsbBulkResult result;
    if (pipe.In()) {
        result = model_->BulkOrInterruptIn(pipe.endpointAddress, interval, scratch_.data(), length);
    } else {
        transfer.buffer.Read(0, scratch_.data(), length);
        result =
            model_->BulkOrInterruptOut(pipe.endpointAddress, interval, scratch_.data(), length);
    }
    if (result.kind == UsbBulkResult::Kind::Nak) {
        pipe.parked = true;
        return;
    }
    pipe.transfers.pop_front();
    if (!pipe.transfers.empty())
        pipe.transfers.front()->interval = AlignUp(interval + 1, pipe.attributes.period);
    if (result.kind == UsbBulkResult::Kind::Stall) {
        pipe.halted = true; // the rest waits for a pipe reset
        *transfer.transferLength = 0;
        Finish(transfer, USBD_STATUS_STALL_PID);
        return;
    }
    ULONG moved = std::min(result.length, length);
    if (pipe.In())
        transfer.buffer.Write(0, scratch_.data(), moved);
    *transfer.transferLength = moved;
    Finish(transfer, USBD_STATUS_SUCCESS);
}

// ---------------------------------------------------------------------------------------------
// Default-pipe requests

void UsbDevice::RunControlRequest(UsbTransfer &transfer, ULONGLONG interval)
{
    controlQueue_.pop_front();
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    switch (transfer.kind) {
    case UsbRequestKind::Control: status = RunPlainControl(transfer, interval); break;
    case UsbRequestKind::SelectConfiguration:
        status = SelectConfiguration(transfer, interval);
        break;
    case UsbRequestKind::SelectInterface: status = SelectInterface(transfer, interval); break;
    case UsbRequestKind::ResetPipe:
    case UsbRequestKind::ResetPipeAndClearStall:
    case UsbRequestKind::ClearStall: status = ResetPipe(transfer, interval); break;
    case UsbRequestKind::ResetPort: status = ResetPort(interval); break;
    case UsbRequestKind::AbortPipe:
    case UsbRequestKind::Isochronous:
    case UsbRequestKind::BulkOrInterrupt:
        status = USBD_STATUS_INVALID_PARAMETER; // never on the default pipe's queue
        break;
    }
    Finish(transfer, status);
}

USBD_STATUS UsbDevice::RunPlainControl(UsbTransfer &transfer, ULONGLONG interval)
{
    const UsbSetupPacket &setup = transfer.setup;
    const bool in = (setup.bmRequestType & 0x80) != 0;
    if (scratch_.size() < setup.wLength)
        scratch_.resize(setup.wLength);
    if (!in)
        transfer.buffer.Read(0, scratch_.data(), setup.wLength);
    ULONG length = 0;
    USBD_STATUS status =
        ControlTransfer(setup, scratch_.empty() ? nullptr : scratch_.data(), &length, interval);
    if (in)
        transfer.buffer.Write(0, scratch_.data(), length);
    if (transfer.transferLength != nullptr)
        *transfer.transferLength = length;
    return status;
}

USBD_STATUS UsbDevice::SelectConfiguration(UsbTransfer &transfer, ULONGLONG interval)
{
    auto &request = transfer.urb->UrbSelectConfiguration;
    PUSB_CONFIGURATION_DESCRIPTOR descriptor = request.ConfigurationDescriptor;
    std::vector<PUSBD_INTERFACE_INFORMATION> records;
    if (descriptor != nullptr) {
        UsbRequestCheck check = SelectConfigurationRecords(transfer.urb, &records);
        if (!check.Accepted())
            return check.status;
    }
    ULONG length;
    USBD_STATUS status =
        ControlTransfer(Setup(0x00, USB_REQUEST_SET_CONFIGURATION,
                              descriptor != nullptr ? descriptor->bConfigurationValue : 0, 0, 0),
                        nullptr, &length, interval);
    if (status != USBD_STATUS_SUCCESS)
        return status;

    for (OpenInterface &open : interfaces_)
        ClosePipes(open);
    interfaces_.clear();
    RebuildServingOrder();
    configuration_.clear();
    configurationHandle_ = nullptr;
    request.ConfigurationHandle = nullptr;
    if (descriptor == nullptr)
        return USBD_STATUS_SUCCESS; // unconfigured

    auto bytes = reinterpret_cast<const UCHAR *>(descriptor);
    configuration_.assign(bytes, bytes + descriptor->wTotalLength);
    configurationHandle_ = controller_.NewHandleLocked();
    for (PUSBD_INTERFACE_INFORMATION record : records) {
        // After SET_CONFIGURATION every interface is at alternate setting 0.
        if (record->AlternateSetting != 0) {
            status = ControlTransfer(Setup(0x01, USB_REQUEST_SET_INTERFACE,
                                           record->AlternateSetting, record->InterfaceNumber, 0),
                                     nullptr, &length, interval);
            if (status != USBD_STATUS_SUCCESS)
                return status;
        }
        interfaces_.push_back({record->InterfaceNumber, record->AlternateSetting, {}});
        OpenPipes(*record);
    }
    request.ConfigurationHandle = configurationHandle_;
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS UsbDevice::SelectInterface(UsbTransfer &transfer, ULONGLONG interval)
{
    // The configuration may have changed since the request was queued.
    UsbRequestCheck check = CheckSelectInterface(transfer);
    if (!check.Accepted())
        return check.status;
    USBD_INTERFACE_INFORMATION &record = transfer.urb->UrbSelectInterface.Interface;
    ULONG length;
    USBD_STATUS status = ControlTransfer(
        Setup(0x01, USB_REQUEST_SET_INTERFACE, record.AlternateSetting, record.InterfaceNumber, 0),
        nullptr, &length, interval);
    if (status != USBD_STATUS_SUCCESS)
        return status; // the device stays in its setting, and so do the pipes
    OpenInterface &open = *FindOpenInterface(record.InterfaceNumber);
    ClosePipes(open); // their pending transfers complete cancelled
    open.alternate = record.AlternateSetting;
    OpenPipes(record);
    return USBD_STATUS_SUCCESS;
}

void UsbDevice::OpenPipes(USBD_INTERFACE_INFORMATION &record)
{
    OpenInterface &open = *FindOpenInterface(record.InterfaceNumber);
    PUSB_INTERFACE_DESCRIPTOR setting =
        FindInterface(Configuration(), record.InterfaceNumber, record.AlternateSetting);
    std::vector<PUSB_ENDPOINT_DESCRIPTOR> endpoints;
    EndpointsOf(Configuration(), setting, &endpoints); // checked when the request came

    record.Class = setting->bInterfaceClass;
    record.SubClass = setting->bInterfaceSubClass;
    record.Protocol = setting->bInterfaceProtocol;
    record.Reserved = 0;
    record.InterfaceHandle = controller_.NewHandleLocked();
    record.NumberOfPipes = ULONG(endpoints.size());
    for (size_t i = 0; i < endpoints.size(); ++i) {
        USBD_PIPE_INFORMATION &info = record.Pipes[i];
        auto pipe = std::make_unique<UsbPipe>();
        pipe->endpointAddress = endpoints[i]->bEndpointAddress;
        pipe->attributes = PipeAttributesOf(*endpoints[i], speed_);
        if (info.PipeFlags & USBD_PF_CHANGE_MAX_PACKET)
            pipe->attributes.maximumPacketSize = info.MaximumPacketSize;
        pipe->handle = controller_.NewHandleLocked();
        info.MaximumPacketSize = pipe->attributes.maximumPacketSize;
        info.EndpointAddress = pipe->endpointAddress;
        info.Interval = pipe->attributes.interval;
        info.PipeType = pipe->attributes.type;
        info.PipeHandle = pipe->handle;
        open.pipes.push_back(std::move(pipe));
    }
    RebuildServingOrder();
}

void UsbDevice::ClosePipes(OpenInterface &open)
{
    for (auto &pipe : open.pipes)
        FinishAll(pipe->transfers, USBD_STATUS_CANCELED);
    open.pipes.clear();
    RebuildServingOrder();
}

void UsbDevice::RebuildServingOrder()
{
    // OUT packets of an interval reach the device before it answers that interval's IN tokens.
    servingOrder_.clear();
    for (bool in : {false, true})
        for (OpenInterface &open : interfaces_)
            for (auto &pipe : open.pipes)
                if (pipe->In() == in)
                    servingOrder_.push_back(pipe.get());
}

USBD_STATUS UsbDevice::ResetPipe(UsbTransfer &transfer, ULONGLONG interval)
{
    UsbPipe *pipe = FindPipe(transfer.pipeHandle);
    if (pipe == nullptr)
        return USBD_STATUS_INVALID_PIPE_HANDLE; // closed while the request waited
    if (transfer.kind != UsbRequestKind::ClearStall) {
        pipe->halted = false;
        pipe->parked = false;
        if (pipe->transfers.empty())
            pipe->scheduled = false;
        else if (!pipe->Isochronous())
            pipe->transfers.front()->interval = AlignUp(interval + 1, pipe->attributes.period);
    }
    // Isochronous endpoints have no halt feature: a pipe reset sends them no CLEAR_FEATURE.
    bool clear = transfer.kind == UsbRequestKind::ClearStall ||
                 (transfer.kind == UsbRequestKind::ResetPipeAndClearStall && !pipe->Isochronous());
    if (!clear)
        return USBD_STATUS_SUCCESS;
    ULONG length;
    return ControlTransfer(Setup(0x02, USB_REQUEST_CLEAR_FEATURE, USB_FEATURE_ENDPOINT_STALL,
                                 pipe->endpointAddress, 0),
                           nullptr, &length, interval);
}

USBD_STATUS UsbDevice::ResetPort(ULONGLONG interval)
{
    // The port reset puts the device back to its default state; the stack restores the
    // configuration and the alternate settings, and the pipes keep their handles.
    for (UsbPipe *pipe : servingOrder_) {
        FinishAll(pipe->transfers, USBD_STATUS_CANCELED);
        pipe->halted = false;
        pipe->parked = false;
        pipe->scheduled = false;
    }
    if (configuration_.empty())
        return USBD_STATUS_SUCCESS;
    ULONG length;
    USBD_STATUS status = ControlTransfer(
        Setup(0x00, USB_REQUEST_SET_CONFIGURATION, Configuration()->bConfigurationValue, 0, 0),
        nullptr, &length, interval);
    for (const OpenInterface &open : interfaces_)
        if (status == USBD_STATUS_SUCCESS && open.alternate != 0)
            status = ControlTransfer(
                Setup(0x01, USB_REQUEST_SET_INTERFACE, open.alternate, open.number, 0), nullptr,
                &length, interval);
    return status;
}

} // namespace host
