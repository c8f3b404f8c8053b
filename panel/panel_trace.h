// The control panel's event-tracing provider, registered while the program runs. The panel logs
// its lines to the debugger; the registration lets a trace session see that it runs.
#pragma once

#include "quen_panel_platform.h"

void PanelTraceRegister();
void PanelTraceUnregister();
