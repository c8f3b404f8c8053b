// One control panel at a time: a second start finds the first by its window title, brings it to
// the front and ends.
#pragma once

#include "quen_panel_platform.h"

extern const WCHAR kPanelTitle[];

// True when a panel already runs (its window is then shown and in front).
bool BringRunningPanelForward();
