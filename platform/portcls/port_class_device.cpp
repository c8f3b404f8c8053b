#include "port_class_device.h"

#include "kernel/io_manager.h"
#include "kernel/machine.h"
#include "kernel/wide_string.h"

#include <algorithm>

namespace host {

namespace {

// The first two pointer-sized slots of the port class part of the device extension.
constexpr ULONG_PTR kExtensionMagic = 0x50436c7344657631ULL; // "PClsDev1"

struct ExtensionHeader {
    PortClassDevice *device;
    ULONG_PTR magic;
};

Machine &CurrentMachine(const char *entryPoint) { return *CurrentThread(entryPoint)->machine; }

} // namespace

PortClassDevice::PortClassDevice(PDEVICE_OBJECT fdo, PDEVICE_OBJECT pdo, PDEVICE_OBJECT lower,
                                 PCPFNSTARTDEVICE startDevice, ULONG maxSubdevices)
    : fdo_(fdo), pdo_(pdo), lower_(lower), startDevice_(startDevice), maxSubdevices_(maxSubdevices)
{
    KeInitializeMutex(&lock_, 0);
    for (DEVICE_POWER_STATE &state : deviceStateFor_)
        state = PowerDeviceD3;
    deviceStateFor_[PowerSystemWorking] = PowerDeviceD0;
}

PortClassDevice::~PortClassDevice()
{
    for (PortSubdevice *port : initialisedPorts_)
        port->DeviceGone();
}

void PortClassDevice::PortInitialised(PortSubdevice *port)
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    initialisedPorts_.push_back(port);
    KeReleaseMutex(&lock_, FALSE);
}

void PortClassDevice::PortDestroyed(PortSubdevice *port)
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    initialisedPorts_.erase(std::remove(initialisedPorts_.begin(), initialisedPorts_.end(), port),
                            initialisedPorts_.end());
    KeReleaseMutex(&lock_, FALSE);
}

void PortClassDevice::Attach(PDEVICE_OBJECT fdo, PortClassDevice *device)
{
    auto header = static_cast<ExtensionHeader *>(fdo->DeviceExtension);
    header->device = device;
    header->magic = device != nullptr ? kExtensionMagic : 0;
}

PortClassDevice *PortClassDevice::Of(PDEVICE_OBJECT device, const char *entryPoint)
{
    auto header = device != nullptr && device->DeviceExtension != nullptr &&
                          device->Size >= sizeof(DEVICE_OBJECT) + sizeof(ExtensionHeader)
                      ? static_cast<ExtensionHeader *>(device->DeviceExtension)
                      : nullptr;
    if (header != nullptr && header->magic == kExtensionMagic)
        return header->device;
    CurrentMachine(entryPoint)
        .Checks()
        .Report(VerifierCheck::Usage,
                std::string(entryPoint) +
                    " on a device object PcAddAdapterDevice did not make (or whose "
                    "port class extension was overwritten)");
    return nullptr;
}

