// CMiniportWaveCyclicUsbAudio: the miniport of the "Wave" subdevice. Toward port class it
// describes the filter the adapter built, intersects data ranges into PCM formats and creates
// one stream per direction; toward the adapter's streaming engine it is the notification
// target that moves the streams' positions, asks for timing notifications and signals the
// ASIO side. It owns no audio data.
//
// The engine calls the IMiniportUsbAudioNotify entries from its threads and from USB
// completions at DISPATCH_LEVEL. A direction's entries reach only that direction's stream,
// which goes away only after its streaming has stopped; the few entries that reach across to
// the other direction's stream (the ASIO ones) look at it under the stream lock, which the
// stream's destructor takes to leave its slot.
#pragma once

#include "quen_driver_platform.h"

#include "adapter/adapter_usb_audio_interface.h"
#include "wave/miniport_usb_audio_notify.h"

class CMiniportWaveCyclicStreamUsbAudio;

NTSTATUS CreateMiniportWaveCyclicUsbAudio(PUNKNOWN *Unknown, REFCLSID ClassId,
                                          PUNKNOWN UnknownOuter, POOL_TYPE PoolType);

class CMiniportWaveCyclicUsbAudio : public IMiniportUsbAudioNotify,
                                    public IMiniportWaveCyclic,
                                    public IPowerNotify,
                                    public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    explicit CMiniportWaveCyclicUsbAudio(PUNKNOWN UnknownOuter);
    ~CMiniportWaveCyclicUsbAudio();

    // ---- IMiniportWaveCyclic --------------------------------------------------------------------
    IMP_IMiniportWaveCyclic;

    // ---- IPowerNotify ---------------------------------------------------------------------------
    STDMETHODIMP_(void) PowerChangeNotify(POWER_STATE PowerState);

    // ---- IMiniportUsbAudioNotify
    // ------------------------------------------------------------------
    STDMETHODIMP_(void) NotifyStream(BOOLEAN Capture);
    STDMETHODIMP_(void) SetRenderPosition(PUCHAR Position);
    STDMETHODIMP_(void) SetCapturePosition(PUCHAR Position);
    STDMETHODIMP_(void) ClearBuffer(BOOLEAN Capture);
    STDMETHODIMP_(BOOLEAN) IsAsioMode(BOOLEAN Capture);
    STDMETHODIMP_(void) BufferToggle();
    STDMETHODIMP_(void) OutputReady();
    STDMETHODIMP_(void) Silence(BOOLEAN Capture, PVOID Buffer, ULONG Bytes);
    STDMETHODIMP_(void) OutputDelay(ULONG Milliseconds);
    STDMETHODIMP_(void) AdvanceRenderPosition(ULONG Bytes);
    STDMETHODIMP_(void) SetStreamError(BOOLEAN Capture, NTSTATUS Status);

    // ---- For the streams ------------------------------------------------------------------------
    PADAPTERUSBAUDIO Adapter() const { return AdapterInterface; }
    PPORTWAVECYCLIC Port() const { return PortInterface; }
    PSERVICEGROUP ServiceGroup() const { return Group; }
    // The one-shot flag of the ASIO render signal.
    void ClearToggleFlag() { InterlockedExchange(&ToggleFlag, 0); }
    // Sets a stream's ASIO event under the stream lock, so that no signalling path sees it
    // half changed; returns the old one.
    PKEVENT ExchangeStreamEvent(CMiniportWaveCyclicStreamUsbAudio *Stream, PKEVENT Event);
    // The stream's destructor gives its direction's slot back.
    void StreamGone(BOOLEAN Capture, CMiniportWaveCyclicStreamUsbAudio *Stream);

private:
    CMiniportWaveCyclicStreamUsbAudio *&SlotOf(BOOLEAN Capture)
    {
        return Capture ? CaptureStream : RenderStream;
    }

    PADAPTERUSBAUDIO AdapterInterface;
    PPCFILTER_DESCRIPTOR FilterDescriptor;
    PPORTWAVECYCLIC PortInterface;
    PSERVICEGROUP Group;
    CMiniportWaveCyclicStreamUsbAudio *CaptureStream; // not referenced
    CMiniportWaveCyclicStreamUsbAudio *RenderStream;  // not referenced
    KSPIN_LOCK StreamLock;                            // the slots, across directions
    volatile LONG ToggleFlag;
    ULONG PowerState;
};

typedef CMiniportWaveCyclicUsbAudio *PCMINIPORTWAVECYCLICUSBAUDIO;
