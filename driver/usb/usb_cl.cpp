#include "usb/usb_cl.h"

#include "driver_trace.h"
#include "usb/usb_device_quirks.h"

namespace {

// Completion of the driver's own synchronous IRPs: wakes the waiting caller and keeps the IRP,
// which the caller frees.
NTSTATUS SignalEventCompletion(PDEVICE_OBJECT DeviceObject, PIRP Irp, PVOID Context)
{
    UNREFERENCED_PARAMETER(DeviceObject);
    UNREFERENCED_PARAMETER(Irp);
    KeSetEvent(static_cast<PKEVENT>(Context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

const USHORT kUsEnglish = 0x0409;

} // namespace

CUSBCL::CUSBCL()
    : HighSpeed(FALSE), DeviceDescriptor(), ConfigurationDescriptor(nullptr), LowerDevice(nullptr),
      RemoteWakeup(FALSE), ConfigurationHandle(nullptr), InterfaceCount(0), Interfaces(nullptr),
      LanguageList(nullptr), BusInterface(), IoCountLock(0), IoCount(0)
{
    KeInitializeSpinLock(&IoCountLock);
    KeInitializeEvent(&BusyEvent, NotificationEvent, FALSE);
    KeInitializeEvent(&DrainedEvent, NotificationEvent, FALSE);
    ExInitializeNPagedLookasideList(&TransferContextList, nullptr, nullptr, 0,
                                    sizeof(USB_TRANSFER_CONTEXT), USBA_POOL_TAG, 0);
    ExInitializeNPagedLookasideList(&IsoUrbList, nullptr, nullptr, 0, USB_ISO_URB_SIZE,
                                    USBA_POOL_TAG, 0);
    KeInitializeSpinLock(&IrpListLock);
    InitializeListHead(&IrpList);
}

CUSBCL::~CUSBCL()
{
    // Whoever waited for DrainedEvent may destroy this object while the completion that set it
    // still holds the counter's lock: taking the lock once waits until that completion has
    // released it, its last touch of this object.
    KIRQL oldIrql;
    KeAcquireSpinLock(&IoCountLock, &oldIrql);
    KeReleaseSpinLock(&IoCountLock, oldIrql);
    while (!IsListEmpty(&IrpList)) {
        PLIST_ENTRY entry = RemoveHeadList(&IrpList);
        IoFreeIrp(CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry));
    }
    FreeInterfaceInfo();
    if (ConfigurationDescriptor != nullptr) {
        ExFreePoolWithTag(ConfigurationDescriptor, USBA_POOL_TAG);
    }
    if (LanguageList != nullptr) {
        ExFreePoolWithTag(LanguageList, USBA_POOL_TAG);
    }
    // The bus driver referenced the interface it handed out.
    if (BusInterface.InterfaceDereference != nullptr) {
        BusInterface.InterfaceDereference(BusInterface.BusContext);
    }
    ExDeleteNPagedLookasideList(&TransferContextList);
    ExDeleteNPagedLookasideList(&IsoUrbList);
}

NTSTATUS CUSBCL::Initialize(PDEVICE_OBJECT Lower, ULONG IrpCount)
{
    PAGED_CODE();
    QuenTrace(TRACE_LEVEL_VERBOSE, "entry, %lu IRPs", IrpCount);
    if (Lower == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    LowerDevice = Lower;
    IoCount = 0;
    PreallocateIrps(IrpCount == 0 ? USB_DEFAULT_IRP_COUNT : IrpCount);

    NTSTATUS status = GetBusInterface();
    if (NT_SUCCESS(status)) {
        status = QueryHighSpeed();
    }
    if (NT_SUCCESS(status)) {
        status = ReadDeviceDescriptor();
    }
    if (NT_SUCCESS(status)) {
        status = ReadConfigurationDescriptor();
    }
    if (NT_SUCCESS(status)) {
        status = ReadLanguageList();
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "failed, status 0x%08lX", status);
        return status;
    }
    QuenTrace(TRACE_LEVEL_VERBOSE, "exit, %s speed, VID %04X PID %04X", HighSpeed ? "high" : "full",
              DeviceDescriptor.idVendor, DeviceDescriptor.idProduct);
    return STATUS_SUCCESS;
}

void CUSBCL::PreallocateIrps(ULONG IrpCount)
{
    for (ULONG i = 0; i < IrpCount; ++i) {
        PIRP irp = IoAllocateIrp(LowerDevice->StackSize, FALSE);
        if (irp == nullptr) {
            // The transfer path allocates on demand when the list runs dry.
            QuenTrace(TRACE_LEVEL_WARNING, "IRP %lu of %lu not allocated", i, IrpCount);
            continue;
        }
        KLOCK_QUEUE_HANDLE lockHandle;
        KeAcquireInStackQueuedSpinLock(&IrpListLock, &lockHandle);
        InsertTailList(&IrpList, &irp->Tail.Overlay.ListEntry);
        KeReleaseInStackQueuedSpinLock(&lockHandle);
    }
}

NTSTATUS CUSBCL::QueryBusInterface(PUSB_BUS_INTERFACE_USBDI_V1 Interface)
{
    PAGED_CODE();
    PIRP irp = IoAllocateIrp(LowerDevice->StackSize, FALSE);
    if (irp == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // PnP IRPs start out as not supported; a driver that handles one says so.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;

    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = IRP_MJ_PNP;
    stack->MinorFunction = IRP_MN_QUERY_INTERFACE;
    stack->Parameters.QueryInterface.InterfaceType = &USB_BUS_INTERFACE_USBDI_GUID;
    stack->Parameters.QueryInterface.Size = sizeof(USB_BUS_INTERFACE_USBDI_V1);
    stack->Parameters.QueryInterface.Version = USB_BUSIF_USBDI_VERSION_1;
    stack->Parameters.QueryInterface.Interface = reinterpret_cast<PINTERFACE>(Interface);
    stack->Parameters.QueryInterface.InterfaceSpecificData = nullptr;
    IoSetCompletionRoutine(irp, SignalEventCompletion, &done, TRUE, TRUE, TRUE);

    IoCountIncrement();
    if (IoCallDriver(LowerDevice, irp) == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    const NTSTATUS status = irp->IoStatus.Status;
    IoCountDecrement();
    IoFreeIrp(irp);
    return status;
}

NTSTATUS CUSBCL::GetBusInterface()
{
    PAGED_CODE();
    if (BusInterface.InterfaceDereference != nullptr) {
        // A second query would take a second reference that nothing releases.
        BusInterface.InterfaceDereference(BusInterface.BusContext);
    }
    RtlZeroMemory(&BusInterface, sizeof(BusInterface));
    const NTSTATUS status = QueryBusInterface(&BusInterface);
    if (!NT_SUCCESS(status)) {
        RtlZeroMemory(&BusInterface, sizeof(BusInterface));
        QuenTrace(TRACE_LEVEL_ERROR, "bus interface query failed, status 0x%08lX", status);
        return status;
    }
    QuenTrace(TRACE_LEVEL_VERBOSE, "bus interface: Size %u Version %u BusContext %p",
              BusInterface.Size, BusInterface.Version, BusInterface.BusContext);
    return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::QueryHighSpeed()
{
    PAGED_CODE();
    USB_BUS_INTERFACE_USBDI_V1 bus;
    RtlZeroMemory(&bus, sizeof(bus));
    const NTSTATUS status = QueryBusInterface(&bus);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "bus interface query failed, status 0x%08lX", status);
        return status;
    }
    // Version 1 of the interface is the first with IsDeviceHighSpeed.
    const BOOLEAN complete = bus.IsDeviceHighSpeed != nullptr;
    if (complete) {
        HighSpeed = bus.IsDeviceHighSpeed(bus.BusContext) ? TRUE : FALSE;
    }
    if (bus.InterfaceDereference != nullptr) {
        bus.InterfaceDereference(bus.BusContext);
    }
    if (!complete) {
        QuenTrace(TRACE_LEVEL_ERROR, "bus interface version %u has no IsDeviceHighSpeed",
                  bus.Version);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::SubmitUrbSync(PURB Urb)
{
    PAGED_CODE();
    KEVENT done;
    IO_STATUS_BLOCK ioStatus;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_INTERNAL_USB_SUBMIT_URB, LowerDevice, nullptr, 0,
                                             nullptr, 0, TRUE, &done, &ioStatus);
    if (irp == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "no IRP");
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    IoGetNextIrpStackLocation(irp)->Parameters.Others.Argument1 = Urb;

    IoCountIncrement();
    NTSTATUS status = IoCallDriver(LowerDevice, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = ioStatus.Status;
    }
    IoCountDecrement();
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR,
                  "URB function 0x%04X failed, status 0x%08lX, USBD status 0x%08lX",
                  Urb->UrbHeader.Function, status, Urb->UrbHeader.Status);
    }
    return status;
}

NTSTATUS CUSBCL::GetDescriptor(UCHAR DescriptorType, UCHAR Index, USHORT LanguageId, PVOID Buffer,
                               ULONG Length, PULONG Returned)
{
    PAGED_CODE();
    URB urb;
    RtlZeroMemory(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST));
    UsbBuildGetDescriptorRequest(&urb, sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST),
                                 DescriptorType, Index, LanguageId, Buffer, nullptr, Length,
                                 nullptr);
    const NTSTATUS status = SubmitUrbSync(&urb);
    *Returned = NT_SUCCESS(status) ? urb.UrbControlDescriptorRequest.TransferBufferLength : 0;
    return status;
}

