// Whole-frame conversion: a scalar frame loop for any channel count, and SSE2 loops for stereo
// and for multiples of four channels between 16, 24 and 32-bit ASIO samples and 2, 3 or 4-byte
// device samples. The stereo loops take two steps of eight (16-bit on both sides) or four frames
// a pass; groups of four channels take eight frames a step onto 16-bit device samples, else
// four; all leave the tail to the scalar loop, which gives the same bytes. SSE2 has no byte
// shuffle, so these loops are bound by their shifts and unpacks rather than by memory; the
// formulations keep those few, 3-byte samples moving as pairs in 64-bit halves where they can
// rather than through 32-bit lanes.
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

// The top 24 bits of the even and of the odd 32-bit lanes.
inline __m128i EvenTop24() { return _mm_set_epi32(0, -256, 0, -256); }
inline __m128i OddTop24() { return _mm_set_epi32(-256, 0, -256, 0); }

// Two 8-byte loads into the halves of a register.
inline __m128i LoadHalves(const UCHAR *Low, const UCHAR *High)
{
    const __m128d low = _mm_castsi128_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(Low)));
    return _mm_castpd_si128(_mm_loadh_pd(low, reinterpret_cast<const double *>(High)));
}

// The halves of a register into two 8-byte stores, the low half first.
inline void StoreHalves(PUCHAR Low, PUCHAR High, __m128i Value)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(Low), Value);
    _mm_storeh_pd(reinterpret_cast<double *>(High), _mm_castsi128_pd(Value));
}

// Pairs of 3-byte samples in the low six bytes of each 64-bit half of two registers, A holding
// a0 a1 and B b0 b1, become a0 b0 in A and a1 b1 in B: one shift a register. Going from channel
// pairs to frames and from frames to channel pairs is the same exchange.
inline void ExchangePairs24(__m128i &A, __m128i &B)
{
    const __m128i first = _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF);
    const __m128i second = _mm_set_epi32(0xFFFF, int(0xFF000000u), 0xFFFF, int(0xFF000000u));
    const __m128i a = A, b = B;
    A = _mm_or_si128(_mm_and_si128(a, first), _mm_and_si128(_mm_slli_epi64(b, 24), second));
    B = _mm_or_si128(_mm_and_si128(_mm_srli_epi64(a, 24), first), _mm_and_si128(b, second));
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

// Four contiguous samples of Bytes each as lanes. A 3-byte load reads 14 bytes: the caller
// keeps a sample beyond the four.
template <ULONG Bytes>
inline __m128i LoadLanes(const UCHAR *Samples)
{
    if constexpr (Bytes == 2) {
        const __m128i x = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(Samples));
        return _mm_unpacklo_epi16(_mm_setzero_si128(), x);
    } else if constexpr (Bytes == 3) {
        // Samples 0 and 1 in the low 64 bits, 2 and 3 in the high: each pair's first sample
        // to the top of the low lane, its second to the top of the high lane.
        const __m128i x = LoadHalves(Samples, Samples + 6);
        const __m128i first = _mm_and_si128(_mm_slli_epi64(x, 8), EvenTop24());
        const __m128i second = _mm_and_si128(_mm_slli_epi64(x, 16), OddTop24());
        return _mm_or_si128(first, second);
    } else {
        return Load(Samples);
    }
}

// Four lanes as 3-byte samples: each 64-bit half holds its low lane's three bytes, then its
// high lane's, and two zero bytes.
inline __m128i PackThree(__m128i Lanes)
{
    const __m128i values = _mm_srli_epi32(Lanes, 8);
    const __m128i low = _mm_and_si128(values, _mm_set_epi32(0, 0xFFFFFF, 0, 0xFFFFFF));
    const __m128i high = _mm_srli_epi64(_mm_andnot_si128(_mm_set_epi32(0, -1, 0, -1), values), 8);
    return _mm_or_si128(low, high);
}

// Four lanes as twelve contiguous bytes of 3-byte samples, then four zero bytes.
inline __m128i PackTwelve(__m128i Lanes)
{
    const __m128i packed = PackThree(Lanes);
    const __m128i high = _mm_andnot_si128(_mm_set_epi32(0, 0, -1, -1), packed);
    return _mm_or_si128(_mm_move_epi64(packed), _mm_srli_si128(high, 2));
}

