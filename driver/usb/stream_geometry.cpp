#include "usb/stream_geometry.h"

namespace {

// USB allows bInterval exponents up to 16 (2^15 intervals); anything above is clamped so that a
// hostile descriptor cannot make the shift undefined.
const ULONG kMaxIntervalExponent = 15;

ULONG Saturate(ULONGLONG value) { return value > MAXULONG ? MAXULONG : static_cast<ULONG>(value); }

} // namespace

void ComputeStreamGeometry(const USB_ENDPOINT_DESCRIPTOR *DataEndpoint, BOOLEAN HighSpeed,
                           ULONG Channels, ULONG Bits, ULONG Rate, StreamGeometry *Geometry)
{
    RtlZeroMemory(Geometry, sizeof(*Geometry));
    Geometry->ServiceInterval = 1;
    if (Channels == 0 || Bits == 0 || Rate == 0 || DataEndpoint == nullptr) {
        return;
    }
    const ULONG exponent = DataEndpoint->bInterval <= 1 ? 0 : DataEndpoint->bInterval - 1U;
    const ULONG w = 1UL << (exponent < kMaxIntervalExponent ? exponent : kMaxIntervalExponent);
    const ULONGLONG intervalsPerSecond = HighSpeed ? 8000 : 1000;
    const ULONGLONG samplesTimesIntervals = ULONGLONG(Rate) * w;
    const ULONGLONG bytesPerFrame = ULONGLONG(Bits / 8) * Channels;
    const ULONGLONG samples = samplesTimesIntervals / intervalsPerSecond;

    Geometry->ServiceInterval = w;
    Geometry->BytesPerFrame = Saturate(bytesPerFrame);
    Geometry->SamplesPerPacket = Saturate(samples);
    Geometry->BytesPerPacket = Saturate(bytesPerFrame * samples);
    Geometry->WholeSamples = samplesTimesIntervals % intervalsPerSecond == 0 ? TRUE : FALSE;

    const USHORT maxPacket = DataEndpoint->wMaxPacketSize;
    const ULONG packetBytes = maxPacket & 0x7FF; // bits 12-11 are reserved at full speed
    if (HighSpeed) {
        const ULONG packetsPerMs = w < 8 ? 8 / w : 1;
        const ULONG transactions = ((maxPacket >> 11) & 3) + 1U;
        Geometry->MaxBytesPerMs = packetsPerMs * transactions * packetBytes;
    } else {
        Geometry->MaxBytesPerMs = packetBytes;
    }
}

ULONG NominalFeedback(ULONG Rate, BOOLEAN HighSpeed, BOOLEAN Capture, ULONG ServiceInterval)
{
    ULONGLONG value = ULONGLONG(Rate) * 65536 / 1000;
    if (HighSpeed) {
        // Render feedback counts per service interval; an interval of 8 microframes or more
        // already spans a whole frame.
        ULONG divisor = 8;
        if (!Capture) {
            divisor = ServiceInterval == 0 ? 8 : ServiceInterval < 8 ? 8 / ServiceInterval : 1;
        }
        value /= divisor;
    }
    return Saturate(value);
}
