#include "usb/render_packet_sizer.h"

namespace {

// Reported by the counting functions when a transfer needs more packets than one URB holds.
const ULONG kTooManyPackets = USB_MAX_ISO_PACKETS + 1;

ULONG StepsPerPacket(const RenderPacketGeometry &geometry)
{
    return geometry.ServiceInterval == 0 ? 1 : geometry.ServiceInterval;
}

ULONG PacketsForSteps(const RenderPacketGeometry &geometry, ULONG steps)
{
    const ULONG w = StepsPerPacket(geometry);
    return (steps + w - 1) / w;
}

ULONG Smaller(ULONGLONG value, ULONG limit)
{
    return value < limit ? static_cast<ULONG>(value) : limit;
}

// One accumulator step: the whole frames of feedback plus fraction, keeping the new fraction.
ULONG FeedbackStep(ULONG feedback, ULONG *fraction)
{
    const ULONGLONG total = ULONGLONG(feedback) + *fraction;
    *fraction = static_cast<ULONG>(total & 0xFFFF);
    return static_cast<ULONG>(total >> 16);
}

// The frames of the pattern entry at *position, moving the position on cyclically.
ULONG PatternStep(const RenderPattern &pattern, ULONG *position)
{
    if (pattern.Length == 0) {
        return 0;
    }
    const ULONG index = *position % pattern.Length;
    *position = (index + 1) % pattern.Length;
    return pattern.Counts[index];
}

// Packets of a transfer of length bytes whose steps carry nextStep() frames each: steps until
// the bytes are reached, w steps a packet, whole milliseconds at high speed.
template <typename StepFrames>
ULONG CountPackets(const RenderPacketGeometry &geometry, ULONG length, StepFrames nextStep)
{
    const ULONG maxSteps = USB_MAX_ISO_PACKETS * StepsPerPacket(geometry);
    ULONGLONG sum = 0;
    ULONG steps = 0;
    while (sum < length) {
        if (steps == maxSteps) {
            return kTooManyPackets;
        }
        sum += ULONGLONG(geometry.BytesPerFrame) * nextStep();
        ++steps;
    }
    // A URB of the high-speed stack covers whole milliseconds; the rest are empty packets.
    const ULONG packets = RoundToWholeMilliseconds(geometry, PacketsForSteps(geometry, steps));
    return packets > USB_MAX_ISO_PACKETS ? kTooManyPackets : packets;
}

// Fills count packets of up to w steps each from length bytes; returns the bytes laid out.
template <typename StepFrames>
ULONG LayoutPackets(const RenderPacketGeometry &geometry, ULONG length, StepFrames nextStep,
                    PUSBD_ISO_PACKET_DESCRIPTOR packets, ULONG count)
{
    const ULONG w = StepsPerPacket(geometry);
    ULONG left = length;
    ULONG offset = 0;
    for (ULONG p = 0; p < count; ++p) {
        ULONG bytes = 0;
        for (ULONG s = 0; s < w && left != 0; ++s) {
            const ULONG step = Smaller(ULONGLONG(geometry.BytesPerFrame) * nextStep(), left);
            bytes += step;
            left -= step;
        }
        packets[p].Offset = offset;
        packets[p].Length = bytes;
        offset += bytes;
    }
    return offset;
}

} // namespace

ULONG RoundToWholeMilliseconds(const RenderPacketGeometry &Geometry, ULONG Packets)
{
    const ULONG w = StepsPerPacket(Geometry);
    if (!Geometry.HighSpeed || w >= 8) {
        return Packets;
    }
    const ULONG perMs = 8 / w;
    return (Packets + perMs - 1) / perMs * perMs;
}

ULONG FeedbackSamples(USHORT Fraction, ULONG Feedback, ULONG Steps)
{
    const ULONGLONG samples = (ULONGLONG(Fraction) + ULONGLONG(Steps) * Feedback) >> 16;
    return Smaller(samples, MAXULONG);
}

ULONG CountFeedbackPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG Feedback,
                           USHORT Fraction)
{
    ULONG fraction = Fraction;
    return CountPackets(Geometry, Length, [&] { return FeedbackStep(Feedback, &fraction); });
}

ULONG LayoutFeedbackPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG Feedback,
                            USHORT *Fraction, PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count)
{
    ULONG fraction = *Fraction;
    const ULONG offset = LayoutPackets(
        Geometry, Length, [&] { return FeedbackStep(Feedback, &fraction); }, Packets, Count);
    *Fraction = static_cast<USHORT>(fraction);
    return offset;
}

