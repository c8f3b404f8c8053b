// Finds the control panel's window under Wine: "wait" waits up to 30 s for it to appear; "close"
// asks it to close (WM_CLOSE) and waits up to 30 s for it to go. Exit code 0 on success.
#include <windows.h>

#include <stdio.h>
#include <string.h>

namespace {

const WCHAR kTitle[] = L"RV-D3 Purestream Audio Control";

bool WaitFor(bool present)
{
    for (int i = 0; i < 300; ++i) {
        if ((FindWindowW(nullptr, kTitle) != nullptr) == present)
            return true;
        Sleep(100);
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "wait") == 0) {
        bool shown = WaitFor(true);
        printf("%s: the control panel's window appears\n", shown ? "ok" : "FAILED");
        return shown ? 0 : 1;
    }
    if (argc == 2 && strcmp(argv[1], "close") == 0) {
        HWND window = FindWindowW(nullptr, kTitle);
        if (window != nullptr)
            PostMessageW(window, WM_CLOSE, 0, 0);
        bool closed = window != nullptr && WaitFor(false);
        printf("%s: the control panel closes on request\n", closed ? "ok" : "FAILED");
        return closed ? 0 : 1;
    }
    printf("usage: panel_probe wait|close\n");
    return 2;
}