// Four lanes as contiguous samples of Bytes each. A 3-byte store writes 14 bytes: the caller
// keeps one sample beyond the four, which the next store or the scalar tail rewrites. (Two
// 8-byte stores cost fewer shifts than packing the twelve bytes into one 16-byte store, and
// shifts, not stores, bound these loops.)
template <ULONG Bytes>
inline void StoreLanes(PUCHAR Samples, __m128i Lanes)
{
    if constexpr (Bytes == 2) {
        _mm_storel_epi64(reinterpret_cast<__m128i *>(Samples), Top16(Lanes));
    } else if constexpr (Bytes == 3) {
        StoreHalves(Samples, Samples + 6, PackThree(Lanes));
    } else {
        Store(Samples, Lanes);
    }
}

// The same, writing exactly the four samples.
template <ULONG Bytes>
inline void StoreLanesExactly(PUCHAR Samples, __m128i Lanes)
{
    if constexpr (Bytes == 3) {
        const __m128i bytes = PackTwelve(Lanes);
        _mm_storel_epi64(reinterpret_cast<__m128i *>(Samples), bytes);
        const LONG last = _mm_cvtsi128_si32(_mm_srli_si128(bytes, 8));
        RtlCopyMemory(Samples + 8, &last, sizeof last);
    } else {
        StoreLanes<Bytes>(Samples, Lanes);
    }
}

// Four stereo 3-byte frames, 0 and 2 in the low six bytes of Even's halves, 1 and 3 in Odd's.
// Each 8-byte store's last two bytes are garbage that the next store overwrites, so the order
// is the frames' order; 26 bytes are written.
inline void StoreThreeByteFrames(PUCHAR Frames, __m128i Even, __m128i Odd)
{
    _mm_storel_epi64(reinterpret_cast<__m128i *>(Frames), Even);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(Frames + 6), Odd);
    _mm_storeh_pd(reinterpret_cast<double *>(Frames + 12), _mm_castsi128_pd(Even));
    _mm_storeh_pd(reinterpret_cast<double *>(Frames + 18), _mm_castsi128_pd(Odd));
}

// Four stereo frames of device samples from the lanes of both channels. A 3-byte device
// writes 26 bytes: the caller keeps a frame beyond the four. A 3-byte frame is built in a
// 64-bit half by two shifts, frames 0 and 2 in one register and 1 and 3 in another, and goes
// out in an 8-byte store that the next frame's store partly overwrites.
template <ULONG DeviceBytes>
inline void StoreStereo(PUCHAR Frames, __m128i Left, __m128i Right)
{
    if constexpr (DeviceBytes == 2) {
        const __m128i top = _mm_set1_epi32(int(0xFFFF0000u));
        Store(Frames, _mm_or_si128(_mm_srli_epi32(Left, 16), _mm_and_si128(Right, top)));
    } else if constexpr (DeviceBytes == 3) {
        const __m128i even = _mm_or_si128(_mm_srli_epi64(_mm_and_si128(Left, EvenTop24()), 8),
                                          _mm_slli_epi64(_mm_and_si128(Right, EvenTop24()), 16));
        const __m128i odd = _mm_or_si128(_mm_srli_epi64(Left, 40),
                                         _mm_srli_epi64(_mm_and_si128(Right, OddTop24()), 16));
        StoreThreeByteFrames(Frames, even, odd);
    } else {
        Store(Frames, _mm_unpacklo_epi32(Left, Right));
        Store(Frames + 16, _mm_unpackhi_epi32(Left, Right));
    }
}

// Four stereo frames of device samples as the lanes of both channels. A 3-byte device reads
// 26 bytes: the caller keeps a frame beyond the four. Frames 0 and 2 are read into the halves
// of one register and 1 and 3 into another; shifts within the halves place their samples.
template <ULONG DeviceBytes>
inline void LoadStereo(const UCHAR *Frames, __m128i &Left, __m128i &Right)
{
    if constexpr (DeviceBytes == 2) {
        const __m128i x = Load(Frames);
        Left = _mm_slli_epi32(x, 16);
        Right = _mm_and_si128(x, _mm_set1_epi32(int(0xFFFF0000u)));
    } else if constexpr (DeviceBytes == 3) {
        const __m128i even = LoadHalves(Frames, Frames + 12);
        const __m128i odd = LoadHalves(Frames + 6, Frames + 18);
        Left = _mm_or_si128(_mm_and_si128(_mm_slli_epi64(even, 8), EvenTop24()),
                            _mm_slli_epi64(odd, 40));
        Right = _mm_or_si128(_mm_and_si128(_mm_srli_epi64(even, 16), EvenTop24()),
                             _mm_and_si128(_mm_slli_epi64(odd, 16), OddTop24()));
    } else {
        // One two-source shuffle a channel (the SSE one, which x64 has as SSE2 does).
        const __m128 a = _mm_castsi128_ps(Load(Frames)), b = _mm_castsi128_ps(Load(Frames + 16));
        Left = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        Right = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    }
}

