#include "usb_fault_script.h"

#include <algorithm>

namespace host {

bool UsbControlMatch::Matches(const UsbSetupPacket &setup) const
{
    return (bmRequestType < 0 || bmRequestType == setup.bmRequestType) &&
           (bRequest < 0 || bRequest == setup.bRequest) && (wValue < 0 || wValue == setup.wValue) &&
           (wIndex < 0 || wIndex == setup.wIndex);
}

void UsbFaultScript::StallControl(const UsbControlMatch &match, int count)
{
    FailControl(match, USBD_STATUS_STALL_PID, count);
}

void UsbFaultScript::FailControl(const UsbControlMatch &match, USBD_STATUS status, int count)
{
    std::lock_guard<std::mutex> guard(lock_);
    controls_.push_back({match, status, count});
}

void UsbFaultScript::FailIsoTransfer(UCHAR endpointAddress, ULONG nth, USBD_STATUS status)
{
    std::lock_guard<std::mutex> guard(lock_);
    transfers_.push_back({endpointAddress, nth > 0 ? nth - 1 : 0, status});
}

void UsbFaultScript::FailIsoPackets(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count,
                                    USBD_STATUS status)
{
    std::lock_guard<std::mutex> guard(lock_);
    packets_.push_back({endpointAddress, fromInterval, count, status, 0});
}

void UsbFaultScript::ShortIsoPacket(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count,
                                    ULONG length)
{
    std::lock_guard<std::mutex> guard(lock_);
    packets_.push_back({endpointAddress, fromInterval, count, USBD_STATUS_SUCCESS, length});
}

void UsbFaultScript::ZeroLengthPackets(UCHAR endpointAddress, ULONGLONG fromInterval,
                                       ULONGLONG count)
{
    ShortIsoPacket(endpointAddress, fromInterval, count, 0);
}

void UsbFaultScript::DropFeedback(UCHAR endpointAddress, ULONGLONG fromInterval, ULONGLONG count)
{
    FailIsoPackets(endpointAddress, fromInterval, count, USBD_STATUS_XACT_ERROR);
}

void UsbFaultScript::RemoveAtInterval(ULONGLONG interval)
{
    std::function<void()> callback;
    {
        std::lock_guard<std::mutex> guard(lock_);
        removal_ = true;
        removalInterval_ = interval;
        callback = removalScripted_;
    }
    if (callback)
        callback();
}

void UsbFaultScript::SetRemovalScriptedCallback(std::function<void()> callback)
{
    std::lock_guard<std::mutex> guard(lock_);
    removalScripted_ = std::move(callback);
}

void UsbFaultScript::Clear()
{
    std::lock_guard<std::mutex> guard(lock_);
    controls_.clear();
    transfers_.clear();
    packets_.clear();
    removal_ = false;
}

USBD_STATUS UsbFaultScript::ControlFault(const UsbSetupPacket &setup)
{
    std::lock_guard<std::mutex> guard(lock_);
    for (auto it = controls_.begin(); it != controls_.end(); ++it) {
        if (!it->match.Matches(setup))
            continue;
        USBD_STATUS status = it->status;
        if (it->remaining != kAlways && --it->remaining == 0)
            controls_.erase(it);
        return status;
    }
    return USBD_STATUS_SUCCESS;
}

USBD_STATUS UsbFaultScript::IsoTransferSubmitted(UCHAR endpointAddress)
{
    std::lock_guard<std::mutex> guard(lock_);
    USBD_STATUS status = USBD_STATUS_SUCCESS;
    for (auto it = transfers_.begin(); it != transfers_.end();) {
        if (it->endpoint != endpointAddress) {
            ++it;
        } else if (it->remaining > 0) {
            --it->remaining;
            ++it;
        } else {
            status = it->status;
            it = transfers_.erase(it);
        }
    }
    return status;
}

USBD_STATUS UsbFaultScript::PacketFault(UCHAR endpointAddress, ULONGLONG interval) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const PacketFaultEntry &entry : packets_)
        if (entry.status != USBD_STATUS_SUCCESS && entry.Covers(endpointAddress, interval))
            return entry.status;
    return USBD_STATUS_SUCCESS;
}

ULONG UsbFaultScript::ShortenedLength(UCHAR endpointAddress, ULONGLONG interval, ULONG length) const
{
    std::lock_guard<std::mutex> guard(lock_);
    for (const PacketFaultEntry &entry : packets_)
        if (entry.status == USBD_STATUS_SUCCESS && entry.Covers(endpointAddress, interval))
            length = std::min(length, entry.length);
    return length;
}

bool UsbFaultScript::RemovalInterval(ULONGLONG *interval) const
{
    std::lock_guard<std::mutex> guard(lock_);
    *interval = removalInterval_;
    return removal_;
}

} // namespace host
