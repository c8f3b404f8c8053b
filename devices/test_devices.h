// Further emulated devices, each built with the descriptor builder and each exercising one way
// a USB audio function can be put together. Their vendor ids are this emulation's own (0x2FC3)
// except for the two quirk devices, which carry the ids the driver's quirk table knows.
#pragma once

#include "streaming_audio_device_model.h"

#include <memory>

namespace devices {

// Full speed, Audio Class 2.0: clock source 10, IT 1 -> FU 2 -> OT 3; render interface 1 with
// 16-bit (2-byte) and 24-bit (3-byte) stereo at 44.1 to 96 kHz, asynchronous OUT 0x01 and a
// 3-byte 10.14 feedback endpoint 0x81.
namespace fullspeed_uac2 {
constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xF001;
constexpr UCHAR kClockSourceId = 10;
constexpr UCHAR kFeatureUnitId = 2;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kFeedbackEndpoint = 0x81;
} // namespace fullspeed_uac2
std::unique_ptr<StreamingAudioDeviceModel>
MakeFullSpeedUac2Device(const StreamingOptions &options = StreamingOptions());

// Full speed, Audio Class 1.0: IT 1 -> FU 2 (bControlSize 1) -> OT 3; render interface 1 with
// 16-bit and 24-bit stereo at 44.1 and 48 kHz. The asynchronous OUT endpoint 0x01 names its
// synch endpoint 0x81 in bSynchAddress (3-byte 10.14 every 2^2 ms) and has a sampling
// frequency control.
namespace uac1_synch {
constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xF002;
constexpr UCHAR kFeatureUnitId = 2;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kSynchEndpoint = 0x81;
constexpr UCHAR kRefresh = 2;
} // namespace uac1_synch
std::unique_ptr<StreamingAudioDeviceModel>
MakeUac1SynchEndpointDevice(const StreamingOptions &options = StreamingOptions());

// High speed, Audio Class 2.0, implicit feedback: render interface 1 (asynchronous OUT 0x01, no
// feedback endpoint) is clocked by capture interface 2, whose IN endpoint 0x82 has usage type
// 2 (implicit feedback data). Both 24-bit in 4 bytes, stereo, 44.1 to 192 kHz.
namespace implicit_feedback {
constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xF003;
constexpr UCHAR kClockSourceId = 10;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kCaptureInterface = 2;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kCaptureEndpoint = 0x82;
} // namespace implicit_feedback
std::unique_ptr<StreamingAudioDeviceModel>
MakeImplicitFeedbackDevice(const StreamingOptions &options = StreamingOptions());

// High speed, Audio Class 2.0 with a clock selector 10 over two clock sources: 11 (44.1 kHz
// family) on pin 1 and 12 (48 kHz family) on pin 2, initially pin 2. The device runs at the
// selected source's rate. Render interface 1, 24-bit in 4 bytes, explicit feedback 0x81.
namespace clock_selector {
constexpr USHORT kVendorId = 0x2FC3;
constexpr USHORT kProductId = 0xF004;
constexpr UCHAR kSelectorId = 10;
constexpr UCHAR kSource44kId = 11;
constexpr UCHAR kSource48kId = 12;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kRenderEndpoint = 0x01;
constexpr UCHAR kFeedbackEndpoint = 0x81;
} // namespace clock_selector
std::unique_ptr<StreamingAudioDeviceModel>
MakeClockSelectorDevice(const StreamingOptions &options = StreamingOptions());

// The device whose audio function hides behind the vendor class (0xFF audio control and
// streaming interfaces) and whose render packets carry a 32-bit length before their frames.
// Full speed, Audio Class 2.0 descriptors, 16-bit stereo at 44.1 and 48 kHz on an adaptive
// OUT endpoint 0x01 (the device follows the host's rate: its clock has no offset).
namespace length_prefixed_quirk {
constexpr USHORT kVendorId = 0x1686;
constexpr USHORT kProductId = 0x00DD;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kRenderEndpoint = 0x01;
} // namespace length_prefixed_quirk
std::unique_ptr<StreamingAudioDeviceModel> MakeLengthPrefixedQuirkDevice();

// The device whose every interface the driver configures, a vendor interface included: high
// speed, Audio Class 2.0, render interface 1 (24-bit in 4 bytes, explicit feedback 0x81), then
// vendor interface 2 with an interrupt IN endpoint 0x83 that has nothing to report.
namespace vendor_interface_quirk {
constexpr USHORT kVendorId = 0x20B1;
constexpr USHORT kProductId = 0x0002;
constexpr UCHAR kRenderInterface = 1;
constexpr UCHAR kVendorInterface = 2;
constexpr UCHAR kInterruptEndpoint = 0x83;
} // namespace vendor_interface_quirk
std::unique_ptr<StreamingAudioDeviceModel>
MakeVendorInterfaceQuirkDevice(const StreamingOptions &options = StreamingOptions());

} // namespace devices
