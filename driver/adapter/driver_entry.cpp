// The driver's entry points: driver entry and unload, and the two routines port class calls
// for each device, add-device and start-device. Start-device builds the device's adapter,
// installs the "Wave" subdevice with the WaveCyclic miniport and registers the adapter for
// power management. Each device's adapter finds its own physical device object through port
// class, so a second device never binds to the first one's.
#include "quen_driver_platform.h"

#include "adapter/adapter_usb_audio.h"
#include "driver_trace.h"
#include "wave/miniport_wave_cyclic_usb_audio.h"

namespace {

// The unload routine PcInitializeAdapterDriver put into the driver object; the driver's own
// unload ends with it.
PDRIVER_UNLOAD PortClassUnload = nullptr;

// Creates a miniport: its IUnknown with one reference.
typedef NTSTATUS (*MINIPORT_FACTORY)(PUNKNOWN *Unknown, REFCLSID ClassId, PUNKNOWN UnknownOuter,
                                     POOL_TYPE PoolType);

// The one subdevice; port class may have as many as a device's adapter registers.
const ULONG kMaxSubdevices = 1;

WCHAR WaveSubdeviceName[] = L"Wave";

// Creates the port and the miniport, binds them and registers the subdevice. The port and
// the registration keep what they need; the callers' references to the port's and the
// miniport's IUnknown are optional.
NTSTATUS InstallSubdevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PWSTR Name, REFGUID PortClassId,
                          MINIPORT_FACTORY CreateMiniport, PUNKNOWN UnknownAdapter,
                          PUNKNOWN *OutPortUnknown, PUNKNOWN *OutMiniportUnknown)
{
    PAGED_CODE();
    PPORT port = nullptr;
    NTSTATUS status = PcNewPort(&port, PortClassId);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "PcNewPort failed, status 0x%08lX", status);
        return status;
    }
    PUNKNOWN miniport = nullptr;
    status = CreateMiniport(&miniport, PortClassId, nullptr, NonPagedPoolNx);
    if (NT_SUCCESS(status)) {
        // A USB device has no hardware resources for the miniport.
        status = port->Init(DeviceObject, Irp, miniport, UnknownAdapter, nullptr);
    }
    if (NT_SUCCESS(status)) {
        status = PcRegisterSubdevice(DeviceObject, Name, port);
    }
    if (NT_SUCCESS(status) && OutPortUnknown != nullptr) {
        status = port->QueryInterface(IID_IUnknown, reinterpret_cast<PVOID *>(OutPortUnknown));
    }
    if (NT_SUCCESS(status) && OutMiniportUnknown != nullptr) {
        status =
            miniport->QueryInterface(IID_IUnknown, reinterpret_cast<PVOID *>(OutMiniportUnknown));
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "subdevice %ws not installed, status 0x%08lX", Name, status);
    }
    if (miniport != nullptr) {
        miniport->Release();
    }
    port->Release();
    return status;
}

NTSTATUS StartDevice(PDEVICE_OBJECT DeviceObject, PIRP Irp, PRESOURCELIST ResourceList)
{
    PAGED_CODE();
    UNREFERENCED_PARAMETER(ResourceList);
    PDEVICE_OBJECT physicalDeviceObject = nullptr;
    NTSTATUS status = PcGetPhysicalDeviceObject(DeviceObject, &physicalDeviceObject);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    auto adapter = new (NonPagedPoolNx, ADAPTER_POOL_TAG) CAdapterUsbAudio(nullptr);
    if (adapter == nullptr) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    adapter->NonDelegatingAddRef();
    PADAPTERUSBAUDIO adapterInterface = nullptr;
    status = adapter->NonDelegatingQueryInterface(IID_IAdapterUsbAudio,
                                                  reinterpret_cast<PVOID *>(&adapterInterface));
    if (NT_SUCCESS(status)) {
        status = adapterInterface->Init(physicalDeviceObject, DeviceObject);
    }
    PUNKNOWN port = nullptr;
    PUNKNOWN miniport = nullptr;
    if (NT_SUCCESS(status)) {
        status = InstallSubdevice(DeviceObject, Irp, WaveSubdeviceName, CLSID_PortWaveCyclic,
                                  CreateMiniportWaveCyclicUsbAudio, PUNKNOWN(adapterInterface),
                                  &port, &miniport);
    }
    // Last, so that a start that fails on the way leaves no registration behind.
    if (NT_SUCCESS(status)) {
        status = PcRegisterAdapterPowerManagement(PUNKNOWN(adapterInterface), DeviceObject);
    }
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "device start failed, status 0x%08lX", status);
    }
    if (miniport != nullptr) {
        miniport->Release();
    }
    if (port != nullptr) {
        port->Release();
    }
    if (adapterInterface != nullptr) {
        adapterInterface->Release();
    }
    // On success the port and the power registration keep the adapter alive.
    adapter->NonDelegatingRelease();
    return status;
}

NTSTATUS AddDevice(PDRIVER_OBJECT DriverObject, PDEVICE_OBJECT PhysicalDeviceObject)
{
    PAGED_CODE();
    return PcAddAdapterDevice(DriverObject, PhysicalDeviceObject, StartDevice, kMaxSubdevices, 0);
}

void DriverUnload(PDRIVER_OBJECT DriverObject)
{
    PAGED_CODE();
    DbgPrint("UsbAudio!DriverUnload\n");
    if (PortClassUnload != nullptr) {
        PortClassUnload(DriverObject);
    }
}

} // namespace

// Tracing goes to the debugger output, which needs nothing started or stopped: a failing
// driver entry leaves nothing behind.
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPathName)
{
    PAGED_CODE();
    DbgPrint("UsbAudio!DriverEntry\n");
    const NTSTATUS status = PcInitializeAdapterDriver(DriverObject, RegistryPathName, AddDevice);
    if (!NT_SUCCESS(status)) {
        QuenTrace(TRACE_LEVEL_ERROR, "PcInitializeAdapterDriver failed, status 0x%08lX", status);
        return status;
    }
    PortClassUnload = DriverObject->DriverUnload;
    DriverObject->DriverUnload = DriverUnload;
    return status;
}
