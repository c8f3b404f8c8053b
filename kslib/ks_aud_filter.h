// Audio filters: the pins they list are audio pins (render and capture sinks among them), and a
// pin is created on them for a wave format. CKsAudFilter2 is what device enumeration makes;
// CKsAudRenFilter and CKsAudCapFilter are filters of one direction.
#pragma once

#include "ks_filter.h"

class CKsAudPin;

class CKsAudFilter : public CKsFilter {
public:
    CKsAudFilter(LPCWSTR devicePath, HRESULT *status);

    // Only pins that communicate (sink, source or both) become pin objects.
    HRESULT ListPins() override;

    // The first render (capture) sink pin that accepts the format, with the format applied and
    // its instance created; null if that pin refuses, or none accepts. The filter keeps the pin.
    CKsAudPin *OpenRenderPinFor(const WAVEFORMATEX *format);
    CKsAudPin *OpenCapturePinFor(const WAVEFORMATEX *format);

private:
    CKsAudPin *OpenPinFor(const CKsPinList &pins, const WAVEFORMATEX *format);
};

class CKsAudFilter2 : public CKsAudFilter {
public:
    using CKsAudFilter::CKsAudFilter;
};

class CKsAudRenFilter : public CKsAudFilter {
public:
    CKsAudRenFilter(LPCWSTR devicePath, HRESULT *status);
};

class CKsAudCapFilter : public CKsAudFilter {
public:
    CKsAudCapFilter(LPCWSTR devicePath, HRESULT *status);
};