// 16-bit samples on both sides go eight frames at a time, so that every load and store is a
// whole register.
inline void InterleaveEight16(PUCHAR Frames, const UCHAR *Left, const UCHAR *Right)
{
    const __m128i l = Load(Left), r = Load(Right);
    Store(Frames, _mm_unpacklo_epi16(l, r));
    Store(Frames + 16, _mm_unpackhi_epi16(l, r));
}

// 24-bit samples on both sides go four frames at a time as pairs of samples, never as lanes.
inline void InterleaveFour24(PUCHAR Frames, const UCHAR *Left, const UCHAR *Right)
{
    __m128i even = LoadHalves(Left, Left + 6), odd = LoadHalves(Right, Right + 6);
    ExchangePairs24(even, odd);
    StoreThreeByteFrames(Frames, even, odd);
}

inline void DeinterleaveFour24(PUCHAR Left, PUCHAR Right, const UCHAR *Frames)
{
    __m128i left = LoadHalves(Frames, Frames + 12), right = LoadHalves(Frames + 6, Frames + 18);
    ExchangePairs24(left, right);
    StoreHalves(Left, Left + 6, left);
    StoreHalves(Right, Right + 6, right);
}

// Each 32-bit lane of a register of frames holds a left and a right sample: a multiply-add
// with 1 or 0x10000 sign-extends one of them to the whole lane, and a saturating pack, which
// keeps such values unchanged, joins two registers' lanes.
inline void DeinterleaveEight16(PUCHAR Left, PUCHAR Right, const UCHAR *Frames)
{
    const __m128i first = Load(Frames), second = Load(Frames + 16);
    const __m128i left = _mm_set1_epi32(1), right = _mm_set1_epi32(0x10000);
    Store(Left, _mm_packs_epi32(_mm_madd_epi16(first, left), _mm_madd_epi16(second, left)));
    Store(Right, _mm_packs_epi32(_mm_madd_epi16(first, right), _mm_madd_epi16(second, right)));
}

// Samples a loop may take beyond its step: a 3-byte side reads or writes into one more.
template <ULONG AsioBytes, ULONG DeviceBytes>
constexpr ULONG Slack()
{
    return AsioBytes == 3 || DeviceBytes == 3 ? 1 : 0;
}

// Frames per SIMD step: eight 16-bit frames, or four frames otherwise.
template <ULONG AsioBytes, ULONG DeviceBytes>
constexpr ULONG Step()
{
    return AsioBytes == 2 && DeviceBytes == 2 ? 8 : 4;
}

// One step of stereo render or capture.
template <ULONG AsioBytes, ULONG DeviceBytes, bool Capture, typename Asio, typename Device>
inline void StereoStep(Device Frames, Asio Left, Asio Right)
{
    if constexpr (Capture && Step<AsioBytes, DeviceBytes>() == 8) {
        DeinterleaveEight16(Left, Right, Frames);
    } else if constexpr (Capture && AsioBytes == 3 && DeviceBytes == 3) {
        DeinterleaveFour24(Left, Right, Frames);
    } else if constexpr (Capture) {
        __m128i l, r;
        LoadStereo<DeviceBytes>(Frames, l, r);
        StoreLanes<AsioBytes>(Left, l);
        StoreLanes<AsioBytes>(Right, r);
    } else if constexpr (Step<AsioBytes, DeviceBytes>() == 8) {
        InterleaveEight16(Frames, Left, Right);
    } else if constexpr (AsioBytes == 3 && DeviceBytes == 3) {
        InterleaveFour24(Frames, Left, Right);
    } else {
        StoreStereo<DeviceBytes>(Frames, LoadLanes<AsioBytes>(Left), LoadLanes<AsioBytes>(Right));
    }
}

// Stereo render or capture, two steps a pass; returns the frames done.
template <ULONG AsioBytes, ULONG DeviceBytes, bool Capture, typename Asio, typename Device>
ULONG StereoPasses(Device Frames, Asio Left, Asio Right, ULONG Samples)
{
    constexpr ULONG step = Step<AsioBytes, DeviceBytes>();
    constexpr SIZE_T asio = step * AsioBytes, device = step * 2 * DeviceBytes;
    ULONG i = 0;
    for (; i + 2 * step + Slack<AsioBytes, DeviceBytes>() <= Samples; i += 2 * step) {
        StereoStep<AsioBytes, DeviceBytes, Capture>(Frames, Left, Right);
        StereoStep<AsioBytes, DeviceBytes, Capture>(Frames + device, Left + asio, Right + asio);
        Left += 2 * asio;
        Right += 2 * asio;
        Frames += 2 * device;
    }
    return i;
}

