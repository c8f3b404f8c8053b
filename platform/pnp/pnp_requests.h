// The requests the PnP and power managers send a device stack: a new IRP to the top of the stack
// of a physical device object, waited for at PASSIVE_LEVEL and freed by its sender (these IRPs
// belong to no thread).
#pragma once

#include <wdm.h>

#include <functional>
#include <string>
#include <vector>

namespace host {

struct StackRequestResult {
    NTSTATUS status;
    ULONG_PTR information;
};

// IRP_MJ_PNP with `minor`; `setup` fills the stack location's parameters.
StackRequestResult SendPnpRequest(PDEVICE_OBJECT pdo, UCHAR minor,
                                  const std::function<void(PIO_STACK_LOCATION)> &setup = nullptr);

// IRP_MJ_POWER, IRP_MN_SET_POWER or IRP_MN_QUERY_POWER, for a system or device power state.
NTSTATUS SendPowerRequest(PDEVICE_OBJECT pdo, UCHAR minor, POWER_STATE_TYPE type,
                          POWER_STATE state);

// IRP_MN_QUERY_ID: the device's hardware or compatible ids (empty if it gives none).
std::vector<std::u16string> QueryIds(PDEVICE_OBJECT pdo, BUS_QUERY_ID_TYPE type);

} // namespace host
