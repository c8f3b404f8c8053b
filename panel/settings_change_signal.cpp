#include "settings_change_signal.h"

#include "asio_settings.h"

void NotifyAsioSettingsChanged()
{
    HANDLE listening = OpenEventW(SYNCHRONIZE, FALSE, kListeningEventName);
    if (listening == nullptr)
        return;
    CloseHandle(listening);
    HANDLE change = OpenEventW(EVENT_MODIFY_STATE, FALSE, kChangeEventName);
    if (change == nullptr)
        return;
    SetEvent(change);
    CloseHandle(change);
}
