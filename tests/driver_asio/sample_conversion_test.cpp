// The ASIO sample converters against an arithmetic model of the placement rule (a narrowing is
// an arithmetic shift right, a widening a shift left), the edge values of every pair, the
// defaults, DSD, and the whole-frame paths, which must give the per-channel converters' bytes.
#include <gtest/gtest.h>

#include "asio/asio_frame_conversion.h"
#include "asio/asio_sample_conversion.h"
#include "kernel/debug_log.h"
#include "kernel/kernel_fixture.h"

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<UCHAR>;

int64_t ReadSigned(const UCHAR *p, ULONG size)
{
    uint64_t v = 0;
    for (ULONG i = 0; i < size; ++i) {
        v |= uint64_t(p[i]) << (8 * i);
    }
    const unsigned shift = 64 - 8 * size;
    return int64_t(v << shift) >> shift;
}

void WriteBits(UCHAR *p, ULONG size, int64_t v)
{
    for (ULONG i = 0; i < size; ++i) {
        p[i] = UCHAR(uint64_t(v) >> (8 * i));
    }
}

// The model: From-byte value into To bytes.
int64_t Placed(int64_t v, ULONG from, ULONG to)
{
    return to <= from ? v >> (8 * (from - to)) : int64_t(uint64_t(v) << (8 * (to - from)));
}

const ULONG kIntegerTypes[] = {ASIO_SAMPLE_TYPE_INT16_LSB, ASIO_SAMPLE_TYPE_INT24_LSB,
                               ASIO_SAMPLE_TYPE_INT32_LSB};

// Renders Values (of the type's size) at a stride of width + 3 and reads them back, checking
// the gap bytes stay untouched.
Bytes Render(ULONG type, ULONG width, const Bytes &asio, ULONG count)
{
    const ULONG stride = width + 3;
    Bytes device(SIZE_T(count) * stride, 0xEE);
    AsioSampleConverter(FALSE, width, type)(asio.data(), device.data(), count, stride);
    Bytes packed;
    for (ULONG i = 0; i < count; ++i) {
        packed.insert(packed.end(), device.begin() + i * stride,
                      device.begin() + i * stride + width);
        for (ULONG g = width; g < stride; ++g) {
            EXPECT_EQ(0xEE, device[i * stride + g]) << "a gap byte was written";
        }
    }
    return packed;
}

Bytes Capture(ULONG type, ULONG width, const Bytes &packed, ULONG count)
{
    const ULONG stride = width + 3;
    Bytes device(SIZE_T(count) * stride, 0x5A);
    for (ULONG i = 0; i < count; ++i) {
        std::copy(packed.begin() + i * width, packed.begin() + (i + 1) * width,
                  device.begin() + i * stride);
    }
    Bytes asio(SIZE_T(count) * AsioSampleSize(type) + 1, 0xEE);
    AsioSampleConverter(TRUE, width, type)(device.data(), asio.data(), count, stride);
    EXPECT_EQ(0xEE, asio.back()) << "wrote past the ASIO buffer";
    asio.pop_back();
    return asio;
}

// Every pair of integer type and device width, both directions, on the edge values of the
// source width and a spread of random ones, against the model.
TEST(AsioSampleConverters, EveryIntegerPairFollowsThePlacementRule)
{
    std::mt19937 random(7);
    for (const ULONG type : kIntegerTypes) {
        const ULONG size = AsioSampleSize(type);
        for (ULONG width = 2; width <= 4; ++width) {
            for (const bool capture : {false, true}) {
                const ULONG from = capture ? width : size, to = capture ? size : width;
                const int64_t max = (int64_t(1) << (8 * from - 1)) - 1;
                std::vector<int64_t> values = {max, -max - 1, -1, 0, 1, 0xFF, -0x100, 0x7F, -0x80};
                for (int i = 0; i < 200; ++i) {
                    const uint32_t r = random();
                    values.push_back(ReadSigned(reinterpret_cast<const UCHAR *>(&r), from));
                }
                Bytes in(values.size() * from);
                for (size_t i = 0; i < values.size(); ++i) {
                    WriteBits(&in[i * from], from, values[i]);
                }
                const ULONG count = ULONG(values.size());
                const Bytes out =
                    capture ? Capture(type, width, in, count) : Render(type, width, in, count);
                for (size_t i = 0; i < values.size(); ++i) {
                    ASSERT_EQ(Placed(values[i], from, to), ReadSigned(&out[i * to], to))
                        << "type " << type << ", width " << width
                        << (capture ? ", capture" : ", render") << ", value " << std::hex
                        << values[i];
                }
            }
        }
    }
}

