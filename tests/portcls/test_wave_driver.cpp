#include "test_wave_driver.h"

#include "ks_client.h"

#include <ks.h>
#include <ksmedia.h>

#include <algorithm>
#include <cstring>

namespace portcls_tests {

namespace {

constexpr ULONG kTag = 'tseT'; // "Test"
TestLog *currentLog = nullptr;
PDRIVER_UNLOAD portClassUnload = nullptr;

std::string Text(const char *what, long value) { return what + std::to_string(value); }

// ---------------------------------------------------------------------------------------------
// The stream: its own cyclic buffer (IDmaChannel), and the device behind it

class CTestStream : public IMiniportWaveCyclicStream, public IDmaChannel, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    CTestStream(PUNKNOWN outer, PPORTWAVECYCLIC port, PSERVICEGROUP group, ULONG pin, bool capture)
        : CUnknown(outer), port_(port), group_(group), pin_(pin), capture_(capture)
    {
        KeInitializeTimer(&timer_);
        KeInitializeDpc(&dpc_, Tick, this);
        KeInitializeSpinLock(&lock_);
    }
    ~CTestStream() override
    {
        KeCancelTimer(&timer_);
        KeFlushQueuedDpcs();
        if (buffer_ != nullptr)
            ExFreePoolWithTag(buffer_, kTag);
    }
    IMP_IMiniportWaveCyclicStream;
    IMP_IDmaChannel;

    NTSTATUS Init(PKSDATAFORMAT format)
    {
        NTSTATUS status = SetFormat(format);
        return NT_SUCCESS(status) ? AllocateBuffer(kBufferBytes, nullptr) : status;
    }

private:
    static void Tick(PKDPC, PVOID context, PVOID, PVOID)
    {
        static_cast<CTestStream *>(context)->Advance();
    }
    // One period of the device: it takes (render) or gives (capture) 10 ms of bytes at its
    // position, moves the position on, and interrupts.
    void Advance()
    {
        KeAcquireSpinLockAtDpcLevel(&lock_);
        const ULONG bytes = perTick_;
        for (ULONG i = 0; i < bytes; ++i) {
            PUCHAR at = buffer_ + (position_ + i) % size_;
            if (capture_)
                *at = CaptureByte(Log().captured + i);
        }
        {
            std::lock_guard<std::mutex> guard(Log().lock);
            if (capture_)
                Log().captured += bytes;
            else
                for (ULONG i = 0; i < bytes; ++i)
                    Log().played.push_back(buffer_[(position_ + i) % size_]);
        }
        position_ = (position_ + bytes) % size_;
        KeReleaseSpinLockFromDpcLevel(&lock_);
        port_->Notify(group_);
    }

    PPORTWAVECYCLIC port_;
    PSERVICEGROUP group_;
    const ULONG pin_;
    const bool capture_;
    KTIMER timer_;
    KDPC dpc_;
    KSPIN_LOCK lock_;
    KSSTATE state_ = KSSTATE_STOP;
    PUCHAR buffer_ = nullptr;
    ULONG size_ = 0;
    ULONG position_ = 0;
    ULONG perTick_ = 0;
    bool insideCopy_ = false;
};

STDMETHODIMP_(NTSTATUS) CTestStream::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IUnknown) ||
        IsEqualGUIDAligned(iid, IID_IMiniportWaveCyclicStream))
        *object = PVOID(PMINIPORTWAVECYCLICSTREAM(this));
    else if (IsEqualGUIDAligned(iid, IID_IDmaChannel))
        *object = PVOID(PDMACHANNEL(this));
    else
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    PUNKNOWN(*object)->AddRef();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CTestStream::SetFormat(PKSDATAFORMAT DataFormat)
{
    auto wave = &reinterpret_cast<PKSDATAFORMAT_WAVEFORMATEX>(DataFormat)->WaveFormatEx;
    if (state_ == KSSTATE_RUN || wave->nBlockAlign == 0)
        return STATUS_INVALID_DEVICE_REQUEST;
    perTick_ = wave->nSamplesPerSec / 100 * wave->nBlockAlign;
    Log().Event(Text("stream format ", long(wave->nSamplesPerSec)));
    return STATUS_SUCCESS;
}

