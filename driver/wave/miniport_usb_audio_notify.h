// IMiniportUsbAudioNotify: the miniport's interface toward the streaming engine. The adapter's
// render and capture paths call it to move the streams' positions, to ask for timing
// notifications and to signal the ASIO side; the calls come from the streaming threads and from
// USB completions at DISPATCH_LEVEL, so an implementation takes no locks.
#pragma once

#include "quen_driver_platform.h"

DEFINE_GUID(IID_IMiniportUsbAudioNotify, 0x19BA8BFF, 0xCD09, 0x419F, 0xB0, 0x01, 0x6B, 0xF3, 0x37,
            0x4B, 0x00, 0x90);

#undef INTERFACE
#define INTERFACE IMiniportUsbAudioNotify
DECLARE_INTERFACE_(IMiniportUsbAudioNotify, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()

    // Slot 3: the direction's stream runs its timing notification.
    STDMETHOD_(void, NotifyStream)(THIS_ BOOLEAN Capture) PURE;
    // Slot 4: the render engine has taken the cyclic buffer's bytes up to Position.
    STDMETHOD_(void, SetRenderPosition)(THIS_ PUCHAR Position) PURE;
    // Slot 5: captured data ends just before Position.
    STDMETHOD_(void, SetCapturePosition)(THIS_ PUCHAR Position) PURE;
    // Slot 6: the direction's ring is emptied.
    STDMETHOD_(void, ClearBuffer)(THIS_ BOOLEAN Capture) PURE;
    // Slot 7: the direction's stream serves an ASIO host.
    STDMETHOD_(BOOLEAN, IsAsioMode)(THIS_ BOOLEAN Capture) PURE;
    // Slot 8: the next ASIO half may be handed over.
    STDMETHOD_(void, BufferToggle)(THIS) PURE;
    // Slot 9: the ASIO host has filled its output half.
    STDMETHOD_(void, OutputReady)(THIS) PURE;
    // Slot 10: fills Bytes of Buffer with the direction's silence.
    STDMETHOD_(void, Silence)(THIS_ BOOLEAN Capture, PVOID Buffer, ULONG Bytes) PURE;
    // Slot 11: the ASIO output delay in milliseconds.
    STDMETHOD_(void, OutputDelay)(THIS_ ULONG Milliseconds) PURE;
    // Slot 12: the render position moves on by Bytes the engine played as silence.
    STDMETHOD_(void, AdvanceRenderPosition)(THIS_ ULONG Bytes) PURE;
    // Slot 13: the direction's stream failed with Status.
    STDMETHOD_(void, SetStreamError)(THIS_ BOOLEAN Capture, NTSTATUS Status) PURE;
};
#undef INTERFACE

typedef IMiniportUsbAudioNotify *PMINIPORTUSBAUDIONOTIFY;