// Four 32-bit lanes of four registers transposed: register j gets lane j of each.
inline void Transpose4(__m128i *Rows)
{
    const __m128i low01 = _mm_unpacklo_epi32(Rows[0], Rows[1]);
    const __m128i high01 = _mm_unpackhi_epi32(Rows[0], Rows[1]);
    const __m128i low23 = _mm_unpacklo_epi32(Rows[2], Rows[3]);
    const __m128i high23 = _mm_unpackhi_epi32(Rows[2], Rows[3]);
    Rows[0] = _mm_unpacklo_epi64(low01, low23);
    Rows[1] = _mm_unpackhi_epi64(low01, low23);
    Rows[2] = _mm_unpacklo_epi64(high01, high23);
    Rows[3] = _mm_unpackhi_epi64(high01, high23);
}

// Eight samples of a channel as 16-bit device samples in one register (the top 16 bits of
// 32-bit ones), and back.
template <ULONG AsioBytes>
inline __m128i LoadEight16(const UCHAR *Samples)
{
    if constexpr (AsioBytes == 2) {
        return Load(Samples);
    } else {
        return _mm_packs_epi32(_mm_srai_epi32(Load(Samples), 16),
                               _mm_srai_epi32(Load(Samples + 16), 16));
    }
}

template <ULONG AsioBytes>
inline void StoreEight16(PUCHAR Samples, __m128i Values)
{
    if constexpr (AsioBytes == 2) {
        Store(Samples, Values);
    } else {
        Store(Samples, _mm_unpacklo_epi16(_mm_setzero_si128(), Values));
        Store(Samples + 16, _mm_unpackhi_epi16(_mm_setzero_si128(), Values));
    }
}

// A group of four channels over eight frames of 16-bit device samples: two levels of unpacks
// between a register of each channel and two frames of the group in each register. Device
// frames are written exactly (8 bytes a frame).
template <ULONG AsioBytes>
inline void InterleaveGroup16(PUCHAR Group, SIZE_T Frame, const UCHAR *const *Channels,
                              SIZE_T Offset)
{
    const __m128i c0 = LoadEight16<AsioBytes>(Channels[0] + Offset);
    const __m128i c1 = LoadEight16<AsioBytes>(Channels[1] + Offset);
    const __m128i c2 = LoadEight16<AsioBytes>(Channels[2] + Offset);
    const __m128i c3 = LoadEight16<AsioBytes>(Channels[3] + Offset);
    const __m128i low01 = _mm_unpacklo_epi16(c0, c1), high01 = _mm_unpackhi_epi16(c0, c1);
    const __m128i low23 = _mm_unpacklo_epi16(c2, c3), high23 = _mm_unpackhi_epi16(c2, c3);
    StoreHalves(Group, Group + Frame, _mm_unpacklo_epi32(low01, low23));
    StoreHalves(Group + 2 * Frame, Group + 3 * Frame, _mm_unpackhi_epi32(low01, low23));
    StoreHalves(Group + 4 * Frame, Group + 5 * Frame, _mm_unpacklo_epi32(high01, high23));
    StoreHalves(Group + 6 * Frame, Group + 7 * Frame, _mm_unpackhi_epi32(high01, high23));
}

// The reverse: frames 0 and 2 of each half of four are unpacked with 1 and 3, twice, which
// leaves each register with two channels' four samples.
template <ULONG AsioBytes>
inline void DeinterleaveGroup16(PUCHAR const *Channels, SIZE_T Offset, const UCHAR *Group,
                                SIZE_T Frame)
{
    __m128i halves[2][2];
    for (ULONG h = 0; h < 2; ++h, Group += 4 * Frame) {
        const __m128i frames01 = LoadHalves(Group, Group + Frame);
        const __m128i frames23 = LoadHalves(Group + 2 * Frame, Group + 3 * Frame);
        const __m128i even = _mm_unpacklo_epi16(frames01, frames23);
        const __m128i odd = _mm_unpackhi_epi16(frames01, frames23);
        halves[h][0] = _mm_unpacklo_epi16(even, odd);
        halves[h][1] = _mm_unpackhi_epi16(even, odd);
    }
    StoreEight16<AsioBytes>(Channels[0] + Offset, _mm_unpacklo_epi64(halves[0][0], halves[1][0]));
    StoreEight16<AsioBytes>(Channels[1] + Offset, _mm_unpackhi_epi64(halves[0][0], halves[1][0]));
    StoreEight16<AsioBytes>(Channels[2] + Offset, _mm_unpacklo_epi64(halves[0][1], halves[1][1]));
    StoreEight16<AsioBytes>(Channels[3] + Offset, _mm_unpackhi_epi64(halves[0][1], halves[1][1]));
}

