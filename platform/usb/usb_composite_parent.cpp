#include "usb_composite_parent.h"

#include "usb_composite_functions.h"
#include "usb_configuration.h"
#include "usb_pdo_answers.h"
#include "usb_status.h"

#include "kernel/io_manager.h"
#include "kernel/machine.h"
#include "kernel/wide_string.h"

#include <usbdlib.h>
#include <usbioctl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace host {

const char16_t kUsbCompositeParentService[] = u"usbccgp";
const char16_t kUsbCompositeParentImage[] = u"usbccgp.sys";
const char16_t kUsbCompositeId[] = u"USB\\COMPOSITE";

namespace {

constexpr ULONG kTag = 'pccU'; // "Uccp"

struct Parent {
    PDEVICE_OBJECT fdo = nullptr;
    PDEVICE_OBJECT lower = nullptr; // the device's physical device object
    USB_DEVICE_DESCRIPTOR device{};
    std::vector<UCHAR> configuration;
    USBD_CONFIGURATION_HANDLE configurationHandle = nullptr;
    std::vector<UsbCompositeFunction> functions;
    std::vector<PDEVICE_OBJECT> children; // per function, once reported
    bool gone = false;                    // surprise-removed: a child is deleted at its own removal
};

// The device extension of the parent's device object and of its children.
struct Extension {
    Parent *parent;
    size_t function; // kParentObject for the parent's own device object
};
constexpr size_t kParentObject = ~size_t(0);

Extension &ExtensionOf(PDEVICE_OBJECT device)
{
    return *static_cast<Extension *>(device->DeviceExtension);
}

PUSB_CONFIGURATION_DESCRIPTOR AsConfiguration(std::vector<UCHAR> &bytes)
{
    return reinterpret_cast<PUSB_CONFIGURATION_DESCRIPTOR>(bytes.data());
}

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PassDown(Parent &parent, PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(parent.lower, irp);
}

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

// Passes the request down and waits for it; it is the caller's to complete afterwards.
NTSTATUS PassDownAndWait(Parent &parent, PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(parent.lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    return irp->IoStatus.Status;
}

// Sends a URB of the parent's own to the device and waits for it (PASSIVE_LEVEL).
NTSTATUS SubmitUrb(Parent &parent, PURB urb)
{
    PIRP irp = IoAllocateIrp(parent.lower->StackSize, FALSE);
    if (irp == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
    next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
    next->Parameters.DeviceIoControl.IoControlCode = IOCTL_INTERNAL_USB_SUBMIT_URB;
    next->Parameters.Others.Argument1 = urb;
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    if (IoCallDriver(parent.lower, irp) == STATUS_PENDING)
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = irp->IoStatus.Status;
    IoFreeIrp(irp);
    return status;
}

PURB AllocateUrb(size_t size)
{
    auto urb = static_cast<PURB>(ExAllocatePoolWithTag(NonPagedPool, size, kTag));
    if (urb != nullptr)
        std::memset(static_cast<void *>(urb), 0, size);
    return urb;
}

// Reads a device descriptor of `type` (index 0) into `out`, at most `length` bytes.
NTSTATUS ReadDescriptor(Parent &parent, UCHAR type, ULONG length, std::vector<UCHAR> *out)
{
    const size_t urbSize = sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST);
    PURB urb = AllocateUrb(urbSize + length);
    if (urb == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    PUCHAR data = reinterpret_cast<PUCHAR>(urb) + urbSize;
    UsbBuildGetDescriptorRequest(urb, USHORT(urbSize), type, 0, 0, data, nullptr, length, nullptr);
    NTSTATUS status = SubmitUrb(parent, urb);
    if (NT_SUCCESS(status))
        out->assign(data,
                    data + std::min(length, urb->UrbControlDescriptorRequest.TransferBufferLength));
    ExFreePool(urb);
    return status;
}

// Reads the configuration, divides it into functions and selects it with every interface at
// alternate setting 0.
NTSTATUS StartParent(Parent &parent)
{
    std::vector<UCHAR> bytes;
    NTSTATUS status =
        ReadDescriptor(parent, USB_DEVICE_DESCRIPTOR_TYPE, sizeof parent.device, &bytes);
    if (!NT_SUCCESS(status))
        return status;
    if (bytes.size() != sizeof parent.device)
        return STATUS_DEVICE_DATA_ERROR;
    std::memcpy(&parent.device, bytes.data(), bytes.size());
    status = ReadDescriptor(parent, USB_CONFIGURATION_DESCRIPTOR_TYPE,
                            sizeof(USB_CONFIGURATION_DESCRIPTOR), &bytes);
    if (!NT_SUCCESS(status))
        return status;
    if (bytes.size() < sizeof(USB_CONFIGURATION_DESCRIPTOR))
        return STATUS_DEVICE_DATA_ERROR;
    USHORT total;
    std::memcpy(&total, bytes.data() + 2, sizeof total);
    status =
        ReadDescriptor(parent, USB_CONFIGURATION_DESCRIPTOR_TYPE, total, &parent.configuration);
    if (!NT_SUCCESS(status))
        return status;
    if (!SplitIntoFunctions(parent.configuration.data(), ULONG(parent.configuration.size()),
                            &parent.functions) ||
        parent.functions.empty())
        return STATUS_DEVICE_CONFIGURATION_ERROR;
    parent.children.assign(parent.functions.size(), nullptr);

    PUSB_CONFIGURATION_DESCRIPTOR configuration = AsConfiguration(parent.configuration);
    std::vector<USBD_INTERFACE_LIST_ENTRY> list;
    for (const UsbCompositeFunction &function : parent.functions)
        for (UCHAR number : function.interfaces)
            list.push_back({USBD_ParseConfigurationDescriptorEx(configuration, configuration,
                                                                number, 0, -1, -1, -1),
                            nullptr});
    list.push_back({nullptr, nullptr});
    PURB urb = USBD_CreateConfigurationRequestEx(configuration, list.data());
    if (urb == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    status = SubmitUrb(parent, urb);
    if (NT_SUCCESS(status))
        parent.configurationHandle = urb->UrbSelectConfiguration.ConfigurationHandle;
    ExFreePool(urb);
    return status;
}

std::u16string Text(const char *format, unsigned a, unsigned b, unsigned c = 0, unsigned d = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, a, b, c, d);
    return FromUtf8(text);
}

// The child's device instance id: its device id and an instance made of a prefix derived from
// the parent's instance, as Windows derives one, and the interface number.
std::u16string ChildInstanceId(const Parent &parent, const UsbCompositeFunction &function)
{
    ULONG hash = 2166136261u;
    for (char16_t c : DeviceInstanceIdOf(parent.lower))
        hash = (hash ^ ULONG(c)) * 16777619u;
    return Text("USB\\VID_%04X&PID_%04X&MI_%02X\\", parent.device.idVendor, parent.device.idProduct,
                function.firstInterface) +
           Text("7&%08x&0&%04X", hash, function.firstInterface);
}

NTSTATUS ReportChildren(Parent &parent, PIRP irp)
{
    for (size_t f = 0; f < parent.functions.size(); ++f) {
        if (parent.children[f] != nullptr)
            continue;
        PDEVICE_OBJECT child = nullptr;
        NTSTATUS status = IoCreateDevice(
            parent.fdo->DriverObject, sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN,
            FILE_AUTOGENERATED_DEVICE_NAME | FILE_DEVICE_SECURE_OPEN, FALSE, &child);
        if (!NT_SUCCESS(status))
            return status;
        ExtensionOf(child) = {&parent, f};
        // The child's requests pass on to the device's stack.
        child->StackSize = CCHAR(parent.lower->StackSize + 1);
        child->Flags |= DO_BUS_ENUMERATED_DEVICE | DO_POWER_PAGABLE;
        child->Flags &= ~DO_DEVICE_INITIALIZING;
        SetDeviceInstanceId(child, ChildInstanceId(parent, parent.functions[f]));
        parent.children[f] = child;
    }
    const size_t count = parent.children.size();
    auto relations = static_cast<PDEVICE_RELATIONS>(ExAllocatePoolWithTag(
        PagedPool, offsetof(DEVICE_RELATIONS, Objects) + count * sizeof(PDEVICE_OBJECT), kTag));
    if (relations == nullptr)
        return STATUS_INSUFFICIENT_RESOURCES;
    relations->Count = ULONG(count);
    for (size_t i = 0; i < count; ++i) {
        relations->Objects[i] = parent.children[i];
        ObReferenceObject(parent.children[i]);
    }
    irp->IoStatus.Information = reinterpret_cast<ULONG_PTR>(relations);
    return STATUS_SUCCESS;
}

void DeleteChild(Parent &parent, size_t function)
{
    if (PDEVICE_OBJECT child = parent.children[function]) {
        parent.children[function] = nullptr;
        IoDeleteDevice(child);
    }
}

NTSTATUS ParentPnp(Parent &parent, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE: {
        NTSTATUS status = PassDownAndWait(parent, irp);
        if (NT_SUCCESS(status))
            status = StartParent(parent);
        return Complete(irp, status);
    }
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == BusRelations) {
            NTSTATUS status = ReportChildren(parent, irp);
            if (!NT_SUCCESS(status))
                return Complete(irp, status);
            irp->IoStatus.Status = STATUS_SUCCESS;
        }
        return PassDown(parent, irp);
    case IRP_MN_SURPRISE_REMOVAL:
        parent.gone = true;
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(parent, irp);
    case IRP_MN_REMOVE_DEVICE: {
        // Plug and play has removed the children first; their device objects go with the parent.
        for (size_t f = 0; f < parent.children.size(); ++f)
            DeleteChild(parent, f);
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = PassDown(parent, irp);
        IoDetachDevice(parent.lower);
        IoDeleteDevice(parent.fdo);
        delete &parent;
        return status;
    }
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(parent, irp);
    default: return PassDown(parent, irp);
    }
}

// --- the children ---

NTSTATUS ChildId(const Parent &parent, size_t f, PDEVICE_OBJECT child, PIRP irp)
{
    const UsbCompositeFunction &function = parent.functions[f];
    const USB_DEVICE_DESCRIPTOR &d = parent.device;
    const std::u16string deviceId =
        Text("USB\\VID_%04X&PID_%04X&MI_%02X", d.idVendor, d.idProduct, function.firstInterface);
    switch (IoGetCurrentIrpStackLocation(irp)->Parameters.QueryId.IdType) {
    case BusQueryDeviceID: return AnswerIdList({deviceId}, false, irp);
    case BusQueryHardwareIDs:
        return AnswerIdList({Text("USB\\VID_%04X&PID_%04X&REV_%04X&MI_%02X", d.idVendor,
                                  d.idProduct, d.bcdDevice, function.firstInterface),
                             deviceId},
                            true, irp);
    case BusQueryCompatibleIDs:
        return AnswerIdList({Text("USB\\Class_%02X&SubClass_%02X&Prot_%02X", function.functionClass,
                                  function.functionSubClass, function.functionProtocol),
                             Text("USB\\Class_%02X&SubClass_%02X", function.functionClass,
                                  function.functionSubClass),
                             Text("USB\\Class_%02X", function.functionClass, 0)},
                            true, irp);
    case BusQueryInstanceID: {
        const std::u16string &instanceId = DeviceInstanceIdOf(child);
        return AnswerIdList({instanceId.substr(instanceId.rfind(u'\\') + 1)}, false, irp);
    }
    default: return irp->IoStatus.Status;
    }
}

NTSTATUS ChildPnp(Parent &parent, size_t f, PDEVICE_OBJECT child, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MinorFunction) {
    case IRP_MN_START_DEVICE:
    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_STOP_DEVICE:
    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE:
    case IRP_MN_SURPRISE_REMOVAL: return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_REMOVE_DEVICE:
        Complete(irp, STATUS_SUCCESS);
        if (parent.gone)
            DeleteChild(parent, f); // no longer reported: its device object goes now
        return STATUS_SUCCESS;
    case IRP_MN_QUERY_INTERFACE: return PassDown(parent, irp); // the device's bus interface
    case IRP_MN_QUERY_CAPABILITIES:
        // The composite device is what can be removed, not its function.
        return Complete(irp, AnswerCapabilities(stack->Parameters.DeviceCapabilities.Capabilities,
                                                parent.functions[f].firstInterface, false));
    case IRP_MN_QUERY_ID: return Complete(irp, ChildId(parent, f, child, irp));
    case IRP_MN_QUERY_DEVICE_RELATIONS:
        if (stack->Parameters.QueryDeviceRelations.Type == TargetDeviceRelation)
            return Complete(irp, AnswerTargetRelation(child, irp));
        return Complete(irp, irp->IoStatus.Status);
    default: return Complete(irp, irp->IoStatus.Status);
    }
}

