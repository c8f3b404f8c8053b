// CZelAsioDriver's settings watcher: the named events shared with the control panel, and the
// thread that adopts the panel's changes, or asks the host for a reset while buffers exist.
#include "zel_asio_driver.h"

#include "asio_settings.h"
#include "asio_trace.h"

#include <initializer_list>

bool CZelAsioDriver::CreateSettingsObjects()
{
    m_presenceEvent = CreateEventW(nullptr, TRUE, FALSE, kPresenceEventName);
    m_listeningEvent = CreateEventW(nullptr, TRUE, FALSE, kListeningEventName);
    m_changeEvent = CreateEventW(nullptr, FALSE, FALSE, kChangeEventName);
    m_watcherExit = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (m_presenceEvent == nullptr || m_listeningEvent == nullptr || m_changeEvent == nullptr ||
        m_watcherExit == nullptr)
        return false;
    m_watcherThread = CreateThread(nullptr, 0, SettingsWatcherThread, this, 0, nullptr);
    return m_watcherThread != nullptr;
}

void CZelAsioDriver::CloseSettingsObjects()
{
    if (m_watcherThread != nullptr) {
        SetEvent(m_watcherExit);
        WaitForSingleObject(m_watcherThread, INFINITE);
        CloseHandle(m_watcherThread);
        m_watcherThread = nullptr;
    }
    for (HANDLE *handle : {&m_watcherExit, &m_changeEvent, &m_listeningEvent, &m_presenceEvent}) {
        if (*handle != nullptr)
            CloseHandle(*handle);
        *handle = nullptr;
    }
}

DWORD WINAPI CZelAsioDriver::SettingsWatcherThread(LPVOID context)
{
    static_cast<CZelAsioDriver *>(context)->WatchSettings();
    return 0;
}

void CZelAsioDriver::WatchSettings()
{
    SetEvent(m_listeningEvent);
    // The panel's change signal wakes one of the drivers that wait for it, so each also watches
    // the key itself: every process that has the driver loaded sees a change. A wake-up that
    // finds nothing different does nothing.
    HKEY key = nullptr;
    HANDLE keyChanged = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (keyChanged == nullptr ||
        RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_NOTIFY | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS) {
        key = nullptr;
    } else if (RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, keyChanged, TRUE) !=
               ERROR_SUCCESS) {
        RegCloseKey(key);
        key = nullptr;
    }
    if (key == nullptr)
        AsioTrace("the settings key cannot be watched; the panel's signal only");
    HANDLE handles[3] = {m_watcherExit, m_changeEvent, keyChanged};
    for (;;) {
        const DWORD wait = WaitForMultipleObjects(key != nullptr ? 3 : 2, handles, FALSE, INFINITE);
        if (wait != WAIT_OBJECT_0 + 1 && wait != WAIT_OBJECT_0 + 2)
            break;
        // Armed again before the settings are read, so that a write racing with them is seen.
        if (wait == WAIT_OBJECT_0 + 2 &&
            RegNotifyChangeKeyValue(key, FALSE, REG_NOTIFY_CHANGE_LAST_SET, keyChanged, TRUE) !=
                ERROR_SUCCESS) {
            AsioTrace("the settings key watch ended; the panel's signal only");
            RegCloseKey(key);
            key = nullptr;
        }
        OnSettingsChanged();
    }
    if (key != nullptr)
        RegCloseKey(key);
    if (keyChanged != nullptr)
        CloseHandle(keyChanged);
    ResetEvent(m_listeningEvent);
}

void CZelAsioDriver::OnSettingsChanged()
{
    DWORD bufferSize = 0;
    DWORD rate = 0;
    WCHAR selected[kInstanceIdUnits] = {};
    Lock();
    const bool bufferChanged =
        CAsioSettings::ReadDword(kSettingBufferSize, &bufferSize) != kSettingsOk ||
        CAsioSettings::ValidBufferSize(bufferSize) != m_bufferSizeSetting;
    const bool rateChanged = CAsioSettings::ReadDword(kSettingSamplingRate, &rate) != kSettingsOk ||
                             ValidRate(rate) != m_sampleRate;
    const bool deviceChanged = CAsioSettings::ReadSelected(selected) != kSettingsOk ||
                               lstrcmpiW(selected, m_selectedDevice) != 0;
    const bool buffers = m_callbacks != nullptr;
    if (!buffers && (bufferChanged || rateChanged || deviceChanged))
        ReloadSettings();
    Unlock();
    // With buffers the host has to re-create them; one request for as long as they exist.
    if (buffers && (bufferChanged || rateChanged || deviceChanged) &&
        InterlockedExchange(&m_resetLatched, 1) == 0) {
        AsioTrace("settings changed: reset request");
        RequestReset();
    }
}
