// The device the USB stack tests plug in: an audio-like device with an interrupt status endpoint
// on interface 0, an isochronous OUT data endpoint with an isochronous IN feedback endpoint on
// interface 1 (alternate settings 1 to 3), an isochronous IN capture endpoint on interface 2 and
// a bulk OUT endpoint on interface 3. It answers the standard requests, logs every class and
// vendor request, records every packet with its bus interval, and checks that its clock only
// moves forward.
#pragma once

#include "usb/usb_device_model.h"

#include <usb.h>

#include <mutex>
#include <vector>

namespace usb_tests {

constexpr USHORT kVendorId = 0x1234;
constexpr USHORT kProductId = 0x5678;
constexpr UCHAR kStatusEndpoint = 0x84;   // interrupt IN, interface 0
constexpr UCHAR kDataEndpoint = 0x01;     // isochronous OUT, interface 1
constexpr UCHAR kFeedbackEndpoint = 0x81; // isochronous IN, interface 1
constexpr UCHAR kCaptureEndpoint = 0x82;  // isochronous IN, interface 2
constexpr UCHAR kBulkEndpoint = 0x03;     // bulk OUT, interface 3

// The configuration descriptor (wTotalLength bytes) at each speed.
std::vector<UCHAR> TestConfiguration(host::UsbSpeed speed);

struct LoggedRequest {
    host::UsbSetupPacket setup;
    std::vector<UCHAR> data; // host-to-device data
    ULONGLONG interval;
};

struct LoggedPacket {
    UCHAR endpoint;
    ULONGLONG interval;
    std::vector<UCHAR> data; // OUT: what arrived; IN: what the device sent
};

class TestUsbDevice : public host::UsbDeviceModel {
public:
    explicit TestUsbDevice(host::UsbSpeed speed = host::UsbSpeed::High);

    host::UsbSpeed Speed() const override { return speed_; }
    host::UsbControlResult Control(const host::UsbSetupPacket &setup, UCHAR *data,
                                   ULONGLONG interval) override;
    void IsochronousOut(UCHAR endpointAddress, ULONGLONG interval, const UCHAR *data,
                        ULONG length) override;
    ULONG IsochronousIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                        ULONG maxLength) override;
    void AdvanceTo(ULONGLONG interval) override;
    host::UsbBulkResult BulkOrInterruptOut(UCHAR endpointAddress, ULONGLONG interval,
                                           const UCHAR *data, ULONG length) override;
    host::UsbBulkResult BulkOrInterruptIn(UCHAR endpointAddress, ULONGLONG interval, UCHAR *data,
                                          ULONG maxLength) override;
    void Connected(host::UsbDevicePort &port) override;
    void Disconnected() override;

    // --- for the tests (any thread) ---
    // Feedback packets carry the bus interval they were sent in (32-bit little endian), so a
    // test sees when each was taken. Capture packets carry `captureBytes` bytes of the low
    // byte of their interval.
    void SetCaptureBytes(ULONG bytes);
    // The answer of the next IN class or vendor request.
    void SetClassReply(std::vector<UCHAR> reply);
    // Status interrupt data, available from `interval` on (the device asks for a wake then).
    void PostStatus(std::vector<UCHAR> data, ULONGLONG interval);
    void StallBulk(bool stall);

    std::vector<LoggedRequest> Requests() const;
    std::vector<LoggedPacket> Packets(UCHAR endpoint) const;
    // Packets of every endpoint in the order the device saw them.
    std::vector<LoggedPacket> AllPackets() const;
    UCHAR Configuration() const;
    UCHAR AlternateSetting(UCHAR interfaceNumber) const;
    ULONGLONG AdvancedTo() const;
    bool IsConnected() const;
    int ConnectCount() const;
    int DisconnectCount() const;
    // OUT packets the device had received when it sent each IN packet (packet order check).
    std::vector<size_t> OutPacketsSeenByIn() const;

private:
    host::UsbControlResult Standard(const host::UsbSetupPacket &setup, UCHAR *data);

    const host::UsbSpeed speed_;
    const std::vector<UCHAR> configuration_;
    mutable std::mutex lock_;
    host::UsbDevicePort *port_ = nullptr;
    int connects_ = 0;
    int disconnects_ = 0;
    UCHAR configurationValue_ = 0;
    UCHAR alternate_[4] = {};
    ULONGLONG advancedTo_ = 0;
    ULONG captureBytes_ = 0;
    std::vector<UCHAR> classReply_;
    std::vector<UCHAR> status_;
    ULONGLONG statusFrom_ = 0;
    bool stallBulk_ = false;
    std::vector<LoggedRequest> requests_;
    std::vector<LoggedPacket> packets_;
    size_t outPackets_ = 0;
    std::vector<size_t> outSeenByIn_;
};

} // namespace usb_tests
