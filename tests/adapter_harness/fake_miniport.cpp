#include "adapter_harness/fake_miniport.h"

#include <algorithm>

namespace adapter_harness {

namespace {

// The WaveCyclic stream's buffer: 100 ms of audio, never fewer than 23040 frames.
ULONG CyclicBufferBytes(const ClientFormat &format)
{
    const ULONG blockAlign = format.BlockAlign();
    return std::max(format.rate * blockAlign / 10, blockAlign * 23040);
}

// Frames an ASIO host hands over per half.
constexpr ULONG kAsioHalfFrames = 256;

} // namespace

STDMETHODIMP_(NTSTATUS) FakeMiniport::QueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IUnknown) ||
        IsEqualGUIDAligned(iid, IID_IMiniportUsbAudioNotify)) {
        *object = static_cast<IMiniportUsbAudioNotify *>(this);
        return STATUS_SUCCESS;
    }
    *object = nullptr;
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS FakeMiniport::Open(bool capture, const ClientFormat &format)
{
    Stream &s = stream(capture);
    const NTSTATUS status = adapter_->SetFormat(capture, format.channels, format.bits, format.rate);
    if (!NT_SUCCESS(status))
        return status;
    s.format = format;
    s.ring.assign(CyclicBufferBytes(format), 0);
    ResetPositions(s);
    s.state = StreamState::Stop;
    return STATUS_SUCCESS;
}

NTSTATUS FakeMiniport::ChangeFormat(bool capture, const ClientFormat &format)
{
    Stream &s = stream(capture);
    if (s.state == StreamState::Run || s.state == StreamState::Closed)
        return STATUS_INVALID_DEVICE_REQUEST;
    const NTSTATUS status =
        adapter_->ChangeFormat(capture, format.channels, format.bits, format.rate);
    if (!NT_SUCCESS(status))
        return status;
    s.format = format;
    s.ring.assign(CyclicBufferBytes(format), 0);
    ResetPositions(s);
    return STATUS_SUCCESS;
}

void FakeMiniport::ResetPositions(Stream &s)
{
    s.engineTotal = 0;
    s.clientTotal = 0;
    s.toggled = false;
}

NTSTATUS FakeMiniport::Run(bool capture)
{
    Stream &s = stream(capture);
    if (s.state == StreamState::Run || s.state == StreamState::Closed)
        return STATUS_SUCCESS;
    // On its way through PAUSE the port fills the render buffer.
    s.state = StreamState::Pause;
    if (!capture)
        ServiceRender();
    NTSTATUS status = adapter_->StartStream(capture);
    if (!NT_SUCCESS(status))
        return status;
    if (capture) {
        ResetPositions(s);
        captureCheck_.Reset(s.format, deviceCapture_);
        adapter_->QueueCaptureBuffer(s.ring.data(), ULONG(s.ring.size()));
    } else {
        s.toggled = false;
    }
    if (!capture && s.asio) {
        // The first half is asked for at once; output-ready lets the transfers run.
        BufferToggle();
    } else {
        status = adapter_->RunStream(capture);
        if (!NT_SUCCESS(status))
            return status;
    }
    s.state = StreamState::Run;
    return STATUS_SUCCESS;
}

void FakeMiniport::Pause(bool capture)
{
    Stream &s = stream(capture);
    if (s.state != StreamState::Run)
        return;
    s.state = StreamState::Pause;
    adapter_->PauseStream(capture);
}

void FakeMiniport::Stop(bool capture)
{
    Pause(capture);
    Stream &s = stream(capture);
    if (s.state != StreamState::Pause)
        return;
    adapter_->StopStream(capture);
    ResetPositions(s);
    s.state = StreamState::Stop;
}

void FakeMiniport::Close(bool capture)
{
    Stop(capture);
    Stream &s = stream(capture);
    if (s.state == StreamState::Closed)
        return;
    adapter_->ReleaseStream(capture);
    s.ring.clear();
    s.state = StreamState::Closed;
}

ULONGLONG FakeMiniport::Fold(ULONGLONG total, ULONGLONG offset, ULONGLONG size)
{
    return total + (offset + size - total % size) % size;
}

ULONGLONG FakeMiniport::Offset(const Stream &s, PUCHAR position) const
{
    ULONGLONG offset = ULONGLONG(position - s.ring.data());
    return offset >= s.ring.size() ? offset - s.ring.size() : offset;
}

void FakeMiniport::Service()
{
    ServiceRender();
    ServiceCapture();
}

bool FakeMiniport::AsioHalfFits() const
{
    const ULONGLONG half = ULONGLONG(kAsioHalfFrames) * render_.format.BlockAlign();
    return render_.clientTotal + half <= render_.engineTotal + render_.ring.size();
}

