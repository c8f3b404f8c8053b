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

// Port class and kernel streaming.
#if defined(__MINGW32__)
// mingw-w64's <ksmedia.h> uses FLOAT (from <windef.h>) and TCHAR as WCHAR; <punknown.h> uses
// DECLSPEC_NOVTABLE and DECLSPEC_NOTHROW, which only <winnt.h> defines; <portcls.h>'s WaveRT
// stream interface names types its <ksmedia.h> lacks, so that interface is left out.
#include <windef.h>
#ifndef _TCHAR_DEFINED
typedef WCHAR TCHAR;
#define _TCHAR_DEFINED
#endif
#ifndef DECLSPEC_NOVTABLE
#define DECLSPEC_NOVTABLE
#endif
#ifndef DECLSPEC_NOTHROW
#define DECLSPEC_NOTHROW
#endif
#define DEFINE_ABSTRACT_MINIPORTWAVERTSTREAM()
#endif
#include <portcls.h>
#include <stdunk.h>
#include <ks.h>
#include <ksmedia.h>

// Port class has this since Windows XP; neither header set declares it.
extern "C" NTSTATUS NTAPI PcGetPhysicalDeviceObject(PDEVICE_OBJECT DeviceObject,
                                                    PDEVICE_OBJECT *PhysicalDeviceObject);

#if defined(__MINGW32__)
// mingw-w64's <stdunk.h> gives port-class objects the pool's plain operator delete only; an
// object with a cache-aligned member (a lookaside list) is deleted through the aligned form.
// Pool blocks need no alignment to be freed.
#include <new>
inline void __cdecl operator delete(PVOID ptr, std::align_val_t) { ExFreePool(ptr); }
#endif
