#include "test_usb_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace usb_tests {

namespace {

void Interface(std::vector<UCHAR> &d, UCHAR number, UCHAR alternate, UCHAR endpoints, UCHAR cls,
               UCHAR subClass, UCHAR protocol)
{
    d.insert(d.end(), {9, USB_INTERFACE_DESCRIPTOR_TYPE, number, alternate, endpoints, cls,
                       subClass, protocol, 0});
}

void Endpoint(std::vector<UCHAR> &d, UCHAR address, UCHAR attributes, USHORT maxPacket,
              UCHAR interval)
{
    d.insert(d.end(), {7, USB_ENDPOINT_DESCRIPTOR_TYPE, address, attributes, UCHAR(maxPacket),
                       UCHAR(maxPacket >> 8), interval});
}

// Class-specific bytes between standard descriptors, as audio devices have them.
void ClassSpecific(std::vector<UCHAR> &d) { d.insert(d.end(), {5, 0x24, 0x01, 0x00, 0x02}); }

std::vector<UCHAR> StringDescriptor(const char *text)
{
    std::vector<UCHAR> d = {UCHAR(2 + 2 * std::strlen(text)), USB_STRING_DESCRIPTOR_TYPE};
    for (const char *c = text; *c != 0; ++c)
        d.insert(d.end(), {UCHAR(*c), 0});
    return d;
}

} // namespace

std::vector<UCHAR> TestConfiguration(host::UsbSpeed speed)
{
    const bool high = speed == host::UsbSpeed::High;
    std::vector<UCHAR> d = {9, USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, 4, 1, 0, 0xC0, 50};
    Interface(d, 0, 0, 1, 1, 1, 0x20);
    ClassSpecific(d);
    Endpoint(d, kStatusEndpoint, USB_ENDPOINT_TYPE_INTERRUPT, 6, high ? 4 : 10);

    Interface(d, 1, 0, 0, 1, 2, 0x20);
    Interface(d, 1, 1, 2, 1, 2, 0x20);
    ClassSpecific(d);
    Endpoint(d, kDataEndpoint, 0x05, high ? 0x0200 : 0x0180, 1);
    Endpoint(d, kFeedbackEndpoint, 0x11, high ? 4 : 3, high ? 4 : 1);
    // High bandwidth: three 1024-byte transactions per microframe.
    Interface(d, 1, 2, 2, 1, 2, 0x20);
    Endpoint(d, kDataEndpoint, 0x05, high ? 0x1400 : 0x03FF, 1);
    Endpoint(d, kFeedbackEndpoint, 0x11, high ? 4 : 3, high ? 4 : 1);
    // A data endpoint served every other microframe.
    Interface(d, 1, 3, 1, 1, 2, 0x20);
    Endpoint(d, kDataEndpoint, 0x05, 0x0200, high ? 2 : 1);

    Interface(d, 2, 0, 0, 1, 2, 0x20);
    Interface(d, 2, 1, 1, 1, 2, 0x20);
    ClassSpecific(d);
    Endpoint(d, kCaptureEndpoint, 0x05, 192, 1);

    Interface(d, 3, 0, 1, 0xFF, 0, 0);
    Endpoint(d, kBulkEndpoint, USB_ENDPOINT_TYPE_BULK, high ? 512 : 64, 0);
    d[2] = UCHAR(d.size());
    d[3] = UCHAR(d.size() >> 8);
    return d;
}

TestUsbDevice::TestUsbDevice(host::UsbSpeed speed)
    : speed_(speed), configuration_(TestConfiguration(speed))
{
}

