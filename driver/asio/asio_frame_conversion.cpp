// Whole-frame conversion: a scalar frame loop for any channel count, and SSE2 loops for stereo
// between 16, 24 and 32-bit ASIO samples and 2 or 4-byte device samples. The SSE2 loops take
// blocks of eight (2-byte device samples) or four frames and leave the tail to the scalar loop,
// which gives the same bytes.
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

// The SIMD loops hold four samples of a channel as four 32-bit lanes, each sample at the top of
// its lane with zero bytes below: the placement rule then is a shift or a pack.

// The top 16 bits of four lanes, twice, as eight 16-bit samples (the shift leaves values the
// saturating pack keeps unchanged).
inline __m128i Top16(__m128i Lanes)
{
    const __m128i top = _mm_srai_epi32(Lanes, 16);
    return _mm_packs_epi32(top, top);
}

// Four contiguous ASIO samples of Bytes each as lanes. A 3-byte load reads 16 bytes: the caller
// keeps two samples beyond the four.
template <ULONG Bytes>
inline __m128i LoadLanes(const UCHAR *Samples)
{
    if constexpr (Bytes == 2) {
        const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(Samples));
        return _mm_unpacklo_epi16(_mm_setzero_si128(), x);
    } else if constexpr (Bytes == 3) {
        const __m128i x = Load(Samples);
        const __m128i pair0 = _mm_unpacklo_epi32(x, _mm_srli_si128(x, 3));
        const __m128i pair1 = _mm_unpacklo_epi32(_mm_srli_si128(x, 6), _mm_srli_si128(x, 9));
        return _mm_slli_epi32(_mm_unpacklo_epi64(pair0, pair1), 8);
    } else {
        return Load(Samples);
    }
}

// Four lanes as contiguous ASIO samples of Bytes each. A 3-byte store writes 14 bytes: the
// caller keeps one sample beyond the four, which the next store or the scalar tail rewrites.
template <ULONG Bytes>
inline void StoreLanes(PUCHAR Samples, __m128i Lanes)
{
    if constexpr (Bytes == 2) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(Samples), Top16(Lanes));
    } else if constexpr (Bytes == 3) {
        // Each 64-bit half: its low lane's three bytes, then its high lane's.
        const __m128i values = _mm_srli_epi32(Lanes, 8);
        const __m128i low = _mm_and_si128(values, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF));
        const __m128i high =
            _mm_srli_epi64(_mm_andnot_si128(_mm_set_epi32(0, -1, 0, -1), values), 8);
        const __m128i packed = _mm_or_si128(low, high);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(Samples), packed);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(Samples + 6),
                         _mm_unpackhi_epi64(packed, packed));
    } else {
        Store(Samples, Lanes);
    }
}

// Four stereo frames of 4-byte device samples from the lanes of both channels.
inline void StoreFrames4(PUCHAR Frames, __m128i Left, __m128i Right)
{
    Store(Frames, _mm_unpacklo_epi32(Left, Right));
    Store(Frames + 16, _mm_unpackhi_epi32(Left, Right));
}

