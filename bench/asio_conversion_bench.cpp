// What the ASIO sample converters cost against memcpy of the same device bytes in the same run:
// halves of 512 and 7680 frames of 2 and 8 channels, every integer type against 2, 3 and 4-byte
// device samples, both directions, per channel through the converter table and in whole frames.
// Compare the bytes per second of a case with the memcpy case of the same frames and width;
// the SSE2 copy of the same bytes is the ceiling of any path limited to SSE2. On a shared
// machine run with --benchmark_repetitions=5 --benchmark_enable_random_interleaving=true, so
// that a change of load falls on the baselines as much as on the converters.
#include "asio/asio_frame_conversion.h"
#include "asio/asio_sample_conversion.h"

#include <benchmark/benchmark.h>
#include <emmintrin.h>

#include <cstring>
#include <vector>

namespace {

const SIZE_T kPage = 4096;

// Buffers of one case in one block, each on its own pages and starting an equal share of a page
// after the previous one, so that no two streams of a case start 4 KB apart: the CPU would take
// a load for a recent store to the same page offset and wait, and how much depends on where the
// allocator put the buffers, not on the code measured.
class Buffers {
public:
    Buffers(const std::vector<SIZE_T> &Sizes, UCHAR Fill)
    {
        const SIZE_T shift = (kPage / Sizes.size()) & ~SIZE_T(63);
        SIZE_T total = kPage;
        for (const SIZE_T size : Sizes) {
            Offsets.push_back(total + shift * Offsets.size());
            total += (size + kPage - 1) / kPage * kPage + kPage;
        }
        Block.assign(total, Fill);
        Base = Block.data() + (kPage - reinterpret_cast<uintptr_t>(Block.data()) % kPage);
    }
    PUCHAR operator[](SIZE_T Index) { return Base + Offsets[Index] - kPage; }

private:
    std::vector<UCHAR> Block;
    std::vector<SIZE_T> Offsets;
    PUCHAR Base = nullptr;
};

SIZE_T DeviceBytes(const benchmark::State &state)
{
    return SIZE_T(state.range(0)) * SIZE_T(state.range(1)) * SIZE_T(state.range(2));
}

// Args: frames, channels, device width.
void Memcpy(benchmark::State &state)
{
    const SIZE_T bytes = DeviceBytes(state);
    Buffers b({bytes, bytes}, 1);
    for (auto _ : state) {
        std::memcpy(b[1], b[0], bytes);
        benchmark::DoNotOptimize(b[1]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}

// Args: frames, channels, device width; a loop of 16-byte loads and stores, four a step.
void Sse2Copy(benchmark::State &state)
{
    const SIZE_T bytes = DeviceBytes(state), blocks = bytes / 64;
    Buffers b({bytes, bytes}, 1);
    for (auto _ : state) {
        const __m128i *in = reinterpret_cast<const __m128i *>(b[0]);
        __m128i *out = reinterpret_cast<__m128i *>(b[1]);
        for (SIZE_T i = 0; i < blocks; ++i, in += 4, out += 4) {
            const __m128i w = _mm_loadu_si128(in), x = _mm_loadu_si128(in + 1),
                          y = _mm_loadu_si128(in + 2), z = _mm_loadu_si128(in + 3);
            _mm_storeu_si128(out, w);
            _mm_storeu_si128(out + 1, x);
            _mm_storeu_si128(out + 2, y);
            _mm_storeu_si128(out + 3, z);
        }
        benchmark::DoNotOptimize(b[1]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(blocks * 64));
}

// Args: frames, channels, ASIO type, device width, capture, whole frames.
void Convert(benchmark::State &state)
{
    const ULONG frames = ULONG(state.range(0)), channels = ULONG(state.range(1)),
                type = ULONG(state.range(2)), width = ULONG(state.range(3));
    const BOOLEAN capture = state.range(4) != 0 ? TRUE : FALSE;
    const bool whole = state.range(5) != 0;
    const SIZE_T asioBytes = SIZE_T(frames) * AsioSampleSize(type);
    const SIZE_T deviceBytes = SIZE_T(frames) * channels * width;
    // The device frames first, then each channel's buffer.
    std::vector<SIZE_T> sizes(channels + 1, asioBytes);
    sizes[0] = deviceBytes;
    Buffers b(sizes, 0x35);
    const PUCHAR device = b[0];
    std::vector<const UCHAR *> in;
    std::vector<PUCHAR> out;
    for (ULONG k = 0; k < channels; ++k) {
        in.push_back(b[k + 1]);
        out.push_back(b[k + 1]);
    }
    const PASIO_SAMPLE_CONVERTER converter = AsioSampleConverter(capture, width, type);
    const ULONG stride = channels * width;
    for (auto _ : state) {
        if (whole && capture) {
            AsioDeinterleaveFrames(out.data(), device, channels, frames, type, width);
        } else if (whole) {
            AsioInterleaveFrames(device, in.data(), channels, frames, type, width);
        } else {
            for (ULONG k = 0; k < channels; ++k) {
                if (capture) {
                    converter(device + k * width, out[k], frames, stride);
                } else {
                    converter(in[k], device + k * width, frames, stride);
                }
            }
        }
        benchmark::DoNotOptimize(device);
        benchmark::DoNotOptimize(out[0]);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(deviceBytes));
}

void MemcpyArgs(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"frames", "channels", "width"});
    for (const int frames : {512, 7680}) {
        for (const int channels : {2, 8}) {
            for (const int width : {2, 3, 4}) {
                b->Args({frames, channels, width});
            }
        }
    }
}

void ConvertArgs(benchmark::internal::Benchmark *b)
{
    b->ArgNames({"frames", "channels", "type", "width", "capture", "frames_path"});
    for (const int frames : {512, 7680}) {
        for (const int channels : {2, 8}) {
            for (const int type : {ASIO_SAMPLE_TYPE_INT16_LSB, ASIO_SAMPLE_TYPE_INT24_LSB,
                                   ASIO_SAMPLE_TYPE_INT32_LSB}) {
                for (const int width : {2, 3, 4}) {
                    for (const int capture : {0, 1}) {
                        for (const int whole : {0, 1}) {
                            b->Args({frames, channels, type, width, capture, whole});
                        }
                    }
                }
            }
        }
    }
}

BENCHMARK(Memcpy)->Apply(MemcpyArgs);
BENCHMARK(Sse2Copy)->Apply(MemcpyArgs);
BENCHMARK(Convert)->Apply(ConvertArgs);

} // namespace

BENCHMARK_MAIN();