NTSTATUS CUSBCL::ReadDeviceDescriptor()
{
    PAGED_CODE();
    ULONG returned = 0;
    const NTSTATUS status = GetDescriptor(USB_DEVICE_DESCRIPTOR_TYPE, 0, 0, &DeviceDescriptor,
                                          sizeof(DeviceDescriptor), &returned);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    if (returned != sizeof(DeviceDescriptor)) {
        QuenTrace(TRACE_LEVEL_ERROR, "device descriptor of %lu bytes", returned);
        return STATUS_NOT_SUPPORTED;
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::ReadConfigurationDescriptor()
{
    PAGED_CODE();
    USB_CONFIGURATION_DESCRIPTOR header;
    ULONG returned = 0;
    NTSTATUS status =
        GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, &header, sizeof(header), &returned);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    // Everything later walks the copy from its 9-byte header on.
    if (returned != sizeof(header) || header.wTotalLength < sizeof(header)) {
        QuenTrace(TRACE_LEVEL_ERROR, "configuration header of %lu bytes, wTotalLength %u", returned,
                  header.wTotalLength);
        return STATUS_NOT_SUPPORTED;
    }
    const ULONG total = header.wTotalLength;
    auto copy = static_cast<PUSB_CONFIGURATION_DESCRIPTOR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, total, USBA_POOL_TAG));
    if (copy == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = GetDescriptor(USB_CONFIGURATION_DESCRIPTOR_TYPE, 0, 0, copy, total, &returned);
    if (NT_SUCCESS(status) && (returned != total || copy->wTotalLength != total)) {
        QuenTrace(TRACE_LEVEL_ERROR, "configuration descriptor of %lu bytes, %lu expected",
                  returned, total);
        status = STATUS_NOT_SUPPORTED;
    }
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(copy, USBA_POOL_TAG);
        return status;
    }
    if (ConfigurationDescriptor != nullptr) {
        ExFreePoolWithTag(ConfigurationDescriptor, USBA_POOL_TAG);
    }
    ConfigurationDescriptor = copy;
    RemoteWakeup = (copy->bmAttributes & USB_CONFIG_REMOTE_WAKEUP) != 0 ? TRUE : FALSE;
    return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::ReadLanguageList()
{
    PAGED_CODE();
    UCHAR header[4];
    ULONG returned = 0;
    NTSTATUS status =
        GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 0, header, sizeof(header), &returned);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    const ULONG length = header[0];
    if (returned != sizeof(header) || length < 2) {
        QuenTrace(TRACE_LEVEL_ERROR, "language list header of %lu bytes, bLength %lu", returned,
                  length);
        return STATUS_NOT_SUPPORTED;
    }
    auto list = static_cast<PUSB_STRING_DESCRIPTOR>(
        ExAllocatePoolWithTag(NonPagedPoolNx, length, USBA_POOL_TAG));
    if (list == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, 0, 0, list, length, &returned);
    if (NT_SUCCESS(status) && returned != length) {
        QuenTrace(TRACE_LEVEL_ERROR, "language list of %lu bytes, %lu expected", returned, length);
        status = STATUS_NOT_SUPPORTED;
    }
    if (!NT_SUCCESS(status)) {
        ExFreePoolWithTag(list, USBA_POOL_TAG);
        return status;
    }
    if (LanguageList != nullptr) {
        ExFreePoolWithTag(LanguageList, USBA_POOL_TAG);
    }
    LanguageList = list;
    const PUCHAR bytes = reinterpret_cast<PUCHAR>(list);
    for (ULONG i = 2; i + 1 < length; i += 2) {
        QuenTrace(TRACE_LEVEL_VERBOSE, "language 0x%04X", bytes[i] | bytes[i + 1] << 8);
    }
    return STATUS_SUCCESS;
}

