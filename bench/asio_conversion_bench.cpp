// What the ASIO sample converters cost against memcpy of the same device bytes in the same run:
// halves of 512 and 7680 frames of 2 and 8 channels, every integer type against 2, 3 and 4-byte
// device samples, both directions, per channel through the converter table and in whole frames.
// Compare the bytes per second of a case with the memcpy case of the same frames and width.
#include "asio/asio_frame_conversion.h"
#include "asio/asio_sample_conversion.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

struct Buffers {
    Buffers(ULONG frames, ULONG channels, ULONG type, ULONG width)
        : asio(channels, std::vector<UCHAR>(SIZE_T(frames) * AsioSampleSize(type), 0x35)),
          device(SIZE_T(frames) * channels * width, 0x53)
    {
    }
    std::vector<std::vector<UCHAR>> asio;
    std::vector<UCHAR> device;
};

// Args: frames, channels, device width.
void Memcpy(benchmark::State &state)
{
    const ULONG frames = ULONG(state.range(0)), channels = ULONG(state.range(1)),
                width = ULONG(state.range(2));
    std::vector<UCHAR> from(SIZE_T(frames) * channels * width, 1), to(from.size());
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(from.size()));
}

// Args: frames, channels, ASIO type, device width, capture, whole frames.
void Convert(benchmark::State &state)
{
    const ULONG frames = ULONG(state.range(0)), channels = ULONG(state.range(1)),
                type = ULONG(state.range(2)), width = ULONG(state.range(3));
    const BOOLEAN capture = state.range(4) != 0 ? TRUE : FALSE;
    const bool whole = state.range(5) != 0;
    Buffers b(frames, channels, type, width);
    std::vector<const UCHAR *> in;
    std::vector<PUCHAR> out;
    for (std::vector<UCHAR> &samples : b.asio) {
        in.push_back(samples.data());
        out.push_back(samples.data());
    }
    const PASIO_SAMPLE_CONVERTER converter = AsioSampleConverter(capture, width, type);
    const ULONG stride = channels * width;
    for (auto _ : state) {
        if (whole && capture) {
            AsioDeinterleaveFrames(out.data(), b.device.data(), channels, frames, type, width);
        } else if (whole) {
            AsioInterleaveFrames(b.device.data(), in.data(), channels, frames, type, width);
        } else {
            for (ULONG k = 0; k < channels; ++k) {
                if (capture) {
                    converter(b.device.data() + k * width, out[k], frames, stride);
                } else {
                    converter(in[k], b.device.data() + k * width, frames, stride);
                }
            }
        }
        benchmark::DoNotOptimize(b.device.data());
        benchmark::DoNotOptimize(b.asio[0].data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(b.device.size()));
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
BENCHMARK(Convert)->Apply(ConvertArgs);

} // namespace

BENCHMARK_MAIN();
