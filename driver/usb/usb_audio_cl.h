// CUSBAudioCL: the USB layer of an audio-class device. On top of CUSBCL it holds the audio
// function model (entities and streaming-interface records, all pointing into the one copy of
// the configuration descriptor), selects the configuration with the audio interfaces, sends the
// audio class and vendor requests, and turns a requested format into an alternate setting, a
// programmed sampling rate and the packet geometry the streaming path uses.
#pragma once

#include "quen_driver_platform.h"
#include "usb/usb_cl.h"

// The audio function model (driver/function).
class CUSBAudioEntity;
class CUSBAudioClockEntity;
class CUSBAudioTerminal;
class CUSBAudioFeatureUnit;
struct AudioStreamingInterface;
struct AlternateSettingInfo;

// An entry of the render rate pattern table (usb/rate_pattern_table.h).
struct RatePatternEntry;
// Packet geometry of a stream (usb/stream_geometry.h).
struct StreamGeometry;

// Direction argument of the format operations.
#define USB_AUDIO_DIRECTION_RENDER 0
#define USB_AUDIO_DIRECTION_CAPTURE 1

class CUSBAudioCL : public CUSBCL {
public:
    CUSBAudioCL();
    ~CUSBAudioCL() override;

    // Does nothing: the caller's callback does the work.
    void OnTransferComplete(NTSTATUS Status, PURB Urb, USB_TRANSFER_CONTEXT *Context) override;

    // Virtual slots 2 to 5, in this order.
    // CUSBCL initialisation, then the audio function model (driver/function).
    NTSTATUS Initialize(PDEVICE_OBJECT LowerDevice, ULONG IrpCount) override;
    // Configures the audio interfaces (every interface on the quirk devices) and puts every
    // streaming interface into alternate setting 0.
    virtual NTSTATUS SelectConfiguration();
    // driver/function.
    virtual NTSTATUS EnumerateStreamingInterfaces();
    virtual NTSTATUS DescribeStreamingInterface(AudioStreamingInterface *Interface);

    // ---- Configuration -------------------------------------------------------------------------

    // The audio control interface and alternate setting 0 of every streaming interface, ended by
    // an all-zero entry. Freed by the caller with ExFreePoolWithTag(USBA_POOL_TAG).
    PUSBD_INTERFACE_LIST_ENTRY BuildConfigurationInterfaceList(PULONG Count);
    // Re-resolves the data and feedback pipes of every streaming interface for its current
    // alternate setting.
    NTSTATUS RefreshPipes();

    // ---- Audio class and vendor requests -------------------------------------------------------

    // A class request to an entity of the audio control interface:
    // wValue = ControlSelector << 8 | Channel, wIndex = EntityId << 8 | interface number.
    // BytesTransferred as in SendClassOrVendorRequest.
    NTSTATUS SendAudioClassRequest(UCHAR RequestType, UCHAR Request, UCHAR ControlSelector,
                                   UCHAR Channel, UCHAR EntityId, ULONG Length, PVOID Buffer,
                                   PULONG BytesTransferred = nullptr);

    // Volumes are the audio class's signed 1/256 dB values, unconverted.
    NTSTATUS SetVolume(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, SHORT Value);
    NTSTATUS GetVolume(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, SHORT *Value);
    NTSTATUS GetVolumeRange(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Channel, SHORT *Minimum,
                            SHORT *Maximum, SHORT *Resolution);
    // Mute acts on the master channel.
    NTSTATUS SetMute(CUSBAudioFeatureUnit *FeatureUnit, UCHAR Value);
    NTSTATUS GetMute(CUSBAudioFeatureUnit *FeatureUnit, UCHAR *Value);

    // Switches every streaming interface between PCM (0) and native DSD (1).
    NTSTATUS SendDsdModeRequest(USHORT Value);
    // Sends every streaming interface the mode it last accepted (after the device lost it).
    NTSTATUS RestoreDsdModes();

    // Waits up to TimeoutMs for the render clock to report itself valid.
    BOOLEAN IsClockStable(ULONG TimeoutMs);

