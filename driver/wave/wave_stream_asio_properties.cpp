// CMiniportWaveCyclicStreamUsbAudio: the private property set of an ASIO host on the stream's
// pin. Every request is hostile input: sizes are checked before anything is read, buffers and
// the event change only while the stream is stopped, and nothing of a refused request stays.
#include "wave/miniport_wave_cyclic_stream_usb_audio.h"

#include "adapter/property_requests.h"
#include "asio/asio_private_properties.h"
#include "driver_trace.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"

namespace {

const ULONG kAccessGetSet = PROPERTY_ACCESS_GET_SET;
const ULONG kAccessSet = KSPROPERTY_TYPE_BASICSUPPORT | KSPROPERTY_TYPE_SET;
// The event is referenced for setting and waiting only.
const ACCESS_MASK kEventAccess = EVENT_MODIFY_STATE | SYNCHRONIZE;

BOOLEAN IsCaller32Bit(PPCPROPERTY_REQUEST Request)
{
    return Request->Irp != nullptr && IoIs32bitProcess(Request->Irp) ? TRUE : FALSE;
}

// The handle in the instance data: 4 bytes from a 32-bit caller (sign-extended, as WOW64 does),
// 8 from a 64-bit one. Null when the instance is too small.
HANDLE InstanceHandle(PPCPROPERTY_REQUEST Request)
{
    if (Request->Instance == nullptr) {
        return nullptr;
    }
    if (IsCaller32Bit(Request)) {
        if (Request->InstanceSize < sizeof(LONG)) {
            return nullptr;
        }
        return HANDLE(LONG_PTR(*static_cast<const LONG *>(Request->Instance)));
    }
    if (Request->InstanceSize < sizeof(HANDLE)) {
        return nullptr;
    }
    return *static_cast<const HANDLE *>(Request->Instance);
}

} // namespace

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::AsioProperty(PPCPROPERTY_REQUEST Request)
{
    PAGED_CODE();
    const ULONG id = Request->PropertyItem->Id;
    const ULONG verb = Request->Verb;
    const BOOLEAN renderOnly =
        id == KSPROPERTY_ASIO_OUTPUT_READY || id == KSPROPERTY_ASIO_OUTPUT_DELAY;
    if (id > KSPROPERTY_ASIO_OUTPUT_DELAY || (renderOnly && Capture)) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    // A handle to the pin in another process must not reach the buffers mapped into the host's,
    // nor its event.
    if (!AsioBuffer.IsOwnedByCurrentProcess()) {
        QuenTrace(TRACE_LEVEL_ERROR, "ASIO property %lu from outside the host's process", id);
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    if (verb & KSPROPERTY_TYPE_BASICSUPPORT) {
        return PropertyHandlerBasicSupport(Request, renderOnly ? kAccessSet : kAccessGetSet);
    }
    if (id == KSPROPERTY_ASIO_BUFFERS) {
        NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
        if (verb & KSPROPERTY_TYPE_SET) {
            status = AsioSetBuffers(Request);
            if (!NT_SUCCESS(status)) {
                return status;
            }
        }
        if (verb & KSPROPERTY_TYPE_GET) {
            status = AsioGetBuffers(Request);
        }
        return status;
    }
    if ((verb & KSPROPERTY_TYPE_SET) == 0 || (verb & KSPROPERTY_TYPE_GET) != 0) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    switch (id) {
    case KSPROPERTY_ASIO_REGISTER_EVENT: return AsioRegisterEvent(InstanceHandle(Request));
    case KSPROPERTY_ASIO_UNREGISTER_EVENT: return AsioUnregisterEvent(InstanceHandle(Request));
    case KSPROPERTY_ASIO_OUTPUT_READY:
        if (!IsAsioMode()) {
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        InterlockedExchange(&OutputReadyFlag, 1);
        Miniport->OutputReady();
        return STATUS_SUCCESS;
    default: // KSPROPERTY_ASIO_OUTPUT_DELAY
        if (Request->Instance == nullptr || Request->InstanceSize < sizeof(ULONG)) {
            return STATUS_INVALID_DEVICE_REQUEST;
        }
        Miniport->OutputDelay(*static_cast<const ULONG *>(Request->Instance));
        return STATUS_SUCCESS;
    }
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::AsioSetBuffers(PPCPROPERTY_REQUEST Request)
{
    // Buffers are set up once, before the stream runs; the timing path never sees them appear.
    if (!Initialised || IsAsioMode() || State > KSSTATE_ACQUIRE || Format.BlockAlign == 0) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    const ASIO_STREAM_LIMITS limits = {Format.Channels, Format.BitsPerSample / 8,
                                       AllocatedSize / Format.BlockAlign};
    ASIO_BUFFER_LAYOUT layout;
    NTSTATUS status =
        AsioCheckBufferRequest(Request->Instance, Request->InstanceSize, limits, &layout);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    status = AsioBuffer.AllocateAndMapForUserSpace(
        static_cast<const ASIO_BUFFER_REQUEST *>(Request->Instance), layout);
    if (NT_SUCCESS(status)) {
        // Device channels without a host buffer play silence, not what the ring held.
        Silence(Buffer, AllocatedSize);
    }
    return status;
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::AsioGetBuffers(PPCPROPERTY_REQUEST Request)
{
    const BOOLEAN caller32Bit = IsCaller32Bit(Request);
    NTSTATUS status = AsioBuffer.Reply(Request->Value, Request->ValueSize, caller32Bit);
    if (NT_SUCCESS(status)) {
        // Only the entries go back, nothing of the rest of the buffer.
        const ULONG entry =
            caller32Bit ? ULONG(sizeof(ASIO_CHANNEL_BUFFER32)) : ULONG(sizeof(ASIO_CHANNEL_BUFFER));
        Request->ValueSize = AsioBuffer.ChannelCount() * entry;
    }
    return status;
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::AsioRegisterEvent(HANDLE Handle)
{
    if (Handle == nullptr || Event != nullptr || State != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    PVOID object = nullptr;
    const NTSTATUS status = ObReferenceObjectByHandle(Handle, kEventAccess, *ExEventObjectType,
                                                      UserMode, &object, nullptr);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "the ASIO event handle: status 0x%08lX", status);
        return status;
    }
    Miniport->ExchangeStreamEvent(this, static_cast<PKEVENT>(object));
    EventHandle = Handle;
    return STATUS_SUCCESS;
}

NTSTATUS CMiniportWaveCyclicStreamUsbAudio::AsioUnregisterEvent(HANDLE Handle)
{
    if (Handle == nullptr || Event == nullptr || Handle != EventHandle || State != KSSTATE_STOP) {
        return STATUS_INVALID_DEVICE_REQUEST;
    }
    PKEVENT event = Miniport->ExchangeStreamEvent(this, nullptr);
    EventHandle = nullptr;
    ObDereferenceObject(event);
    return STATUS_SUCCESS;
}

PKEVENT CMiniportWaveCyclicStreamUsbAudio::SwapAsioEvent(PKEVENT NewEvent)
{
    PKEVENT old = Event;
    Event = NewEvent;
    return old;
}
