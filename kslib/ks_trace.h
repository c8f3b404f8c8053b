// The KS library's debug lines: each is formatted into a 1024-byte buffer and written with
// OutputDebugStringA when its class is in the trace mask of the deliverable the library is built
// into (which defines g_KsLibTraceMask: the ASIO driver error lines only, the control panel all).
#pragma once

#include "quen_kslib_platform.h"

enum : ULONG {
    KSLIB_TRACE_ERROR = 0x02, // failures
    KSLIB_TRACE_FLOW = 0x08,  // entry and return lines
    KSLIB_TRACE_DUMP = 0x10,  // the device list dump
};

extern const ULONG g_KsLibTraceMask;

void KsLibTrace(ULONG traceClass, const char *format, ...) __attribute__((format(printf, 2, 3)));

// A UTF-16 string as the narrow text a trace line shows.
class CKsTraceText {
public:
    explicit CKsTraceText(LPCWSTR text);
    const char *c_str() const { return m_text; }

private:
    char m_text[512];
};