ULONG PatternSamples(const RenderPattern &Pattern, ULONG Position, ULONG Steps)
{
    ULONGLONG samples = 0;
    for (ULONG s = 0; s < Steps; ++s) {
        samples += PatternStep(Pattern, &Position);
    }
    return Smaller(samples, MAXULONG);
}

ULONG CountPatternPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                          const RenderPattern &Pattern, ULONG Position)
{
    return CountPackets(Geometry, Length, [&] { return PatternStep(Pattern, &Position); });
}

ULONG LayoutPatternPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                           const RenderPattern &Pattern, PULONG Position,
                           PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count)
{
    ULONG position = *Position;
    const ULONG offset = LayoutPackets(
        Geometry, Length, [&] { return PatternStep(Pattern, &position); }, Packets, Count);
    *Position = position;
    return offset;
}

ImplicitPacketCounts CountImplicitPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                                          ULONG TransferMs, ULONG NominalBytes,
                                          BOOLEAN WholeSamples)
{
    ImplicitPacketCounts counts = {0, 0, 0};
    const LONGLONG t = Geometry.BytesPerFrame;
    const LONGLONG l = NominalBytes;
    if (t == 0 || l == 0) {
        counts.Nominal = kTooManyPackets;
        return counts;
    }
    const LONGLONG n = LONGLONG(TransferMs) * (Geometry.HighSpeed ? 8 : 1);
    const LONGLONG d = (LONGLONG(Length) - n * l) / t;
    if (d >= -n && d < 0 && WholeSamples) {
        counts.Short = static_cast<ULONG>(-d);
        counts.Nominal = static_cast<ULONG>(n + d);
    } else if (d < 1 || d > n) {
        counts.Nominal = Smaller((ULONGLONG(Length) + l - 1) / l, kTooManyPackets);
    } else {
        counts.Long = static_cast<ULONG>(d);
        counts.Nominal = static_cast<ULONG>(n - d);
    }
    if (Geometry.HighSpeed) {
        const ULONG total = counts.Total();
        counts.Short += (total + 7) / 8 * 8 - total;
    }
    return counts;
}

ULONG LayoutImplicitPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG NominalBytes,
                            BOOLEAN WholeSamples, const ImplicitPacketCounts &Counts,
                            PUSBD_ISO_PACKET_DESCRIPTOR Packets)
{
    const ULONG t = Geometry.BytesPerFrame;
    const struct {
        ULONG count;
        ULONG size;
    } runs[] = {
        {Counts.Long, NominalBytes + t},
        {Counts.Nominal, NominalBytes},
        {Counts.Short, WholeSamples && NominalBytes > t ? NominalBytes - t : NominalBytes},
    };
    ULONG left = Length;
    ULONG offset = 0;
    ULONG p = 0;
    for (const auto &run : runs) {
        for (ULONG i = 0; i < run.count; ++i, ++p) {
            const ULONG bytes = Smaller(run.size, left);
            Packets[p].Offset = offset;
            Packets[p].Length = bytes;
            offset += bytes;
            left -= bytes;
        }
    }
    return offset;
}

ULONG FrameLengthPrefixedPackets(const RenderPacketGeometry &Geometry, const UCHAR *Audio,
                                 ULONG Length, const RenderPattern &Pattern, PULONG Position,
                                 PUCHAR Framed, PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count)
{
    ULONG position = *Position;
    ULONG consumed = 0;
    ULONG offset = 0;
    for (ULONG p = 0; p < Count; ++p) {
        const ULONG payload = Smaller(
            ULONGLONG(Geometry.BytesPerFrame) * PatternStep(Pattern, &position), Length - consumed);
        PUCHAR packet = Framed + offset;
        packet[0] = static_cast<UCHAR>(payload);
        packet[1] = static_cast<UCHAR>(payload >> 8);
        packet[2] = static_cast<UCHAR>(payload >> 16);
        packet[3] = static_cast<UCHAR>(payload >> 24);
        RtlCopyMemory(packet + 4, Audio + consumed, payload);
        Packets[p].Offset = offset;
        Packets[p].Length = payload + 4;
        offset += payload + 4;
        consumed += payload;
    }
    *Position = position;
    return offset;
}