NTSTATUS CUSBCL::GetStringDescriptor(UCHAR Index, PVOID Buffer)
{
    PAGED_CODE();
    if (Buffer == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ULONG returned = 0;
    return GetDescriptor(USB_STRING_DESCRIPTOR_TYPE, Index, kUsEnglish, Buffer,
                         USB_STRING_BUFFER_SIZE, &returned);
}

PUSBD_INTERFACE_LIST_ENTRY CUSBCL::CreateInterfaceList(PULONG Count)
{
    PAGED_CODE();
    *Count = 0;
    const ULONG interfaces = ConfigurationDescriptor->bNumInterfaces;
    auto list = static_cast<PUSBD_INTERFACE_LIST_ENTRY>(ExAllocatePoolWithTag(
        NonPagedPoolNx, (interfaces + 1) * sizeof(USBD_INTERFACE_LIST_ENTRY), USBA_POOL_TAG));
    if (list == nullptr) {
        return nullptr;
    }
    RtlZeroMemory(list, (interfaces + 1) * sizeof(USBD_INTERFACE_LIST_ENTRY));
    ULONG count = 0;
    for (ULONG number = 0; number < interfaces; ++number) {
        PUSB_INTERFACE_DESCRIPTOR descriptor =
            USBD_ParseConfigurationDescriptorEx(ConfigurationDescriptor, ConfigurationDescriptor,
                                                static_cast<LONG>(number), 0, -1, -1, -1);
        if (descriptor != nullptr) {
            list[count++].InterfaceDescriptor = descriptor;
        }
    }
    *Count = count;
    return list;
}

NTSTATUS CUSBCL::ConfigurationRequest(PUSBD_INTERFACE_LIST_ENTRY InterfaceList, ULONG Count)
{
    PAGED_CODE();
    PURB urb = USBD_CreateConfigurationRequestEx(ConfigurationDescriptor, InterfaceList);
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    NTSTATUS status = SubmitUrbSync(urb);
    if (NT_SUCCESS(status)) {
        ConfigurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
        FreeInterfaceInfo();
        if (Count != 0) {
            const SIZE_T size = Count * sizeof(PUSBD_INTERFACE_INFORMATION);
            Interfaces = static_cast<PUSBD_INTERFACE_INFORMATION *>(
                ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
            if (Interfaces == nullptr) {
                status = STATUS_INSUFFICIENT_RESOURCES;
            } else {
                RtlZeroMemory(Interfaces, size);
                InterfaceCount = Count;
            }
        }
        for (ULONG i = 0; i < InterfaceCount && NT_SUCCESS(status); ++i) {
            status = StoreInterfaceInfo(i, InterfaceList[i].Interface);
        }
    }
    ExFreePool(urb);
    return status;
}

NTSTATUS CUSBCL::StoreInterfaceInfo(ULONG Index, const USBD_INTERFACE_INFORMATION *Info)
{
    if (Index >= InterfaceCount || Info == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    // The copy is searched pipe by pipe later: its length must hold every pipe it announces.
    const ULONG length = Info->Length;
    if (length < FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes) ||
        (length - FIELD_OFFSET(USBD_INTERFACE_INFORMATION, Pipes)) / sizeof(USBD_PIPE_INFORMATION) <
            Info->NumberOfPipes) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface information of %lu bytes for %lu pipes", length,
                  Info->NumberOfPipes);
        return STATUS_INVALID_PARAMETER;
    }
    // The streaming records point into the previous copy until their pipes are refreshed: it
    // stays in place when no new one can be had.
    auto copy = static_cast<PUSBD_INTERFACE_INFORMATION>(
        ExAllocatePoolWithTag(NonPagedPoolNx, length, USBA_POOL_TAG));
    if (copy == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlCopyMemory(copy, Info, length);
    if (Interfaces[Index] != nullptr) {
        ExFreePoolWithTag(Interfaces[Index], USBA_POOL_TAG);
    }
    Interfaces[Index] = copy;
    return STATUS_SUCCESS;
}

void CUSBCL::FreeInterfaceInfo()
{
    if (Interfaces != nullptr) {
        for (ULONG i = 0; i < InterfaceCount; ++i) {
            if (Interfaces[i] != nullptr) {
                ExFreePoolWithTag(Interfaces[i], USBA_POOL_TAG);
            }
        }
        ExFreePoolWithTag(Interfaces, USBA_POOL_TAG);
    }
    Interfaces = nullptr;
    InterfaceCount = 0;
}

LONG CUSBCL::FindInterfaceIndex(UCHAR InterfaceNumber) const
{
    for (ULONG i = 0; i < InterfaceCount; ++i) {
        if (Interfaces[i] != nullptr && Interfaces[i]->InterfaceNumber == InterfaceNumber) {
            return static_cast<LONG>(i);
        }
    }
    return -1;
}

NTSTATUS CUSBCL::SelectAlternate(UCHAR InterfaceNumber, UCHAR AlternateSetting)
{
    PAGED_CODE();
    const LONG index = FindInterfaceIndex(InterfaceNumber);
    if (index < 0) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u is not configured", InterfaceNumber);
        return STATUS_INVALID_PARAMETER;
    }
    PUSB_INTERFACE_DESCRIPTOR descriptor =
        USBD_ParseConfigurationDescriptorEx(ConfigurationDescriptor, ConfigurationDescriptor,
                                            InterfaceNumber, AlternateSetting, -1, -1, -1);
    if (descriptor == nullptr) {
        QuenTrace(TRACE_LEVEL_ERROR, "interface %u has no alternate setting %u", InterfaceNumber,
                  AlternateSetting);
        return STATUS_INVALID_PARAMETER;
    }
    const USHORT size =
        static_cast<USHORT>(GET_SELECT_INTERFACE_REQUEST_SIZE(descriptor->bNumEndpoints));
    auto urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPoolNx, size, USBA_POOL_TAG));
    if (urb == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(urb, size);
    UsbBuildSelectInterfaceRequest(urb, size, ConfigurationHandle, InterfaceNumber,
                                   AlternateSetting);
    NTSTATUS status = SubmitUrbSync(urb);
    if (NT_SUCCESS(status)) {
        status = StoreInterfaceInfo(static_cast<ULONG>(index), &urb->UrbSelectInterface.Interface);
    }
    ExFreePoolWithTag(urb, USBA_POOL_TAG);
    return status;
}