NTSTATUS PortClassDevice::Dispatch(PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    auto object = location->FileObject != nullptr
                      ? static_cast<KsObject *>(location->FileObject->FsContext)
                      : nullptr;
    NTSTATUS status;
    switch (location->MajorFunction) {
    case IRP_MJ_CREATE: return Create(irp);
    case IRP_MJ_PNP: return Pnp(irp);
    case IRP_MJ_POWER: return Power(irp);
    case IRP_MJ_SYSTEM_CONTROL: return PassDown(irp);
    case IRP_MJ_DEVICE_CONTROL:
        if (object != nullptr)
            return object->DeviceControl(irp);
        status = STATUS_INVALID_DEVICE_REQUEST;
        break;
    case IRP_MJ_CLEANUP:
        if (object != nullptr)
            object->Cleanup();
        status = STATUS_SUCCESS;
        break;
    case IRP_MJ_CLOSE:
        if (object != nullptr)
            object->Close();
        location->FileObject->FsContext = nullptr;
        status = STATUS_SUCCESS;
        break;
    default: status = STATUS_INVALID_DEVICE_REQUEST; break;
    }
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS PortClassDevice::Create(PIRP irp)
{
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    NTSTATUS status;
    KsObject *object = nullptr;
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    if (state_ == State::SurpriseRemoved) {
        status = STATUS_DEVICE_NOT_CONNECTED;
    } else if (state_ != State::Started) {
        status = STATUS_INVALID_DEVICE_STATE;
    } else if (file->RelatedFileObject != nullptr) {
        auto parent = static_cast<KsObject *>(file->RelatedFileObject->FsContext);
        status = parent != nullptr ? parent->CreateChild(irp, file, &object)
                                   : STATUS_INVALID_DEVICE_REQUEST;
    } else {
        // A filter: the file name is the reference string of the subdevice's interfaces.
        std::u16string name = ToU16(file->FileName);
        if (!name.empty() && name[0] == u'\\')
            name.erase(0, 1);
        status = STATUS_OBJECT_NAME_NOT_FOUND;
        for (Subdevice &subdevice : subdevices_)
            if (EqualIgnoreCase(subdevice.name, name))
                status = subdevice.port->NewFilter(file, &object);
    }
    KeReleaseMutex(&lock_, FALSE);
    if (NT_SUCCESS(status))
        file->FsContext = object;
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

bool PortClassDevice::FilesOpen() { return CurrentMachine("port class").Io().OpenFiles(pdo_) != 0; }

NTSTATUS PortClassDevice::RegisterSubdevice(const std::u16string &name, PUNKNOWN unknown)
{
    PVOID found = nullptr;
    if (unknown == nullptr || !NT_SUCCESS(unknown->QueryInterface(IID_HostPortSubdevice, &found)))
        return STATUS_INVALID_PARAMETER; // not a port this port class made
    auto port = static_cast<PortSubdevice *>(found);
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    NTSTATUS status = STATUS_SUCCESS;
    if (subdevices_.size() >= maxSubdevices_)
        status = STATUS_INSUFFICIENT_RESOURCES; // more than PcAddAdapterDevice's MaxObjects
    for (const Subdevice &subdevice : subdevices_)
        if (EqualIgnoreCase(subdevice.name, name))
            status = STATUS_OBJECT_NAME_COLLISION;
    Subdevice entry{name, port, {}};
    std::vector<WCHAR> reference(name.begin(), name.end());
    UNICODE_STRING referenceString;
    referenceString.Buffer = reference.data();
    referenceString.Length = referenceString.MaximumLength =
        USHORT(reference.size() * sizeof(WCHAR));
    if (NT_SUCCESS(status)) {
        for (const GUID &interfaceClass : port->InterfaceClasses()) {
            UNICODE_STRING link;
            status = IoRegisterDeviceInterface(pdo_, &interfaceClass, &referenceString, &link);
            if (!NT_SUCCESS(status))
                break;
            entry.links.push_back(ToU16(link));
            RtlFreeUnicodeString(&link);
        }
    }
    if (NT_SUCCESS(status)) {
        for (std::u16string &link : entry.links) {
            std::vector<WCHAR> text(link.begin(), link.end());
            UNICODE_STRING name16 = {USHORT(text.size() * sizeof(WCHAR)),
                                     USHORT(text.size() * sizeof(WCHAR)), text.data()};
            status = IoSetDeviceInterfaceState(&name16, TRUE);
            if (!NT_SUCCESS(status))
                break;
        }
    }
    if (NT_SUCCESS(status))
        subdevices_.push_back(std::move(entry));
    KeReleaseMutex(&lock_, FALSE);
    if (!NT_SUCCESS(status))
        port->PortUnknown()->Release();
    return status;
}

void PortClassDevice::SetInterfaces(bool enable)
{
    for (Subdevice &subdevice : subdevices_)
        for (const std::u16string &link : subdevice.links) {
            std::vector<WCHAR> text(link.begin(), link.end());
            UNICODE_STRING name = {USHORT(text.size() * sizeof(WCHAR)),
                                   USHORT(text.size() * sizeof(WCHAR)), text.data()};
            IoSetDeviceInterfaceState(&name, enable ? TRUE : FALSE);
        }
}

void PortClassDevice::RemoveSubdevices()
{
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    SetInterfaces(false);
    std::vector<Subdevice> removed;
    removed.swap(subdevices_);
    PADAPTERPOWERMANAGEMENT power = adapterPower_;
    adapterPower_ = nullptr;
    std::vector<PortSubdevice *> initialised = initialisedPorts_;
    KeReleaseMutex(&lock_, FALSE);
    for (PortSubdevice *port : initialised) {
        bool registered = false;
        for (Subdevice &subdevice : removed)
            registered |= subdevice.port == port;
        if (!registered)
            port->Unregister(); // breaks the port-miniport cycle of a port never registered
    }
    for (Subdevice &subdevice : removed) {
        subdevice.port->Unregister();
        ULONG left = subdevice.port->PortUnknown()->Release();
        if (left != 0 && !FilesOpen())
            CurrentMachine("port class")
                .Checks()
                .Report(VerifierCheck::ObjectLeak,
                        "the port of subdevice '" + ToUtf8(subdevice.name) + "' still has " +
                            std::to_string(left) + " reference(s) after the subdevice was removed");
    }
    if (power != nullptr)
        power->Release();
}

NTSTATUS PortClassDevice::RegisterPowerManagement(PUNKNOWN unknown)
{
    PVOID power = nullptr;
    if (unknown == nullptr ||
        !NT_SUCCESS(unknown->QueryInterface(IID_IAdapterPowerManagement, &power)))
        return STATUS_INVALID_PARAMETER;
    KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
    PADAPTERPOWERMANAGEMENT previous = adapterPower_;
    adapterPower_ = static_cast<PADAPTERPOWERMANAGEMENT>(power);
    KeReleaseMutex(&lock_, FALSE);
    if (previous != nullptr)
        previous->Release(); // the latest registration counts
    return STATUS_SUCCESS;
}

} // namespace host
