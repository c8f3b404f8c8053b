// Offsets in a stream's cyclic buffer. A position is the offset of the next byte to be taken
// (render) or written (capture): the bytes before it are done, and equal read and write
// positions mean an empty ring.
#pragma once

#include "quen_driver_platform.h"

// The offset of Pointer, which lies within the ring or just past its end.
inline ULONG RingOffset(const UCHAR *Start, ULONG Size, const UCHAR *Pointer)
{
    const ULONG offset = ULONG(Pointer - Start);
    return offset >= Size ? offset - Size : offset;
}

// Offset moved on by Bytes, around the ring's end.
inline ULONG RingAdvance(ULONG Offset, ULONG Bytes, ULONG Size)
{
    return Size == 0 ? 0 : ULONG((ULONGLONG(Offset) + Bytes) % Size);
}

// The part of Bytes from Offset that fits before the ring's end.
inline ULONG RingPiece(ULONG Offset, ULONG Bytes, ULONG Size)
{
    return Bytes < Size - Offset ? Bytes : Size - Offset;
}

// The bytes from Read up to Write.
inline ULONG RingDistance(ULONG Read, ULONG Write, ULONG Size)
{
    return Write >= Read ? Write - Read : Size - Read + Write;
}