void FakeMiniport::WriteRender(ULONG bytes)
{
    Stream &s = render_;
    const ULONG blockAlign = s.format.BlockAlign();
    const ULONGLONG size = s.ring.size();
    while (bytes != 0) {
        const ULONG offset = ULONG(s.clientTotal % size);
        const ULONG piece = ULONG(std::min<ULONGLONG>(bytes, size - offset));
        for (ULONG i = 0; i < piece; i += blockAlign, ++s.nextFrame)
            SourceFrame(s.nextFrame, &s.ring[offset + i], blockAlign);
        adapter_->QueueRenderBuffer(s.ring.data() + offset, piece);
        s.clientTotal += piece;
        bytes -= piece;
    }
}

void FakeMiniport::ServiceRender()
{
    Stream &s = render_;
    if ((s.state != StreamState::Pause && s.state != StreamState::Run) || starving_)
        return;
    const ULONG blockAlign = s.format.BlockAlign();
    const ULONGLONG position = s.engineTotal;
    if (position > s.clientTotal) {
        // Played as silence while nothing was written: the data goes on from the position.
        s.clientTotal = position;
    }
    if (s.asio) {
        // The host answers every signal at once.
        while (s.state == StreamState::Run && s.toggled && AsioHalfFits()) {
            WriteRender(kAsioHalfFrames * blockAlign);
            OutputReady();
        }
        return;
    }
    const ULONGLONG room = position + s.ring.size() - s.clientTotal;
    WriteRender(ULONG(room - room % blockAlign));
    if (s.state == StreamState::Run)
        adapter_->RenderNotify();
}

void FakeMiniport::ServiceCapture()
{
    Stream &s = capture_;
    if (s.state != StreamState::Run)
        return;
    const ULONGLONG size = s.ring.size();
    const ULONGLONG written = s.engineTotal;
    while (s.clientTotal < written) {
        const ULONG offset = ULONG(s.clientTotal % size);
        const ULONG piece = ULONG(std::min<ULONGLONG>(written - s.clientTotal, size - offset));
        if (deviceCapture_.FrameBytes() != 0) // a test that names no device format checks none
            captureCheck_.Check(s.ring.data() + offset, piece);
        adapter_->QueueCaptureBuffer(s.ring.data() + offset, piece);
        s.clientTotal += piece;
    }
}

std::vector<std::pair<bool, NTSTATUS>> FakeMiniport::StreamErrors() const
{
    std::lock_guard<std::mutex> hold(errorsLock_);
    return errors_;
}

STDMETHODIMP_(void) FakeMiniport::NotifyStream(BOOLEAN capture)
{
    Stream &s = stream(capture != FALSE);
    ++s.notifications;
    // An ASIO render stream asks for the next half once at most one half waits to be taken.
    const ULONGLONG half = ULONGLONG(kAsioHalfFrames) * s.format.BlockAlign();
    if (!capture && s.asio && AsioHalfFits() && s.clientTotal <= s.engineTotal + half)
        BufferToggle();
}

STDMETHODIMP_(void) FakeMiniport::SetRenderPosition(PUCHAR position)
{
    Stream &s = render_;
    if (position == nullptr || s.ring.empty())
        return;
    s.engineTotal = Fold(s.engineTotal, Offset(s, position), s.ring.size());
}

STDMETHODIMP_(void) FakeMiniport::SetCapturePosition(PUCHAR position)
{
    Stream &s = capture_;
    if (position == nullptr || s.ring.empty())
        return;
    s.engineTotal = Fold(s.engineTotal, Offset(s, position), s.ring.size());
}

STDMETHODIMP_(void) FakeMiniport::AdvanceRenderPosition(ULONG bytes)
{
    render_.engineTotal += bytes;
}

STDMETHODIMP_(void) FakeMiniport::ClearBuffer(BOOLEAN capture)
{
    Stream &s = stream(capture != FALSE);
    s.clientTotal = s.engineTotal;
}

STDMETHODIMP_(BOOLEAN) FakeMiniport::IsAsioMode(BOOLEAN capture)
{
    return stream(capture != FALSE).asio ? TRUE : FALSE;
}

STDMETHODIMP_(void) FakeMiniport::BufferToggle()
{
    // One signal per half: further toggles wait for the host's output-ready.
    if (render_.asio && render_.toggled.exchange(true))
        return;
    adapter_->BufferToggle();
}

STDMETHODIMP_(void) FakeMiniport::OutputReady()
{
    render_.toggled = false;
    adapter_->OutputReady();
}

STDMETHODIMP_(void) FakeMiniport::Silence(BOOLEAN capture, PVOID buffer, ULONG bytes)
{
    std::fill_n(static_cast<PUCHAR>(buffer), bytes,
                stream(capture != FALSE).format.bits == 8 ? 0x80 : 0);
}

STDMETHODIMP_(void) FakeMiniport::OutputDelay(ULONG milliseconds)
{
    adapter_->OutputDelay(milliseconds);
}

STDMETHODIMP_(void) FakeMiniport::SetStreamError(BOOLEAN capture, NTSTATUS status)
{
    std::lock_guard<std::mutex> hold(errorsLock_);
    errors_.emplace_back(capture != FALSE, status);
}

} // namespace adapter_harness
