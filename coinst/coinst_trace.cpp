#include "coinst_trace.h"

#include <atomic>

namespace {

TRACEHANDLE g_registration = 0;
// The enabling session's logger handle, set and cleared by the control callback on ETW's thread.
std::atomic<TRACEHANDLE> g_logger{0};

ULONG WINAPI ControlCallback(WMIDPREQUESTCODE code, PVOID, ULONG *, PVOID buffer)
{
    switch (code) {
    case WMI_ENABLE_EVENTS: {
        TRACEHANDLE logger = GetTraceLoggerHandle(buffer);
        g_logger = logger == TRACEHANDLE(ULONG_PTR(INVALID_HANDLE_VALUE)) ? 0 : logger;
        return ERROR_SUCCESS;
    }
    case WMI_DISABLE_EVENTS: g_logger = 0; return ERROR_SUCCESS;
    default: return ERROR_INVALID_PARAMETER;
    }
}

} // namespace

void CoinstTraceRegister()
{
    // Without a registration the co-installer works the same, untraced.
    if (RegisterTraceGuidsA(ControlCallback, nullptr, &kCoinstTraceGuid, 0, nullptr, nullptr,
                            nullptr, &g_registration) != ERROR_SUCCESS)
        g_registration = 0;
}

void CoinstTraceUnregister()
{
    if (g_registration != 0)
        UnregisterTraceGuids(g_registration);
    g_registration = 0;
    g_logger = 0;
}

void CoinstTrace(CoinstTraceMessage message, const void *record, size_t size)
{
    TRACEHANDLE logger = g_logger;
    if (logger != 0)
        TraceMessage(logger, TRACE_MESSAGE_SEQUENCE | TRACE_MESSAGE_GUID, &kCoinstTraceGuid,
                     message, record, size, nullptr);
}
