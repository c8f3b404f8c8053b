// The PCM formats a wave stream accepts, read from the KS data format a pin is created or
// changed with, and the size of the cyclic buffer each one gets.
#pragma once

#include "quen_driver_platform.h"

struct WAVE_STREAM_FORMAT {
    ULONG Channels;
    ULONG BitsPerSample;
    ULONG SampleRate;
    ULONG BlockAlign; // bytes per frame: Channels x BitsPerSample / 8
};

// Reads the format from an audio KSDATAFORMAT whose specifier is WAVEFORMATEX (the WAVEFORMATEX
// follows the header) or DSOUND (it follows the header and the buffer description's flags).
// The sub-format is not examined. FALSE unless the WAVEFORMATEX and the extra bytes its cbSize
// announces lie within FormatSize, there is at least one channel, the samples are 8, 16, 24 or
// 32 bits, the rate is not zero, the block alignment is whole frames of those samples and the
// cyclic buffer of the format stays within bounds.
BOOLEAN ReadWaveStreamFormat(const KSDATAFORMAT *DataFormat, WAVE_STREAM_FORMAT *Format);

// The cyclic buffer of a format: 100 ms of audio, never fewer than 23040 frames, always whole
// frames.
ULONG WaveCyclicBufferBytes(const WAVE_STREAM_FORMAT &Format);
