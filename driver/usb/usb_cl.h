// CUSBCL: the driver's only path to the USB stack below it. It reads the standard descriptors,
// obtains the bus interface, selects the configuration and alternate settings, keeps a copy of
// the interface information of every configured interface (pipe handles included), sends class
// and vendor requests, resets and aborts pipes, and owns the IRPs, transfer contexts and
// isochronous URBs the streaming path reuses.
#pragma once

#include "quen_driver_platform.h"

// Pool tag of every allocation of the USB layer and the audio function model.
#define USBA_POOL_TAG 0x41425355 // "USBA" in memory

// Isochronous URBs come from a lookaside list sized for this many packets.
#define USB_MAX_ISO_PACKETS 40
#define USB_ISO_URB_SIZE GET_ISO_URB_SIZE(USB_MAX_ISO_PACKETS)
static_assert(USB_ISO_URB_SIZE == 632, "one URB header and 40 packet descriptors");

// Pre-allocated IRPs when the caller asks for none.
#define USB_DEFAULT_IRP_COUNT 10

// Pool tag of the auxiliary buffer of length-prefixed render packets.
#define USB_FRAMING_POOL_TAG 0x544D5042 // "BPMT" in memory

// The system address of a transfer URB's data (its buffer, or its MDL mapped), or null.
PUCHAR UsbTransferBufferAddress(PURB Urb);

// Called at DISPATCH_LEVEL when an asynchronous transfer completes: the IRP status, the byte
// count (or feedback value) and the caller's context.
typedef void (*PUSB_TRANSFER_CALLBACK)(NTSTATUS Status, ULONG Value, PVOID Context);

class CUSBCL;

// One asynchronous transfer in flight; from a lookaside list of CUSBCL.
struct USB_TRANSFER_CONTEXT {
    PURB Urb;
    PUSB_TRANSFER_CALLBACK Callback;
    PVOID CallbackContext;
    CUSBCL *Owner;
    PVOID AuxiliaryBuffer; // freed at completion when set
};

class CUSBCL {
public:
    CUSBCL();
    virtual ~CUSBCL();

    // Called from every transfer completion with the IRP status, the URB and the transfer
    // context, before the caller's callback.
    virtual void OnTransferComplete(NTSTATUS Status, PURB Urb, USB_TRANSFER_CONTEXT *Context) = 0;

    // Pre-allocates irpCount IRPs (0: USB_DEFAULT_IRP_COUNT), obtains the bus interface and the
    // device speed, and reads the device, configuration and language descriptors. PASSIVE_LEVEL.
    virtual NTSTATUS Initialize(PDEVICE_OBJECT LowerDevice, ULONG IrpCount);

    NTSTATUS GetBusInterface();
    NTSTATUS QueryHighSpeed();

    // Sends the URB down and waits for its completion (no time-out). PASSIVE_LEVEL.
    NTSTATUS SubmitUrbSync(PURB Urb);

    // Selects the configuration with the interfaces of InterfaceList (ended by an all-zero entry)
    // and keeps a copy of each returned interface information.
    NTSTATUS ConfigurationRequest(PUSBD_INTERFACE_LIST_ENTRY InterfaceList, ULONG InterfaceCount);
    // Every interface of the configuration (alternate setting 0), in interface-number order.
    // Freed by the caller with ExFreePoolWithTag(USBA_POOL_TAG); null when out of memory.
    PUSBD_INTERFACE_LIST_ENTRY CreateInterfaceList(PULONG Count);

    NTSTATUS SelectAlternate(UCHAR InterfaceNumber, UCHAR AlternateSetting);
    NTSTATUS StoreInterfaceInfo(ULONG Index, const USBD_INTERFACE_INFORMATION *Info);

    // The stored pipe information of an endpoint (valid until its interface's next
    // SelectAlternate), or null. Any IRQL.
    PUSBD_PIPE_INFORMATION FindPipe(UCHAR EndpointAddress) const;
    // Brings an isochronous pipe's Interval into the range the streaming path supports; returns
    // STATUS_UNSUCCESSFUL when it had to change it.
    NTSTATUS ValidatePipeInterval(PUSBD_PIPE_INFORMATION Pipe) const;

    // A class or vendor control request; BytesTransferred (optional) receives the length of the
    // data stage the device completed, which for a read may be shorter than Length.
    NTSTATUS SendClassOrVendorRequest(UCHAR RequestType, UCHAR Request, USHORT Value, USHORT Index,
                                      ULONG Length, PVOID Buffer,
                                      PULONG BytesTransferred = nullptr);
    NTSTATUS ResetPipe(PUSBD_PIPE_INFORMATION Pipe);
    NTSTATUS AbortPipe(PUSBD_PIPE_INFORMATION Pipe);
    // Reads string descriptor Index in US English into a buffer of USB_STRING_BUFFER_SIZE bytes.
    NTSTATUS GetStringDescriptor(UCHAR Index, PVOID Buffer);

    // The outstanding-request counter: BusyEvent is clear while two or more requests are
    // outstanding, DrainedEvent is set when none is. ≤ DISPATCH_LEVEL.
    void IoCountIncrement();
    LONG IoCountDecrement();

    // What the device quirk table says about this device (USB_QUIRK_* flags).
    ULONG Quirks() const;

    // ---- Asynchronous transfers (usb_transfers.cpp) --------------------------------------------

