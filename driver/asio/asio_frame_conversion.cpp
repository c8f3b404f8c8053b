// Whole-frame conversion: a scalar frame loop for any channel count, and SSE2 loops for stereo
// at 16 and 32-bit on both sides. The SSE2 loops take blocks of 4 or 8 frames and leave the
// tail to the scalar loop, which gives the same bytes.
#include "asio/asio_frame_conversion.h"

#include "asio/asio_sample_conversion.h"
#include "asio/asio_sample_placement.h"

#include <emmintrin.h>

namespace {

const ULONG kMaxBytes = 4;

template <ULONG AsioBytes, ULONG DeviceBytes>
void InterleaveScalar(PUCHAR Frames, const UCHAR *const *Channels, ULONG ChannelCount, ULONG First,
                      ULONG Samples)
{
    PUCHAR out = Frames + SIZE_T(First) * ChannelCount * DeviceBytes;
    for (ULONG i = First; i < Samples; ++i) {
        for (ULONG k = 0; k < ChannelCount; ++k) {
            PlaceSample<AsioBytes, DeviceBytes>(Channels[k] + SIZE_T(i) * AsioBytes, out);
            out += DeviceBytes;
        }
    }
}

template <ULONG AsioBytes, ULONG DeviceBytes>
void DeinterleaveScalar(PUCHAR const *Channels, const UCHAR *Frames, ULONG ChannelCount,
                        ULONG First, ULONG Samples)
{
    const UCHAR *in = Frames + SIZE_T(First) * ChannelCount * DeviceBytes;
    for (ULONG i = First; i < Samples; ++i) {
        for (ULONG k = 0; k < ChannelCount; ++k) {
            PlaceSample<DeviceBytes, AsioBytes>(in, Channels[k] + SIZE_T(i) * AsioBytes);
            in += DeviceBytes;
        }
    }
}

inline __m128i Load(const UCHAR *Address)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(Address));
}

inline void Store(PUCHAR Address, __m128i Value)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(Address), Value);
}

// The top 16 bits of eight 32-bit samples, as eight 16-bit samples (the shift leaves values
// that the saturating pack keeps unchanged).
inline __m128i Top16(__m128i Low, __m128i High)
{
    return _mm_packs_epi32(_mm_srai_epi32(Low, 16), _mm_srai_epi32(High, 16));
}

// Stereo render; returns the frames done, a multiple of the block.
template <ULONG AsioBytes, ULONG DeviceBytes>
ULONG InterleaveStereo(PUCHAR Out, const UCHAR *Left, const UCHAR *Right, ULONG Samples)
{
    const __m128i zero = _mm_setzero_si128();
    ULONG i = 0;
    if constexpr (AsioBytes == 4 && DeviceBytes == 4) {
        for (; i + 4 <= Samples; i += 4, Out += 32) {
            const __m128i l = Load(Left + i * 4), r = Load(Right + i * 4);
            Store(Out, _mm_unpacklo_epi32(l, r));
            Store(Out + 16, _mm_unpackhi_epi32(l, r));
        }
    } else if constexpr (AsioBytes == 2 && DeviceBytes == 2) {
        for (; i + 8 <= Samples; i += 8, Out += 32) {
            const __m128i l = Load(Left + i * 2), r = Load(Right + i * 2);
            Store(Out, _mm_unpacklo_epi16(l, r));
            Store(Out + 16, _mm_unpackhi_epi16(l, r));
        }
    } else if constexpr (AsioBytes == 2 && DeviceBytes == 4) {
        for (; i + 8 <= Samples; i += 8, Out += 64) {
            const __m128i l = Load(Left + i * 2), r = Load(Right + i * 2);
            const __m128i l0 = _mm_unpacklo_epi16(zero, l), l1 = _mm_unpackhi_epi16(zero, l);
            const __m128i r0 = _mm_unpacklo_epi16(zero, r), r1 = _mm_unpackhi_epi16(zero, r);
            Store(Out, _mm_unpacklo_epi32(l0, r0));
            Store(Out + 16, _mm_unpackhi_epi32(l0, r0));
            Store(Out + 32, _mm_unpacklo_epi32(l1, r1));
            Store(Out + 48, _mm_unpackhi_epi32(l1, r1));
        }
    } else if constexpr (AsioBytes == 4 && DeviceBytes == 2) {
        for (; i + 8 <= Samples; i += 8, Out += 32) {
            const __m128i l = Top16(Load(Left + i * 4), Load(Left + i * 4 + 16));
            const __m128i r = Top16(Load(Right + i * 4), Load(Right + i * 4 + 16));
            Store(Out, _mm_unpacklo_epi16(l, r));
            Store(Out + 16, _mm_unpackhi_epi16(l, r));
        }
    }
    static_cast<void>(zero);
    return i;
}

