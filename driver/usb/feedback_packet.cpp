#include "usb/feedback_packet.h"

#include "driver_trace.h"

namespace {

const ULONG kOneSample = 0x10000;

BOOLEAN WithinOneSample(ULONG value, ULONG nominal)
{
    const ULONG distance = value > nominal ? value - nominal : nominal - value;
    return distance <= kOneSample ? TRUE : FALSE;
}

} // namespace

BOOLEAN DecodeFeedbackPacket(const UCHAR *Data, ULONG Length, ULONG Nominal, PULONG Value)
{
    if (Length == 4) {
        *Value = ULONG(Data[0]) | ULONG(Data[1]) << 8 | ULONG(Data[2]) << 16 | ULONG(Data[3]) << 24;
        return TRUE;
    }
    if (Length != 3) {
        return FALSE;
    }
    const ULONG raw = ULONG(Data[0]) | ULONG(Data[1]) << 8 | ULONG(Data[2]) << 16;
    const ULONG older = raw << 8;
    const ULONG standard = raw << 2; // 10.14 to 16.16
    *Value =
        !WithinOneSample(older, Nominal) && WithinOneSample(standard, Nominal) ? standard : older;
    return TRUE;
}

ULONG AverageFeedbackPackets(const struct _URB_ISOCH_TRANSFER *Iso, const UCHAR *Buffer,
                             ULONG Nominal)
{
    // 40 packets of values near 2^32 do not fit 32 bits.
    ULONGLONG sum = 0;
    ULONG count = 0;
    const ULONG size = Iso->TransferBufferLength;
    for (ULONG i = 0; i < Iso->NumberOfPackets; ++i) {
        const USBD_ISO_PACKET_DESCRIPTOR &packet = Iso->IsoPacket[i];
        ULONG value = 0;
        if (!USBD_SUCCESS(packet.Status) || packet.Offset > size ||
            packet.Length > size - packet.Offset ||
            !DecodeFeedbackPacket(Buffer + packet.Offset, packet.Length, Nominal, &value)) {
            QuenTrace(TRACE_LEVEL_WARNING, "packet %lu skipped: status 0x%08lX, length %lu", i,
                      packet.Status, packet.Length);
            continue;
        }
        sum += value;
        ++count;
    }
    return count == 0 ? 0 : static_cast<ULONG>(sum / count);
}
