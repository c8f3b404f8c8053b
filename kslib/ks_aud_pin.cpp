#include "ks_aud_pin.h"

#include "ks_multiple_item.h"

#include <cstring>
#include <new>

namespace {

// The connect request: KSPIN_CONNECT, KSDATAFORMAT, then the wave format (18 bytes to begin).
constexpr ULONG kConnectHeaderSize = sizeof(KSPIN_CONNECT) + sizeof(KSDATAFORMAT);
constexpr ULONG kBaseFormatSize = sizeof(WAVEFORMATEX);

// {0000xxxx-0000-0010-8000-00AA00389B71}: the subformat of a wave format tag.
bool IsWaveFormatTagGuid(const GUID &guid)
{
    static const BYTE kTail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return (guid.Data1 & 0xFFFF0000) == 0 && guid.Data2 == 0x0000 && guid.Data3 == 0x0010 &&
           std::memcmp(guid.Data4, kTail, sizeof kTail) == 0;
}

bool HasIdentifier(const KSIDENTIFIER *list, ULONG count, const GUID &set, ULONG id)
{
    for (ULONG i = 0; i < count; ++i)
        if (list[i].Set == set && list[i].Id == id)
            return true;
    return false;
}

ULONG FormatLength(const WAVEFORMATEX *format)
{
    return format->wFormatTag == WAVE_FORMAT_PCM ? kBaseFormatSize
                                                 : kBaseFormatSize + format->cbSize;
}

} // namespace

CKsAudPin::CKsAudPin(CKsFilter *filter, ULONG pinId, HRESULT *status)
    : CKsPin(filter, pinId, status)
{
    HRESULT result = BuildConnectRequest();
    if (SUCCEEDED(result))
        result = CollectAudioRanges();
    if (FAILED(result))
        *status = result;
}

CKsAudPin::~CKsAudPin() { delete[] reinterpret_cast<PBYTE>(m_format); }

HRESULT CKsAudPin::BuildConnectRequest()
{
    ULONG size = kConnectHeaderSize + kBaseFormatSize;
    PBYTE request = new (std::nothrow) BYTE[size];
    if (request == nullptr)
        return E_OUTOFMEMORY;
    std::memset(request, 0, size);
    auto connect = reinterpret_cast<PKSPIN_CONNECT>(request);
    connect->Interface.Set = KSINTERFACESETID_Standard;
    connect->Interface.Id = KSINTERFACE_STANDARD_STREAMING;
    connect->Medium.Set = KSMEDIUMSETID_Standard;
    connect->Medium.Id = KSMEDIUM_TYPE_ANYINSTANCE;
    connect->PinId = m_pinId;
    connect->Priority.PriorityClass = KSPRIORITY_NORMAL;
    connect->Priority.PrioritySubClass = 1;
    m_dataFormat = reinterpret_cast<PKSDATAFORMAT>(connect + 1);
    m_dataFormat->FormatSize = sizeof(KSDATAFORMAT) + kBaseFormatSize;
    m_dataFormat->MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    m_dataFormat->SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    m_dataFormat->Specifier = KSDATAFORMAT_SPECIFIER_WAVEFORMATEX;
    SetConnectRequest(request, size);
    return S_OK;
}

HRESULT CKsAudPin::CollectAudioRanges()
{
    if (!HasIdentifier(m_descriptor.Interfaces, m_descriptor.InterfacesCount,
                       KSINTERFACESETID_Standard, KSINTERFACE_STANDARD_STREAMING) ||
        !HasIdentifier(m_descriptor.Mediums, m_descriptor.MediumsCount, KSMEDIUMSETID_Standard,
                       KSMEDIUM_TYPE_ANYINSTANCE) ||
        m_descriptor.DataRangesCount == 0)
        return E_FAIL;
    // The wave-subformat test applies until one range passes it; audio ranges from then on are
    // kept whatever their subformat. A range too short to be an audio range is not copied.
    bool passed = false;
    HRESULT result = S_OK;
    const KSDATARANGE *range = m_descriptor.DataRanges;
    for (ULONG i = 0; i < m_descriptor.DataRangesCount; ++i, range = KsNextDataRange(range)) {
        // (KSDATAFORMAT_SUBTYPE_PCM is the subformat of tag 1.)
        if (!passed)
            passed = IsWaveFormatTagGuid(range->SubFormat) || range->SubFormat == GUID_NULL;
        if (!passed || range->MajorFormat != KSDATAFORMAT_TYPE_AUDIO ||
            range->FormatSize < sizeof(KSDATARANGE_AUDIO))
            continue;
        KSDATARANGE_AUDIO audio;
        std::memcpy(&audio, range, sizeof audio);
        if (!m_ranges.Append(audio))
            result = E_OUTOFMEMORY;
    }
    return passed ? result : E_FAIL;
}

