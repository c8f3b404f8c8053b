// CMiniportWaveCyclicUsbAudio: creation, the port-class interfaces (filter description, data
// range intersection, streams, power) and the engine's notification entries.
#include "wave/miniport_wave_cyclic_usb_audio.h"

#include "adapter/adapter_usb_audio.h"
#include "driver_trace.h"
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"

namespace {

// The format DataRangeIntersection produces: the KS header, then a WAVEFORMATEXTENSIBLE.
struct PCM_FORMAT {
    KSDATAFORMAT DataFormat;
    WAVEFORMATEXTENSIBLE WaveFormat;
};
static_assert(sizeof(PCM_FORMAT) == 104, "KSDATAFORMAT and WAVEFORMATEXTENSIBLE, unpadded");

// Size of the WAVEFORMATEXTENSIBLE fields that follow its WAVEFORMATEX.
const USHORT kExtensibleExtraBytes = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);

// An audio range whose fields can be read: the header announces all of KSDATARANGE_AUDIO.
BOOLEAN IsAudioRange(const KSDATARANGE *Range)
{
    return Range != nullptr && Range->FormatSize >= sizeof(KSDATARANGE_AUDIO) &&
                   IsEqualGUIDAligned(Range->MajorFormat, KSDATAFORMAT_TYPE_AUDIO) &&
                   IsEqualGUIDAligned(Range->Specifier, KSDATAFORMAT_SPECIFIER_WAVEFORMATEX)
               ? TRUE
               : FALSE;
}

ULONG Lesser(ULONG A, ULONG B) { return A < B ? A : B; }
ULONG Greater(ULONG A, ULONG B) { return A > B ? A : B; }

} // namespace

