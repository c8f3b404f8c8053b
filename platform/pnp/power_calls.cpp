// The power manager's calls for drivers: PoRequestPowerIrp (a new power IRP to the top of a
// physical device object's stack, its completion function called once it completes),
// PoCallDriver, PoStartNextPowerIrp and PoSetPowerState.
#include "pnp_manager.h"

#include "kernel/io_manager.h"

namespace {

struct PowerRequest {
    PREQUEST_POWER_COMPLETE completion;
    PVOID context;
    PDEVICE_OBJECT pdo;
    UCHAR minor;
    POWER_STATE state;
};

NTSTATUS PowerRequestDone(PDEVICE_OBJECT, PIRP irp, PVOID context)
{
    auto request = static_cast<PowerRequest *>(context);
    if (request->completion != nullptr)
        request->completion(request->pdo, request->minor, request->state, request->context,
                            &irp->IoStatus);
    ObDereferenceObject(request->pdo);
    delete request;
    IoFreeIrp(irp);
    return STATUS_MORE_PROCESSING_REQUIRED;
}

} // namespace

extern "C" {

NTSTATUS PoRequestPowerIrp(PDEVICE_OBJECT DeviceObject, UCHAR MinorFunction, POWER_STATE PowerState,
                           PREQUEST_POWER_COMPLETE CompletionFunction, PVOID Context, PIRP *Irp)
{
    host::IoManager &io = host::CurrentIo("PoRequestPowerIrp");
    if (KeGetCurrentIrql() > DISPATCH_LEVEL)
        io.Report(host::VerifierCheck::Irql, "PoRequestPowerIrp at IRQL %u", KeGetCurrentIrql());
    if (MinorFunction != IRP_MN_SET_POWER && MinorFunction != IRP_MN_QUERY_POWER)
        return STATUS_INVALID_PARAMETER_2; // wait-wake and sequences are not emulated
    if (host::DeviceInstanceIdOf(DeviceObject).empty()) {
        io.Report(host::VerifierCheck::Usage,
                  "PoRequestPowerIrp on a device object that is not a physical device object");
        return STATUS_INVALID_PARAMETER_1;
    }
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(DeviceObject);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) {
        ObDereferenceObject(top);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    ObReferenceObject(DeviceObject);
    auto request =
        new PowerRequest{CompletionFunction, Context, DeviceObject, MinorFunction, PowerState};
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = IRP_MJ_POWER;
    location->MinorFunction = MinorFunction;
    location->Parameters.Power.Type = DevicePowerState; // drivers request device states
    location->Parameters.Power.State = PowerState;
    IoSetCompletionRoutine(irp, PowerRequestDone, request, TRUE, TRUE, TRUE);
    if (Irp != nullptr)
        *Irp = irp; // valid until its completion function has run
    IoCallDriver(top, irp);
    ObDereferenceObject(top);
    return STATUS_PENDING;
}

NTSTATUS PoCallDriver(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    return IoCallDriver(DeviceObject, Irp);
}

void PoStartNextPowerIrp(PIRP) {}

POWER_STATE PoSetPowerState(PDEVICE_OBJECT DeviceObject, POWER_STATE_TYPE Type, POWER_STATE State)
{
    host::PnpManager *pnp = host::PnpManager::OfCurrentMachine();
    return pnp != nullptr ? pnp->RecordPowerState(DeviceObject, Type, State) : State;
}

} // extern "C"
