// The port class device's plug and play requests: start (lower drivers first, then the
// adapter's start routine), capabilities, stop and remove with their queries, surprise removal.
#include "port_class_device.h"

#include "resource_list.h"

namespace host {

namespace {

NTSTATUS SignalForwarded(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

NTSTATUS PortClassDevice::ForwardAndWait(PIRP irp)
{
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoCopyCurrentIrpStackLocationToNext(irp);
    IoSetCompletionRoutine(irp, SignalForwarded, &done, TRUE, TRUE, TRUE);
    NTSTATUS status = IoCallDriver(lower_, irp);
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        status = irp->IoStatus.Status;
    }
    return status;
}

NTSTATUS PortClassDevice::PassDown(PIRP irp)
{
    IoSkipCurrentIrpStackLocation(irp);
    return IoCallDriver(lower_, irp);
}

NTSTATUS PortClassDevice::Start(PIRP irp)
{
    NTSTATUS status = ForwardAndWait(irp);
    if (!NT_SUCCESS(status))
        return status;
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    PRESOURCELIST resources = nullptr;
    status =
        NewResourceList(&resources, location->Parameters.StartDevice.AllocatedResourcesTranslated,
                        location->Parameters.StartDevice.AllocatedResources);
    if (!NT_SUCCESS(status))
        return status;
    {
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        state_ = State::Started; // subdevices register during the start routine
        KeReleaseMutex(&lock_, FALSE);
    }
    status = startDevice_(fdo_, irp, resources);
    resources->Release();
    if (!NT_SUCCESS(status)) {
        RemoveSubdevices(); // what a failing start routine registered goes with it
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        state_ = State::Stopped;
        KeReleaseMutex(&lock_, FALSE);
    }
    return status;
}

NTSTATUS PortClassDevice::Pnp(PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    switch (location->MinorFunction) {
    case IRP_MN_START_DEVICE: return Complete(irp, Start(irp));

    case IRP_MN_QUERY_CAPABILITIES: {
        NTSTATUS status = ForwardAndWait(irp);
        PDEVICE_CAPABILITIES capabilities = location->Parameters.DeviceCapabilities.Capabilities;
        if (NT_SUCCESS(status)) {
            for (int s = PowerSystemWorking; s < PowerSystemMaximum; ++s)
                if (capabilities->DeviceState[s] != PowerDeviceUnspecified)
                    deviceStateFor_[s] = capabilities->DeviceState[s];
            if (adapterPower_ != nullptr)
                status = adapterPower_->QueryDeviceCapabilities(capabilities);
        }
        return Complete(irp, status);
    }

    case IRP_MN_QUERY_STOP_DEVICE:
    case IRP_MN_QUERY_REMOVE_DEVICE: {
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        bool busy = FilesOpen();
        if (!busy) {
            stateBeforeQuery_ = state_;
            state_ = location->MinorFunction == IRP_MN_QUERY_STOP_DEVICE ? State::StopPending
                                                                         : State::RemovePending;
        }
        KeReleaseMutex(&lock_, FALSE);
        if (busy)
            return Complete(irp, STATUS_DEVICE_BUSY);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(irp);
    }

    case IRP_MN_CANCEL_STOP_DEVICE:
    case IRP_MN_CANCEL_REMOVE_DEVICE: {
        NTSTATUS status = ForwardAndWait(irp);
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        if (state_ == State::StopPending || state_ == State::RemovePending)
            state_ = stateBeforeQuery_;
        KeReleaseMutex(&lock_, FALSE);
        return Complete(irp, NT_SUCCESS(status) ? status : STATUS_SUCCESS);
    }

    case IRP_MN_STOP_DEVICE:
        RemoveSubdevices();
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        state_ = State::Stopped;
        KeReleaseMutex(&lock_, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(irp);

    case IRP_MN_SURPRISE_REMOVAL:
        KeWaitForSingleObject(&lock_, Executive, KernelMode, FALSE, nullptr);
        state_ = State::SurpriseRemoved;
        SetInterfaces(false);
        KeReleaseMutex(&lock_, FALSE);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(irp);

    case IRP_MN_REMOVE_DEVICE: {
        RemoveSubdevices();
        irp->IoStatus.Status = STATUS_SUCCESS;
        NTSTATUS status = PassDown(irp);
        PDEVICE_OBJECT fdo = fdo_;
        IoDetachDevice(lower_);
        Attach(fdo, nullptr);
        delete this;
        IoDeleteDevice(fdo);
        return status;
    }

    default: return PassDown(irp);
    }
}

} // namespace host