NTSTATUS CompleteUrb(PIRP irp, PURB urb, USBD_STATUS status)
{
    urb->UrbHeader.Status = status;
    return Complete(irp, NtStatusFromUsbdStatus(status));
}

// Selects an alternate setting of one of the function's interfaces on the parent's configuration
// and fills the child's record as selecting the configuration would have.
USBD_STATUS SelectSetting(Parent &parent, USBD_INTERFACE_INFORMATION &record)
{
    PUSB_CONFIGURATION_DESCRIPTOR configuration = AsConfiguration(parent.configuration);
    PUSB_INTERFACE_DESCRIPTOR setting = USBD_ParseConfigurationDescriptorEx(
        configuration, configuration, record.InterfaceNumber, record.AlternateSetting, -1, -1, -1);
    if (setting == nullptr)
        return USBD_STATUS_INVALID_PARAMETER;
    const ULONG pipes = setting->bNumEndpoints;
    const size_t size =
        offsetof(struct _URB_SELECT_INTERFACE, Interface) + GET_USBD_INTERFACE_SIZE(pipes);
    PURB urb = AllocateUrb(size);
    if (urb == nullptr)
        return USBD_STATUS_INSUFFICIENT_RESOURCES;
    UsbBuildSelectInterfaceRequest(urb, USHORT(size), parent.configurationHandle,
                                   record.InterfaceNumber, record.AlternateSetting);
    USBD_INTERFACE_INFORMATION &selected = urb->UrbSelectInterface.Interface;
    for (ULONG i = 0; i < pipes; ++i) {
        selected.Pipes[i].MaximumTransferSize = record.Pipes[i].MaximumTransferSize;
        selected.Pipes[i].PipeFlags = record.Pipes[i].PipeFlags;
    }
    NTSTATUS status = SubmitUrb(parent, urb);
    USBD_STATUS result = urb->UrbHeader.Status;
    if (NT_SUCCESS(status)) {
        record.Class = selected.Class;
        record.SubClass = selected.SubClass;
        record.Protocol = selected.Protocol;
        record.InterfaceHandle = selected.InterfaceHandle;
        record.NumberOfPipes = selected.NumberOfPipes;
        for (ULONG i = 0; i < pipes; ++i)
            record.Pipes[i] = selected.Pipes[i];
        result = USBD_STATUS_SUCCESS;
    } else if (result == USBD_STATUS_SUCCESS) {
        result = USBD_STATUS_INVALID_PARAMETER;
    }
    ExFreePool(urb);
    return result;
}

