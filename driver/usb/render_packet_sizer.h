// Sizing the packets of one isochronous OUT transfer for the render clock. A step is one bus
// interval (a frame at full speed, a microframe at high speed); a packet covers the render
// service interval's w steps. Integer arithmetic only.
//
// Counting functions return a packet count above USB_MAX_ISO_PACKETS when the transfer does not
// fit one URB (they stop counting there); layout functions fill Offset and Length of exactly
// the counted packets and return the bytes laid out.
#pragma once

#include "quen_driver_platform.h"
#include "usb/usb_cl.h"

struct RenderPacketGeometry {
    ULONG BytesPerFrame;   // t
    ULONG ServiceInterval; // w, in steps
    BOOLEAN HighSpeed;
};

// A cyclic sample pattern (rate pattern table) with a position into it.
struct RenderPattern {
    const ULONG *Counts;
    ULONG Length;
};

// High speed: packets rounded up to whole milliseconds (8 / w packets each).
ULONG RoundToWholeMilliseconds(const RenderPacketGeometry &Geometry, ULONG Packets);

// Explicit feedback: each step carries ((Feedback + fraction) >> 16) frames and keeps the rest
// of the fraction (16.16 accumulator).
ULONG FeedbackSamples(USHORT Fraction, ULONG Feedback, ULONG Steps);
ULONG CountFeedbackPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG Feedback,
                           USHORT Fraction);
ULONG LayoutFeedbackPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG Feedback,
                            USHORT *Fraction, PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count);

// Fixed pattern: each step carries the next pattern entry's frames.
ULONG PatternSamples(const RenderPattern &Pattern, ULONG Position, ULONG Steps);
ULONG CountPatternPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                          const RenderPattern &Pattern, ULONG Position);
ULONG LayoutPatternPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                           const RenderPattern &Pattern, PULONG Position,
                           PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count);

// Implicit feedback: nominal packets, with some one frame longer or (when the rate gives whole
// samples per packet) one frame shorter, so that TransferMs milliseconds carry Length bytes.
struct ImplicitPacketCounts {
    ULONG Long;
    ULONG Nominal;
    ULONG Short;
    ULONG Total() const { return Long + Nominal + Short; }
};
ImplicitPacketCounts CountImplicitPackets(const RenderPacketGeometry &Geometry, ULONG Length,
                                          ULONG TransferMs, ULONG NominalBytes,
                                          BOOLEAN WholeSamples);
// Long packets first, then nominal, then short ones.
ULONG LayoutImplicitPackets(const RenderPacketGeometry &Geometry, ULONG Length, ULONG NominalBytes,
                            BOOLEAN WholeSamples, const ImplicitPacketCounts &Counts,
                            PUSBD_ISO_PACKET_DESCRIPTOR Packets);

// Length-prefixed framing: packet i carries a 32-bit little-endian payload length and then
// min(pattern entry x t, bytes left) bytes of Audio, one pattern entry per packet. Framed must
// hold Count x 4 + Length bytes.
ULONG FrameLengthPrefixedPackets(const RenderPacketGeometry &Geometry, const UCHAR *Audio,
                                 ULONG Length, const RenderPattern &Pattern, PULONG Position,
                                 PUCHAR Framed, PUSBD_ISO_PACKET_DESCRIPTOR Packets, ULONG Count);
