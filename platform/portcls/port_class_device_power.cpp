// The port class device's power requests. Port class owns the device's power policy: a
// system power request becomes a device power request (by the device state the capabilities
// name for that system state). Powering down, the subdevices pause their running streams and
// tell their miniports (IPowerNotify) before the adapter (IAdapterPowerManagement) changes
// state; powering up, the adapter first, then the miniports, then the streams run again.
#include "port_class_device.h"

namespace host {

namespace {

struct DevicePowerRequest {
    KEVENT done;
    NTSTATUS status;
};

void DevicePowerDone(PDEVICE_OBJECT, UCHAR, POWER_STATE, PVOID context, PIO_STATUS_BLOCK status)
{
    auto request = static_cast<DevicePowerRequest *>(context);
    request->status = status->Status;
    KeSetEvent(&request->done, IO_NO_INCREMENT, FALSE);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status)
{
    irp->IoStatus.Status = status;
    PoStartNextPowerIrp(irp);
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

} // namespace

NTSTATUS PortClassDevice::SetDevicePower(PIRP irp, DEVICE_POWER_STATE state)
{
    POWER_STATE power;
    power.DeviceState = state;
    if (state == devicePower_)
        return PassDown(irp);
    if (state > devicePower_) { // towards D3: save, then pass the request down
        for (Subdevice &subdevice : subdevices_)
            subdevice.port->PowerDown(power);
        if (adapterPower_ != nullptr)
            adapterPower_->PowerChangeState(power);
        devicePower_ = state;
        PoSetPowerState(fdo_, DevicePowerState, power);
        PoStartNextPowerIrp(irp);
        return PassDown(irp);
    }
    NTSTATUS status = ForwardAndWait(irp); // towards D0: the lower drivers first
    if (NT_SUCCESS(status)) {
        devicePower_ = state;
        PoSetPowerState(fdo_, DevicePowerState, power);
        if (adapterPower_ != nullptr)
            adapterPower_->PowerChangeState(power);
        for (Subdevice &subdevice : subdevices_)
            subdevice.port->PowerUp(power);
    }
    return Complete(irp, status);
}

NTSTATUS PortClassDevice::Power(PIRP irp)
{
    PIO_STACK_LOCATION location = IoGetCurrentIrpStackLocation(irp);
    const POWER_STATE state = location->Parameters.Power.State;
    const bool device = location->Parameters.Power.Type == DevicePowerState;
    switch (location->MinorFunction) {
    case IRP_MN_QUERY_POWER:
        if (device && adapterPower_ != nullptr) {
            NTSTATUS status = adapterPower_->QueryPowerChangeState(state);
            if (!NT_SUCCESS(status))
                return Complete(irp, status);
        }
        PoStartNextPowerIrp(irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(irp);

    case IRP_MN_SET_POWER: {
        if (device)
            return SetDevicePower(irp, state.DeviceState);
        // A system state: request the device state it maps to, then pass the system request on.
        DEVICE_POWER_STATE wanted = state.SystemState < PowerSystemMaximum
                                        ? deviceStateFor_[state.SystemState]
                                        : PowerDeviceD3;
        if (wanted != devicePower_) {
            DevicePowerRequest request;
            KeInitializeEvent(&request.done, NotificationEvent, FALSE);
            request.status = STATUS_SUCCESS;
            POWER_STATE devicePower;
            devicePower.DeviceState = wanted;
            NTSTATUS status = PoRequestPowerIrp(pdo_, IRP_MN_SET_POWER, devicePower,
                                                DevicePowerDone, &request, nullptr);
            if (status == STATUS_PENDING) {
                KeWaitForSingleObject(&request.done, Executive, KernelMode, FALSE, nullptr);
                status = request.status;
            }
            if (!NT_SUCCESS(status))
                return Complete(irp, status);
        }
        PoStartNextPowerIrp(irp);
        irp->IoStatus.Status = STATUS_SUCCESS;
        return PassDown(irp);
    }

    default: PoStartNextPowerIrp(irp); return PassDown(irp);
    }
}

} // namespace host
