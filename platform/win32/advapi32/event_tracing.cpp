// advapi32: classic event tracing from a provider's side (registration, the enabling session's
// handle, level and flags, message events).
#include "caller.h"
#include "event_tracing.h"

#include "kernel/wide_string.h"

#include <windows.h>
#include <evntrace.h>

#include <cstdarg>

using namespace host::win32;

namespace {

ULONG Register(const char *entryPoint, WMIDPREQUEST RequestAddress, PVOID RequestContext,
               LPCGUID ControlGuid, ULONG GuidCount, PTRACE_GUID_REGISTRATION TraceGuidReg,
               PTRACEHANDLE RegistrationHandle)
{
    Caller caller = CallerOf(entryPoint);
    if (RequestAddress == nullptr || ControlGuid == nullptr || RegistrationHandle == nullptr ||
        (GuidCount != 0 && TraceGuidReg == nullptr))
        return ERROR_INVALID_PARAMETER;
    for (ULONG i = 0; i < GuidCount; ++i)
        if (TraceGuidReg[i].Guid == nullptr)
            return ERROR_INVALID_PARAMETER;
    ULONG error = caller.win32.Tracing().Register(
        caller.process.Process(), *ControlGuid, RequestAddress, RequestContext, RegistrationHandle);
    // Each event class gets a handle of its own, for instance events.
    for (ULONG i = 0; error == ERROR_SUCCESS && i < GuidCount; ++i)
        TraceGuidReg[i].RegHandle = reinterpret_cast<HANDLE>((*RegistrationHandle << 8) + i + 1);
    return error;
}

// The level and flags of the session behind a logger handle; the last error says whether there
// is one (the values alone cannot: 0 is a valid level).
void EnablingSession(const char *entryPoint, TRACEHANDLE logger, UCHAR *level, ULONG *flags)
{
    Caller caller = CallerOf(entryPoint);
    SetLastError(caller.win32.Tracing().SessionOf(logger, level, flags) ? ERROR_SUCCESS
                                                                        : ERROR_INVALID_HANDLE);
}

} // namespace

extern "C" {

ULONG WINAPI RegisterTraceGuidsA(WMIDPREQUEST RequestAddress, PVOID RequestContext,
                                 LPCGUID ControlGuid, ULONG GuidCount,
                                 PTRACE_GUID_REGISTRATION TraceGuidReg, LPCSTR, LPCSTR,
                                 PTRACEHANDLE RegistrationHandle)
{
    return Register("RegisterTraceGuidsA", RequestAddress, RequestContext, ControlGuid, GuidCount,
                    TraceGuidReg, RegistrationHandle);
}

ULONG WINAPI RegisterTraceGuidsW(WMIDPREQUEST RequestAddress, PVOID RequestContext,
                                 LPCGUID ControlGuid, ULONG GuidCount,
                                 PTRACE_GUID_REGISTRATION TraceGuidReg, LPCWSTR, LPCWSTR,
                                 PTRACEHANDLE RegistrationHandle)
{
    return Register("RegisterTraceGuidsW", RequestAddress, RequestContext, ControlGuid, GuidCount,
                    TraceGuidReg, RegistrationHandle);
}

ULONG WINAPI UnregisterTraceGuids(TRACEHANDLE RegistrationHandle)
{
    Caller caller = CallerOf("UnregisterTraceGuids");
    return caller.win32.Tracing().Unregister(RegistrationHandle);
}

TRACEHANDLE WINAPI GetTraceLoggerHandle(PVOID Buffer)
{
    Caller caller = CallerOf("GetTraceLoggerHandle");
    UCHAR level;
    ULONG flags;
    TRACEHANDLE logger =
        Buffer != nullptr ? static_cast<PWNODE_HEADER>(Buffer)->HistoricalContext : 0;
    if (!caller.win32.Tracing().SessionOf(logger, &level, &flags)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return TRACEHANDLE(ULONG_PTR(INVALID_HANDLE_VALUE));
    }
    return logger;
}

UCHAR WINAPI GetTraceEnableLevel(TRACEHANDLE SessionHandle)
{
    UCHAR level = 0;
    ULONG flags = 0;
    EnablingSession("GetTraceEnableLevel", SessionHandle, &level, &flags);
    return level;
}

ULONG WINAPI GetTraceEnableFlags(TRACEHANDLE SessionHandle)
{
    UCHAR level = 0;
    ULONG flags = 0;
    EnablingSession("GetTraceEnableFlags", SessionHandle, &level, &flags);
    return flags;
}

ULONG __cdecl TraceMessage(TRACEHANDLE LoggerHandle, ULONG, LPCGUID MessageGuid,
                           USHORT MessageNumber, ...)
{
    Caller caller = CallerOf("TraceMessage");
    if (MessageGuid == nullptr)
        return ERROR_INVALID_PARAMETER;
    TraceMessageRecord record{*MessageGuid, MessageNumber, {}};
    va_list arguments;
    // The documented prototype ends its named parameters with a USHORT, which the calling
    // convention passes in a full register slot like any promoted argument.
#ifdef __clang__
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wvarargs"
#endif
    va_start(arguments, MessageNumber);
#ifdef __clang__
#pragma clang diagnostic pop
#endif
    for (;;) {
        const uint8_t *data = va_arg(arguments, const uint8_t *);
        if (data == nullptr)
            break;
        size_t size = va_arg(arguments, size_t);
        record.arguments.emplace_back(data, data + size);
    }
    va_end(arguments);
    return caller.win32.Tracing().Log(LoggerHandle, std::move(record));
}

} // extern "C"
