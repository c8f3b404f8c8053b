#include "pin_connect.h"

namespace host {

namespace {

bool Wildcard(const GUID &guid) { return IsEqualGUIDAligned(guid, GUID_NULL); }

// KsValidateConnectRequest's rule: the range's major format is a wildcard; or it matches and
// the range's subformat is a wildcard; or major format, subformat and specifier all match.
bool GuidsMatch(const KSDATARANGE &range, const KSDATAFORMAT &format)
{
    if (Wildcard(range.MajorFormat))
        return true;
    if (!IsEqualGUIDAligned(range.MajorFormat, format.MajorFormat))
        return false;
    if (Wildcard(range.SubFormat))
        return true;
    return IsEqualGUIDAligned(range.SubFormat, format.SubFormat) &&
           (Wildcard(range.Specifier) || IsEqualGUIDAligned(range.Specifier, format.Specifier));
}

// The WAVEFORMATEX of a format with a wave specifier, or null if the format is too short for
// it (and for the extra bytes its cbSize announces).
const WAVEFORMATEX *WaveFormatOf(const KSDATAFORMAT &format)
{
    ULONG offset;
    if (IsEqualGUIDAligned(format.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX))
        offset = sizeof(KSDATAFORMAT);
    else if (IsEqualGUIDAligned(format.Specifier, KSDATAFORMAT_SPECIFIER_DSOUND))
        offset = sizeof(KSDATAFORMAT) + 2 * sizeof(ULONG); // DSOUND_BUFFERDESC Flags, Control
    else
        return nullptr;
    if (format.FormatSize < offset + sizeof(WAVEFORMATEX))
        return nullptr;
    auto wave =
        reinterpret_cast<const WAVEFORMATEX *>(reinterpret_cast<const UCHAR *>(&format) + offset);
    return format.FormatSize - offset - sizeof(WAVEFORMATEX) >= wave->cbSize ? wave : nullptr;
}

bool InAudioRange(const KSDATARANGE_AUDIO &range, const KSDATAFORMAT &format)
{
    const WAVEFORMATEX *wave = WaveFormatOf(format);
    return wave != nullptr && wave->nChannels <= range.MaximumChannels &&
           wave->wBitsPerSample >= range.MinimumBitsPerSample &&
           wave->wBitsPerSample <= range.MaximumBitsPerSample &&
           wave->nSamplesPerSec >= range.MinimumSampleFrequency &&
           wave->nSamplesPerSec <= range.MaximumSampleFrequency;
}

bool IdentifierIn(const KSIDENTIFIER &wanted, ULONG count, const KSIDENTIFIER *list,
                  const GUID &defaultSet, ULONG defaultId)
{
    if (count == 0 || list == nullptr)
        return IsEqualGUIDAligned(wanted.Set, defaultSet) && wanted.Id == defaultId;
    for (ULONG i = 0; i < count; ++i)
        if (IsEqualGUIDAligned(wanted.Set, list[i].Set) && wanted.Id == list[i].Id)
            return true;
    return false;
}

} // namespace

const PCPIN_DESCRIPTOR &PinDescriptorOf(const PCFILTER_DESCRIPTOR &filter, ULONG id)
{
    return *reinterpret_cast<const PCPIN_DESCRIPTOR *>(
        reinterpret_cast<const UCHAR *>(filter.Pins) + size_t(id) * filter.PinSize);
}

bool FormatInPinRanges(const PCPIN_DESCRIPTOR &pin, const KSDATAFORMAT &format)
{
    const KSPIN_DESCRIPTOR &ks = pin.KsPinDescriptor;
    for (ULONG i = 0; i < ks.DataRangesCount; ++i) {
        const KSDATARANGE &range = *ks.DataRanges[i];
        if (!GuidsMatch(range, format))
            continue;
        // An audio range limits a wave format (one that must then be whole); other formats
        // match by their GUIDs alone.
        const bool audioRange = IsEqualGUIDAligned(range.MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
                                range.FormatSize >= sizeof(KSDATARANGE_AUDIO);
        const bool waveFormat =
            IsEqualGUIDAligned(format.Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) ||
            IsEqualGUIDAligned(format.Specifier, KSDATAFORMAT_SPECIFIER_DSOUND);
        if (!audioRange || !waveFormat ||
            InAudioRange(reinterpret_cast<const KSDATARANGE_AUDIO &>(range), format))
            return true;
    }
    return false;
}

bool RangesMayIntersect(const KSDATARANGE &a, const KSDATARANGE &b)
{
    auto same = [](const GUID &x, const GUID &y) {
        return Wildcard(x) || Wildcard(y) || IsEqualGUIDAligned(x, y);
    };
    return same(a.MajorFormat, b.MajorFormat) && same(a.SubFormat, b.SubFormat) &&
           same(a.Specifier, b.Specifier);
}

NTSTATUS ValidatePinConnect(const PCFILTER_DESCRIPTOR &filter, const UCHAR *parameters, ULONG bytes,
                            const KSPIN_CONNECT **connect, const KSDATAFORMAT **format)
{
    if (bytes < sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT))
        return STATUS_INVALID_BUFFER_SIZE;
    auto request = reinterpret_cast<const KSPIN_CONNECT *>(parameters);
    auto dataFormat = reinterpret_cast<const KSDATAFORMAT *>(request + 1);
    if (dataFormat->FormatSize < sizeof(KSDATAFORMAT) ||
        dataFormat->FormatSize > bytes - sizeof(KSPIN_CONNECT))
        return STATUS_INVALID_BUFFER_SIZE;
    if (request->PinId >= filter.PinCount)
        return STATUS_INVALID_PARAMETER;
    const KSPIN_DESCRIPTOR &pin = PinDescriptorOf(filter, request->PinId).KsPinDescriptor;
    // Only sink pins are created by a client; connecting to another filter's pin is not
    // emulated.
    if (pin.Communication != KSPIN_COMMUNICATION_SINK &&
        pin.Communication != KSPIN_COMMUNICATION_BOTH)
        return STATUS_INVALID_DEVICE_REQUEST;
    if (request->PinToHandle != nullptr)
        return STATUS_NOT_SUPPORTED;
    if (!IdentifierIn(request->Interface, pin.InterfacesCount, pin.Interfaces,
                      KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING) ||
        !IdentifierIn(request->Medium, pin.MediumsCount, pin.Mediums, KSMEDIUMSETID_Standard,
                      KSMEDIUM_TYPE_ANYINSTANCE))
        return STATUS_NO_MATCH;
    if (!FormatInPinRanges(PinDescriptorOf(filter, request->PinId), *dataFormat))
        return STATUS_NO_MATCH;
    *connect = request;
    *format = dataFormat;
    return STATUS_SUCCESS;
}

} // namespace host
