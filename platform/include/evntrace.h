// Host version of <evntrace.h>: classic event tracing as a provider uses it (registration with a
// control callback, the enabling session's logger handle, level and flags, and message events).
#pragma once

#include "windef.h"

typedef ULONG64 TRACEHANDLE, *PTRACEHANDLE;

typedef enum {
    WMI_GET_ALL_DATA = 0,
    WMI_GET_SINGLE_INSTANCE = 1,
    WMI_SET_SINGLE_INSTANCE = 2,
    WMI_SET_SINGLE_ITEM = 3,
    WMI_ENABLE_EVENTS = 4,
    WMI_DISABLE_EVENTS = 5,
    WMI_ENABLE_COLLECTION = 6,
    WMI_DISABLE_COLLECTION = 7,
    WMI_REGINFO = 8,
    WMI_EXECUTE_METHOD = 9,
} WMIDPREQUESTCODE;

typedef ULONG(WINAPI *WMIDPREQUEST)(WMIDPREQUESTCODE RequestCode, PVOID RequestContext,
                                    ULONG *BufferSize, PVOID Buffer);

typedef struct _TRACE_GUID_REGISTRATION {
    LPCGUID Guid;
    HANDLE RegHandle;
} TRACE_GUID_REGISTRATION, *PTRACE_GUID_REGISTRATION;

// What the control callback's buffer starts with: the enabling session's logger handle.
typedef struct _WNODE_HEADER {
    ULONG BufferSize;
    ULONG ProviderId;
    union {
        ULONG64 HistoricalContext;
        struct {
            ULONG Version;
            ULONG Linkage;
        };
    };
    union {
        HANDLE KernelHandle;
        LARGE_INTEGER TimeStamp;
    };
    GUID Guid;
    ULONG ClientContext;
    ULONG Flags;
} WNODE_HEADER, *PWNODE_HEADER;

#define TRACE_MESSAGE_SEQUENCE 1
#define TRACE_MESSAGE_GUID 2
#define TRACE_MESSAGE_COMPONENTID 4
#define TRACE_MESSAGE_TIMESTAMP 8
#define TRACE_MESSAGE_SYSTEMINFO 32

extern "C" {

ULONG WINAPI RegisterTraceGuidsA(WMIDPREQUEST RequestAddress, PVOID RequestContext,
                                 LPCGUID ControlGuid, ULONG GuidCount,
                                 PTRACE_GUID_REGISTRATION TraceGuidReg, LPCSTR MofImagePath,
                                 LPCSTR MofResourceName, PTRACEHANDLE RegistrationHandle);
ULONG WINAPI RegisterTraceGuidsW(WMIDPREQUEST RequestAddress, PVOID RequestContext,
                                 LPCGUID ControlGuid, ULONG GuidCount,
                                 PTRACE_GUID_REGISTRATION TraceGuidReg, LPCWSTR MofImagePath,
                                 LPCWSTR MofResourceName, PTRACEHANDLE RegistrationHandle);
ULONG WINAPI UnregisterTraceGuids(TRACEHANDLE RegistrationHandle);
TRACEHANDLE WINAPI GetTraceLoggerHandle(PVOID Buffer);
UCHAR WINAPI GetTraceEnableLevel(TRACEHANDLE SessionHandle);
ULONG WINAPI GetTraceEnableFlags(TRACEHANDLE SessionHandle);
// The variable part: pairs of (pointer, size_t length) ended by a null pointer.
ULONG __cdecl TraceMessage(TRACEHANDLE LoggerHandle, ULONG MessageFlags, LPCGUID MessageGuid,
                           USHORT MessageNumber, ...);

} // extern "C"

static_assert(sizeof(WNODE_HEADER) == 48, "WNODE_HEADER layout");
static_assert(sizeof(TRACE_GUID_REGISTRATION) == 16, "TRACE_GUID_REGISTRATION layout");
