#include "adapter/frame_conversion.h"

namespace {

// The offset that turns unsigned 8-bit samples into signed ones and back.
const UCHAR kUnsignedOffset = 0x80;

} // namespace

ULONG ConvertedByteCount(ULONG Bytes, ULONG FromFrameBytes, ULONG ToFrameBytes)
{
    if (FromFrameBytes == 0 || ToFrameBytes == 0) {
        return 0;
    }
    const ULONGLONG converted = ULONGLONG(Bytes / FromFrameBytes) * ToFrameBytes;
    return converted > MAXULONG ? MAXULONG : static_cast<ULONG>(converted);
}

void ConvertFrames(PUCHAR Destination, const UCHAR *Source, ULONG SourceBytes,
                   ULONG DestinationChannels, ULONG DestinationBits, ULONG SourceChannels,
                   ULONG SourceBits)
{
    if (DestinationChannels == SourceChannels && DestinationBits == SourceBits) {
        RtlCopyMemory(Destination, Source, SourceBytes);
        return;
    }
    const ULONG ss = SourceBits / 8;
    const ULONG ds = DestinationBits / 8;
    const ULONG sourceFrame = SourceChannels * ss;
    if (sourceFrame == 0 || ds == 0) {
        return;
    }
    // Exactly one side 8-bit: the sample changes between unsigned and signed.
    const UCHAR offset = (ss == 1) != (ds == 1) ? kUnsignedOffset : 0;
    const UCHAR padding = ds == 1 ? kUnsignedOffset : 0;
    const ULONG skipped = ds < ss ? ss - ds : 0;
    const ULONG padded = ds > ss ? ds - ss : 0;
    const ULONG copied = ds - padded;
    for (ULONG frames = SourceBytes / sourceFrame; frames != 0; --frames) {
        for (ULONG channel = 0; channel < DestinationChannels; ++channel) {
            if (channel >= SourceChannels) {
                RtlFillMemory(Destination, ds, padding);
                Destination += ds;
                continue;
            }
            const UCHAR *sample = Source + channel * ss + skipped;
            for (ULONG i = 0; i < padded; ++i) {
                *Destination++ = padding;
            }
            for (ULONG i = 0; i < copied; ++i) {
                *Destination++ = static_cast<UCHAR>(sample[i] - offset);
            }
        }
        Source += sourceFrame;
    }
}
