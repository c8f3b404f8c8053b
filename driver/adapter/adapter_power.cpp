// CAdapterUsbAudio: IAdapterPowerManagement. Leaving D0 ends the streams; on the way back the
// interfaces return to their zero-bandwidth settings and the device gets its native DSD modes
// again, unless a stream has started in between.
#include "adapter/adapter_usb_audio.h"

#include "driver_trace.h"

STDMETHODIMP_(void) CAdapterUsbAudio::PowerChangeState(POWER_STATE NewState)
{
    PAGED_CODE();
    const ULONG state = NewState.DeviceState;
    if (state == PowerState) {
        return;
    }
    if (state == PowerDeviceD0) {
        LockStreamControl();
        PowerState = state;
        // The device forgot its settings; a stream that runs again selects its own.
        if (Streams[ADAPTER_RENDER].Thread == nullptr &&
            Streams[ADAPTER_CAPTURE].Thread == nullptr) {
            ResetInterfaces();
            if (NativeDsdSupported) {
                Usb.RestoreDsdModes();
            }
        }
        UnlockStreamControl();
    } else if (state >= PowerDeviceD1 && state <= PowerDeviceD3) {
        LockStreamControl();
        WaitForStopStreamThreads();
        PowerState = state;
        UnlockStreamControl();
    } else {
        QuenTrace(TRACE_LEVEL_WARNING, "unknown power state %lu", state);
    }
}

STDMETHODIMP_(NTSTATUS) CAdapterUsbAudio::QueryPowerChangeState(POWER_STATE NewStateQuery)
{
    UNREFERENCED_PARAMETER(NewStateQuery);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::QueryDeviceCapabilities(PDEVICE_CAPABILITIES PowerDeviceCaps)
{
    if (PowerDeviceCaps == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    PowerDeviceCaps->SurpriseRemovalOK = TRUE;
    return STATUS_SUCCESS;
}
