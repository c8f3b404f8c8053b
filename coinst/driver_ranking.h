// The co-installer's one decision: when the installer chooses the best compatible driver for a
// device, the package's own driver for the model wins over every other compatible driver. A walk
// over the driver list first looks for a driver of the package; only if one is there does a
// second walk give every other driver the worst rank, so the installer's own choice lands on the
// package's driver. Nothing changes when the list holds no driver of the package.
#pragma once

#include "quen_coinst_platform.h"

// The manufacturer and a model description of the package, compared in full, case-sensitively.
bool IsPackageDriver(const SP_DRVINFO_DATA_V2_A &driver);

// The walk of DIF_SELECTBESTCOMPATDRV over a device's compatible drivers (the set's class drivers
// when no device is given). SetupAPI failures end a walk with a trace line; installation goes on.
void RankPackageDriverFirst(HDEVINFO set, PSP_DEVINFO_DATA device);
