// The platform headers of the ASIO driver: an in-process COM server whose buffer-switch thread
// runs as an MMCSS task and which talks to the kernel driver through kernel-streaming properties.
// Driver sources include this header instead of any Windows header.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <olectl.h>
#include <mmsystem.h>
#include <avrt.h>
#include <mmreg.h>
#include <ks.h>
#include <ksmedia.h>
