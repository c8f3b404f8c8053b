// A watch on one registry key with its whole subtree: worker threads (one per logical processor,
// plus one, up to 17) each keep a change notification armed on the key and call Notify after
// every change. CRegistryNotify turns that into a refresh request (WM_APP) to the panel's dialog,
// posted only while none is pending, so a burst of changes costs one refresh.
#pragma once

#include "quen_panel_platform.h"

class CRegKeyWatcher {
public:
    CRegKeyWatcher(HKEY root, LPCWSTR path);
    virtual ~CRegKeyWatcher(); // stops the threads first: they call into this object
    CRegKeyWatcher(const CRegKeyWatcher &) = delete;
    CRegKeyWatcher &operator=(const CRegKeyWatcher &) = delete;

    // Creates the stop event and the threads; 0 or a Win32 error (then no thread runs).
    DWORD StartWatch();
    // Sets the stop event and waits for every thread to end.
    void StopWatch();
    ULONG ThreadCount() const { return m_threadCount; }

protected:
    virtual void Notify() {}

private:
    static DWORD WINAPI WatchThread(LPVOID parameter);
    DWORD WatchLoop();
    // The number of logical processors, 0 when it cannot be found; prints the survey.
    static ULONG SurveyProcessors();
    void CloseThreads();

    HANDLE m_stop = nullptr;
    HKEY m_root;
    WCHAR m_path[256];
    HANDLE m_threads[17] = {};
    ULONG m_started = 0;
    ULONG m_threadCount;
};

class CRegistryNotify : public CRegKeyWatcher {
public:
    CRegistryNotify(HKEY root, LPCWSTR path) : CRegKeyWatcher(root, path) {}

    void SetTarget(HWND target) { m_target = target; }
    // Posts WM_APP to the target unless a refresh is already pending.
    void RequestRefresh();
    // The target calls this as its refresh begins: later changes ask for another one.
    void RefreshStarted() { InterlockedExchange(&m_pending, 0); }

protected:
    void Notify() override { RequestRefresh(); }

private:
    HWND m_target = nullptr;
    volatile LONG m_pending = 0;
};