    // ---- Format selection ----------------------------------------------------------------------

    NTSTATUS GetStreamCapabilities(AudioStreamingInterface *Interface, PULONG MaxChannels,
                                   PULONG MinBits, PULONG MaxBits, PULONG MinRate, PULONG MaxRate);
    // Audio Class 1.0: narrows [*Lower, *Upper] to rates the interface's settings can run.
    NTSTATUS GetClass1RateBounds(AudioStreamingInterface *Interface, PULONG Lower, PULONG Upper);
    NTSTATUS FindAlternateSetting(AudioStreamingInterface *Interface, ULONG Channels, ULONG Bits,
                                  ULONG Rate, PULONG OutChannels, PULONG OutBits,
                                  PULONG OutAlternateSetting);
    // Whether the interface has an alternate setting that streams PCM.
    BOOLEAN HasPcmSetting(const AudioStreamingInterface *Interface) const;
    // Checks a format for a direction without selecting anything.
    NTSTATUS SelectFormatForDirection(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate);
    // Selects the format (all-zero: alternate setting 0) and computes the packet geometry.
    // TransferMs is the audio per transfer in milliseconds.
    NTSTATUS SelectStreamingFormat(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate,
                                   ULONG TransferMs, PULONG OutChannels, PULONG OutBits,
                                   PULONG OutTransferBytes);
    // The same for a render clock that follows the capture stream (implicit feedback): no rate
    // pattern, and the deviation a transfer may have from the nominal size.
    NTSTATUS SelectStreamingFormatImplicit(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate,
                                           ULONG TransferMs, PULONG OutChannels, PULONG OutBits,
                                           PULONG OutNominalTransferBytes,
                                           PLONG OutFramesBelowNominal, PLONG OutFramesAboveNominal,
                                           PULONG OutTransferBytes);

    // ---- Isochronous streaming ------------------------------------------------------------------

