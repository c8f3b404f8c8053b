// The converter table: one group per direction and device sample width, one entry per ASIO
// sample type. Every integer rule is the same placement (keep the top bytes, pad below with
// zeros), instantiated per pair of widths so that each loop has constant sample sizes.
#include "asio/asio_sample_conversion.h"

#include "asio/asio_sample_placement.h"
#include "driver_trace.h"

namespace {

const ULONG kGroupCount = 2 * ASIO_DEVICE_SAMPLE_BYTES_MAX;
// DSD moves four one-bit bytes of a channel per 4-byte device sample.
const ULONG kDsdBytesPerDeviceSample = 4;

// Count samples of From bytes into To bytes; the device side (the source for capture, the
// destination for render) is Stride bytes apart, the ASIO side contiguous.
template <ULONG From, ULONG To, bool Capture>
void ConvertSamples(const UCHAR *Source, PUCHAR Destination, ULONG Count, ULONG Stride)
{
    const ULONG sourceStep = Capture ? Stride : From;
    const ULONG destinationStep = Capture ? To : Stride;
    for (; Count != 0; --Count) {
        PlaceSample<From, To>(Source, Destination);
        Source += sourceStep;
        Destination += destinationStep;
    }
}

void RenderDsd(const UCHAR *Source, PUCHAR Destination, ULONG Count, ULONG Stride)
{
    if (Source == nullptr || Destination == nullptr) {
        return;
    }
    for (; Count != 0; --Count) {
        RtlCopyMemory(Destination, Source, kDsdBytesPerDeviceSample);
        Source += kDsdBytesPerDeviceSample;
        Destination += Stride;
    }
}

// Float channels are accepted and leave both sides as they are.
void MoveNothing(const UCHAR *, PUCHAR, ULONG, ULONG) {}

void RenderDefault(const UCHAR *, PUCHAR, ULONG, ULONG)
{
    QuenTrace(TRACE_LEVEL_ERROR, "no converter from this ASIO sample type to the device width");
}

void CaptureDefault(const UCHAR *, PUCHAR, ULONG, ULONG)
{
    QuenTrace(TRACE_LEVEL_ERROR, "no converter from the device width to this ASIO sample type");
}

struct ConverterTable {
    PASIO_SAMPLE_CONVERTER Entries[kGroupCount][ASIO_SAMPLE_TYPE_COUNT];
};

constexpr ULONG Group(bool Capture, ULONG DeviceBytes)
{
    return (Capture ? ASIO_DEVICE_SAMPLE_BYTES_MAX : 0) + DeviceBytes - 1;
}

// The integer types by size, for filling the table.
template <ULONG DeviceBytes>
constexpr void FillWidth(ConverterTable &Table)
{
    const ULONG render = Group(false, DeviceBytes);
    const ULONG capture = Group(true, DeviceBytes);
    Table.Entries[render][ASIO_SAMPLE_TYPE_INT16_LSB] = ConvertSamples<2, DeviceBytes, false>;
    Table.Entries[render][ASIO_SAMPLE_TYPE_INT24_LSB] = ConvertSamples<3, DeviceBytes, false>;
    Table.Entries[render][ASIO_SAMPLE_TYPE_INT32_LSB] = ConvertSamples<4, DeviceBytes, false>;
    Table.Entries[capture][ASIO_SAMPLE_TYPE_INT16_LSB] = ConvertSamples<DeviceBytes, 2, true>;
    Table.Entries[capture][ASIO_SAMPLE_TYPE_INT24_LSB] = ConvertSamples<DeviceBytes, 3, true>;
    Table.Entries[capture][ASIO_SAMPLE_TYPE_INT32_LSB] = ConvertSamples<DeviceBytes, 4, true>;
    Table.Entries[render][ASIO_SAMPLE_TYPE_FLOAT32_LSB] = MoveNothing;
    Table.Entries[render][ASIO_SAMPLE_TYPE_FLOAT64_LSB] = MoveNothing;
    Table.Entries[capture][ASIO_SAMPLE_TYPE_FLOAT32_LSB] = MoveNothing;
    Table.Entries[capture][ASIO_SAMPLE_TYPE_FLOAT64_LSB] = MoveNothing;
}

constexpr ConverterTable BuildTable()
{
    ConverterTable table{};
    for (ULONG group = 0; group < kGroupCount; ++group) {
        for (ULONG type = 0; type < ASIO_SAMPLE_TYPE_COUNT; ++type) {
            table.Entries[group][type] =
                group < ASIO_DEVICE_SAMPLE_BYTES_MAX ? RenderDefault : CaptureDefault;
        }
    }
    // 1-byte device samples have defaults only.
    FillWidth<2>(table);
    FillWidth<3>(table);
    FillWidth<4>(table);
    table.Entries[Group(false, 4)][ASIO_SAMPLE_TYPE_DSD_INT8_MSB1] = RenderDsd;
    return table;
}

constexpr ConverterTable kConverters = BuildTable();

} // namespace

BOOLEAN AsioIsDsdSampleType(ULONG SampleType)
{
    return SampleType == ASIO_SAMPLE_TYPE_DSD_INT8_LSB1 ||
                   SampleType == ASIO_SAMPLE_TYPE_DSD_INT8_MSB1
               ? TRUE
               : FALSE;
}

ULONG AsioSamplesPerDeviceSample(ULONG SampleType, ULONG DeviceBytes)
{
    return AsioIsDsdSampleType(SampleType) && DeviceBytes == kDsdBytesPerDeviceSample
               ? kDsdBytesPerDeviceSample
               : 1;
}

ULONG AsioSampleSize(ULONG SampleType)
{
    switch (SampleType) {
    case ASIO_SAMPLE_TYPE_DSD_INT8_LSB1:
    case ASIO_SAMPLE_TYPE_DSD_INT8_MSB1: return 1;
    case 0:
    case ASIO_SAMPLE_TYPE_INT16_LSB: return 2;
    case 1:
    case ASIO_SAMPLE_TYPE_INT24_LSB: return 3;
    case 2:
    case 3:
    case 8:
    case 9:
    case 10:
    case 11:
    case ASIO_SAMPLE_TYPE_INT32_LSB:
    case ASIO_SAMPLE_TYPE_FLOAT32_LSB:
    case 24:
    case 25:
    case 26:
    case 27: return 4;
    case 4:
    case ASIO_SAMPLE_TYPE_FLOAT64_LSB: return 8;
    default: return 0;
    }
}

PASIO_SAMPLE_CONVERTER AsioSampleConverter(BOOLEAN Capture, ULONG DeviceBytes, ULONG SampleType)
{
    if (DeviceBytes == 0 || DeviceBytes > ASIO_DEVICE_SAMPLE_BYTES_MAX ||
        SampleType >= ASIO_SAMPLE_TYPE_COUNT) {
        return Capture ? CaptureDefault : RenderDefault;
    }
    return kConverters.Entries[Group(Capture != FALSE, DeviceBytes)][SampleType];
}
