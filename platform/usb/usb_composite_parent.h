// The generic parent driver of composite USB devices (Windows' usbccgp.sys), which plug and play
// loads for a device whose only match is the compatible id USB\COMPOSITE. Its function device
// object reads the configuration, selects it with every interface at alternate setting 0, and
// reports one child physical device object per function (see usb_composite_functions.h), with
// the ids USB\VID_v&PID_p&REV_r&MI_nn and USB\VID_v&PID_p&MI_nn (nn: the function's first
// interface) and class ids from the function's class.
//
// A child's driver talks to the device through its child: URBs pass down to the device's own
// physical device object, except that the child's configuration descriptor is the function's
// part of the configuration, and selecting a configuration selects the alternate settings the
// request names on the function's interfaces of the configuration the parent selected (deselecting
// leaves the device configured, as the other functions still use it). The USB bus interface is
// the device's.
#pragma once

#include <wdm.h>

namespace host {

// The service name and image the system's USB package installs the driver under.
extern const char16_t kUsbCompositeParentService[];
extern const char16_t kUsbCompositeParentImage[];
// The compatible id it serves.
extern const char16_t kUsbCompositeId[];

NTSTATUS UsbCompositeParentEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath);

} // namespace host