struct EdgeCase {
    const char *name;
    bool capture;
    ULONG width, type;
    Bytes in, out;
};

class AsioSampleEdgeTest : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(AsioSampleEdgeTest, GivesTheListedBytes)
{
    const EdgeCase &c = GetParam();
    const ULONG count = 1;
    EXPECT_EQ(c.out, c.capture ? Capture(c.type, c.width, c.in, count)
                               : Render(c.type, c.width, c.in, count));
}

INSTANTIATE_TEST_SUITE_P(
    Listed, AsioSampleEdgeTest,
    ::testing::Values(
        EdgeCase{
            "Int32To3BytesKeepsTop", false, 3, 18, {0x78, 0x56, 0x34, 0x12}, {0x56, 0x34, 0x12}},
        EdgeCase{"Int32To2Bytes", false, 2, 18, {0x78, 0x56, 0x34, 0x12}, {0x34, 0x12}},
        EdgeCase{
            "Int32MinusOneTo2BytesFloors", false, 2, 18, {0x00, 0x80, 0xFF, 0xFF}, {0xFF, 0xFF}},
        EdgeCase{"Int24To2Bytes", false, 2, 17, {0x56, 0x34, 0x12}, {0x34, 0x12}},
        EdgeCase{"Int24LowByteDropped", false, 2, 17, {0xFF, 0x00, 0x00}, {0x00, 0x00}},
        EdgeCase{"Int16To4BytesPads", false, 4, 16, {0x01, 0x80}, {0, 0, 0x01, 0x80}},
        EdgeCase{"Int16To3BytesPads", false, 3, 16, {0x00, 0x80}, {0, 0x00, 0x80}},
        EdgeCase{"Int24To4BytesPads", false, 4, 17, {0x56, 0x34, 0x12}, {0, 0x56, 0x34, 0x12}},
        EdgeCase{"Device3BytesToInt32", true, 3, 18, {0xEF, 0xCD, 0xAB}, {0, 0xEF, 0xCD, 0xAB}},
        EdgeCase{"Device3BytesToInt16", true, 3, 16, {0xEF, 0xCD, 0xAB}, {0xCD, 0xAB}},
        EdgeCase{"Device2BytesToInt24", true, 2, 17, {0x34, 0x12}, {0, 0x34, 0x12}},
        EdgeCase{"Device4BytesToInt24", true, 4, 17, {0x78, 0x56, 0x34, 0x12}, {0x56, 0x34, 0x12}}),
    [](const ::testing::TestParamInfo<EdgeCase> &info) { return info.param.name; });

// Float, unknown and out-of-table types, 1-byte devices and DSD capture leave the target as it
// was; DSD renders four bytes per 4-byte device sample in buffer order.
class AsioSampleDefaults : public KernelTest {};

