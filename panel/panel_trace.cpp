#include "ks_trace.h"

// The panel's build of the KS library writes every line, the device list dump included.
extern const ULONG g_KsLibTraceMask = KSLIB_TRACE_ERROR | KSLIB_TRACE_FLOW | KSLIB_TRACE_DUMP;
