#include "pnp_requests.h"

#include "kernel/wide_string.h"

namespace host {

namespace {

NTSTATUS SignalDone(PDEVICE_OBJECT, PIRP, PVOID context)
{
    KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
    return STATUS_MORE_PROCESSING_REQUIRED; // the sender frees the IRP
}

StackRequestResult Send(PDEVICE_OBJECT pdo, UCHAR major, UCHAR minor,
                        const std::function<void(PIO_STACK_LOCATION)> &setup)
{
    PDEVICE_OBJECT top = IoGetAttachedDeviceReference(pdo);
    PIRP irp = IoAllocateIrp(top->StackSize, FALSE);
    if (irp == nullptr) {
        ObDereferenceObject(top);
        return {STATUS_INSUFFICIENT_RESOURCES, 0};
    }
    // What a request nobody handles completes with.
    irp->IoStatus.Status = STATUS_NOT_SUPPORTED;
    PIO_STACK_LOCATION location = IoGetNextIrpStackLocation(irp);
    location->MajorFunction = major;
    location->MinorFunction = minor;
    if (setup)
        setup(location);
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IoSetCompletionRoutine(irp, SignalDone, &done, TRUE, TRUE, TRUE);
    IoCallDriver(top, irp);
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    StackRequestResult result = {irp->IoStatus.Status, irp->IoStatus.Information};
    IoFreeIrp(irp);
    ObDereferenceObject(top);
    return result;
}

} // namespace

StackRequestResult SendPnpRequest(PDEVICE_OBJECT pdo, UCHAR minor,
                                  const std::function<void(PIO_STACK_LOCATION)> &setup)
{
    return Send(pdo, IRP_MJ_PNP, minor, setup);
}

NTSTATUS SendPowerRequest(PDEVICE_OBJECT pdo, UCHAR minor, POWER_STATE_TYPE type, POWER_STATE state)
{
    return Send(pdo, IRP_MJ_POWER, minor,
                [&](PIO_STACK_LOCATION location) {
                    location->Parameters.Power.Type = type;
                    location->Parameters.Power.State = state;
                    location->Parameters.Power.ShutdownType =
                        type == SystemPowerState && state.SystemState != PowerSystemWorking
                            ? PowerActionSleep
                            : PowerActionNone;
                })
        .status;
}

std::vector<std::u16string> QueryIds(PDEVICE_OBJECT pdo, BUS_QUERY_ID_TYPE type)
{
    StackRequestResult result =
        SendPnpRequest(pdo, IRP_MN_QUERY_ID, [type](PIO_STACK_LOCATION location) {
            location->Parameters.QueryId.IdType = type;
        });
    std::vector<std::u16string> ids;
    auto list = reinterpret_cast<PWCHAR>(result.information);
    if (!NT_SUCCESS(result.status) || list == nullptr)
        return ids;
    for (PWCHAR at = list; *at != 0; at += WideLength(at) + 1)
        ids.push_back(ToU16(at));
    ExFreePool(list); // the bus driver allocated it for the PnP manager
    return ids;
}

} // namespace host