// The class id is port class's to choose the miniport by; there is only this one.
NTSTATUS CreateMiniportWaveCyclicUsbAudio(PUNKNOWN *Unknown, REFCLSID, PUNKNOWN UnknownOuter,
                                          POOL_TYPE PoolType)
{
    PAGED_CODE();
    if (Unknown == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    auto miniport = new (PoolType, ADAPTER_POOL_TAG) CMiniportWaveCyclicUsbAudio(UnknownOuter);
    if (miniport == nullptr) {
        *Unknown = nullptr;
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    *Unknown = PUNKNOWN(PMINIPORTWAVECYCLIC(miniport));
    (*Unknown)->AddRef();
    return STATUS_SUCCESS;
}

CMiniportWaveCyclicUsbAudio::CMiniportWaveCyclicUsbAudio(PUNKNOWN UnknownOuter)
    : CUnknown(UnknownOuter), AdapterInterface(nullptr), FilterDescriptor(nullptr),
      PortInterface(nullptr), Group(nullptr), CaptureStream(nullptr), RenderStream(nullptr),
      ToggleFlag(0), PowerState(PowerDeviceD0)
{
    KeInitializeSpinLock(&StreamLock);
}

CMiniportWaveCyclicUsbAudio::~CMiniportWaveCyclicUsbAudio()
{
    PAGED_CODE();
    if (AdapterInterface != nullptr) {
        AdapterInterface->SetMiniport(nullptr);
        AdapterInterface->Release();
    }
    if (Group != nullptr) {
        Group->Release();
    }
    if (PortInterface != nullptr) {
        PortInterface->Release();
    }
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicUsbAudio::NonDelegatingQueryInterface(REFIID Interface, PVOID *Object)
{
    PAGED_CODE();
    if (Object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (IsEqualGUIDAligned(Interface, IID_IUnknown) ||
        IsEqualGUIDAligned(Interface, IID_IMiniportUsbAudioNotify)) {
        *Object = PVOID(PUNKNOWN(static_cast<PMINIPORTUSBAUDIONOTIFY>(this)));
    } else if (IsEqualGUIDAligned(Interface, IID_IMiniport) ||
               IsEqualGUIDAligned(Interface, IID_IMiniportWaveCyclic)) {
        *Object = PVOID(PMINIPORTWAVECYCLIC(this));
    } else if (IsEqualGUIDAligned(Interface, IID_IPowerNotify)) {
        *Object = PVOID(PPOWERNOTIFY(this));
    } else {
        *Object = nullptr;
        return STATUS_INVALID_PARAMETER;
    }
    PUNKNOWN(*Object)->AddRef();
    return STATUS_SUCCESS;
}

// ---- IMiniportWaveCyclic ------------------------------------------------------------------------

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicUsbAudio::Init(PUNKNOWN UnknownAdapter, PRESOURCELIST ResourceList,
                                  PPORTWAVECYCLIC Port)
{
    PAGED_CODE();
    if (UnknownAdapter == nullptr || Port == nullptr || AdapterInterface != nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    PVOID adapter = nullptr;
    NTSTATUS status = UnknownAdapter->QueryInterface(IID_IAdapterUsbAudio, &adapter);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "no adapter interface, status 0x%08lX", status);
        return status;
    }
    PSERVICEGROUP group = nullptr;
    status = PcNewServiceGroup(&group, nullptr);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "no service group, status 0x%08lX", status);
        static_cast<PADAPTERUSBAUDIO>(adapter)->Release();
        return status;
    }
    PortInterface = Port;
    PortInterface->AddRef();
    AdapterInterface = static_cast<PADAPTERUSBAUDIO>(adapter);
    Group = group;
    FilterDescriptor = AdapterInterface->GetFilterDescriptor();
    CaptureStream = nullptr;
    RenderStream = nullptr;
    PowerState = PowerDeviceD0;
    ToggleFlag = 0;
    AdapterInterface->SetMiniport(static_cast<PMINIPORTUSBAUDIONOTIFY>(this));
    // A USB adapter has no hardware resources; port class may pass none at all.
    QuenTrace(TRACE_LEVEL_VERBOSE, "%lu resource(s)",
              ResourceList != nullptr ? ResourceList->NumberOfEntries() : 0);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicUsbAudio::GetDescription(PPCFILTER_DESCRIPTOR *Description)
{
    PAGED_CODE();
    if (Description == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    *Description = FilterDescriptor;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicUsbAudio::DataRangeIntersection(ULONG PinId, PKSDATARANGE DataRange,
                                                   PKSDATARANGE MatchingDataRange,
                                                   ULONG OutputBufferLength, PVOID ResultantFormat,
                                                   PULONG ResultantFormatLength)
{
    PAGED_CODE();
    if (DataRange == nullptr || ResultantFormatLength == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (IsEqualGUIDAligned(DataRange->Specifier, KSDATAFORMAT_SPECIFIER_DSOUND)) {
        return STATUS_NOT_SUPPORTED;
    }
    if (OutputBufferLength == 0 || ResultantFormat == nullptr) {
        *ResultantFormatLength = sizeof(PCM_FORMAT);
        return STATUS_BUFFER_OVERFLOW;
    }
    if (OutputBufferLength < sizeof(PCM_FORMAT)) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    // Only whole audio ranges have the fields read below.
    if (!IsAudioRange(DataRange) || !IsAudioRange(MatchingDataRange)) {
        return STATUS_NO_MATCH;
    }
    auto client = reinterpret_cast<const KSDATARANGE_AUDIO *>(DataRange);
    auto own = reinterpret_cast<const KSDATARANGE_AUDIO *>(MatchingDataRange);
    if (client->MaximumChannels <= 1) {
        return STATUS_NO_MATCH;
    }
    const ULONG channels = Lesser(client->MaximumChannels, own->MaximumChannels);
    ULONG maxRate = Lesser(client->MaximumSampleFrequency, own->MaximumSampleFrequency);
    ULONG minRate = Greater(client->MinimumSampleFrequency, own->MinimumSampleFrequency);
    const ULONG maxBits = Lesser(client->MaximumBitsPerSample, own->MaximumBitsPerSample);
    const ULONG minBits = Greater(client->MinimumBitsPerSample, own->MinimumBitsPerSample);
    if (!NT_SUCCESS(AdapterInterface->GetRateRange(PinId, channels, minBits, maxBits, &minRate,
                                                   &maxRate))) {
        return STATUS_NO_MATCH;
    }
    const ULONG blockAlign = maxBits * channels / 8;
    if (channels == 0 || channels > 0xFFFF || maxRate < minRate || maxRate == 0 ||
        maxBits < minBits || maxBits == 0 || maxBits > 0xFFFF || blockAlign == 0 ||
        blockAlign > 0xFFFF) {
        return STATUS_NO_MATCH;
    }

    PCM_FORMAT format;
    RtlZeroMemory(&format, sizeof(format));
    format.DataFormat = own->DataRange;
    format.DataFormat.FormatSize = sizeof(format);
    format.DataFormat.Flags = 0;
    format.DataFormat.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    format.DataFormat.SampleSize = blockAlign;
    WAVEFORMATEXTENSIBLE &wave = format.WaveFormat;
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = USHORT(channels);
    wave.Format.nSamplesPerSec = maxRate;
    wave.Format.wBitsPerSample = USHORT(maxBits);
    wave.Format.nBlockAlign = USHORT(blockAlign);
    wave.Format.nAvgBytesPerSec = maxRate * blockAlign;
    wave.Format.cbSize = kExtensibleExtraBytes;
    wave.Samples.wValidBitsPerSample = USHORT(maxBits);
    wave.dwChannelMask = channels == 2 ? KSAUDIO_SPEAKER_STEREO : 0;
    wave.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    RtlCopyMemory(ResultantFormat, &format, sizeof(format));
    *ResultantFormatLength = sizeof(format);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CMiniportWaveCyclicUsbAudio::NewStream(PMINIPORTWAVECYCLICSTREAM *Stream, PUNKNOWN OuterUnknown,
                                       POOL_TYPE PoolType, ULONG Pin, BOOLEAN Capture,
                                       PKSDATAFORMAT DataFormat, PDMACHANNEL *DmaChannel,
                                       PSERVICEGROUP *ServiceGroup)
{
    PAGED_CODE();
    if (Stream == nullptr || DmaChannel == nullptr || ServiceGroup == nullptr ||
        AdapterInterface == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // One stream per direction.
    if (SlotOf(Capture) != nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    InterlockedExchange(&ToggleFlag, 0);
    auto stream = new (PoolType, USBA_POOL_TAG) CMiniportWaveCyclicStreamUsbAudio(OuterUnknown);
    if (stream == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    stream->NonDelegatingAddRef();
    NTSTATUS status = stream->Init(this, Pin, Capture, DataFormat);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "%s stream refused, status 0x%08lX",
                  Capture ? "capture" : "render", status);
        stream->NonDelegatingRelease();
        return status;
    }
    KIRQL oldIrql;
    KeAcquireSpinLock(&StreamLock, &oldIrql);
    SlotOf(Capture) = stream;
    KeReleaseSpinLock(&StreamLock, oldIrql);

    *Stream = PMINIPORTWAVECYCLICSTREAM(stream);
    (*Stream)->AddRef();
    *DmaChannel = PDMACHANNEL(stream);
    (*DmaChannel)->AddRef();
    *ServiceGroup = Group;
    Group->AddRef();
    stream->NonDelegatingRelease();
    return STATUS_SUCCESS;
}

void CMiniportWaveCyclicUsbAudio::StreamGone(BOOLEAN Capture,
                                             CMiniportWaveCyclicStreamUsbAudio *Stream)
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&StreamLock, &oldIrql);
    if (SlotOf(Capture) == Stream) {
        SlotOf(Capture) = nullptr;
    }
    KeReleaseSpinLock(&StreamLock, oldIrql);
}

// ---- IPowerNotify -------------------------------------------------------------------------------

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::PowerChangeNotify(POWER_STATE NewState)
{
    const ULONG state = NewState.DeviceState;
    if (state == PowerState) {
        return;
    }
    if (state >= PowerDeviceD0 && state <= PowerDeviceD3) {
        PowerState = state;
    } else {
        QuenTrace(TRACE_LEVEL_WARNING, "unknown power state %lu", state);
    }
}

// ---- IMiniportUsbAudioNotify --------------------------------------------------------------------

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::NotifyStream(BOOLEAN Capture)
{
    if (Capture) {
        CMiniportWaveCyclicStreamUsbAudio *capture = CaptureStream;
        if (capture != nullptr) {
            capture->TimingNotification();
        }
        return;
    }
    CMiniportWaveCyclicStreamUsbAudio *render = RenderStream;
    if (render == nullptr) {
        return;
    }
    if (render->IsAsioMode()) {
        // In duplex the capture stream paces the host, which fills the output half of the index
        // it was given for input; render takes its index from capture so that its flip at
        // output-ready lands on that half.
        KIRQL oldIrql;
        KeAcquireSpinLock(&StreamLock, &oldIrql);
        CMiniportWaveCyclicStreamUsbAudio *capture = CaptureStream;
        if (capture != nullptr && capture->IsAsioMode()) {
            render->SetAsioHalf(capture->AsioHalf());
        }
        KeReleaseSpinLock(&StreamLock, oldIrql);
    }
    render->TimingNotification();
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::SetRenderPosition(PUCHAR Position)
{
    CMiniportWaveCyclicStreamUsbAudio *render = RenderStream;
    if (render != nullptr && Position != nullptr) {
        render->SetEnginePosition(Position);
    }
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::SetCapturePosition(PUCHAR Position)
{
    CMiniportWaveCyclicStreamUsbAudio *capture = CaptureStream;
    if (capture != nullptr && Position != nullptr) {
        capture->SetEnginePosition(Position);
    }
}

// The engine played silence because the render queue was dry. The position stays: it is the
// next byte the device takes, and no byte of the cyclic buffer was taken. Moving it on, as a
// hardware pointer would, races with port class writing at the position it read a moment
// before: the data it then queues lies behind the position, the engine still plays it, and the
// port, seeing the position go back, writes over data not yet played.
STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::AdvanceRenderPosition(ULONG Bytes)
{
    QuenTrace(TRACE_LEVEL_VERBOSE, "%lu bytes of silence played", Bytes);
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::ClearBuffer(BOOLEAN Capture)
{
    CMiniportWaveCyclicStreamUsbAudio *stream = SlotOf(Capture);
    if (stream != nullptr) {
        stream->ClearRing();
    }
}

STDMETHODIMP_(BOOLEAN) CMiniportWaveCyclicUsbAudio::IsAsioMode(BOOLEAN Capture)
{
    CMiniportWaveCyclicStreamUsbAudio *stream = SlotOf(Capture);
    return stream != nullptr && stream->IsAsioMode() ? TRUE : FALSE;
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::BufferToggle()
{
    // Called by the capture path too: the render stream and its event are looked at under the
    // stream lock, which the render stream's destructor takes before the event goes.
    KIRQL oldIrql;
    KeAcquireSpinLock(&StreamLock, &oldIrql);
    CMiniportWaveCyclicStreamUsbAudio *render = RenderStream;
    PKEVENT event = render != nullptr ? render->AsioEvent() : nullptr;
    if (event != nullptr && InterlockedExchange(&ToggleFlag, 1) != 0) {
        // The host has not reported the last half yet: it is signalled once.
        KeReleaseSpinLock(&StreamLock, oldIrql);
        return;
    }
    AdapterInterface->BufferToggle();
    if (event != nullptr) {
        KeSetEvent(event, IO_SOUND_INCREMENT, FALSE);
    }
    KeReleaseSpinLock(&StreamLock, oldIrql);
}

PKEVENT CMiniportWaveCyclicUsbAudio::ExchangeStreamEvent(CMiniportWaveCyclicStreamUsbAudio *Stream,
                                                         PKEVENT Event)
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&StreamLock, &oldIrql);
    PKEVENT old = Stream->SwapAsioEvent(Event);
    KeReleaseSpinLock(&StreamLock, oldIrql);
    return old;
}

// The pending toggle is cleared by the render stream when it takes the reported half in, not
// here: cleared here, a notification already past its output-ready check could signal the host
// again before the half it has just filled is flipped in, and the host would fill it twice.
STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::OutputReady() { AdapterInterface->OutputReady(); }

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::Silence(BOOLEAN Capture, PVOID Buffer, ULONG Bytes)
{
    CMiniportWaveCyclicStreamUsbAudio *stream = SlotOf(Capture);
    if (stream != nullptr) {
        stream->Silence(Buffer, Bytes);
    }
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::OutputDelay(ULONG Milliseconds)
{
    AdapterInterface->OutputDelay(Milliseconds);
}

STDMETHODIMP_(void) CMiniportWaveCyclicUsbAudio::SetStreamError(BOOLEAN Capture, NTSTATUS Status)
{
    // Under the stream lock: the stream's event must not go while it is set.
    KIRQL oldIrql;
    KeAcquireSpinLock(&StreamLock, &oldIrql);
    CMiniportWaveCyclicStreamUsbAudio *stream = SlotOf(Capture);
    if (stream != nullptr) {
        stream->SetStreamError(Status);
    }
    KeReleaseSpinLock(&StreamLock, oldIrql);
}
