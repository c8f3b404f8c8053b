// CAdapterUsbAudio: construction and destruction, the COM interfaces, device start and the
// questions the miniport asks about the device's formats and rates.
#include "quen_driver_platform.h"

// The adapter's and the miniport's interface ids live here.
#include <initguid.h>
#include "adapter/adapter_usb_audio_interface.h"

#include "adapter/adapter_usb_audio.h"
#include "driver_trace.h"
#include "function/audio_streaming_interface.h"
#include "function/usb_audio_clock_entity.h"
#include "function/usb_audio_descriptors.h"
#include "function/usb_audio_filter.h"
#include "function/usb_audio_terminal.h"

namespace {

const WCHAR kDsdNativeModeValue[] = L"DSDNativeModeSupported";

// The device's USB layer may still complete requests after the threads are gone; the
// destructor waits for them in steps of this length, tracing each step.
const LONGLONG kDrainStepMs = 1000;

// The USB streaming terminal of the pin's signal chain, or null.
CUSBAudioTerminal *StreamingTerminalOfChain(const UsbAudioFilterElement *Element)
{
    while (Element->Previous != nullptr) {
        Element = Element->Previous;
    }
    for (; Element != nullptr; Element = Element->Next) {
        CUSBAudioEntity *entity = Element->Entity;
        if (entity == nullptr || !entity->IsTerminal()) {
            continue;
        }
        auto terminal = static_cast<CUSBAudioTerminal *>(entity);
        if (terminal->GetTerminalType() == USB_AUDIO_TERMINAL_TYPE_USB_STREAMING) {
            return terminal;
        }
    }
    return nullptr;
}

} // namespace

CAdapterUsbAudio::CAdapterUsbAudio(PUNKNOWN UnknownOuter)
    : CUnknown(UnknownOuter), DeviceObject(nullptr), Miniport(nullptr), PowerState(PowerDeviceD0),
      FilterDescriptor(), NativeDsdSupported(FALSE), RenderSubmitter(nullptr),
      RenderTransferCount(0), RenderSlotCount(0), RenderQueuedBytes(0), FeedbackErrorCount(0),
      FeedbackFallback(0), AccumulatedCaptureFrames(0), CaptureNextStartFrame(0),
      CaptureRestart(TRUE), LastToggleCounter(0), LastReadyCounter(0), ToggleFrame(0),
      ReadyFrame(0), OutputDelayFrames(128)
{
    // Everything the destructor touches exists from here on, whatever Init does.
    for (ADAPTER_STREAM &stream : Streams) {
        RtlZeroMemory(&stream, sizeof(stream));
        KeInitializeEvent(&stream.StopEvent, NotificationEvent, TRUE);
        KeInitializeEvent(&stream.RunEvent, NotificationEvent, FALSE);
        KeInitializeEvent(&stream.ResetEvent, NotificationEvent, FALSE);
        KeInitializeEvent(&stream.IdleEvent, NotificationEvent, TRUE);
        KeInitializeEvent(&stream.ExitEvent, NotificationEvent, TRUE);
        KeInitializeSemaphore(&stream.SlotSemaphore, 0, PERFORMANCE_TRANSFERS_MAX);
        KeInitializeSpinLock(&stream.InFlightLock);
        InitializeListHead(&stream.Queue);
        KeInitializeSpinLock(&stream.QueueLock);
    }
    KeInitializeMutex(&StreamControlMutex, 0);
    ExInitializeNPagedLookasideList(&QueueEntryList, nullptr, nullptr, 0,
                                    sizeof(ADAPTER_QUEUE_ENTRY), USBA_POOL_TAG, 0);
    ExInitializeNPagedLookasideList(&TransferList, nullptr, nullptr, 0, sizeof(ADAPTER_TRANSFER),
                                    USBA_POOL_TAG, 0);
    KeInitializeSpinLock(&RenderStreamLock);
    InitializeListHead(&FreeRenderTransferList);
    KeInitializeSpinLock(&FreeRenderTransferLock);
    KeInitializeSemaphore(&FeedbackSlotSemaphore, ADAPTER_FEEDBACK_READS, ADAPTER_FEEDBACK_READS);
    KeInitializeSpinLock(&AccumulationLock);
    KeInitializeSpinLock(&CaptureScheduleLock);
}

