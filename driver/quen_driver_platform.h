// The platform headers of the kernel driver. Driver sources include this header instead of any
// WDK header, so the include-order quirks of that header set are handled here once.
#pragma once

#if defined(__MINGW32__)
// mingw-w64's <intrin.h> defines these two, and its <wdm.h> defines them again. Marking the
// intrinsics as present keeps the <wdm.h> definitions.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#endif

#include <ntddk.h>

// The USB driver interface: URBs, the USBD library, the internal I/O controls and the bus
// interface. mingw-w64's <usbdlib.h> has no linkage block of its own.
extern "C" {
#include <usb.h>
#include <usbdi.h>
#include <usbdlib.h>
}
#include <usbioctl.h>
#include <usbbusif.h>

// The port class and KS headers join below, in this order, once the host has them too.
// mingw-w64 needs, before them: <windef.h> (FLOAT) and TCHAR as WCHAR, both used by <ksmedia.h>;
// DECLSPEC_NOVTABLE and DECLSPEC_NOTHROW defined empty (only <winnt.h> defines them, and
// <punknown.h> uses them); an empty DEFINE_ABSTRACT_MINIPORTWAVERTSTREAM() (<portcls.h>'s WaveRT
// stream interface names types its <ksmedia.h> lacks). Then <portcls.h>, <ks.h>, <ksmedia.h>.
