// The tests' build of the library writes every trace class to the machine's log.
#include "ks_trace.h"

extern const ULONG g_KsLibTraceMask = KSLIB_TRACE_ERROR | KSLIB_TRACE_FLOW | KSLIB_TRACE_DUMP;
