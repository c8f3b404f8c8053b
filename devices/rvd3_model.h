// The RV-D3 converter: a high-speed USB Audio Class 2.0 DAC.
//
//   clock source 10 (internal, programmable, validity readable)
//        |
//   IT 1 (USB streaming) --> FU 2 (master mute, volume per channel) --> OT 3 (speaker)
//   IT 4 (line in) --> OT 5 (USB streaming)                         [capture, optional]
//
// Interfaces: 0 audio control ("RV-D3 Purestream [DSD]"); 1 render: alternate settings 1, 2, 3
// for 16-bit (2-byte subslot), 24-bit (4-byte subslot) and 32-bit stereo PCM, each with an
// asynchronous OUT endpoint 0x01 and an explicit feedback endpoint 0x81 (16.16, every 1 ms);
// 2 capture (optional): alternate setting 1, 24-bit in a 4-byte subslot, asynchronous IN
// endpoint 0x82 carrying a per-channel ramp (see CaptureRampSample). A vendor request switches
// a streaming interface between PCM and native DSD.
//
// The vendor and product ids are this emulation's own: 0x2FC3 ("Norvane") and 0xD003.
#pragma once

#include "streaming_audio_device_model.h"

namespace devices {

namespace rvd3 {

constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xD003;
constexpr const char *kControlInterfaceName = "RV-D3 Purestream [DSD]";

constexpr UCHAR kControlInterface = 0;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kCaptureInterface = 2;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kFeedbackEndpoint = 0x81;
constexpr UCHAR kCaptureEndpoint = 0x82;

constexpr UCHAR kClockSourceId = 10;
constexpr UCHAR kUsbInputTerminalId = 1;
constexpr UCHAR kFeatureUnitId = 2;
constexpr UCHAR kSpeakerTerminalId = 3;
constexpr UCHAR kLineInTerminalId = 4;
constexpr UCHAR kUsbOutputTerminalId = 5;

constexpr UCHAR kAlternate16Bit = 1;
constexpr UCHAR kAlternate24Bit = 2;
constexpr UCHAR kAlternate32Bit = 3;
constexpr UCHAR kCaptureAlternate = 1;
constexpr UCHAR kChannels = 2;

constexpr ULONG kRates[] = {44100, 48000, 88200, 96000, 176400, 192000, 352800, 384000};
constexpr ULONG kInitialRate = 48000;

// Volume in 1/256 dB: -96 dB to 0 dB in 0.5 dB steps.
constexpr SHORT kVolumeMin = -96 * 256;
constexpr SHORT kVolumeMax = 0;
constexpr SHORT kVolumeStep = 128;

// The native DSD switch: bmRequestType 0x41, bRequest 0, wValue 0 (PCM) or 1 (native DSD),
// wIndex = streaming interface number, no data.
constexpr UCHAR kDsdModeRequestType = 0x41;
constexpr UCHAR kDsdModeRequest = 0;

} // namespace rvd3

struct Rvd3Options {
    bool capture = true;
    StreamingOptions streaming = DefaultStreaming();

    // The clock relocks for 20 ms of bus time after a rate change.
    static StreamingOptions DefaultStreaming()
    {
        StreamingOptions options;
        options.clockLockMs = 20;
        return options;
    }
};

class Rvd3Model : public StreamingAudioDeviceModel {
public:
    explicit Rvd3Model(const Rvd3Options &options = Rvd3Options());

    // The mode last set for a streaming interface by the vendor request.
    bool NativeDsd(UCHAR interfaceNumber) const;
    bool Muted() const;
    SHORT Volume(UCHAR channel) const;

protected:
    host::UsbControlResult VendorRequest(const host::UsbSetupPacket &setup, UCHAR *data) override;

private:
    const bool capture_;
    bool captureNativeDsd_ = false;
};

} // namespace devices
