// A device model wrapper that records every control request on its way to the wrapped model, so
// that a test sees exactly what the driver sent (setup packet and host-to-device data) and
// whether the model stalled it.
#pragma once

#include "usb/usb_device_model.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace driver_usb_tests {

struct LoggedControl {
    host::UsbSetupPacket setup;
    std::vector<UCHAR> data; // host-to-device data
    bool stalled;
};

class RequestLog : public host::UsbDeviceModel {
public:
    explicit RequestLog(std::shared_ptr<host::UsbDeviceModel> inner) : inner_(std::move(inner)) {}

    host::UsbSpeed Speed() const override { return inner_->Speed(); }
    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override
    {
        std::function<void(const host::UsbSetupPacket &)> hook;
        {
            std::lock_guard<std::mutex> hold(lock_);
            hook = hook_;
        }
        if (hook)
            hook(setup);
        host::UsbControlResult result = inner_->Control(setup, data, interval);
        std::lock_guard<std::mutex> hold(lock_);
        LoggedControl entry{setup, {}, result.stall};
        if ((setup.bmRequestType & 0x80) == 0)
            entry.data.assign(data, data + setup.wLength);
        log_.push_back(entry);
        return result;
    }
    void IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                        ULONG length) override
    {
        inner_->IsochronousOut(endpointAddress, interval, data, length);
    }
    ULONG IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                        ULONG maxLength) override
    {
        return inner_->IsochronousIn(endpointAddress, interval, data, maxLength);
    }
    void AdvanceTo(ULONGLONG interval) override { inner_->AdvanceTo(interval); }
    host::UsbBulkResult BulkOrInterruptOut(UCHAR endpointAddress, ULONGLONG interval,
                                           const UCHAR *data, ULONG length) override
    {
        return inner_->BulkOrInterruptOut(endpointAddress, interval, data, length);
    }
    host::UsbBulkResult BulkOrInterruptIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                          ULONG maxLength) override
    {
        return inner_->BulkOrInterruptIn(endpointAddress, interval, data, maxLength);
    }
    void Connected(host::UsbDevicePort &port) override { inner_->Connected(port); }
    void Disconnected() override { inner_->Disconnected(); }

    // Called (on the controller's thread) with every request before the model answers it.
    void SetHook(std::function<void(const host::UsbSetupPacket &)> hook)
    {
        std::lock_guard<std::mutex> hold(lock_);
        hook_ = std::move(hook);
    }

    std::vector<LoggedControl> Requests() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return log_;
    }
    size_t Count() const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return log_.size();
    }
    // The requests logged from index `from` on.
    std::vector<LoggedControl> Since(size_t from) const
    {
        std::lock_guard<std::mutex> hold(lock_);
        return {log_.begin() + std::min(from, log_.size()), log_.end()};
    }

private:
    std::shared_ptr<host::UsbDeviceModel> inner_;
    mutable std::mutex lock_;
    std::vector<LoggedControl> log_;
    std::function<void(const host::UsbSetupPacket &)> hook_;
};

} // namespace driver_usb_tests