// Groups of four channels go eight frames a step as 16-bit registers when the device samples
// are 16-bit and the ASIO ones 16 or 32-bit, else four frames a step as 32-bit lanes.
template <ULONG AsioBytes, ULONG DeviceBytes>
constexpr ULONG GroupStep()
{
    return DeviceBytes == 2 && AsioBytes != 3 ? 8 : 4;
}

// Render or capture of a multiple of four channels, a group step at a time: each group of four
// channels is transposed between samples of each channel and frames of the group. Device frames are
// written exactly, since a group's frames are not written in frame order. Returns the frames done.
template <ULONG AsioBytes, ULONG DeviceBytes, bool Capture, typename Asio, typename Device>
ULONG GroupPasses(Device Frames, Asio const *Channels, ULONG ChannelCount, ULONG Samples)
{
    constexpr ULONG step = GroupStep<AsioBytes, DeviceBytes>();
    const SIZE_T frame = SIZE_T(ChannelCount) * DeviceBytes;
    ULONG i = 0;
    for (; i + step + Slack<AsioBytes, DeviceBytes>() <= Samples;
         i += step, Frames += step * frame) {
        const SIZE_T offset = SIZE_T(i) * AsioBytes;
        for (ULONG k = 0; k < ChannelCount; k += 4) {
            const Device group = Frames + SIZE_T(k) * DeviceBytes;
            __m128i rows[4]; // four lanes of four channels, for the other widths
            if constexpr (Capture && step == 8) {
                DeinterleaveGroup16<AsioBytes>(Channels + k, offset, group, frame);
            } else if constexpr (Capture) {
                rows[0] = LoadLanes<DeviceBytes>(group);
                rows[1] = LoadLanes<DeviceBytes>(group + frame);
                rows[2] = LoadLanes<DeviceBytes>(group + 2 * frame);
                rows[3] = LoadLanes<DeviceBytes>(group + 3 * frame);
                Transpose4(rows);
                StoreLanes<AsioBytes>(Channels[k] + offset, rows[0]);
                StoreLanes<AsioBytes>(Channels[k + 1] + offset, rows[1]);
                StoreLanes<AsioBytes>(Channels[k + 2] + offset, rows[2]);
                StoreLanes<AsioBytes>(Channels[k + 3] + offset, rows[3]);
            } else if constexpr (step == 8) {
                InterleaveGroup16<AsioBytes>(group, frame, Channels + k, offset);
            } else {
                rows[0] = LoadLanes<AsioBytes>(Channels[k] + offset);
                rows[1] = LoadLanes<AsioBytes>(Channels[k + 1] + offset);
                rows[2] = LoadLanes<AsioBytes>(Channels[k + 2] + offset);
                rows[3] = LoadLanes<AsioBytes>(Channels[k + 3] + offset);
                Transpose4(rows);
                StoreLanesExactly<DeviceBytes>(group, rows[0]);
                StoreLanesExactly<DeviceBytes>(group + frame, rows[1]);
                StoreLanesExactly<DeviceBytes>(group + 2 * frame, rows[2]);
                StoreLanesExactly<DeviceBytes>(group + 3 * frame, rows[3]);
            }
        }
    }
    return i;
}

template <ULONG AsioBytes, ULONG DeviceBytes>
void Interleave(PUCHAR Frames, const UCHAR *const *Channels, ULONG ChannelCount, ULONG Samples)
{
    ULONG done = 0;
    if (ChannelCount == 2) {
        done =
            StereoPasses<AsioBytes, DeviceBytes, false>(Frames, Channels[0], Channels[1], Samples);
    } else if (ChannelCount % 4 == 0) {
        done = GroupPasses<AsioBytes, DeviceBytes, false>(Frames, Channels, ChannelCount, Samples);
    }
    InterleaveScalar<AsioBytes, DeviceBytes>(Frames, Channels, ChannelCount, done, Samples);
}

template <ULONG AsioBytes, ULONG DeviceBytes>
void Deinterleave(PUCHAR const *Channels, const UCHAR *Frames, ULONG ChannelCount, ULONG Samples)
{
    ULONG done = 0;
    if (ChannelCount == 2) {
        done =
            StereoPasses<AsioBytes, DeviceBytes, true>(Frames, Channels[0], Channels[1], Samples);
    } else if (ChannelCount % 4 == 0) {
        done = GroupPasses<AsioBytes, DeviceBytes, true>(Frames, Channels, ChannelCount, Samples);
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
