// What a USB bus driver answers for the physical device objects it reports (the hub's for a
// device, the generic parent's for a function): id lists, capabilities and the target relation,
// allocated from paged pool for the PnP manager to free.
#pragma once

#include <wdm.h>

#include <string>
#include <vector>

namespace host {

// IRP_MN_QUERY_ID: a REG_MULTI_SZ list (each string ended, then an empty one) if `multi`, else
// the one id, into the IRP's Information.
NTSTATUS AnswerIdList(const std::vector<std::u16string> &ids, bool multi, PIRP irp);

// IRP_MN_QUERY_CAPABILITIES: D0 while working and D3 in every sleep state.
NTSTATUS AnswerCapabilities(PDEVICE_CAPABILITIES capabilities, ULONG address, bool removable);

// IRP_MN_QUERY_DEVICE_RELATIONS of TargetDeviceRelation: the device object itself, referenced.
NTSTATUS AnswerTargetRelation(PDEVICE_OBJECT pdo, PIRP irp);

} // namespace host