NTSTATUS SelectForFunction(Parent &parent, size_t f, PIRP irp, PURB urb)
{
    auto &request = urb->UrbSelectConfiguration;
    if (request.ConfigurationDescriptor == nullptr) {
        request.ConfigurationHandle = nullptr; // the other functions keep the configuration
        return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
    }
    if (KeGetCurrentIrql() != PASSIVE_LEVEL) {
        Machine::Current()->Checks().Report(
            VerifierCheck::Irql, "URB_FUNCTION_SELECT_CONFIGURATION above PASSIVE_LEVEL");
        return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PARAMETER);
    }
    std::vector<PUSBD_INTERFACE_INFORMATION> records;
    UsbRequestCheck check = SelectConfigurationRecords(urb, &records);
    if (!check.Accepted())
        return CompleteUrb(irp, urb, check.status);
    const std::vector<UCHAR> &ours = parent.functions[f].interfaces;
    for (PUSBD_INTERFACE_INFORMATION record : records)
        if (std::find(ours.begin(), ours.end(), record->InterfaceNumber) == ours.end())
            return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PARAMETER);
    for (PUSBD_INTERFACE_INFORMATION record : records) {
        USBD_STATUS status = SelectSetting(parent, *record);
        if (status != USBD_STATUS_SUCCESS)
            return CompleteUrb(irp, urb, status);
    }
    request.ConfigurationHandle = parent.configurationHandle;
    return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
}