CAdapterUsbAudio::~CAdapterUsbAudio()
{
    PAGED_CODE();
    // The streams stopped before their pins closed; this only covers a stream left running.
    WaitForStopStreamThreads();

    // Completion routines of the USB layer run on after the adapter's last transfer callback;
    // the layer, embedded here, goes only once none is left.
    KIRQL oldIrql;
    KeAcquireSpinLock(&Usb.IoCountLock, &oldIrql);
    const BOOLEAN outstanding = Usb.IoCount != 0;
    KeReleaseSpinLock(&Usb.IoCountLock, oldIrql);
    if (outstanding) {
        LARGE_INTEGER step;
        step.QuadPart = -10000LL * kDrainStepMs;
        while (KeWaitForSingleObject(&Usb.DrainedEvent, Executive, KernelMode, FALSE, &step) ==
               STATUS_TIMEOUT) {
            QuenTrace(TRACE_LEVEL_WARNING, "USB requests still outstanding");
        }
    }

    FreeFilterDescription(&FilterDescriptor);
    FlushCaptureQueue();
    FlushRenderQueue();
    ExDeleteNPagedLookasideList(&QueueEntryList);
    ExDeleteNPagedLookasideList(&TransferList);
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::NonDelegatingQueryInterface(REFIID Interface, PVOID *Object)
{
    PAGED_CODE();
    if (Object == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (IsEqualGUIDAligned(Interface, IID_IUnknown) ||
        IsEqualGUIDAligned(Interface, IID_IAdapterUsbAudio)) {
        *Object = PVOID(PUNKNOWN(static_cast<PADAPTERUSBAUDIO>(this)));
    } else if (IsEqualGUIDAligned(Interface, IID_IAdapterPowerManagement)) {
        *Object = PVOID(static_cast<PADAPTERPOWERMANAGEMENT>(this));
    } else {
        *Object = nullptr;
        return STATUS_INVALID_PARAMETER;
    }
    PUNKNOWN(*Object)->AddRef();
    return STATUS_SUCCESS;
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::Init(PDEVICE_OBJECT PhysicalDeviceObject, PDEVICE_OBJECT FunctionalDeviceObject)
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry");
    if (PhysicalDeviceObject == nullptr || FunctionalDeviceObject == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    DeviceObject = FunctionalDeviceObject;
    PowerState = PowerDeviceD0;
    ReadTransferParameters(FALSE);
    ReadTransferParameters(TRUE);
    ADAPTER_STREAM &render = Streams[ADAPTER_RENDER];
    ADAPTER_STREAM &capture = Streams[ADAPTER_CAPTURE];
    KeInitializeSemaphore(&render.SlotSemaphore, 0, LONG(render.TransfersInFlight));
    KeInitializeSemaphore(&capture.SlotSemaphore, LONG(capture.TransfersInFlight),
                          LONG(capture.TransfersInFlight));

    NTSTATUS status =
        Usb.Initialize(PhysicalDeviceObject, render.TransfersInFlight + capture.TransfersInFlight);
    if (NT_SUCCESS(status)) {
        status = Usb.SelectConfiguration();
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "USB layer start failed, status 0x%08lX", status);
        return status;
    }

    BOOLEAN supported = FALSE;
    if (!NT_SUCCESS(ReadDsdNativeModeSupported(PhysicalDeviceObject, &supported))) {
        supported = NT_SUCCESS(Usb.SendDsdModeRequest(0)) ? TRUE : FALSE;
    }
    NativeDsdSupported = supported;
    QuenTrace(TRACE_LEVEL_INFORMATION, "native DSD %s", supported ? "supported" : "not supported");

    FreeFilterDescription(&FilterDescriptor);
    status = Usb.BuildFilter(&FilterDescriptor);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "filter description failed, status 0x%08lX", status);
    }
    return status;
}