HRESULT CKsAudPin::ApplyFormat(const WAVEFORMATEX *format)
{
    if (format == nullptr || m_dataFormat == nullptr)
        return E_FAIL;
    ULONG length = FormatLength(format);
    ULONG size = kConnectHeaderSize + length;
    if (size != m_connectSize) {
        PBYTE request = new (std::nothrow) BYTE[size];
        if (request == nullptr)
            return E_OUTOFMEMORY;
        std::memcpy(request, m_connect, size < m_connectSize ? size : m_connectSize);
        SetConnectRequest(request, size);
        m_dataFormat = reinterpret_cast<PKSDATAFORMAT>(m_connect + sizeof(KSPIN_CONNECT));
    }
    m_dataFormat->FormatSize = sizeof(KSDATAFORMAT) + length;
    std::memcpy(m_dataFormat + 1, format, length);
    m_dataFormat->SampleSize = (ULONG(format->wBitsPerSample) * format->nChannels / 8) & 0xFFFF;
    // A missing copy of the current format is not an error.
    delete[] reinterpret_cast<PBYTE>(m_format);
    m_format = reinterpret_cast<PWAVEFORMATEX>(new (std::nothrow) BYTE[length]);
    if (m_format != nullptr)
        std::memcpy(m_format, format, length);
    return S_OK;
}

HRESULT CKsAudPin::ApplyFormatToOpenPin(const WAVEFORMATEX *format)
{
    HRESULT result = ApplyFormat(format);
    if (FAILED(result))
        return result;
    return StoreProperty(KSPROPSETID_Connection, KSPROPERTY_CONNECTION_DATAFORMAT, m_dataFormat,
                         m_dataFormat->FormatSize);
}

bool CKsAudPin::AcceptsFormat(const WAVEFORMATEX *format) const
{
    if (format == nullptr)
        return false;
    GUID subtype;
    if (format->wFormatTag == WAVE_FORMAT_EXTENSIBLE) {
        // An extensible format too short to hold its subformat matches nothing.
        if (format->cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return false;
        subtype = reinterpret_cast<const WAVEFORMATEXTENSIBLE *>(format)->SubFormat;
    } else {
        subtype = KSDATAFORMAT_SUBTYPE_PCM;
        subtype.Data1 = format->wFormatTag;
    }
    for (const KSDATARANGE_AUDIO &range : m_ranges) {
        const KSDATARANGE &data = range.DataRange;
        if ((data.MajorFormat == GUID_NULL || data.MajorFormat == KSDATAFORMAT_TYPE_AUDIO) &&
            (data.SubFormat == GUID_NULL || data.SubFormat == subtype) &&
            (data.Specifier == GUID_NULL ||
             data.Specifier == KSDATAFORMAT_SPECIFIER_WAVEFORMATEX) &&
            format->nChannels <= range.MaximumChannels &&
            range.MinimumBitsPerSample <= format->wBitsPerSample &&
            format->wBitsPerSample <= range.MaximumBitsPerSample &&
            range.MinimumSampleFrequency <= format->nSamplesPerSec &&
            format->nSamplesPerSec <= range.MaximumSampleFrequency)
            return true;
    }
    return false;
}

CKsAudRenPin::CKsAudRenPin(CKsFilter *filter, ULONG pinId, HRESULT *status)
    : CKsAudPin(filter, pinId, status)
{
    m_pinType = KS_PIN_TYPE_RENDER;
}

CKsAudCapPin::CKsAudCapPin(CKsFilter *filter, ULONG pinId, HRESULT *status)
    : CKsAudPin(filter, pinId, status)
{
    m_pinType = KS_PIN_TYPE_CAPTURE;
}