host::UsbControlResult TestUsbDevice::Standard(const host::UsbSetupPacket &setup, UCHAR *data)
{
    auto reply = [&](const std::vector<UCHAR> &bytes) {
        ULONG length = std::min<ULONG>(ULONG(bytes.size()), setup.wLength);
        std::copy_n(bytes.begin(), length, data);
        return host::UsbControlResult::Ok(length);
    };
    switch (setup.bRequest) {
    case USB_REQUEST_GET_DESCRIPTOR: {
        UCHAR type = UCHAR(setup.wValue >> 8), index = UCHAR(setup.wValue);
        if (type == USB_DEVICE_DESCRIPTOR_TYPE)
            return reply({18, USB_DEVICE_DESCRIPTOR_TYPE, 0x00, 0x02, 0xEF, 0x02, 0x01, 64,
                          UCHAR(kVendorId), UCHAR(kVendorId >> 8), UCHAR(kProductId),
                          UCHAR(kProductId >> 8), 0x00, 0x01, 1, 2, 0, 1});
        if (type == USB_CONFIGURATION_DESCRIPTOR_TYPE && index == 0)
            return reply(configuration_);
        if (type == USB_STRING_DESCRIPTOR_TYPE && index == 0)
            return reply({4, USB_STRING_DESCRIPTOR_TYPE, 0x09, 0x04});
        if (type == USB_STRING_DESCRIPTOR_TYPE && index == 2 && setup.wIndex == 0x0409)
            return reply(StringDescriptor("RV Test [DSD]"));
        return host::UsbControlResult::Stall();
    }
    case USB_REQUEST_SET_CONFIGURATION:
        if (setup.wValue > 1)
            return host::UsbControlResult::Stall();
        configurationValue_ = UCHAR(setup.wValue);
        std::fill(std::begin(alternate_), std::end(alternate_), 0);
        return host::UsbControlResult::Ok(0);
    case USB_REQUEST_SET_INTERFACE: {
        static const UCHAR kAlternates[4] = {1, 4, 2, 1};
        if (configurationValue_ == 0 || setup.wIndex > 3 ||
            setup.wValue >= kAlternates[setup.wIndex])
            return host::UsbControlResult::Stall();
        alternate_[setup.wIndex] = UCHAR(setup.wValue);
        return host::UsbControlResult::Ok(0);
    }
    case USB_REQUEST_GET_STATUS: return reply({0x01, 0x00});
    case USB_REQUEST_CLEAR_FEATURE: return host::UsbControlResult::Ok(0);
    default: return host::UsbControlResult::Stall();
    }
}

host::UsbControlResult TestUsbDevice::Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                              ULONGLONG interval)
{
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_GE(interval, advancedTo_) << "a request for a bus interval the device has passed";
    const bool in = (setup.bmRequestType & 0x80) != 0;
    LoggedRequest logged{setup, {}, interval};
    if (!in)
        logged.data.assign(data, data + setup.wLength);
    requests_.push_back(logged);
    if ((setup.bmRequestType & 0x60) == 0)
        return Standard(setup, data);
    if (!in)
        return host::UsbControlResult::Ok(setup.wLength);
    ULONG length = std::min<ULONG>(ULONG(classReply_.size()), setup.wLength);
    std::copy_n(classReply_.begin(), length, data);
    return host::UsbControlResult::Ok(length);
}

void TestUsbDevice::IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                                   ULONG length)
{
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_GE(interval, advancedTo_) << "an OUT packet for a bus interval the device has passed";
    packets_.push_back({endpointAddress, interval, std::vector<UCHAR>(data, data + length)});
    ++outPackets_;
}

ULONG TestUsbDevice::IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                   ULONG maxLength)
{
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_GE(interval, advancedTo_) << "an IN packet for a bus interval the device has passed";
    std::vector<UCHAR> sent;
    if (endpointAddress == kFeedbackEndpoint)
        sent = {UCHAR(interval), UCHAR(interval >> 8), UCHAR(interval >> 16),
                UCHAR(interval >> 24)};
    else
        sent.assign(captureBytes_, UCHAR(interval));
    sent.resize(std::min<size_t>(sent.size(), maxLength));
    std::copy(sent.begin(), sent.end(), data);
    packets_.push_back({endpointAddress, interval, sent});
    outSeenByIn_.push_back(outPackets_);
    return ULONG(sent.size());
}