STDMETHODIMP_(ULONG) CTestStream::SetNotificationFreq(ULONG Interval, PULONG FrameSize)
{
    Log().Event(Text("notification ms ", long(Interval)));
    *FrameSize = perTick_;
    return Interval;
}

// Like a real stream, only neighbouring states: the port must walk the steps.
STDMETHODIMP_(NTSTATUS) CTestStream::SetState(KSSTATE State)
{
    if (State != state_ + 1 && State != state_ - 1)
        return STATUS_INVALID_PARAMETER;
    Log().Event(Text(capture_ ? "capture state " : "render state ", long(State)));
    if (State == KSSTATE_RUN) {
        LARGE_INTEGER due;
        due.QuadPart = -100000; // 10 ms
        KeSetTimerEx(&timer_, due, 10, &dpc_);
    } else if (state_ == KSSTATE_RUN) {
        KeCancelTimer(&timer_);
        KeFlushQueuedDpcs();
    }
    if (State == KSSTATE_STOP)
        position_ = 0;
    state_ = State;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CTestStream::GetPosition(PULONG Position)
{
    if (insideCopy_) {
        std::lock_guard<std::mutex> guard(Log().lock);
        ++Log().nestedServicePasses;
    }
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    *Position = position_;
    KeReleaseSpinLock(&lock_, irql);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CTestStream::NormalizePhysicalPosition(PLONGLONG PhysicalPosition)
{
    *PhysicalPosition = *PhysicalPosition * 10000000 / (perTick_ * 100);
    return STATUS_SUCCESS;
}

STDMETHODIMP_(void) CTestStream::Silence(PVOID Buffer, ULONG ByteCount)
{
    std::memset(Buffer, 0, ByteCount);
}

STDMETHODIMP_(NTSTATUS) CTestStream::AllocateBuffer(ULONG BufferSize, PPHYSICAL_ADDRESS)
{
    buffer_ = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPoolNx, BufferSize, kTag));
    size_ = buffer_ != nullptr ? BufferSize : 0;
    return buffer_ != nullptr ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
}

STDMETHODIMP_(void) CTestStream::FreeBuffer() {}
STDMETHODIMP_(ULONG) CTestStream::TransferCount() { return size_; }
STDMETHODIMP_(ULONG) CTestStream::MaximumBufferSize() { return size_; }
STDMETHODIMP_(ULONG) CTestStream::AllocatedBufferSize() { return size_; }
STDMETHODIMP_(ULONG) CTestStream::BufferSize() { return size_; }
STDMETHODIMP_(void) CTestStream::SetBufferSize(ULONG) {}
STDMETHODIMP_(PVOID) CTestStream::SystemAddress() { return buffer_; }

STDMETHODIMP_(PHYSICAL_ADDRESS) CTestStream::PhysicalAddress()
{
    PHYSICAL_ADDRESS address;
    address.QuadPart = LONGLONG(ULONG_PTR(buffer_));
    return address;
}

STDMETHODIMP_(PADAPTER_OBJECT) CTestStream::GetAdapterObject() { return nullptr; }

STDMETHODIMP_(void) CTestStream::CopyTo(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    std::memcpy(Destination, Source, ByteCount);
    if (Log().notifyFromCopyTo && state_ == KSSTATE_RUN) {
        insideCopy_ = true;
        port_->Notify(group_); // a USB miniport asks for more data from inside CopyTo
        insideCopy_ = false;
    }
}

STDMETHODIMP_(void) CTestStream::CopyFrom(PVOID Destination, PVOID Source, ULONG ByteCount)
{
    std::memcpy(Destination, Source, ByteCount);
}

// ---------------------------------------------------------------------------------------------
// The miniport: its filter description, properties and streams

NTSTATUS NTAPI VolumeHandler(PPCPROPERTY_REQUEST request);
NTSTATUS NTAPI MuteHandler(PPCPROPERTY_REQUEST request);
NTSTATUS NTAPI ComponentIdHandler(PPCPROPERTY_REQUEST request);

