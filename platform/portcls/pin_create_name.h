// The name a pin create request carries: KSSTRING_Pin, a '\', then the KSPIN_CONNECT and its
// KSDATAFORMAT as binary data. KsCreatePin (ks.sys for kernel callers, ksuser.dll for user mode)
// opens it relative to the filter's file.
#pragma once

#include <wdm.h>
#include <ks.h>

#include <vector>

namespace host {

// STATUS_INVALID_PARAMETER when the request would not fit a name (64 KB).
NTSTATUS PinCreateName(const KSPIN_CONNECT *connect, std::vector<WCHAR> *name, USHORT *bytes);

} // namespace host
