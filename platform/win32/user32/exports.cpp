// user32.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <windows.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(CallWindowProcW),
    QUEN_SYSTEM_EXPORT(CreateWindowExW),
    QUEN_SYSTEM_EXPORT(DefDlgProcW),
    QUEN_SYSTEM_EXPORT(DefWindowProcW),
    QUEN_SYSTEM_EXPORT(DestroyWindow),
    QUEN_SYSTEM_EXPORT(DialogBoxParamW),
    QUEN_SYSTEM_EXPORT(DispatchMessageW),
    QUEN_SYSTEM_EXPORT(EndDialog),
    QUEN_SYSTEM_EXPORT(FindWindowW),
    QUEN_SYSTEM_EXPORT(GetDlgItem),
    QUEN_SYSTEM_EXPORT(GetForegroundWindow),
    QUEN_SYSTEM_EXPORT(GetMessageW),
    QUEN_SYSTEM_EXPORT(GetWindowLongPtrW),
    QUEN_SYSTEM_EXPORT(GetWindowThreadProcessId),
    QUEN_SYSTEM_EXPORT(IsWindow),
    QUEN_SYSTEM_EXPORT(IsWindowVisible),
    QUEN_SYSTEM_EXPORT(PeekMessageW),
    QUEN_SYSTEM_EXPORT(PostMessageW),
    QUEN_SYSTEM_EXPORT(PostQuitMessage),
    QUEN_SYSTEM_EXPORT(PostThreadMessageW),
    QUEN_SYSTEM_EXPORT(RegisterClassExW),
    QUEN_SYSTEM_EXPORT(RegisterDeviceNotificationW),
    QUEN_SYSTEM_EXPORT(SendDlgItemMessageW),
    QUEN_SYSTEM_EXPORT(SendMessageW),
    QUEN_SYSTEM_EXPORT(SetWindowLongPtrW),
    QUEN_SYSTEM_EXPORT(SetForegroundWindow),
    QUEN_SYSTEM_EXPORT(SetWindowTextW),
    QUEN_SYSTEM_EXPORT(ShowWindow),
    QUEN_SYSTEM_EXPORT(TranslateMessage),
    QUEN_SYSTEM_EXPORT(UnregisterClassW),
    QUEN_SYSTEM_EXPORT(UnregisterDeviceNotification),
};

} // namespace

extern const SystemModule kUser32Module = {u"user32.dll", kExports, std::size(kExports), false};

} // namespace host::win32