    // An IN transfer of Length bytes into Buffer on Pipe: isochronous (as soon as possible, one
    // packet per MaximumPacketSize, whole milliseconds at high speed) or bulk/interrupt. Success
    // means the IRP went down and Callback will be called; a failure sends nothing.
    // <= DISPATCH_LEVEL.
    NTSTATUS SubmitTransfer(PUSBD_PIPE_INFORMATION Pipe, PVOID Buffer, ULONG Length,
                            PUSB_TRANSFER_CALLBACK Callback, PVOID Context, ULONG StartFrame);
    // Sends Urb on a pooled IRP with TransferComplete as its completion routine; the context
    // records the URB. Fails only when no IRP can be had (nothing sent). <= DISPATCH_LEVEL.
    NTSTATUS SubmitIrp(PURB Urb, USB_TRANSFER_CONTEXT *Context);
    // SubmitIrp with another completion routine, which must recycle as TransferComplete does.
    NTSTATUS SubmitIrpWithCompletion(PURB Urb, USB_TRANSFER_CONTEXT *Context,
                                     PIO_COMPLETION_ROUTINE Completion);
    // Completion routine of SubmitIrp: byte count (IN packets compacted), completion hook,
    // recycling, then the caller's callback. Always STATUS_MORE_PROCESSING_REQUIRED.
    static NTSTATUS TransferComplete(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context);

    // Pooled resources of the transfer path. A context comes with its callback recorded, its
    // owner set and no auxiliary buffer; giving it back frees its auxiliary buffer.
    USB_TRANSFER_CONTEXT *AllocateTransferContext(PUSB_TRANSFER_CALLBACK Callback, PVOID Context);
    void FreeTransferContext(USB_TRANSFER_CONTEXT *Context);
    // A zeroed isochronous URB of Packets packets (header Length, Function and NumberOfPackets
    // set), or null when Packets is above USB_MAX_ISO_PACKETS or the list is empty.
    PURB AllocateIsoUrb(ULONG Packets);
    // A transfer context and an isochronous URB of Packets packets together: either both or
    // neither (STATUS_INVALID_BUFFER_SIZE above USB_MAX_ISO_PACKETS, else
    // STATUS_INSUFFICIENT_RESOURCES).
    NTSTATUS AllocateIsoTransfer(ULONG Packets, PUSB_TRANSFER_CALLBACK Callback, PVOID Context,
                                 USB_TRANSFER_CONTEXT **OutContext, PURB *OutUrb);
    // Gives back a URB of the transfer path: isochronous ones to their list, others to pool.
    void FreeTransferUrb(PURB Urb);
    // The first free IRP, re-initialised, or a new one; null when none can be allocated.
    PIRP TakeIrp();
    // Puts an IRP back at the tail of the free list.
    void ReturnIrp(PIRP Irp);
    // The common end of the completion routines: gives back the URB, calls the caller's
    // callback with Status and Value, gives back the context and the IRP and ends the request's
    // count. Returns STATUS_MORE_PROCESSING_REQUIRED for the completion routine to return.
    NTSTATUS FinishTransfer(PIRP Irp, USB_TRANSFER_CONTEXT *Context, NTSTATUS Status, ULONG Value);
    // Traces a failed URB field by field (every packet of an isochronous one).
    void TraceFailedUrb(PURB Urb);

    static constexpr ULONG USB_STRING_BUFFER_SIZE = 256;

    // State, in the order the streaming path and the audio function model rely on.
    BOOLEAN HighSpeed;
    USB_DEVICE_DESCRIPTOR DeviceDescriptor;
    PUSB_CONFIGURATION_DESCRIPTOR ConfigurationDescriptor; // the one copy everything points into
    PDEVICE_OBJECT LowerDevice;
    BOOLEAN RemoteWakeup;
    USBD_CONFIGURATION_HANDLE ConfigurationHandle;
    ULONG InterfaceCount;
    PUSBD_INTERFACE_INFORMATION *Interfaces; // one pool copy per configured interface
    PUSB_STRING_DESCRIPTOR LanguageList;
    USB_BUS_INTERFACE_USBDI_V1 BusInterface;

    KSPIN_LOCK IoCountLock;
    LONG IoCount;
    KEVENT BusyEvent;
    KEVENT DrainedEvent;

    NPAGED_LOOKASIDE_LIST TransferContextList;
    NPAGED_LOOKASIDE_LIST IsoUrbList;

    KSPIN_LOCK IrpListLock; // queued spin lock
    LIST_ENTRY IrpList;     // free IRPs, linked through Tail.Overlay.ListEntry

private:
    void PreallocateIrps(ULONG IrpCount);
    NTSTATUS QueryBusInterface(PUSB_BUS_INTERFACE_USBDI_V1 Interface);
    NTSTATUS GetDescriptor(UCHAR DescriptorType, UCHAR Index, USHORT LanguageId, PVOID Buffer,
                           ULONG Length, PULONG Returned);
    NTSTATUS ReadDeviceDescriptor();
    NTSTATUS ReadConfigurationDescriptor();
    NTSTATUS ReadLanguageList();
    LONG FindInterfaceIndex(UCHAR InterfaceNumber) const;
    NTSTATUS SendPipeRequest(USHORT Function, PUSBD_PIPE_INFORMATION Pipe);
    void FreeInterfaceInfo();

    CUSBCL(const CUSBCL &) = delete;
    CUSBCL &operator=(const CUSBCL &) = delete;
};