// Four stereo frames of 32-bit samples split into four left and four right samples.
inline void Split32(__m128i Frames01, __m128i Frames23, __m128i &Left, __m128i &Right)
{
    const __m128i a = _mm_shuffle_epi32(Frames01, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i b = _mm_shuffle_epi32(Frames23, _MM_SHUFFLE(3, 1, 2, 0));
    Left = _mm_unpacklo_epi64(a, b);
    Right = _mm_unpackhi_epi64(a, b);
}

// Stereo capture; returns the frames done, a multiple of the block.
template <ULONG AsioBytes, ULONG DeviceBytes>
ULONG DeinterleaveStereo(PUCHAR Left, PUCHAR Right, const UCHAR *In, ULONG Samples)
{
    ULONG i = 0;
    if constexpr (AsioBytes == 4 && DeviceBytes == 4) {
        for (; i + 4 <= Samples; i += 4, In += 32) {
            __m128i l, r;
            Split32(Load(In), Load(In + 16), l, r);
            Store(Left + i * 4, l);
            Store(Right + i * 4, r);
        }
    } else if constexpr (AsioBytes == 2 && DeviceBytes == 2) {
        for (; i + 8 <= Samples; i += 8, In += 32) {
            const __m128i f0 = Load(In), f1 = Load(In + 16);
            Store(Left + i * 2, _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(f0, 16), 16),
                                                _mm_srai_epi32(_mm_slli_epi32(f1, 16), 16)));
            Store(Right + i * 2, Top16(f0, f1));
        }
    } else if constexpr (AsioBytes == 2 && DeviceBytes == 4) {
        for (; i + 8 <= Samples; i += 8, In += 64) {
            __m128i l0, r0, l1, r1;
            Split32(Load(In), Load(In + 16), l0, r0);
            Split32(Load(In + 32), Load(In + 48), l1, r1);
            Store(Left + i * 2, Top16(l0, l1));
            Store(Right + i * 2, Top16(r0, r1));
        }
    } else if constexpr (AsioBytes == 4 && DeviceBytes == 2) {
        const __m128i top = _mm_set1_epi32(static_cast<int>(0xFFFF0000u));
        for (; i + 8 <= Samples; i += 8, In += 32) {
            const __m128i f0 = Load(In), f1 = Load(In + 16);
            const __m128i l0 = _mm_slli_epi32(f0, 16), l1 = _mm_slli_epi32(f1, 16);
            const __m128i r0 = _mm_and_si128(f0, top), r1 = _mm_and_si128(f1, top);
            // Frames 0-3 and 4-7 each give four left and four right samples in order.
            Store(Left + i * 4, l0);
            Store(Left + i * 4 + 16, l1);
            Store(Right + i * 4, r0);
            Store(Right + i * 4 + 16, r1);
        }
    }
    return i;
}

template <ULONG AsioBytes, ULONG DeviceBytes>
void Interleave(PUCHAR Frames, const UCHAR *const *Channels, ULONG ChannelCount, ULONG Samples)
{
    ULONG done = 0;
    if (ChannelCount == 2) {
        done = InterleaveStereo<AsioBytes, DeviceBytes>(Frames, Channels[0], Channels[1], Samples);
    }
    InterleaveScalar<AsioBytes, DeviceBytes>(Frames, Channels, ChannelCount, done, Samples);
}

template <ULONG AsioBytes, ULONG DeviceBytes>
void Deinterleave(PUCHAR const *Channels, const UCHAR *Frames, ULONG ChannelCount, ULONG Samples)
{
    ULONG done = 0;
    if (ChannelCount == 2) {
        done =
            DeinterleaveStereo<AsioBytes, DeviceBytes>(Channels[0], Channels[1], Frames, Samples);
    }
    DeinterleaveScalar<AsioBytes, DeviceBytes>(Channels, Frames, ChannelCount, done, Samples);
}

typedef void (*PINTERLEAVE)(PUCHAR, const UCHAR *const *, ULONG, ULONG);
typedef void (*PDEINTERLEAVE)(PUCHAR const *, const UCHAR *, ULONG, ULONG);

// Indexed [ASIO bytes - 2][device bytes - 2].
const PINTERLEAVE kInterleave[3][3] = {
    {Interleave<2, 2>, Interleave<2, 3>, Interleave<2, 4>},
    {Interleave<3, 2>, Interleave<3, 3>, Interleave<3, 4>},
    {Interleave<4, 2>, Interleave<4, 3>, Interleave<4, 4>},
};
const PDEINTERLEAVE kDeinterleave[3][3] = {
    {Deinterleave<2, 2>, Deinterleave<2, 3>, Deinterleave<2, 4>},
    {Deinterleave<3, 2>, Deinterleave<3, 3>, Deinterleave<3, 4>},
    {Deinterleave<4, 2>, Deinterleave<4, 3>, Deinterleave<4, 4>},
};

} // namespace

BOOLEAN AsioFrameConversionFits(ULONG SampleType, ULONG DeviceBytes)
{
    const bool integer = SampleType == ASIO_SAMPLE_TYPE_INT16_LSB ||
                         SampleType == ASIO_SAMPLE_TYPE_INT24_LSB ||
                         SampleType == ASIO_SAMPLE_TYPE_INT32_LSB;
    return integer && DeviceBytes >= 2 && DeviceBytes <= kMaxBytes ? TRUE : FALSE;
}

void AsioInterleaveFrames(PUCHAR Frames, const UCHAR *const *Channels, ULONG ChannelCount,
                          ULONG Samples, ULONG SampleType, ULONG DeviceBytes)
{
    if (!AsioFrameConversionFits(SampleType, DeviceBytes)) {
        return;
    }
    kInterleave[AsioSampleSize(SampleType) - 2][DeviceBytes - 2](Frames, Channels, ChannelCount,
                                                                 Samples);
}

void AsioDeinterleaveFrames(PUCHAR const *Channels, const UCHAR *Frames, ULONG ChannelCount,
                            ULONG Samples, ULONG SampleType, ULONG DeviceBytes)
{
    if (!AsioFrameConversionFits(SampleType, DeviceBytes)) {
        return;
    }
    kDeinterleave[AsioSampleSize(SampleType) - 2][DeviceBytes - 2](Channels, Frames, ChannelCount,
                                                                   Samples);
}