// The function's part of the configuration, as much as the request has room for.
NTSTATUS FunctionConfiguration(Parent &parent, size_t f, PIRP irp, PURB urb)
{
    auto &request = urb->UrbControlDescriptorRequest;
    PVOID buffer = request.TransferBuffer;
    if (buffer == nullptr && request.TransferBufferMDL != nullptr)
        buffer = MmGetSystemAddressForMdlSafe(request.TransferBufferMDL, NormalPagePriority);
    if (buffer == nullptr && request.TransferBufferLength != 0)
        return CompleteUrb(irp, urb, USBD_STATUS_INVALID_PARAMETER);
    const std::vector<UCHAR> &configuration = parent.functions[f].configuration;
    const ULONG length = std::min<ULONG>(request.TransferBufferLength, ULONG(configuration.size()));
    std::memcpy(buffer, configuration.data(), length);
    request.TransferBufferLength = length;
    return CompleteUrb(irp, urb, USBD_STATUS_SUCCESS);
}

NTSTATUS ChildInternalControl(Parent &parent, size_t f, PIRP irp)
{
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto urb = static_cast<PURB>(stack->Parameters.Others.Argument1);
    // What the parent does not answer itself, the device's stack checks and serves.
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_INTERNAL_USB_SUBMIT_URB ||
        urb == nullptr)
        return PassDown(parent, irp);
    switch (urb->UrbHeader.Function) {
    case URB_FUNCTION_SELECT_CONFIGURATION:
        if (urb->UrbHeader.Length < offsetof(struct _URB_SELECT_CONFIGURATION, Interface))
            break;
        return SelectForFunction(parent, f, irp, urb);
    case URB_FUNCTION_GET_DESCRIPTOR_FROM_DEVICE:
        if (urb->UrbHeader.Length < sizeof(struct _URB_CONTROL_DESCRIPTOR_REQUEST) ||
            urb->UrbControlDescriptorRequest.DescriptorType != USB_CONFIGURATION_DESCRIPTOR_TYPE)
            break;
        return FunctionConfiguration(parent, f, irp, urb);
    default: break;
    }
    return PassDown(parent, irp);
}

