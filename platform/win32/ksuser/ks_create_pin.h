// ksuser's KsCreatePin. Its host name differs from ks.sys's KsCreatePin, which kernel-mode
// clients call, since both live in one program here; GetProcAddress finds it as "KsCreatePin".
#pragma once

#include <wdm.h>
#include <ks.h>

namespace host::win32 {

DWORD WINAPI UserKsCreatePin(HANDLE FilterHandle, PKSPIN_CONNECT Connect,
                             ACCESS_MASK DesiredAccess, PHANDLE ConnectionHandle);

} // namespace host::win32
