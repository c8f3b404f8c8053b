// quen_asiocpl: the control panel program. One runs at a time; a second start brings the first
// forward and ends.
#include "panel_dialog_view.h"
#include "panel_instance.h"
#include "panel_trace.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    PanelTraceRegister();
    if (SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        if (!BringRunningPanelForward()) {
            CPanelDialogView view(instance);
            view.Run();
        }
        CoUninitialize();
    }
    PanelTraceUnregister();
    return 0;
}