NTSTATUS ChildPower(PIRP irp)
{
    switch (IoGetCurrentIrpStackLocation(irp)->MinorFunction) {
    case IRP_MN_SET_POWER:
    case IRP_MN_QUERY_POWER: return Complete(irp, STATUS_SUCCESS);
    case IRP_MN_WAIT_WAKE: return Complete(irp, STATUS_NOT_SUPPORTED);
    default: return Complete(irp, irp->IoStatus.Status);
    }
}

// --- dispatch ---

NTSTATUS DispatchPnp(PDEVICE_OBJECT device, PIRP irp)
{
    Extension &extension = ExtensionOf(device);
    if (extension.function == kParentObject)
        return ParentPnp(*extension.parent, irp);
    return ChildPnp(*extension.parent, extension.function, device, irp);
}

NTSTATUS DispatchPower(PDEVICE_OBJECT device, PIRP irp)
{
    Extension &extension = ExtensionOf(device);
    if (extension.function == kParentObject)
        return PassDown(*extension.parent, irp);
    return ChildPower(irp);
}

NTSTATUS DispatchInternalControl(PDEVICE_OBJECT device, PIRP irp)
{
    Extension &extension = ExtensionOf(device);
    if (extension.function == kParentObject)
        return PassDown(*extension.parent, irp);
    return ChildInternalControl(*extension.parent, extension.function, irp);
}

NTSTATUS DispatchOther(PDEVICE_OBJECT device, PIRP irp)
{
    Extension &extension = ExtensionOf(device);
    if (extension.function == kParentObject)
        return PassDown(*extension.parent, irp);
    return Complete(irp, irp->IoStatus.Status);
}

NTSTATUS DispatchNotSupported(PDEVICE_OBJECT, PIRP irp)
{
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS AddDevice(PDRIVER_OBJECT driver, PDEVICE_OBJECT pdo)
{
    PDEVICE_OBJECT fdo = nullptr;
    NTSTATUS status = IoCreateDevice(driver, sizeof(Extension), nullptr, FILE_DEVICE_UNKNOWN,
                                     FILE_DEVICE_SECURE_OPEN, FALSE, &fdo);
    if (!NT_SUCCESS(status))
        return status;
    auto parent = new Parent;
    parent->fdo = fdo;
    ExtensionOf(fdo) = {parent, kParentObject};
    parent->lower = IoAttachDeviceToDeviceStack(fdo, pdo);
    if (parent->lower == nullptr) {
        IoDeleteDevice(fdo);
        delete parent;
        return STATUS_NO_SUCH_DEVICE;
    }
    fdo->Flags |= DO_POWER_PAGABLE;
    fdo->Flags &= ~DO_DEVICE_INITIALIZING;
    return STATUS_SUCCESS;
}

void Unload(PDRIVER_OBJECT) {}

} // namespace

NTSTATUS UsbCompositeParentEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    for (int major = 0; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major)
        driver->MajorFunction[major] = DispatchNotSupported;
    driver->MajorFunction[IRP_MJ_PNP] = DispatchPnp;
    driver->MajorFunction[IRP_MJ_POWER] = DispatchPower;
    driver->MajorFunction[IRP_MJ_INTERNAL_DEVICE_CONTROL] = DispatchInternalControl;
    driver->MajorFunction[IRP_MJ_SYSTEM_CONTROL] = DispatchOther;
    driver->DriverExtension->AddDevice = AddDevice;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}

} // namespace host
