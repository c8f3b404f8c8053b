// Checks of the variable-length lists KS properties return (a KSMULTIPLE_ITEM header, then its
// items) against the bytes actually returned, so that a driver's hostile or broken reply is
// refused instead of read past its end.
#pragma once

#include "quen_kslib_platform.h"

// A list of Count fixed-size items: at least the header returned, Size within what was returned,
// and Count items within Size.
bool KsFixedItemsFit(const BYTE *buffer, ULONG returned, ULONG itemSize);

// A data-range list: Count ranges, each at least a KSDATARANGE, each FormatSize within what is
// left of Size, each next range at the 8-byte boundary after the previous one.
bool KsDataRangesFit(const BYTE *buffer, ULONG returned);

// The range after `range` in a list that KsDataRangesFit accepted.
inline const KSDATARANGE *KsNextDataRange(const KSDATARANGE *range)
{
    return reinterpret_cast<const KSDATARANGE *>(reinterpret_cast<const BYTE *>(range) +
                                                 ((range->FormatSize + 7) & ~7u));
}
