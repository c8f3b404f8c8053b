// Host version of <usb100.h>: the USB 1.x records, which today live in <usbspec.h>.
#pragma once

#include "usbspec.h"
