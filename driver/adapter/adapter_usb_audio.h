// CAdapterUsbAudio: the one adapter object of a started device. It embeds the USB layer, keeps
// the client and device format of each direction, owns the render and capture streaming
// threads with the queues through which the WaveCyclic or ASIO side hands them regions of its
// cyclic buffer, answers the volume and mute node properties, and follows the device's power
// state for portcls.
//
// Stream control (format changes, start, pause, release, native DSD switching, power changes)
// is serialised by the stream-control mutex. Locks of the streaming path, in the order they
// may be taken: the render stream lock, then the render queue lock, the free render transfer
// lock, the accumulation lock or a feedback lock of the USB layer; the capture queue lock. The
// in-flight locks and the capture schedule lock take no other lock. Completion routines never
// take the render stream lock: the USB stack may complete a transfer inside its submission.
#pragma once

#include "quen_driver_platform.h"

#include "adapter/adapter_usb_audio_interface.h"
#include "asio/performance_parameters.h"
#include "usb/usb_audio_cl.h"

// Pool tag of the adapter object (and the miniport): "PcCr" in memory.
#define ADAPTER_POOL_TAG 0x72436350

// The index of a direction in the per-direction records: the capture flag.
#define ADAPTER_RENDER 0
#define ADAPTER_CAPTURE 1
#define ADAPTER_DIRECTIONS 2

// Feedback reads kept in flight while render runs with an explicit feedback endpoint.
#define ADAPTER_FEEDBACK_READS 3

class CUSBAudioFeatureUnit;

// A stream format. BytesPerFrame = Channels x (BitsPerSample / 8).
struct ADAPTER_FORMAT {
    ULONG Channels;
    ULONG BitsPerSample;
    ULONG SampleRate;
    ULONG BytesPerFrame;
};

// A region of a stream's cyclic buffer in a render or capture queue (client bytes, whole
// frames).
struct ADAPTER_QUEUE_ENTRY {
    LIST_ENTRY Link;
    PUCHAR Start;
    PUCHAR Current;
    ULONG Remaining;
};

class CAdapterUsbAudio;

// A render, capture or feedback transfer. Render transfers own a buffer of the render bytes per
// transfer and its MDL for as long as their thread runs; feedback and capture transfers own
// their buffer from their first submission to the end of their chain.
struct ADAPTER_TRANSFER {
    LIST_ENTRY Link; // in the free render transfer list
    PUCHAR Buffer;
    PMDL Mdl;
    ULONG Size;   // device bytes this transfer carries; 0 = not sized yet (render)
    ULONG Filled; // device bytes written so far (render)
    ULONG StartFrame;
    CAdapterUsbAudio *Adapter;
    ULONG Feedback; // the feedback value it was sized with (render)
};

// What the adapter keeps per direction.
struct ADAPTER_STREAM {
    ADAPTER_FORMAT ClientFormat;
    ADAPTER_FORMAT DeviceFormat;
    // A stream of this direction has set the client format and not released it.
    BOOLEAN FormatSet;
    // Implicit feedback: this direction is started (between StartStream and PauseStream).
    BOOLEAN Started;
    // The interface holds this stream's setting from an earlier start (a pause keeps it), for
    // transfers of SelectedFramesPerTransfer milliseconds.
    BOOLEAN SettingSelected;
    ULONG SelectedFramesPerTransfer;
    ULONG BytesPerTransfer; // the largest transfer buffer of the selected setting
    ULONG FramesPerTransfer;
    ULONG TransfersInFlight;
    // Implicit feedback: the nominal transfer and how many frames it may be shorter (a negative
    // number) or longer.
    ULONG ImplicitBaseBytes;
    LONG ImplicitMinimumFrames;
    LONG ImplicitMaximumFrames;

    PKTHREAD Thread;   // referenced; exchanged with null by the one who waits for it
    KEVENT StopEvent;  // signalled: the thread must end, or there is none
    KEVENT RunEvent;   // data may flow
    KEVENT ResetEvent; // the pipes must be aborted and reset
    KEVENT IdleEvent;  // no transfer of this direction in flight
    KEVENT ExitEvent;  // the thread is done with the adapter
    KSEMAPHORE SlotSemaphore;
    KSPIN_LOCK InFlightLock; // queued spin lock
    LONG InFlight;

    LIST_ENTRY Queue;
    KSPIN_LOCK QueueLock; // render: interlocked list operations; capture: queued spin lock

    // The device is gone (its status), or 0. Nothing is submitted once it is set.
    volatile LONG DeviceGone;
    volatile LONG ResetStatus; // what set the reset event, reported with the recovery
    ULONG Recoveries;          // recent recoveries, for the back-off
    LONGLONG LastRecovery;     // performance counter at the latest recovery
};