NTSTATUS CAdapterUsbAudio::ReadDsdNativeModeSupported(PDEVICE_OBJECT PhysicalDeviceObject,
                                                      PBOOLEAN Supported)
{
    PAGED_CODE();
    HANDLE key = nullptr;
    NTSTATUS status =
        IoOpenDeviceRegistryKey(PhysicalDeviceObject, PLUGPLAY_REGKEY_DEVICE, KEY_ALL_ACCESS, &key);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, kDsdNativeModeValue);
    // The full information's header and a 32-bit value, with room for the data's alignment.
    const ULONG size = name.Length + 28;
    auto info = static_cast<PKEY_VALUE_FULL_INFORMATION>(
        ExAllocatePoolWithTag(PagedPool, size, USBA_POOL_TAG));
    if (info == nullptr) {
        ZwClose(key);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG returned = 0;
    status = ZwQueryValueKey(key, &name, KeyValueFullInformation, info, size, &returned);
    if (NT_SUCCESS(status)) {
        // Only a whole 32-bit value decides; anything else counts as absent and the device
        // is asked instead.
        if (info->Type == REG_DWORD && info->DataLength == sizeof(ULONG) &&
            info->DataOffset <= size - sizeof(ULONG)) {
            ULONG value;
            RtlCopyMemory(&value, reinterpret_cast<PUCHAR>(info) + info->DataOffset, sizeof(value));
            *Supported = value != 0 ? TRUE : FALSE;
        } else {
            QuenTrace(TRACE_LEVEL_WARNING, "%ws: type %lu, %lu bytes: ignored", kDsdNativeModeValue,
                      info->Type, info->DataLength);
            status = STATUS_OBJECT_TYPE_MISMATCH;
        }
    }
    ExFreePoolWithTag(info, USBA_POOL_TAG);
    ZwClose(key);
    return status;
}

STDMETHODIMP_(void) CAdapterUsbAudio::SetMiniport(PMINIPORTUSBAUDIONOTIFY NewMiniport)
{
    Miniport = NewMiniport;
}

STDMETHODIMP_(PPCFILTER_DESCRIPTOR) CAdapterUsbAudio::GetFilterDescriptor()
{
    return &FilterDescriptor;
}

AudioStreamingInterface *CAdapterUsbAudio::InterfaceFor(BOOLEAN Capture) const
{
    return Capture ? Usb.CaptureInterface : Usb.RenderInterface;
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::GetStreamCapabilities(BOOLEAN Capture, PULONG MaxChannels, PULONG MinBits,
                                        PULONG MaxBits, PULONG MinRate, PULONG MaxRate)
{
    PAGED_CODE();
    AudioStreamingInterface *stream = InterfaceFor(Capture);
    if (stream == nullptr || MaxChannels == nullptr || MinBits == nullptr || MaxBits == nullptr ||
        MinRate == nullptr || MaxRate == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    const NTSTATUS status =
        Usb.GetStreamCapabilities(stream, MaxChannels, MinBits, MaxBits, MinRate, MaxRate);
    // Narrower samples down to 8 bits are converted on the way.
    if (*MinBits > 8) {
        *MinBits = 8;
    }
    return status;
}

STDMETHODIMP_(NTSTATUS)
CAdapterUsbAudio::GetRateRange(ULONG PinId, ULONG Channels, ULONG MinBits, ULONG MaxBits,
                               PULONG MinRate, PULONG MaxRate)
{
    PAGED_CODE();
    UNREFERENCED_PARAMETER(Channels);
    UNREFERENCED_PARAMETER(MinBits);
    UNREFERENCED_PARAMETER(MaxBits);
    if (PinId >= FilterDescriptor.PinCount ||
        FilterDescriptor.PinSize < sizeof(UsbAudioPinDescriptor)) {
        return STATUS_INVALID_PARAMETER;
    }
    const auto pin = reinterpret_cast<const UsbAudioPinDescriptor *>(
        reinterpret_cast<const UCHAR *>(FilterDescriptor.Pins) + PinId * FilterDescriptor.PinSize);
    const CUSBAudioTerminal *terminal = StreamingTerminalOfChain(&pin->Element);
    const BOOLEAN capture =
        terminal != nullptr && terminal->GetSubtype() != USB_AUDIO_AC_INPUT_TERMINAL;
    AudioStreamingInterface *stream = InterfaceFor(capture);
    if (stream == nullptr) {
        return STATUS_SUCCESS;
    }
    if (Usb.IsAudioClass2) {
        CUSBAudioClockEntity *clock = GetStreamClock(stream);
        if (clock == nullptr || MinRate == nullptr || MaxRate == nullptr) {
            return STATUS_SUCCESS;
        }
        return clock->GetSampleRateRange(MinRate, MaxRate, *MinRate, *MaxRate);
    }
    if (MinRate == nullptr) {
        return STATUS_SUCCESS;
    }
    return Usb.GetClass1RateBounds(stream, MinRate, MaxRate);
}