// Four stereo frames of 4-byte device samples as the lanes of both channels.
inline void LoadFrames4(const UCHAR *Frames, __m128i &Left, __m128i &Right)
{
    const __m128i a = _mm_shuffle_epi32(Load(Frames), _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i b = _mm_shuffle_epi32(Load(Frames + 16), _MM_SHUFFLE(3, 1, 2, 0));
    Left = _mm_unpacklo_epi64(a, b);
    Right = _mm_unpackhi_epi64(a, b);
}

// 2-byte device samples go eight frames at a time, so that every load and store is a whole
// register: eight samples of a channel as eight 16-bit values (the top two bytes of each).
template <ULONG AsioBytes>
inline __m128i LoadEight16(const UCHAR *Samples)
{
    if constexpr (AsioBytes == 2) {
        return Load(Samples);
    } else {
        return _mm_packs_epi32(_mm_srai_epi32(LoadLanes<AsioBytes>(Samples), 16),
                               _mm_srai_epi32(LoadLanes<AsioBytes>(Samples + 4 * AsioBytes), 16));
    }
}

template <ULONG AsioBytes>
inline void StoreEight16(PUCHAR Samples, __m128i Values)
{
    if constexpr (AsioBytes == 2) {
        Store(Samples, Values);
    } else {
        // Each value to the top of a 32-bit lane, zero below.
        StoreLanes<AsioBytes>(Samples, _mm_unpacklo_epi16(_mm_setzero_si128(), Values));
        StoreLanes<AsioBytes>(Samples + 4 * AsioBytes,
                              _mm_unpackhi_epi16(_mm_setzero_si128(), Values));
    }
}

// Eight stereo frames of 2-byte device samples as the values of both channels (sign-extended
// to 32 bits and packed back, which the saturation keeps unchanged).
inline void LoadFrames2(const UCHAR *Frames, __m128i &Left, __m128i &Right)
{
    const __m128i a = Load(Frames), b = Load(Frames + 16);
    Left = _mm_packs_epi32(_mm_srai_epi32(_mm_slli_epi32(a, 16), 16),
                           _mm_srai_epi32(_mm_slli_epi32(b, 16), 16));
    Right = _mm_packs_epi32(_mm_srai_epi32(a, 16), _mm_srai_epi32(b, 16));
}

// Samples a loop may take beyond its block: a 3-byte ASIO side needs two more behind a load
// and one more behind a store. 3-byte device frames stay scalar.
template <ULONG AsioBytes>
constexpr ULONG Slack()
{
    return AsioBytes == 3 ? 2 : 0;
}

// Stereo render; returns the frames done, a multiple of four.
template <ULONG AsioBytes, ULONG DeviceBytes>
ULONG InterleaveStereo(PUCHAR Out, const UCHAR *Left, const UCHAR *Right, ULONG Samples)
{
    ULONG i = 0;
    if constexpr (DeviceBytes == 2) {
        for (; i + 8 + Slack<AsioBytes>() <= Samples; i += 8, Out += 32) {
            const __m128i l = LoadEight16<AsioBytes>(Left + i * AsioBytes);
            const __m128i r = LoadEight16<AsioBytes>(Right + i * AsioBytes);
            Store(Out, _mm_unpacklo_epi16(l, r));
            Store(Out + 16, _mm_unpackhi_epi16(l, r));
        }
    } else if constexpr (DeviceBytes == 4) {
        for (; i + 4 + Slack<AsioBytes>() <= Samples; i += 4, Out += 32) {
            StoreFrames4(Out, LoadLanes<AsioBytes>(Left + i * AsioBytes),
                         LoadLanes<AsioBytes>(Right + i * AsioBytes));
        }
    }
    return i;
}

// Stereo capture; returns the frames done, a multiple of four.
template <ULONG AsioBytes, ULONG DeviceBytes>
ULONG DeinterleaveStereo(PUCHAR Left, PUCHAR Right, const UCHAR *In, ULONG Samples)
{
    ULONG i = 0;
    __m128i l, r;
    if constexpr (DeviceBytes == 2) {
        for (; i + 8 + Slack<AsioBytes>() <= Samples; i += 8, In += 32) {
            LoadFrames2(In, l, r);
            StoreEight16<AsioBytes>(Left + i * AsioBytes, l);
            StoreEight16<AsioBytes>(Right + i * AsioBytes, r);
        }
    } else if constexpr (DeviceBytes == 4) {
        for (; i + 4 + Slack<AsioBytes>() <= Samples; i += 4, In += 32) {
            LoadFrames4(In, l, r);
            StoreLanes<AsioBytes>(Left + i * AsioBytes, l);
            StoreLanes<AsioBytes>(Right + i * AsioBytes, r);
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