class CAdapterUsbAudio : public IAdapterUsbAudio, public IAdapterPowerManagement, public CUnknown {
public:
    // The interface methods are declared the way the port class's own macros declare
    // QueryInterface, AddRef and Release: without override, so that all read alike.
    DECLARE_STD_UNKNOWN();
    explicit CAdapterUsbAudio(PUNKNOWN UnknownOuter);
    ~CAdapterUsbAudio();

    // ---- IAdapterUsbAudio -----------------------------------------------------------------------
    STDMETHODIMP_(NTSTATUS)
    Init(PDEVICE_OBJECT PhysicalDeviceObject, PDEVICE_OBJECT DeviceObject);
    STDMETHODIMP_(void) SetMiniport(PMINIPORTUSBAUDIONOTIFY Miniport);
    STDMETHODIMP_(NTSTATUS)
    GetStreamCapabilities(BOOLEAN Capture, PULONG MaxChannels, PULONG MinBits, PULONG MaxBits,
                          PULONG MinRate, PULONG MaxRate);
    STDMETHODIMP_(NTSTATUS)
    SetFormat(BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate);
    STDMETHODIMP_(NTSTATUS)
    ChangeFormat(BOOLEAN Capture, ULONG Channels, ULONG Bits, ULONG Rate);
    STDMETHODIMP_(void) ReleaseStream(BOOLEAN Capture);
    STDMETHODIMP_(NTSTATUS) StartStream(BOOLEAN Capture);
    STDMETHODIMP_(NTSTATUS) PauseStream(BOOLEAN Capture);
    STDMETHODIMP_(NTSTATUS) StopStream(BOOLEAN Capture);
    STDMETHODIMP_(NTSTATUS) RunStream(BOOLEAN Capture);
    STDMETHODIMP_(NTSTATUS) HaltStream(BOOLEAN Capture);
    STDMETHODIMP_(void) QueueRenderBuffer(PUCHAR Start, ULONG Length);
    STDMETHODIMP_(void) QueueCaptureBuffer(PUCHAR Start, ULONG Length);
    STDMETHODIMP_(void) BufferToggle();
    STDMETHODIMP_(void) OutputReady();
    STDMETHODIMP_(void) RenderNotify();
    STDMETHODIMP_(PPCFILTER_DESCRIPTOR) GetFilterDescriptor();
    STDMETHODIMP_(NTSTATUS) PropertyHandler_Node(PPCPROPERTY_REQUEST PropertyRequest);
    STDMETHODIMP_(void) OutputDelay(ULONG Milliseconds);
    STDMETHODIMP_(NTSTATUS)
    GetRateRange(ULONG PinId, ULONG Channels, ULONG MinBits, ULONG MaxBits, PULONG MinRate,
                 PULONG MaxRate);
    STDMETHODIMP_(NTSTATUS) SetDsdNativeMode(USHORT Mode);

    // ---- IAdapterPowerManagement ----------------------------------------------------------------
    STDMETHODIMP_(void) PowerChangeState(POWER_STATE NewState);
    STDMETHODIMP_(NTSTATUS) QueryPowerChangeState(POWER_STATE NewStateQuery);
    STDMETHODIMP_(NTSTATUS) QueryDeviceCapabilities(PDEVICE_CAPABILITIES PowerDeviceCaps);

private:
    // ---- Render engine (adapter_render.cpp) -----------------------------------------------------
    static VOID StreamOutWithExplicitFeedbackEndpointThread(PVOID Context);
    static VOID StreamOutThread(PVOID Context);
    // Sizes, fills and submits one render transfer with the slot the caller holds.
    void SendRenderTransfer();
    static void RenderTransferComplete(NTSTATUS Status, ULONG Bytes, PVOID Context);
    // Creates a render slot, up to the number of render transfers the thread has.
    void ReleaseRenderSlot();

    // ---- Feedback (adapter_feedback.cpp) --------------------------------------------------------
    // Starts (Buffer and Transfer null) or re-arms a feedback read with the feedback unit and
    // the render in-flight unit the caller holds.
    void ExplicitFeedbackStart(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer);
    static void RecvFeedbackCompletion(NTSTATUS Status, ULONG Value, PVOID Context);
    // The render feedback value at the nominal rate, per (micro)frame.
    ULONG NominalRenderFeedback() const;

