// The platform headers of the KS client library: device-interface enumeration through SetupAPI
// and kernel-streaming filters and pins through DeviceIoControl and ksuser. Library sources
// include this header instead of any Windows header.
#pragma once

#include <windows.h>
#include <setupapi.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
