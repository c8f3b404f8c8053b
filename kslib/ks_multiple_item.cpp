#include "ks_multiple_item.h"

#include <cstring>

namespace {

// The list's header, if the reply holds it and its Size stays within the reply.
bool ReadHeader(const BYTE *buffer, ULONG returned, KSMULTIPLE_ITEM *header)
{
    if (buffer == nullptr || returned < sizeof(KSMULTIPLE_ITEM))
        return false;
    std::memcpy(header, buffer, sizeof *header);
    return header->Size >= sizeof(KSMULTIPLE_ITEM) && header->Size <= returned;
}

} // namespace

bool KsFixedItemsFit(const BYTE *buffer, ULONG returned, ULONG itemSize)
{
    KSMULTIPLE_ITEM header;
    if (!ReadHeader(buffer, returned, &header))
        return false;
    return ULONGLONG(header.Count) * itemSize <= header.Size - sizeof(KSMULTIPLE_ITEM);
}

bool KsDataRangesFit(const BYTE *buffer, ULONG returned)
{
    KSMULTIPLE_ITEM header;
    if (!ReadHeader(buffer, returned, &header))
        return false;
    ULONG offset = sizeof(KSMULTIPLE_ITEM);
    for (ULONG i = 0; i < header.Count; ++i) {
        ULONG left = header.Size - offset;
        if (left < sizeof(KSDATARANGE))
            return false;
        KSDATARANGE range;
        std::memcpy(&range, buffer + offset, sizeof range);
        if (range.FormatSize < sizeof(KSDATARANGE) || range.FormatSize > left)
            return false;
        ULONG step = (range.FormatSize + 7) & ~7u;
        offset += step < left ? step : left;
    }
    return true;
}