void TestUsbDevice::AdvanceTo(ULONGLONG interval)
{
    std::lock_guard<std::mutex> guard(lock_);
    EXPECT_GE(interval, advancedTo_) << "the device's clock was moved backwards";
    advancedTo_ = interval;
}

host::UsbBulkResult TestUsbDevice::BulkOrInterruptOut(UCHAR endpointAddress, ULONGLONG interval,
                                                      const UCHAR *data, ULONG length)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (endpointAddress != kBulkEndpoint || stallBulk_)
        return host::UsbBulkResult::Stall();
    packets_.push_back({endpointAddress, interval, std::vector<UCHAR>(data, data + length)});
    return host::UsbBulkResult::Data(length);
}

host::UsbBulkResult TestUsbDevice::BulkOrInterruptIn(UCHAR endpointAddress, ULONGLONG interval,
                                                     UCHAR *data, ULONG maxLength)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (endpointAddress != kStatusEndpoint)
        return host::UsbBulkResult::Stall();
    if (status_.empty() || interval < statusFrom_)
        return host::UsbBulkResult::Nak();
    ULONG length = std::min<ULONG>(ULONG(status_.size()), maxLength);
    std::copy_n(status_.begin(), length, data);
    packets_.push_back({endpointAddress, interval, status_});
    status_.clear();
    return host::UsbBulkResult::Data(length);
}

void TestUsbDevice::Connected(host::UsbDevicePort &port)
{
    std::lock_guard<std::mutex> guard(lock_);
    port_ = &port;
    ++connects_;
}

void TestUsbDevice::Disconnected()
{
    std::lock_guard<std::mutex> guard(lock_);
    port_ = nullptr;
    ++disconnects_;
}

void TestUsbDevice::SetCaptureBytes(ULONG bytes)
{
    std::lock_guard<std::mutex> guard(lock_);
    captureBytes_ = bytes;
}

void TestUsbDevice::SetClassReply(std::vector<UCHAR> reply)
{
    std::lock_guard<std::mutex> guard(lock_);
    classReply_ = std::move(reply);
}

void TestUsbDevice::PostStatus(std::vector<UCHAR> data, ULONGLONG interval)
{
    host::UsbDevicePort *port;
    {
        std::lock_guard<std::mutex> guard(lock_);
        status_ = std::move(data);
        statusFrom_ = interval;
        port = port_;
    }
    if (port != nullptr)
        port->RequestWake(interval);
}

void TestUsbDevice::StallBulk(bool stall)
{
    std::lock_guard<std::mutex> guard(lock_);
    stallBulk_ = stall;
}

std::vector<LoggedRequest> TestUsbDevice::Requests() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

std::vector<LoggedPacket> TestUsbDevice::Packets(UCHAR endpoint) const
{
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<LoggedPacket> result;
    for (const LoggedPacket &packet : packets_)
        if (packet.endpoint == endpoint)
            result.push_back(packet);
    return result;
}

std::vector<LoggedPacket> TestUsbDevice::AllPackets() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return packets_;
}

UCHAR TestUsbDevice::Configuration() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return configurationValue_;
}

UCHAR TestUsbDevice::AlternateSetting(UCHAR interfaceNumber) const
{
    std::lock_guard<std::mutex> guard(lock_);
    return alternate_[interfaceNumber];
}

ULONGLONG TestUsbDevice::AdvancedTo() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return advancedTo_;
}

bool TestUsbDevice::IsConnected() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return port_ != nullptr;
}

int TestUsbDevice::ConnectCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return connects_;
}

int TestUsbDevice::DisconnectCount() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return disconnects_;
}

std::vector<size_t> TestUsbDevice::OutPacketsSeenByIn() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return outSeenByIn_;
}

} // namespace usb_tests