const PCPROPERTY_ITEM kVolumeProperties[] = {
    {&KSPROPSETID_Audio, KSPROPERTY_AUDIO_VOLUMELEVEL,
     KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT, VolumeHandler}};
const PCPROPERTY_ITEM kMuteProperties[] = {{&KSPROPSETID_Audio, KSPROPERTY_AUDIO_MUTE,
                                            KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET,
                                            MuteHandler}};
const PCPROPERTY_ITEM kFilterProperties[] = {{&KSPROPSETID_General, KSPROPERTY_GENERAL_COMPONENTID,
                                              KSPROPERTY_TYPE_GET, ComponentIdHandler}};
DEFINE_PCAUTOMATION_TABLE_PROP(kVolumeTable, kVolumeProperties);
DEFINE_PCAUTOMATION_TABLE_PROP(kMuteTable, kMuteProperties);
DEFINE_PCAUTOMATION_TABLE_PROP(kFilterTable, kFilterProperties);

KSDATARANGE_AUDIO MakeRange()
{
    KSDATARANGE_AUDIO range;
    std::vector<UCHAR> bytes = sim::PcmRange(kMaxChannels, kMinBits, kMaxBits, kMinRate, kMaxRate);
    std::memcpy(&range, bytes.data(), sizeof range);
    return range;
}

KSDATARANGE MakeAnalogRange()
{
    KSDATARANGE range = {};
    range.FormatSize = sizeof range;
    range.MajorFormat = KSDATAFORMAT_TYPE_AUDIO;
    range.SubFormat = KSDATAFORMAT_SUBTYPE_ANALOG;
    range.Specifier = KSDATAFORMAT_SPECIFIER_NONE;
    return range;
}

KSDATARANGE_AUDIO pcmRange = MakeRange();
KSDATARANGE analogRange = MakeAnalogRange();
PKSDATARANGE pcmRanges[] = {&pcmRange.DataRange};
PKSDATARANGE analogRanges[] = {&analogRange};

PCPIN_DESCRIPTOR MakePin(KSPIN_DATAFLOW flow, bool streaming, const GUID *category)
{
    PCPIN_DESCRIPTOR pin = {};
    pin.MaxGlobalInstanceCount = streaming ? 1 : 0;
    pin.MaxFilterInstanceCount = streaming ? 1 : 0;
    pin.KsPinDescriptor.DataRangesCount = 1;
    pin.KsPinDescriptor.DataRanges = streaming ? pcmRanges : analogRanges;
    pin.KsPinDescriptor.DataFlow = flow;
    pin.KsPinDescriptor.Communication =
        streaming ? KSPIN_COMMUNICATION_SINK : KSPIN_COMMUNICATION_NONE;
    pin.KsPinDescriptor.Category = category;
    return pin;
}

const PCPIN_DESCRIPTOR kPins[kPinCount] = {
    MakePin(KSPIN_DATAFLOW_IN, true, &KSCATEGORY_AUDIO),
    MakePin(KSPIN_DATAFLOW_OUT, false, &KSNODETYPE_SPEAKER),
    MakePin(KSPIN_DATAFLOW_IN, false, &KSNODETYPE_MICROPHONE),
    MakePin(KSPIN_DATAFLOW_OUT, true, &KSCATEGORY_AUDIO),
};
const PCNODE_DESCRIPTOR kNodes[kNodeCount] = {
    {0, &kVolumeTable, &KSNODETYPE_VOLUME, nullptr},
    {0, &kMuteTable, &KSNODETYPE_MUTE, nullptr},
};
// render: [pin 0] -> (volume) -> (mute) -> [pin 1]; capture: [pin 2] -> [pin 3]
const PCCONNECTION_DESCRIPTOR kConnections[] = {
    {PCFILTER_NODE, kRenderPin, kVolumeNode, 1},
    {kVolumeNode, 0, kMuteNode, 1},
    {kMuteNode, 0, PCFILTER_NODE, kSpeakerPin},
    {PCFILTER_NODE, kMicrophonePin, PCFILTER_NODE, kCapturePin},
};
PCFILTER_DESCRIPTOR filterDescriptor = {0,
                                        &kFilterTable,
                                        sizeof(PCPIN_DESCRIPTOR),
                                        kPinCount,
                                        kPins,
                                        sizeof(PCNODE_DESCRIPTOR),
                                        kNodeCount,
                                        kNodes,
                                        SIZEOF_ARRAY(kConnections),
                                        kConnections,
                                        0,
                                        nullptr};

