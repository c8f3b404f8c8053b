#include "panel_trace.h"

#include "ks_trace.h"

// The panel's build of the KS library writes every line, the device list dump included.
extern const ULONG g_KsLibTraceMask = KSLIB_TRACE_ERROR | KSLIB_TRACE_FLOW | KSLIB_TRACE_DUMP;

namespace {

// {2D8E4F61-9A7B-4C3D-B5E2-6F1A0C9D8E47}
const GUID kPanelTraceGuid = {
    0x2d8e4f61, 0x9a7b, 0x4c3d, {0xb5, 0xe2, 0x6f, 0x1a, 0x0c, 0x9d, 0x8e, 0x47}};

TRACEHANDLE g_registration = 0;

ULONG WINAPI ControlCallback(WMIDPREQUESTCODE, PVOID, ULONG *, PVOID) { return ERROR_SUCCESS; }

} // namespace

void PanelTraceRegister()
{
    // The context names the provider; a failed registration leaves tracing off.
    static WCHAR name[] = L"QUEN_ASIOCPL";
    if (RegisterTraceGuidsW(ControlCallback, name, &kPanelTraceGuid, 0, nullptr, nullptr, nullptr,
                            &g_registration) != ERROR_SUCCESS)
        g_registration = 0;
}

void PanelTraceUnregister()
{
    if (g_registration != 0)
        UnregisterTraceGuids(g_registration);
    g_registration = 0;
}
