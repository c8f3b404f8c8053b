// Host version of <usb200.h>: the USB 2.0 records (device qualifier, interface association,
// high-speed packet sizes), kept with the USB 1.x records in <usb100.h>.
#pragma once

#include "usb100.h"
