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
    HANDLE handles[2] = {m_watcherExit, m_changeEvent};
    while (WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0 + 1)
        OnSettingsChanged();
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