class CTestMiniport : public IMiniportWaveCyclic, public IPowerNotify, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(CTestMiniport);
    ~CTestMiniport() override
    {
        if (group_ != nullptr)
            group_->Release();
        if (port_ != nullptr)
            port_->Release();
    }
    IMP_IMiniportWaveCyclic;
    STDMETHODIMP_(void) PowerChangeNotify(POWER_STATE PowerState)
    {
        Log().Event(Text("miniport D", long(PowerState.DeviceState) - 1));
    }

private:
    PPORTWAVECYCLIC port_ = nullptr;
    PSERVICEGROUP group_ = nullptr;
};

STDMETHODIMP_(NTSTATUS) CTestMiniport::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IUnknown) || IsEqualGUIDAligned(iid, IID_IMiniport) ||
        IsEqualGUIDAligned(iid, IID_IMiniportWaveCyclic))
        *object = PVOID(PMINIPORTWAVECYCLIC(this));
    else if (IsEqualGUIDAligned(iid, IID_IPowerNotify))
        *object = PVOID(PPOWERNOTIFY(this));
    else
        return CUnknown::NonDelegatingQueryInterface(iid, object);
    PUNKNOWN(*object)->AddRef();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CTestMiniport::Init(PUNKNOWN, PRESOURCELIST, PPORTWAVECYCLIC Port)
{
    port_ = Port;
    port_->AddRef();
    return PcNewServiceGroup(&group_, nullptr);
}

STDMETHODIMP_(NTSTATUS) CTestMiniport::GetDescription(PPCFILTER_DESCRIPTOR *Description)
{
    *Description = &filterDescriptor;
    return STATUS_SUCCESS;
}

