// Host version of <wdm.h>: the kernel interfaces the driver uses, one part per executive
// component (ke: scheduler and dispatcher objects, ex: pool and lists, ob: objects and handles,
// io: I/O manager, po: power manager, mm: memory descriptor lists, rtl: run-time library,
// zw: registry services).
#pragma once

#include "ntdef.h"
#include "ntstatus.h"
#include "wdm/ke.h"
#include "wdm/ex.h"
#include "wdm/ob.h"
#include "wdm/io.h"
#include "wdm/po.h"
#include "wdm/mm.h"
#include "wdm/rtl.h"
#include "wdm/zw.h"