    // ---- Capture engine (adapter_capture.cpp) ---------------------------------------------------
    static VOID StreamInThread(PVOID Context);
    // Starts or re-arms a capture transfer with the capture slot and in-flight unit the caller
    // holds.
    void SendCaptureTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer);
    static void CaptureTransferComplete(NTSTATUS Status, ULONG Bytes, PVOID Context);

    // The embedded USB layer.
    CUSBAudioCL Usb;

    // ---- Stream control (adapter_stream_control.cpp) -----------------------------------------
    ADAPTER_STREAM &StreamOf(BOOLEAN Capture);
    void LockStreamControl();
    void UnlockStreamControl();
    BOOLEAN IsImplicitMode() const { return Usb.RenderFollowsCapture(); }
    BOOLEAN IsAsioMode(BOOLEAN Capture);
    // The direction's thread exists and has not been told to stop.
    BOOLEAN IsThreadRunning(BOOLEAN Capture);
    BOOLEAN IsDsdOnly(BOOLEAN Capture) const;
    NTSTATUS ChangeFormatLocked(BOOLEAN Capture, const ADAPTER_FORMAT &Format);
    NTSTATUS StartStreamLocked(BOOLEAN Capture);
    NTSTATUS StartImplicitStreamsLocked(BOOLEAN Capture);
    NTSTATUS SetDsdNativeModeLocked(USHORT Mode);
    void ReadTransferParameters(BOOLEAN Capture);
    // Slots, events and scheduling of a direction about to start (no thread exists).
    void PrepareDirection(BOOLEAN Capture);
    NTSTATUS SelectStreamFormat(BOOLEAN Capture);
    void ResetInterface(BOOLEAN Capture);
    void ResetInterfaces();
    NTSTATUS StartStreamThread(BOOLEAN Capture);
    void StopStreamThread(BOOLEAN Capture);
    void WaitForStopStreamThread(BOOLEAN Capture);
    void StopStreamThreads();
    void WaitForStopStreamThreads();

    // ---- Queues (adapter_queues.cpp) ------------------------------------------------------------
    // An entry for the whole frames of a region, or null (nothing to queue, or no entry).
    ADAPTER_QUEUE_ENTRY *NewQueueEntry(BOOLEAN Capture, PUCHAR Start, ULONG Length);
    // The head of the render queue, or null; called under the render stream lock.
    ADAPTER_QUEUE_ENTRY *RenderQueueHead();
    BOOLEAN IsRenderQueueEmpty();
    // Removes the head of the render queue and gives it back; under the render stream lock.
    void RemoveRenderQueueHead();
    void FlushRenderQueue();
    void FlushRenderQueueLocked();
    void FlushCaptureQueue();
    void FlushQueue(BOOLEAN Capture);

    // ---- Render engine helpers (adapter_render.cpp) -------------------------------------------
    void RunRenderThread(BOOLEAN ExplicitFeedback);
    NTSTATUS AllocateRenderTransfers();
    void DeleteRenderTransfers();
    // Takes the size of a new transfer from the feedback, the rate pattern or the capture
    // stream; 0 when none can be had.
    ULONG SizeRenderTransfer(ADAPTER_TRANSFER *Transfer);
    // Sizes, fills and submits the head of the free list under the render stream lock; FALSE
    // when nothing was sent, with the transfer taken off the list (if any) in *Taken.
    BOOLEAN SubmitNextRenderTransfer(ADAPTER_TRANSFER **Taken);
    void RecoverRender();
    // Under the render stream lock: ASIO render transfers wait for the host's next half.
    void PauseAsioRender();
    void FinishRenderThread();

    // ---- Capture engine helpers (adapter_capture.cpp) -----------------------------------------
    void RecoverCapture();
    ULONG NextCaptureStartFrame();
    void CopyCapturedData(const UCHAR *Data, ULONG Bytes);
    void AccumulateCaptureFrames(ULONG Bytes);

    // ---- Shared by both engines (adapter_engine.cpp) -------------------------------------------
    // The transfer a feedback or capture chain goes on with: the chain's own buffer and
    // transfer, or new ones of Length bytes. Null when either cannot be had; what was given is
    // then freed.
    ADAPTER_TRANSFER *TakeChainTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer, ULONG Length);
    void FreeChainTransfer(PUCHAR Buffer, ADAPTER_TRANSFER *Transfer);
    void InFlightIncrement(BOOLEAN Capture);
    void InFlightDecrement(BOOLEAN Capture);
    // Waits for the direction's idle event; aborts the direction's pipes when the transfers do
    // not drain within DrainMs, then waits in bounded steps.
    void WaitForIdle(BOOLEAN Capture, ULONG DrainMs);
    NTSTATUS AbortPipes(BOOLEAN Capture);
    // Records why the direction resets (the first cause counts) and sets its reset event.
    void RequestReset(BOOLEAN Capture, NTSTATUS Status);
    // Marks the device gone for the direction and reports it once; TRUE when Status says so.
    BOOLEAN NoteDeviceGone(BOOLEAN Capture, NTSTATUS Status);
    // Reports the recovery's cause and waits out the back-off (ends early on stop).
    void BackOffAfterRecovery(BOOLEAN Capture);
    void ReportStreamError(BOOLEAN Capture, NTSTATUS Status);
    void NotifyStream(BOOLEAN Capture);
    ULONG CurrentFrame();
    ULONG ClientBytesFor(BOOLEAN Capture, ULONG DeviceBytes) const;
    ULONG DeviceBytesFor(BOOLEAN Capture, ULONG ClientBytes) const;
    // Waits until the direction's thread is told to stop (the device is gone).
    void WaitForStop(BOOLEAN Capture);

    // ---- Node properties (adapter_node_properties.cpp) -----------------------------------------
    CUSBAudioFeatureUnit *NodeFeatureUnit(ULONG NodeId);
    NTSTATUS PropertyHandler_Volume(PPCPROPERTY_REQUEST PropertyRequest,
                                    CUSBAudioFeatureUnit *FeatureUnit);
    NTSTATUS PropertyHandler_Mute(PPCPROPERTY_REQUEST PropertyRequest,
                                  CUSBAudioFeatureUnit *FeatureUnit);
    NTSTATUS PropertyHandlerBasicSupport_Volume(PPCPROPERTY_REQUEST PropertyRequest,
                                                CUSBAudioFeatureUnit *FeatureUnit);
    NTSTATUS SetVolumeChannel(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, LONG Value);

    // ---- Device start (adapter_usb_audio.cpp) ---------------------------------------------------
    NTSTATUS ReadDsdNativeModeSupported(PDEVICE_OBJECT PhysicalDeviceObject, PBOOLEAN Supported);
    AudioStreamingInterface *InterfaceFor(BOOLEAN Capture) const;

    // Identity.
    PDEVICE_OBJECT DeviceObject;
    PMINIPORTUSBAUDIONOTIFY Miniport;
    ULONG PowerState;
    PCFILTER_DESCRIPTOR FilterDescriptor;
    BOOLEAN NativeDsdSupported;

    // Per direction, indexed by the capture flag.
    ADAPTER_STREAM Streams[ADAPTER_DIRECTIONS];

    KMUTEX StreamControlMutex;
    NPAGED_LOOKASIDE_LIST QueueEntryList;
    NPAGED_LOOKASIDE_LIST TransferList;

    // Render.
    KSPIN_LOCK RenderStreamLock;       // queued spin lock: sizing, filling and submitting transfers
    LIST_ENTRY FreeRenderTransferList; // interlocked, with FreeRenderTransferLock
    KSPIN_LOCK FreeRenderTransferLock;
    // The thread inside a render submission (under the render stream lock), or null.
    HANDLE volatile RenderSubmitter;
    ULONG RenderTransferCount; // contexts the render thread owns: the slot limit
    volatile LONG RenderSlotCount;
    volatile LONG RenderQueuedBytes;
    volatile LONG RenderQueuedTotal; // bytes ever queued, wrapping
    // Under the render stream lock: an ASIO render stream has transfers going since it last
    // started or paused; the bytes queued up to the host's latest output-ready, and the bytes
    // its latest half queued.
    BOOLEAN AsioRenderFlowing;
    LONG AsioReadyTotal;
    ULONG AsioHalfBytes;
    KSEMAPHORE FeedbackSlotSemaphore;
    volatile LONG FeedbackErrorCount;
    // Feedback reads keep failing after the recovery they caused: the nominal value is used
    // instead of further recoveries until a read succeeds.
    volatile LONG FeedbackFallback;

    // Implicit feedback: frames the capture stream ran ahead of nominal, spent by render sizing.
    KSPIN_LOCK AccumulationLock;
    LONG AccumulatedCaptureFrames;

    // Capture scheduling (start frames are diagnostic: transfers go as soon as possible).
    KSPIN_LOCK CaptureScheduleLock;
    ULONG CaptureNextStartFrame;
    BOOLEAN CaptureRestart;

    // ASIO timing (adapter_asio_notification.cpp).
    LONGLONG LastToggleCounter;
    LONGLONG LastReadyCounter;
    ULONG ToggleFrame;
    ULONG ReadyFrame;
    ULONG OutputDelayFrames;
};

typedef CAdapterUsbAudio *PCADAPTERUSBAUDIO;
