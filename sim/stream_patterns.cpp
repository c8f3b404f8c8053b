#include "stream_patterns.h"

#include <cstring>

namespace sim {

void SourceFrame(ULONGLONG frame, UCHAR *out, ULONG bytes)
{
    const ULONGLONG x = frame * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull;
    for (ULONG b = 0; b < bytes; ++b)
        out[b] = static_cast<UCHAR>(x >> (8 * (b & 7))) ^ static_cast<UCHAR>(b * 0x3B);
}

void RenderChecker::FormatChanged(const devices::PlaybackFormat &format)
{
    frameBytes_ = format.FrameBytes();
    if (deviceBits_ == 0)
        deviceBits_ = format.subslotBytes * 8u;
}

bool RenderChecker::Matches(const UCHAR *frame, ULONGLONG index)
{
    const ULONG clientSample = client_.bits / 8;
    const ULONG deviceSample = deviceBits_ / 8;
    const ULONG padding = deviceSample - clientSample;
    source_(index, expected_, client_.BlockAlign());
    for (ULONG channel = 0; channel < client_.channels; ++channel) {
        const UCHAR *sample = frame + channel * deviceSample;
        for (ULONG b = 0; b < padding; ++b) {
            if (sample[b] != 0)
                return false;
        }
        if (memcmp(sample + padding, expected_ + channel * clientSample, clientSample) != 0)
            return false;
    }
    return true;
}

bool RenderChecker::IsSilence(const UCHAR *frame) const
{
    for (ULONG b = 0; b < frameBytes_; ++b) {
        if (frame[b] != 0)
            return false;
    }
    return true;
}

void RenderChecker::Played(const UCHAR *frames, ULONG frameCount)
{
    for (ULONG f = 0; f < frameCount; ++f) {
        const UCHAR *frame = frames + ULONGLONG(f) * frameBytes_;
        if (Matches(frame, next_)) {
            ++next_;
        } else if (allowSilence_ && IsSilence(frame)) {
            ++engineSilence_;
        } else {
            ++mismatches_;
            ++next_;
        }
    }
}

void CaptureChecker::Reset(const ClientFormat &client, const devices::CaptureFormat &device)
{
    *this = CaptureChecker();
    client_ = client;
    device_ = device;
}

ULONGLONG CaptureChecker::FrameOf(const UCHAR *frame) const
{
    const ULONG clientSample = client_.bits / 8;
    ULONG value = 0;
    for (ULONG b = 0; b < clientSample; ++b)
        value |= ULONG(frame[b]) << (8 * b);
    // Back to the device's container (the client's sample may be narrower or wider), then down
    // to the ramp's counter.
    const ULONG container = device_.subslotBytes >= clientSample
                                ? value << (8 * (device_.subslotBytes - clientSample))
                                : value >> (8 * (clientSample - device_.subslotBytes));
    return container >> (8 * device_.subslotBytes - device_.bitResolution);
}

bool CaptureChecker::Matches(const UCHAR *frame, ULONGLONG index) const
{
    const ULONG clientSample = client_.bits / 8;
    // Client byte b holds the device's byte b + dropped: low bytes dropped for a narrower
    // client, zero bytes below the sample for a wider one.
    const int dropped = int(device_.subslotBytes) - int(clientSample);
    for (UCHAR channel = 0; channel < client_.channels; ++channel) {
        const ULONG sample = devices::CaptureRampSample(index, channel, device_);
        for (ULONG b = 0; b < clientSample; ++b) {
            const int deviceByte = int(b) + dropped;
            const UCHAR expected = deviceByte < 0 ? 0 : UCHAR(sample >> (8 * deviceByte));
            if (frame[channel * clientSample + b] != expected)
                return false;
        }
    }
    return true;
}

void CaptureChecker::Check(const UCHAR *frames, ULONG bytes)
{
    const ULONG frameBytes = client_.BlockAlign();
    for (ULONG offset = 0; offset + frameBytes <= bytes; offset += frameBytes) {
        const UCHAR *frame = frames + offset;
        ++frames_;
        if (started_ && Matches(frame, expected_)) {
            ++expected_;
            continue;
        }
        const ULONGLONG found = FrameOf(frame);
        if (!Matches(frame, found)) {
            ++mismatches_;
            ++expected_;
            continue;
        }
        if (started_)
            ++gaps_;
        started_ = true;
        expected_ = found + 1;
    }
}

} // namespace sim
