#include "panel_instance.h"

const WCHAR kPanelTitle[] = L"RV-D3 Purestream Audio Control";

bool BringRunningPanelForward()
{
    HWND running = FindWindowW(nullptr, kPanelTitle);
    if (running == nullptr)
        return false;
    ShowWindow(running, SW_SHOWNORMAL);
    SetForegroundWindow(running);
    return true;
}