PUSBD_PIPE_INFORMATION CUSBCL::FindPipe(UCHAR EndpointAddress) const
{
    for (ULONG i = 0; i < InterfaceCount; ++i) {
        PUSBD_INTERFACE_INFORMATION info = Interfaces[i];
        if (info == nullptr) {
            continue;
        }
        for (ULONG p = 0; p < info->NumberOfPipes; ++p) {
            if (info->Pipes[p].EndpointAddress == EndpointAddress) {
                return &info->Pipes[p];
            }
        }
    }
    return nullptr;
}

NTSTATUS CUSBCL::ValidatePipeInterval(PUSBD_PIPE_INFORMATION Pipe) const
{
    if (Pipe == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (Pipe->PipeType != UsbdPipeTypeIsochronous) {
        return STATUS_SUCCESS;
    }
    // The streaming path serves at most every 8th microframe at high speed and every frame at
    // full speed.
    UCHAR interval = Pipe->Interval;
    if (HighSpeed) {
        interval = interval == 0 ? 1 : interval > 4 ? 4 : interval;
    } else {
        interval = 1;
    }
    if (interval == Pipe->Interval) {
        return STATUS_SUCCESS;
    }
    QuenTrace(TRACE_LEVEL_WARNING, "endpoint 0x%02X: interval %u replaced by %u",
              Pipe->EndpointAddress, Pipe->Interval, interval);
    Pipe->Interval = interval;
    return STATUS_UNSUCCESSFUL;
}

NTSTATUS CUSBCL::SendClassOrVendorRequest(UCHAR RequestType, UCHAR Request, USHORT Value,
                                          USHORT Index, ULONG Length, PVOID Buffer,
                                          PULONG BytesTransferred)
{
    PAGED_CODE();
    static const USHORT functions[2][4] = {
        {URB_FUNCTION_CLASS_DEVICE, URB_FUNCTION_CLASS_INTERFACE, URB_FUNCTION_CLASS_ENDPOINT,
         URB_FUNCTION_CLASS_OTHER},
        {URB_FUNCTION_VENDOR_DEVICE, URB_FUNCTION_VENDOR_INTERFACE, URB_FUNCTION_VENDOR_ENDPOINT,
         URB_FUNCTION_VENDOR_OTHER},
    };
    const ULONG type = (RequestType >> 5) & 3; // 0 standard, 1 class, 2 vendor, 3 reserved
    const ULONG recipient = RequestType & 0x1F;
    if (BytesTransferred != nullptr) {
        *BytesTransferred = 0;
    }
    if (type == 0 || type == 3 || recipient > 3 || (Length != 0 && Buffer == nullptr)) {
        QuenTrace(TRACE_LEVEL_ERROR, "refused: bmRequestType 0x%02X, length %lu", RequestType,
                  Length);
        return STATUS_INVALID_PARAMETER;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST));
    const ULONG flags =
        (RequestType & 0x80) != 0 ? USBD_TRANSFER_DIRECTION_IN : USBD_TRANSFER_DIRECTION_OUT;
    UsbBuildVendorRequest(&urb, functions[type - 1][recipient],
                          sizeof(struct _URB_CONTROL_VENDOR_OR_CLASS_REQUEST), flags, 0, Request,
                          Value, Index, Buffer, nullptr, Length, nullptr);
    const NTSTATUS status = SubmitUrbSync(&urb);
    if (NT_SUCCESS(status) && BytesTransferred != nullptr) {
        *BytesTransferred = urb.UrbControlVendorClassRequest.TransferBufferLength;
    }
    return status;
}