TEST_F(AsioSampleDefaults, OnlyListedPairsMoveBytes)
{
    struct Silent {
        bool capture;
        ULONG width, type;
        bool logged;
    };
    const Silent silent[] = {
        {false, 4, 19, false}, {false, 2, 20, false}, {true, 4, 19, false},
        {true, 3, 20, false},  {false, 1, 16, true},  {true, 1, 18, true},
        {false, 4, 0, true},   {true, 2, 2, true},    {false, 3, 33, true},
        {true, 4, 33, true},   {false, 4, 42, true},  {true, 4, 0xFFFFFFFF, true},
        {false, 0, 18, true},  {false, 5, 18, true}};
    for (const Silent &s : silent) {
        Bytes source(64, 0x11), target(64, 0xAA);
        const size_t before = host::DebugLogOf(M()).Messages().size();
        AsioSampleConverter(s.capture ? TRUE : FALSE, s.width, s.type)(source.data(), target.data(),
                                                                       4, 8);
        EXPECT_EQ(Bytes(64, 0xAA), target) << "width " << s.width << ", type " << s.type;
        EXPECT_EQ(s.logged, host::DebugLogOf(M()).Messages().size() > before)
            << "width " << s.width << ", type " << s.type;
    }
    const Bytes dsd = {1, 2, 3, 4, 5, 6, 7, 8};
    Bytes device(16, 0xEE);
    AsioSampleConverter(FALSE, 4, ASIO_SAMPLE_TYPE_DSD_INT8_MSB1)(dsd.data(), device.data(), 2, 8);
    EXPECT_EQ((Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 5, 6, 7, 8, 0xEE, 0xEE, 0xEE, 0xEE}),
              device);
    AsioSampleConverter(FALSE, 4, ASIO_SAMPLE_TYPE_DSD_INT8_MSB1)(nullptr, device.data(), 2, 8);
}

