#include "wave/wave_stream_format.h"

namespace {

// The cyclic buffer covers this many milliseconds of audio, and at least kMinimumFrames.
const ULONGLONG kBufferMs = 100;
const ULONGLONG kMinimumFrames = 23040;
// A buffer beyond this is not a stream format but a request for most of the pool.
const ULONGLONG kMaximumBufferBytes = 64ULL * 1024 * 1024;
// DSOUND_BUFFERDESC: Flags and Control come before the WAVEFORMATEX.
const ULONG kDsoundDescriptionBytes = 2 * sizeof(ULONG);

ULONGLONG BufferBytes(ULONGLONG Rate, ULONGLONG BlockAlign)
{
    ULONGLONG frames = Rate * kBufferMs / 1000;
    if (frames < kMinimumFrames) {
        frames = kMinimumFrames;
    }
    return frames * BlockAlign;
}

} // namespace

BOOLEAN ReadWaveStreamFormat(const KSDATAFORMAT *DataFormat, WAVE_STREAM_FORMAT *Format)
{
    if (DataFormat == nullptr || DataFormat->FormatSize < sizeof(KSDATAFORMAT) ||
        !IsEqualGUIDAligned(DataFormat->MajorFormat, KSDATAFORMAT_TYPE_AUDIO)) {
        return FALSE;
    }
    ULONG offset;
    if (IsEqualGUIDAligned(DataFormat->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)) {
        offset = sizeof(KSDATAFORMAT);
    } else if (IsEqualGUIDAligned(DataFormat->Specifier, KSDATAFORMAT_SPECIFIER_DSOUND)) {
        offset = sizeof(KSDATAFORMAT) + kDsoundDescriptionBytes;
    } else {
        return FALSE;
    }
    if (DataFormat->FormatSize < offset + sizeof(WAVEFORMATEX)) {
        return FALSE;
    }
    WAVEFORMATEX wave;
    RtlCopyMemory(&wave, reinterpret_cast<const UCHAR *>(DataFormat) + offset, sizeof(wave));
    if (DataFormat->FormatSize - offset - sizeof(WAVEFORMATEX) < wave.cbSize) {
        return FALSE;
    }
    const ULONG bits = wave.wBitsPerSample;
    if (wave.nChannels == 0 || wave.nSamplesPerSec == 0 || bits % 8 != 0 || bits < 8 || bits > 32 ||
        wave.nBlockAlign != wave.nChannels * (bits / 8) ||
        BufferBytes(wave.nSamplesPerSec, wave.nBlockAlign) > kMaximumBufferBytes) {
        return FALSE;
    }
    Format->Channels = wave.nChannels;
    Format->BitsPerSample = bits;
    Format->SampleRate = wave.nSamplesPerSec;
    Format->BlockAlign = wave.nBlockAlign;
    return TRUE;
}

ULONG WaveCyclicBufferBytes(const WAVE_STREAM_FORMAT &Format)
{
    return ULONG(BufferBytes(Format.SampleRate, Format.BlockAlign));
}
