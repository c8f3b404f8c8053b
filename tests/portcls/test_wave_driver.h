// A small port-class adapter driver for the emulation's own tests (not the product): its
// DriverEntry, AddDevice and start routine install one "Wave" subdevice on a WaveCyclic port,
// with a test adapter (IAdapterPowerManagement) and a test miniport whose filter has a render
// and a capture streaming pin (one instance each), their bridge pins, and a volume and a mute
// node on the render path. Its streams play into and record from a "device" that moves its
// position by 10 ms on a timer DPC and then calls the port's Notify, as a real device's
// interrupt would. What the driver sees goes into the test log.
#pragma once

#include <ntddk.h>
#include <portcls.h>
#include <stdunk.h>

#include <mutex>
#include <string>
#include <vector>

namespace portcls_tests {

enum Pins : ULONG { kRenderPin, kSpeakerPin, kMicrophonePin, kCapturePin, kPinCount };
enum Nodes : ULONG { kVolumeNode, kMuteNode, kNodeCount };

// What the test driver records, and how the test steers it.
struct TestLog {
    std::mutex lock;
    std::vector<std::string> events;     // in order: "adapter D3", "stream 0 state 2", ...
    std::vector<UCHAR> played;           // every byte the render device took, in order
    ULONGLONG captured = 0;              // bytes the capture device produced (CaptureByte(i))
    ULONG nestedServicePasses = 0;       // GetPosition calls made from inside CopyTo
    ULONG starts = 0;                    // start routine calls
    NTSTATUS failStart = STATUS_SUCCESS; // the start routine fails with this, after installing
    bool notifyFromCopyTo = false;       // CopyTo calls the port's Notify (as a USB miniport does)
    bool leakStreamReference = false;    // NewStream keeps one reference too many
    LONG volume[2] = {0, 0};
    BOOL mute = FALSE;

    void Event(const std::string &event);
    std::vector<std::string> TakeEvents();
};

// The log the driver writes to (one test at a time).
TestLog &Log();
void SetLog(TestLog *log);

// The bytes the capture device produces: byte i of the stream.
UCHAR CaptureByte(ULONGLONG i);

// The driver's entry point, for the driver package.
NTSTATUS TestWaveDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

constexpr ULONG kMaxChannels = 2;
constexpr ULONG kMinRate = 44100;
constexpr ULONG kMaxRate = 48000;
constexpr ULONG kMinBits = 16;
constexpr ULONG kMaxBits = 24;
// The stream's cyclic buffer: 100 ms at the highest rate and sample size.
constexpr ULONG kBufferBytes = kMaxRate / 10 * kMaxChannels * 3;

} // namespace portcls_tests