TEST(AsioSampleConverters, SampleSizesFollowTheTypes)
{
    const ULONG sizes[ASIO_SAMPLE_TYPE_COUNT + 1] = {2, 3, 4, 4, 8, 0, 0, 0, 4, 4, 4, 4, 0, 0, 0,
                                                     0, 2, 3, 4, 4, 8, 0, 0, 0, 4, 4, 4, 4, 0, 0,
                                                     0, 0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (ULONG type = 0; type <= ASIO_SAMPLE_TYPE_COUNT; ++type) {
        EXPECT_EQ(sizes[type], AsioSampleSize(type)) << "type " << type;
    }
}

// Widening then narrowing back gives every 16 and 24-bit value unchanged.
TEST(AsioSampleConverters, WidenThenNarrowIsTheIdentity)
{
    for (const ULONG type :
         {ULONG(ASIO_SAMPLE_TYPE_INT16_LSB), ULONG(ASIO_SAMPLE_TYPE_INT24_LSB)}) {
        const ULONG size = AsioSampleSize(type);
        const ULONG count = 1u << (8 * size);
        Bytes asio(SIZE_T(count) * size);
        for (ULONG v = 0; v < count; ++v) {
            WriteBits(&asio[SIZE_T(v) * size], size, v);
        }
        for (ULONG width = size; width <= 4; ++width) {
            Bytes device(SIZE_T(count) * width);
            AsioSampleConverter(FALSE, width, type)(asio.data(), device.data(), count, width);
            Bytes back(asio.size(), 0xEE);
            AsioSampleConverter(TRUE, width, type)(device.data(), back.data(), count, width);
            EXPECT_TRUE(asio == back) << "type " << type << " through width " << width;
        }
    }
}

// Every 16-bit value, and a spread of 24 and 32-bit values with the extremes, go into whole
// frames of each width that holds them and come back unchanged, in stereo and eight channels.
TEST(AsioFrameConversion, WidenThenNarrowIsTheIdentity)
{
    const ULONG count = 1u << 16;
    for (const ULONG type : kIntegerTypes) {
        const ULONG size = AsioSampleSize(type);
        const int64_t max = (int64_t(1) << (8 * size - 1)) - 1;
        for (const ULONG channels : {2u, 8u}) {
            std::vector<Bytes> asio(channels, Bytes(SIZE_T(count) * size)), back = asio;
            std::vector<const UCHAR *> in;
            std::vector<PUCHAR> out;
            for (ULONG k = 0; k < channels; ++k) {
                for (ULONG i = 0; i < count; ++i) {
                    const int64_t spread = size == 2 ? i : int64_t(i) * 0x9E3779B1;
                    const int64_t v = i == 1 ? max : i == 2 ? -max - 1 : spread + k * 0x1111;
                    WriteBits(&asio[k][SIZE_T(i) * size], size, v);
                }
                in.push_back(asio[k].data());
                out.push_back(back[k].data());
            }
            for (ULONG width = size; width <= 4; ++width) {
                Bytes device(SIZE_T(count) * channels * width);
                AsioInterleaveFrames(device.data(), in.data(), channels, count, type, width);
                AsioDeinterleaveFrames(out.data(), device.data(), channels, count, type, width);
                EXPECT_TRUE(asio == back)
                    << "type " << type << ", width " << width << ", channels " << channels;
            }
        }
    }
}

// The whole-frame paths give the bytes of the per-channel converters for every channel count,
// pair of widths and block remainder, in both directions.
TEST(AsioFrameConversion, MatchesThePerChannelConverters)
{
    std::mt19937 random(11);
    for (const ULONG type : kIntegerTypes) {
        const ULONG size = AsioSampleSize(type);
        for (ULONG width = 2; width <= 4; ++width) {
            ASSERT_TRUE(AsioFrameConversionFits(type, width));
            for (ULONG channels = 1; channels <= 8; ++channels) {
                for (const ULONG samples : {0u, 1u, 7u, 8u, 9u, 10u, 16u, 17u, 18u, 67u, 512u}) {
                    const ULONG frame = channels * width;
                    std::vector<Bytes> asio(channels, Bytes(SIZE_T(samples) * size));
                    // At least a frame, so that no offset is applied to a null pointer.
                    Bytes device(SIZE_T(std::max(samples, 1u)) * frame);
                    for (Bytes &b : asio) {
                        for (UCHAR &x : b) {
                            x = UCHAR(random());
                        }
                    }
                    for (UCHAR &x : device) {
                        x = UCHAR(random());
                    }
                    std::vector<const UCHAR *> in;
                    std::vector<PUCHAR> out;
                    std::vector<Bytes> fromFrames(channels, Bytes(asio[0].size() + 1, 0xEE)),
                        fromTable(channels, Bytes(asio[0].size() + 1, 0xEE));
                    Bytes framesOut(device.size() + 1, 0xEE), tableOut(device.size() + 1, 0xEE);
                    for (ULONG k = 0; k < channels; ++k) {
                        in.push_back(asio[k].data());
                        out.push_back(fromFrames[k].data());
                        AsioSampleConverter(FALSE, width, type)(
                            asio[k].data(), tableOut.data() + k * width, samples, frame);
                        AsioSampleConverter(TRUE, width, type)(device.data() + k * width,
                                                               fromTable[k].data(), samples, frame);
                    }
                    AsioInterleaveFrames(framesOut.data(), in.data(), channels, samples, type,
                                         width);
                    AsioDeinterleaveFrames(out.data(), device.data(), channels, samples, type,
                                           width);
                    ASSERT_EQ(tableOut, framesOut)
                        << "render type " << type << ", width " << width << ", channels "
                        << channels << ", samples " << samples;
                    ASSERT_EQ(fromTable, fromFrames)
                        << "capture type " << type << ", width " << width << ", channels "
                        << channels << ", samples " << samples;
                }
            }
        }
    }
    EXPECT_FALSE(AsioFrameConversionFits(ASIO_SAMPLE_TYPE_FLOAT32_LSB, 4));
    EXPECT_FALSE(AsioFrameConversionFits(ASIO_SAMPLE_TYPE_DSD_INT8_MSB1, 4));
    EXPECT_FALSE(AsioFrameConversionFits(ASIO_SAMPLE_TYPE_INT32_LSB, 1));
}

} // namespace