    // A capture transfer on the capture data pipe (see SubmitTransfer).
    NTSTATUS SubmitCaptureTransfer(PVOID Buffer, ULONG Length, PUSB_TRANSFER_CALLBACK Callback,
                                   PVOID Context, ULONG StartFrame);
    // Bytes of one feedback read: 4 ms of the render feedback pipe's packets; 0 without one.
    ULONG GetFeedbackTransferBytes() const;
    // Reads the render feedback pipe; Callback gets the status and the packets' averaged 16.16
    // value (0 when none was usable). <= DISPATCH_LEVEL.
    NTSTATUS RecvFeedback(PVOID Buffer, ULONG Length, PUSB_TRANSFER_CALLBACK Callback,
                          PVOID Context);
    static NTSTATUS _RecvFeedbackCompletionRoutine(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                                   PVOID Context);
    // Starts render packet sizing over from Nominal after the pipes were reset: no fraction
    // carried, the latest value nominal, the current one taken afresh by the next transfer.
    void ResynchronizeFeedback(ULONG Nominal);
    // Aborts the render data pipe and its feedback pipe, both sent before waiting for either.
    // PASSIVE_LEVEL.
    NTSTATUS RenderPipeAbort();
    static NTSTATUS StreamOutPipeAbortCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp,
                                                 PVOID Context);

    // ---- Render packet scheduling (usb_render_scheduling.cpp) ----------------------------------

    // Device bytes of the next render transfer of RenderTransferMs milliseconds: from the 16.16
    // Feedback and the accumulator with a feedback pipe, from the rate pattern without.
    ULONG GetRenderTransferBytes(ULONG Feedback) const;
    // Sends Length bytes described by Mdl as one isochronous OUT transfer, packets sized for the
    // render clock (explicit feedback, rate pattern or implicit feedback).
    NTSTATUS SubmitRenderTransfer(PMDL Mdl, ULONG Length, PUSB_TRANSFER_CALLBACK Callback,
                                  PVOID Context);
    // The render clock follows the capture stream: the capture interface's alternate setting 1
    // has an implicit feedback data endpoint.
    BOOLEAN RenderFollowsCapture() const;

    // Milliseconds of audio per render transfer (render frames per transfer).
    ULONG RenderTransferMs = 4;

    // ---- Audio function model (driver/function) ------------------------------------------------
    // Owned by the function model's authors; the declarations below are theirs to extend.

    CUSBAudioEntity *FindEntity(UCHAR Id) const;
    // Sets DsdCapable when the audio control interface's string holds "[DSD]".
    NTSTATUS DetectDsdSupport();
    NTSTATUS ParseEntities();
    // Frees the streaming-interface records (with their alternate settings and data ranges) and
    // the entities; called by the destructor.
    void FreeFunctionModel();

    // Steps of Initialize after CUSBCL's part, in this order (EnumerateStreamingInterfaces and
    // BuildDataRanges between the last two).
    NTSTATUS FindAudioControlInterface();
    NTSTATUS ParseClassSpecificHeader();
    NTSTATUS LinkEntities();
    // Each streaming interface's terminal, then RenderInterface and CaptureInterface.
    NTSTATUS LinkStreamingInterfaces();

    // Helpers of the parse.
    // The interface class of this device's audio interfaces: audio, or the vendor class.
    UCHAR GetAudioInterfaceClass() const;
    // wTotalLength of the class-specific header: the header and the entity descriptors.
    ULONG GetClassSpecificLength() const;
    // The next interface descriptor after Descriptor, or the end of the configuration.
    PUCHAR GetNextInterface(PVOID Descriptor) const;
    PUSB_INTERFACE_DESCRIPTOR FindStreamingAlternate(UCHAR InterfaceNumber,
                                                     ULONG AlternateSetting) const;
    NTSTATUS DescribeAlternateSetting(PUSB_INTERFACE_DESCRIPTOR Setting,
                                      AlternateSettingInfo *Info) const;
    void FreeStreamingInterfaces();
    void FreeEntities();

    // Data ranges and the filter description.
    NTSTATUS BuildDataRanges(AudioStreamingInterface *Interface);
    NTSTATUS BuildFilter(PPCFILTER_DESCRIPTOR Filter);
    // The KS node type of a USB terminal type, or null.
    static const GUID *GetKsNodeTypeForTerminal(USHORT TerminalType);

    // ---- End of the audio function model section -----------------------------------------------

    // State of the audio function model.
    BOOLEAN IsAudioClass2;
    BOOLEAN DsdCapable;
    PUSB_INTERFACE_DESCRIPTOR AudioControlInterface;
    PUCHAR ClassSpecificHeader;
    CUSBAudioEntity *EntityList;                     // owned, descriptor order
    AudioStreamingInterface *StreamingInterfaceList; // owned, interface-number order
    ULONG StreamingInterfaceCount;
    AudioStreamingInterface *RenderInterface;  // first OUT streaming interface, or null
    AudioStreamingInterface *CaptureInterface; // first IN streaming interface, or null

    // Render packet scheduling state set by format selection.
    const RatePatternEntry *CurrentRatePattern;
    ULONG PatternPosition;
    ULONG RenderServiceInterval; // frames (full speed) or microframes (high speed)

private:
    AudioStreamingInterface *InterfaceFor(ULONG Direction) const;
    // The native DSD vendor request to one interface; the interface remembers an accepted mode.
    NTSTATUS SendDsdModeToInterface(AudioStreamingInterface *Stream, USHORT Value);
    // Selects Setting for a moment and reads the data endpoint's current rate back (Audio Class
    // 1.0 capture); the interface is left in alternate setting 0.
    BOOLEAN ReadsBackClass1Rate(AudioStreamingInterface *Interface, ULONG Setting, ULONG Rate);
    // What both format selections share: the interface, the chosen setting selected with its rate
    // programmed and its pipes resolved, and the stream's geometry computed and stored.
    NTSTATUS ApplyStreamingFormat(ULONG Direction, ULONG Channels, ULONG Bits, ULONG Rate,
                                  BOOLEAN Implicit, AudioStreamingInterface **Stream,
                                  PULONG OutChannels, PULONG OutBits, StreamGeometry *Geometry);
};
