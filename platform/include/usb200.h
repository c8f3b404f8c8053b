// Host version of <usb200.h>: the USB 2.0 records (device qualifier, interface association,
// high-speed packet sizes), which today live in <usbspec.h>.
#pragma once

#include "usb100.h"
