// A stand-in for the WaveCyclic miniport and its two streams, driving the adapter the way they
// will: each stream owns a client cyclic buffer, hands its regions to the adapter's queues
// (render: data written ahead of the play position; capture: room behind the read position),
// follows the positions the engine reports and walks the adapter through the KS states. The
// client side (the port writing and reading the buffers) runs when the test calls Service(),
// and, as the port fills a render buffer in PAUSE, on the way to RUN.
//
// Positions are kept as running byte counts; the engine's pointer reports are folded into
// them. The engine calls in from its threads and USB completions, so what it touches is atomic
// or under a host mutex held for a moment only.
#pragma once

#include "adapter/adapter_usb_audio.h"
#include "stream_patterns.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace adapter_harness {

using sim::CaptureChecker;
using sim::ClientFormat;
using sim::RenderChecker;
using sim::SourceFrame;

enum class StreamState { Closed, Stop, Pause, Run };

class FakeMiniport final : public IMiniportUsbAudioNotify {
public:
    explicit FakeMiniport(IAdapterUsbAudio *adapter) : adapter_(adapter) {}

    // The stream of a direction, following the WaveCyclic stream's state steps.
    NTSTATUS Open(bool capture, const ClientFormat &format);
    // The stream's SetFormat: refused while it runs; otherwise the adapter's ChangeFormat and a
    // new buffer for the new format.
    NTSTATUS ChangeFormat(bool capture, const ClientFormat &format);
    // PAUSE -> RUN (from STOP through ACQUIRE and PAUSE). The status of the adapter's start.
    NTSTATUS Run(bool capture);
    void Pause(bool capture); // RUN -> PAUSE
    void Stop(bool capture);  // down to STOP
    void Close(bool capture); // down to STOP, then released
    StreamState State(bool capture) const { return stream(capture).state; }
    void SetAsioMode(bool capture, bool asio) { stream(capture).asio = asio; }
    // The render side stops writing (a client that falls behind) until told otherwise.
    void SetStarving(bool starving) { starving_ = starving; }
    // The device's capture format, for checking what capture delivers.
    void SetDeviceCaptureFormat(const devices::CaptureFormat &format) { deviceCapture_ = format; }

    // What the port does on its timer: render writes every free byte ahead of the play
    // position (an ASIO host fills the half it was signalled for); capture reads what the engine
    // wrote, checks it against the device's ramp and hands the room back.
    void Service();

    // Render: bytes the engine took from the buffer or played as silence (the play position).
    ULONGLONG RenderPosition() const { return render_.engineTotal; }
    ULONGLONG RenderWritten() const { return render_.clientTotal; }
    // Capture: bytes the engine wrote into the buffer.
    ULONGLONG CaptureWritten() const { return capture_.engineTotal; }
    const CaptureChecker &CaptureCheck() const { return captureCheck_; }
    // Source frames the render side has produced so far.
    ULONGLONG FramesProduced() const { return render_.nextFrame; }
    ULONG Notifications(bool capture) const { return stream(capture).notifications; }
    // Every status the engine reported through SetStreamError, in order.
    std::vector<std::pair<bool, NTSTATUS>> StreamErrors() const;

    // IUnknown: the adapter holds no reference.
    STDMETHODIMP_(NTSTATUS) QueryInterface(REFIID, PVOID *object) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 1; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IMiniportUsbAudioNotify.
    STDMETHODIMP_(void) NotifyStream(BOOLEAN capture) override;
    STDMETHODIMP_(void) SetRenderPosition(PUCHAR position) override;
    STDMETHODIMP_(void) SetCapturePosition(PUCHAR position) override;
    STDMETHODIMP_(void) ClearBuffer(BOOLEAN capture) override;
    STDMETHODIMP_(BOOLEAN) IsAsioMode(BOOLEAN capture) override;
    STDMETHODIMP_(void) BufferToggle() override;
    STDMETHODIMP_(void) OutputReady() override;
    STDMETHODIMP_(void) Silence(BOOLEAN capture, PVOID buffer, ULONG bytes) override;
    STDMETHODIMP_(void) OutputDelay(ULONG milliseconds) override;
    STDMETHODIMP_(void) AdvanceRenderPosition(ULONG bytes) override;
    STDMETHODIMP_(void) SetStreamError(BOOLEAN capture, NTSTATUS status) override;

private:
    struct Stream {
        StreamState state = StreamState::Closed;
        ClientFormat format;
        std::vector<UCHAR> ring;
        bool asio = false;
        std::atomic<ULONGLONG> engineTotal{0}; // render: play position; capture: bytes written
        ULONGLONG clientTotal = 0;             // render: bytes written; capture: bytes read
        ULONGLONG nextFrame = 0;               // render: next source frame
        std::atomic<bool> toggled{false};      // ASIO render: a half was asked for
        std::atomic<ULONG> notifications{0};
    };
    Stream &stream(bool capture) { return capture ? capture_ : render_; }
    const Stream &stream(bool capture) const { return capture ? capture_ : render_; }
    static ULONGLONG Fold(ULONGLONG total, ULONGLONG offset, ULONGLONG size);
    ULONGLONG Offset(const Stream &s, PUCHAR position) const;
    void ResetPositions(Stream &s);
    void WriteRender(ULONG bytes);
    void ServiceRender();
    void ServiceCapture();
    // Room for another ASIO half ahead of the play position.
    bool AsioHalfFits() const;

    IAdapterUsbAudio *adapter_;
    Stream render_;
    Stream capture_;
    bool starving_ = false;
    devices::CaptureFormat deviceCapture_;
    CaptureChecker captureCheck_;
    mutable std::mutex errorsLock_;
    std::vector<std::pair<bool, NTSTATUS>> errors_;
};

} // namespace adapter_harness