NTSTATUS CUSBCL::SendPipeRequest(USHORT Function, PUSBD_PIPE_INFORMATION Pipe)
{
    if (Pipe == nullptr || Pipe->PipeHandle == nullptr) {
        return STATUS_INVALID_PARAMETER;
    }
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        QuenTrace(TRACE_LEVEL_ERROR, "called above PASSIVE_LEVEL");
        return STATUS_UNSUCCESSFUL;
    }
    URB urb;
    RtlZeroMemory(&urb, sizeof(struct _URB_PIPE_REQUEST));
    urb.UrbHeader.Length = sizeof(struct _URB_PIPE_REQUEST);
    urb.UrbHeader.Function = Function;
    urb.UrbPipeRequest.PipeHandle = Pipe->PipeHandle;
    return SubmitUrbSync(&urb);
}

NTSTATUS CUSBCL::ResetPipe(PUSBD_PIPE_INFORMATION Pipe)
{
    return SendPipeRequest(URB_FUNCTION_SYNC_RESET_PIPE_AND_CLEAR_STALL, Pipe);
}

NTSTATUS CUSBCL::AbortPipe(PUSBD_PIPE_INFORMATION Pipe)
{
    return SendPipeRequest(URB_FUNCTION_ABORT_PIPE, Pipe);
}

void CUSBCL::IoCountIncrement()
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&IoCountLock, &oldIrql);
    const LONG count = ++IoCount;
    if (count == 1) {
        // Requests are outstanding again: a waiter for the drain must wait for this one too.
        KeClearEvent(&DrainedEvent);
    } else if (count == 2) {
        KeClearEvent(&BusyEvent);
    }
    KeReleaseSpinLock(&IoCountLock, oldIrql);
}

LONG CUSBCL::IoCountDecrement()
{
    KIRQL oldIrql;
    KeAcquireSpinLock(&IoCountLock, &oldIrql);
    const LONG count = --IoCount;
    if (count == 1) {
        KeSetEvent(&BusyEvent, IO_NO_INCREMENT, FALSE);
    } else if (count == 0) {
        KeSetEvent(&DrainedEvent, IO_NO_INCREMENT, FALSE);
    }
    KeReleaseSpinLock(&IoCountLock, oldIrql);
    return count;
}

ULONG CUSBCL::Quirks() const
{
    return UsbDeviceQuirks(DeviceDescriptor.idVendor, DeviceDescriptor.idProduct);
}
