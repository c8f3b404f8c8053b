#include "asio_trace.h"

#include "asio_types.h"
#include "ks_trace.h"

#include <stdarg.h>
#include <stdio.h>

// The ASIO driver's build of the KS library writes its error lines only.
extern const ULONG g_KsLibTraceMask = KSLIB_TRACE_ERROR;

void AsioTrace(const char *format, ...)
{
    char line[512] = "QUEN_ASIO: ";
    const size_t prefix = sizeof "QUEN_ASIO: " - 1;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line + prefix, sizeof line - prefix - 1, format, arguments);
    va_end(arguments);
    size_t length = 0;
    while (line[length] != 0)
        ++length;
    line[length] = '\n';
    line[length + 1] = 0;
    OutputDebugStringA(line);
}

const char *AsioErrorName(LONG error)
{
    switch (error) {
    case ASE_OK: return "ASE_OK";
    case ASE_SUCCESS: return "ASE_SUCCESS";
    case ASE_NotPresent: return "ASE_NotPresent";
    case ASE_HWMalfunction: return "ASE_HWMalfunction";
    case ASE_InvalidParameter: return "ASE_InvalidParameter";
    case ASE_InvalidMode: return "ASE_InvalidMode";
    case ASE_SPNotAdvancing: return "ASE_SPNotAdvancing";
    case ASE_NoClock: return "ASE_NoClock";
    case ASE_NoMemory: return "ASE_NoMemory";
    }
    return "Unknown";
}
