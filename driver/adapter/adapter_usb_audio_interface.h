// IAdapterUsbAudio: the adapter's own interface, through which the miniport and its streams
// drive the streaming engine. Directions are a capture flag: FALSE render, TRUE capture.
#pragma once

#include "quen_driver_platform.h"
#include "wave/miniport_usb_audio_notify.h"

DEFINE_GUID(IID_IAdapterUsbAudio, 0x2DB31D89, 0xDCB1, 0x40AA, 0x95, 0x3E, 0xC1, 0x48, 0x45, 0x10,
            0x08, 0xA9);

#undef INTERFACE
#define INTERFACE IAdapterUsbAudio
DECLARE_INTERFACE_(IAdapterUsbAudio, IUnknown)
{
    DEFINE_ABSTRACT_UNKNOWN()

    // Slot 3: device start: the USB layer, the native DSD capability and the filter description.
    STDMETHOD_(NTSTATUS, Init)
    (THIS_ PDEVICE_OBJECT PhysicalDeviceObject, PDEVICE_OBJECT DeviceObject) PURE;
    // Slot 4: the notification target of the streaming engine (no reference held), or null.
    STDMETHOD_(void, SetMiniport)(THIS_ PMINIPORTUSBAUDIONOTIFY Miniport) PURE;
    // Slot 5: what the direction's streaming interface offers.
    STDMETHOD_(NTSTATUS, GetStreamCapabilities)
    (THIS_ BOOLEAN Capture, PULONG MaxChannels, PULONG MinBits, PULONG MaxBits, PULONG MinRate,
     PULONG MaxRate) PURE;
    // Slot 6: flushes the direction's queue, then as ChangeFormat.
    STDMETHOD_(NTSTATUS, SetFormat)
    (THIS_ BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate) PURE;
    // Slot 7: the client format the stream delivers (render) or expects (capture).
    STDMETHOD_(NTSTATUS, ChangeFormat)
    (THIS_ BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate) PURE;
    // Slot 8: the stream goes away: its thread ends and its format is released.
    STDMETHOD_(void, ReleaseStream)(THIS_ BOOLEAN Capture) PURE;
    // Slots 9 to 13: the stream's state changes.
    STDMETHOD_(NTSTATUS, StartStream)(THIS_ BOOLEAN Capture) PURE;
    STDMETHOD_(NTSTATUS, PauseStream)(THIS_ BOOLEAN Capture) PURE;
    STDMETHOD_(NTSTATUS, StopStream)(THIS_ BOOLEAN Capture) PURE;
    STDMETHOD_(NTSTATUS, RunStream)(THIS_ BOOLEAN Capture) PURE;
    STDMETHOD_(NTSTATUS, HaltStream)(THIS_ BOOLEAN Capture) PURE;
    // Slot 14: a region of the render cyclic buffer holding data to play.
    STDMETHOD_(void, QueueRenderBuffer)(THIS_ PUCHAR Start, ULONG Length) PURE;
    // Slot 15: a region of the capture cyclic buffer free to receive data.
    STDMETHOD_(void, QueueCaptureBuffer)(THIS_ PUCHAR Start, ULONG Length) PURE;
    // Slots 16 to 18: the ASIO half-buffer exchange.
    STDMETHOD_(void, BufferToggle)(THIS) PURE;
    STDMETHOD_(void, OutputReady)(THIS) PURE;
    STDMETHOD_(void, RenderNotify)(THIS) PURE;
    // Slot 19: the filter description built at Init.
    STDMETHOD_(PPCFILTER_DESCRIPTOR, GetFilterDescriptor)(THIS) PURE;
    // Slot 20: volume and mute requests on the filter's nodes.
    STDMETHOD_(NTSTATUS, PropertyHandler_Node)(THIS_ PPCPROPERTY_REQUEST PropertyRequest) PURE;
    // Slot 21: the ASIO output delay, in milliseconds (USB frames).
    STDMETHOD_(void, OutputDelay)(THIS_ ULONG Milliseconds) PURE;
    // Slot 22: narrows [*MinRate, *MaxRate] to the rates the pin's clock offers; Channels,
    // MinBits and MaxBits are not used.
    STDMETHOD_(NTSTATUS, GetRateRange)
    (THIS_ ULONG PinId, ULONG Channels, ULONG MinBits, ULONG MaxBits, PULONG MinRate,
     PULONG MaxRate) PURE;
    // Slot 23: switches the device between PCM (0) and native DSD (1).
    STDMETHOD_(NTSTATUS, SetDsdNativeMode)(THIS_ USHORT Mode) PURE;
};
#undef INTERFACE

typedef IAdapterUsbAudio *PADAPTERUSBAUDIO;

// The statuses with which the USB stack says the device has gone.
BOOLEAN IsDeviceGoneStatus(NTSTATUS Status);
