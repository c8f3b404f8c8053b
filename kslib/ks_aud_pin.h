// Audio pins: the audio data ranges a pin offers, whether a wave format fits one of them, and the
// connect request a format is applied to. A render pin (sink, data in) and a capture pin (sink,
// data out) differ only in their type.
#pragma once

#include "ks_list.h"
#include "ks_pin.h"

class CKsAudPin : public CKsPin {
public:
    // After the descriptor: the connect request, and the audio ranges. *status is negative when
    // the pin offers no standard streaming interface, no standard medium or no wave-type range.
    CKsAudPin(CKsFilter *filter, ULONG pinId, HRESULT *status);
    ~CKsAudPin() override;

    // Writes the format into the connect request (growing it for a longer format).
    HRESULT ApplyFormat(const WAVEFORMATEX *format);
    // ApplyFormat, then the format is set on the pin instance (KSPROPERTY_CONNECTION_DATAFORMAT).
    HRESULT ApplyFormatToOpenPin(const WAVEFORMATEX *format);
    // Whether some audio range admits the format.
    bool AcceptsFormat(const WAVEFORMATEX *format) const;

    const CKsList<KSDATARANGE_AUDIO> &AudioRanges() const { return m_ranges; }
    // The last format applied, or null.
    const WAVEFORMATEX *CurrentFormat() const { return m_format; }
    const KSDATAFORMAT *DataFormat() const { return m_dataFormat; }

private:
    HRESULT BuildConnectRequest();
    HRESULT CollectAudioRanges();

    CKsList<KSDATARANGE_AUDIO> m_ranges;
    PWAVEFORMATEX m_format = nullptr;
    PKSDATAFORMAT m_dataFormat = nullptr; // inside the connect request
};

class CKsAudRenPin : public CKsAudPin {
public:
    CKsAudRenPin(CKsFilter *filter, ULONG pinId, HRESULT *status);
};

class CKsAudCapPin : public CKsAudPin {
public:
    CKsAudCapPin(CKsFilter *filter, ULONG pinId, HRESULT *status);
};