// The highest rate and widest sample both ranges allow, as a WAVEFORMATEX format.
STDMETHODIMP_(NTSTATUS)
CTestMiniport::DataRangeIntersection(ULONG, PKSDATARANGE DataRange, PKSDATARANGE,
                                     ULONG OutputBufferLength, PVOID ResultantFormat,
                                     PULONG ResultantFormatLength)
{
    if (DataRange->FormatSize < sizeof(KSDATARANGE_AUDIO))
        return STATUS_NO_MATCH;
    auto client = reinterpret_cast<PKSDATARANGE_AUDIO>(DataRange);
    *ResultantFormatLength = sizeof(KSDATAFORMAT_WAVEFORMATEX);
    if (OutputBufferLength == 0)
        return STATUS_BUFFER_OVERFLOW;
    if (OutputBufferLength < sizeof(KSDATAFORMAT_WAVEFORMATEX))
        return STATUS_BUFFER_TOO_SMALL;
    const ULONG rate = std::min(client->MaximumSampleFrequency, kMaxRate);
    const ULONG bits = std::min(client->MaximumBitsPerSample, kMaxBits);
    const ULONG channels = std::min(client->MaximumChannels, kMaxChannels);
    if (rate < std::max(client->MinimumSampleFrequency, kMinRate) ||
        bits < std::max(client->MinimumBitsPerSample, kMinBits) || channels == 0)
        return STATUS_NO_MATCH;
    auto format = static_cast<PKSDATAFORMAT_WAVEFORMATEX>(ResultantFormat);
    std::memset(format, 0, sizeof *format);
    format->DataFormat = pcmRange.DataRange;
    format->DataFormat.FormatSize = sizeof *format;
    format->WaveFormatEx.wFormatTag = WAVE_FORMAT_PCM;
    format->WaveFormatEx.nChannels = USHORT(channels);
    format->WaveFormatEx.nSamplesPerSec = rate;
    format->WaveFormatEx.wBitsPerSample = USHORT(bits);
    format->WaveFormatEx.nBlockAlign = USHORT(channels * bits / 8);
    format->WaveFormatEx.nAvgBytesPerSec = rate * format->WaveFormatEx.nBlockAlign;
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CTestMiniport::NewStream(PMINIPORTWAVECYCLICSTREAM *Stream, PUNKNOWN OuterUnknown,
                         POOL_TYPE PoolType, ULONG Pin, BOOLEAN Capture, PKSDATAFORMAT DataFormat,
                         PDMACHANNEL *DmaChannel, PSERVICEGROUP *ServiceGroup)
{
    auto stream = new (PoolType, kTag) CTestStream(OuterUnknown, port_, group_, Pin, Capture);
    if (stream == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    stream->NonDelegatingAddRef();
    NTSTATUS status = stream->Init(DataFormat);
    if (!NT_SUCCESS(status)) {
        stream->NonDelegatingRelease();
        return status;
    }
    Log().Event(Text("new stream ", long(Pin)));
    if (Log().leakStreamReference)
        stream->AddRef();
    *Stream = stream;
    *DmaChannel = stream;
    stream->AddRef();
    *ServiceGroup = group_;
    group_->AddRef();
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI VolumeHandler(PPCPROPERTY_REQUEST request)
{
    if (request->Verb & KSPROPERTY_TYPE_BASICSUPPORT) {
        if (request->ValueSize < sizeof(KSPROPERTY_DESCRIPTION))
            return STATUS_BUFFER_TOO_SMALL;
        auto description = static_cast<PKSPROPERTY_DESCRIPTION>(request->Value);
        *description = {};
        description->AccessFlags =
            KSPROPERTY_TYPE_GET | KSPROPERTY_TYPE_SET | KSPROPERTY_TYPE_BASICSUPPORT;
        description->DescriptionSize = sizeof *description;
        request->ValueSize = sizeof *description;
        return STATUS_SUCCESS;
    }
    if (request->InstanceSize < sizeof(LONG))
        return STATUS_INVALID_PARAMETER;
    const LONG channel = *static_cast<PLONG>(request->Instance);
    if (channel < 0 || channel >= LONG(kMaxChannels))
        return STATUS_INVALID_PARAMETER;
    if (request->ValueSize == 0) {
        request->ValueSize = sizeof(LONG);
        return STATUS_BUFFER_OVERFLOW;
    }
    if (request->ValueSize < sizeof(LONG))
        return STATUS_BUFFER_TOO_SMALL;
    std::lock_guard<std::mutex> guard(Log().lock);
    if (request->Verb & KSPROPERTY_TYPE_GET)
        *static_cast<PLONG>(request->Value) = Log().volume[channel];
    else
        Log().volume[channel] = *static_cast<PLONG>(request->Value);
    request->ValueSize = sizeof(LONG);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI MuteHandler(PPCPROPERTY_REQUEST request)
{
    if (request->ValueSize < sizeof(BOOL))
        return STATUS_BUFFER_TOO_SMALL;
    std::lock_guard<std::mutex> guard(Log().lock);
    if (request->Verb & KSPROPERTY_TYPE_GET)
        *static_cast<PBOOL>(request->Value) = Log().mute;
    else
        Log().mute = *static_cast<PBOOL>(request->Value);
    request->ValueSize = sizeof(BOOL);
    return STATUS_SUCCESS;
}

NTSTATUS NTAPI ComponentIdHandler(PPCPROPERTY_REQUEST request)
{
    if (request->ValueSize == 0) {
        request->ValueSize = sizeof(KSCOMPONENTID);
        return STATUS_BUFFER_OVERFLOW;
    }
    if (request->ValueSize < sizeof(KSCOMPONENTID))
        return STATUS_BUFFER_TOO_SMALL;
    auto id = static_cast<PKSCOMPONENTID>(request->Value);
    *id = {};
    id->Version = 7;
    request->ValueSize = sizeof(KSCOMPONENTID);
    return STATUS_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// The adapter and the driver's routines

class CTestAdapter : public IAdapterPowerManagement, public CUnknown {
public:
    DECLARE_STD_UNKNOWN();
    DEFINE_STD_CONSTRUCTOR(CTestAdapter);
    IMP_IAdapterPowerManagement;
};

STDMETHODIMP_(NTSTATUS) CTestAdapter::NonDelegatingQueryInterface(REFIID iid, PVOID *object)
{
    if (IsEqualGUIDAligned(iid, IID_IAdapterPowerManagement)) {
        *object = PVOID(PADAPTERPOWERMANAGEMENT(this));
        PUNKNOWN(*object)->AddRef();
        return STATUS_SUCCESS;
    }
    return CUnknown::NonDelegatingQueryInterface(iid, object);
}

STDMETHODIMP_(void) CTestAdapter::PowerChangeState(POWER_STATE NewState)
{
    Log().Event(Text("adapter D", long(NewState.DeviceState) - 1));
}

STDMETHODIMP_(NTSTATUS) CTestAdapter::QueryPowerChangeState(POWER_STATE NewStateQuery)
{
    Log().Event(Text("adapter query D", long(NewStateQuery.DeviceState) - 1));
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS) CTestAdapter::QueryDeviceCapabilities(PDEVICE_CAPABILITIES)
{
    Log().Event("adapter capabilities");
    return STATUS_SUCCESS;
}

NTSTATUS InstallWave(PDEVICE_OBJECT device, PIRP irp, PUNKNOWN adapter, PRESOURCELIST resources)
{
    PPORT port = nullptr;
    NTSTATUS status = PcNewPort(&port, CLSID_PortWaveCyclic);
    if (!NT_SUCCESS(status))
        return status;
    auto miniport = new (NonPagedPoolNx, kTag) CTestMiniport(nullptr);
    if (miniport == nullptr) {
        port->Release();
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    miniport->NonDelegatingAddRef();
    status = port->Init(device, irp, PUNKNOWN(PMINIPORTWAVECYCLIC(miniport)), adapter, resources);
    if (NT_SUCCESS(status))
        status = PcRegisterSubdevice(device, const_cast<PWCHAR>(L"Wave"), port);
    miniport->NonDelegatingRelease();
    port->Release();
    return status;
}

NTSTATUS StartDevice(PDEVICE_OBJECT device, PIRP irp, PRESOURCELIST resources)
{
    {
        std::lock_guard<std::mutex> guard(Log().lock);
        ++Log().starts;
    }
    auto adapter = new (NonPagedPoolNx, kTag) CTestAdapter(nullptr);
    if (adapter == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    adapter->NonDelegatingAddRef();
    PUNKNOWN unknown = PUNKNOWN(PADAPTERPOWERMANAGEMENT(adapter));
    NTSTATUS status = PcRegisterAdapterPowerManagement(unknown, device);
    if (NT_SUCCESS(status))
        status = InstallWave(device, irp, unknown, resources);
    adapter->NonDelegatingRelease();
    return NT_SUCCESS(status) ? Log().failStart : status;
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    return PcAddAdapterDevice(driver, pdo, StartDevice, 1, 0);
}

void Unload(PDRIVER_OBJECT driver)
{
    Log().Event("unload");
    portClassUnload(driver);
}

} // namespace

void TestLog::Event(const std::string &event)
{
    std::lock_guard<std::mutex> guard(lock);
    events.push_back(event);
}

std::vector<std::string> TestLog::TakeEvents()
{
    std::lock_guard<std::mutex> guard(lock);
    std::vector<std::string> taken;
    taken.swap(events);
    return taken;
}

TestLog &Log() { return *currentLog; }
void SetLog(TestLog *log) { currentLog = log; }

UCHAR CaptureByte(ULONGLONG i) { return UCHAR((i * 131) ^ (i >> 8)); }

NTSTATUS TestWaveDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath)
{
    NTSTATUS status = PcInitializeAdapterDriver(driver, registryPath, AddDevice);
    portClassUnload = driver->DriverUnload;
    driver->DriverUnload = Unload;
    return status;
}

} // namespace portcls_tests
