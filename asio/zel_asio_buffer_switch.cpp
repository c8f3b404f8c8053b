// CZelAsioDriver's buffer-switch thread: waits for the kernel's half notification, works out the
// half the host processes, keeps the sample position and time stamp and calls the host back;
// time-outs and device loss become reset requests.
#include "zel_asio_driver.h"

#include "asio_trace.h"

#include <initializer_list>

namespace {

constexpr DWORD kNotificationTimeoutMs = 1000;

typedef HANDLE(WINAPI *SetTaskFunction)(LPCWSTR, LPDWORD);
typedef BOOL(WINAPI *RevertTaskFunction)(HANDLE);

// An entry point of a loaded module, or null.
template <typename Function> Function EntryOf(HMODULE module, const char *name)
{
    FARPROC found = module != nullptr ? GetProcAddress(module, name) : nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<PVOID>(found));
}

} // namespace

bool CZelAsioDriver::JoinBufferSwitch(DWORD timeoutMs)
{
    m_switchRun = 0;
    if (m_switchThread == nullptr)
        return true;
    if (WaitForSingleObject(m_switchThread, timeoutMs) != WAIT_OBJECT_0)
        return false;
    CloseHandle(m_switchThread);
    m_switchThread = nullptr;
    m_switchThreadId = 0;
    return true;
}

DWORD WINAPI CZelAsioDriver::BufferSwitchThread(LPVOID context)
{
    auto *driver = static_cast<CZelAsioDriver *>(context);
    if (driver != nullptr && driver->m_stopEvent != nullptr)
        driver->RunBufferSwitch();
    return 0;
}

void CZelAsioDriver::RunBufferSwitch()
{
    HMODULE avrt = LoadLibraryW(L"avrt.dll");
    HANDLE task = nullptr;
    auto setTask = EntryOf<SetTaskFunction>(avrt, "AvSetMmThreadCharacteristicsW");
    DWORD taskIndex = 0;
    if (setTask != nullptr)
        task = setTask(L"Pro Audio", &taskIndex);
    if (task == nullptr) {
        AsioTrace("no multimedia scheduling (%lu): normal priority",
                  static_cast<unsigned long>(GetLastError()));
        if (!SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST))
            AsioTrace("cannot raise the thread priority");
    }
    do {
        WaitStep();
    } while (WaitForSingleObject(m_stopEvent, 0) != WAIT_OBJECT_0 && m_switchRun != 0);
    if (task != nullptr) {
        auto revert = EntryOf<RevertTaskFunction>(avrt, "AvRevertMmThreadCharacteristics");
        if (revert == nullptr || !revert(task))
            AsioTrace("cannot leave the multimedia task");
    }
    if (avrt != nullptr)
        FreeLibrary(avrt);
}

// timeGetTime's milliseconds in nanoseconds, as hosts compare them with their own.
ASIOTimeStamp CZelAsioDriver::TimeStamp()
{
    const ULONGLONG nanoseconds = ULONGLONG(timeGetTime()) * 1000000;
    ASIOTimeStamp stamp;
    stamp.hi = ULONG(nanoseconds >> 32);
    stamp.lo = ULONG(nanoseconds);
    return stamp;
}

void CZelAsioDriver::WaitStep()
{
    if (m_state != kRunning) {
        Sleep(m_sampleRate != 0 ? DWORD(ULONGLONG(m_bufferFrames) * 1000 / m_sampleRate) : 0);
        return;
    }
    HANDLE handles[2] = {m_stopEvent, m_notificationEvent};
    DWORD result = WaitForMultipleObjects(2, handles, FALSE, kNotificationTimeoutMs);
    if (result == WAIT_OBJECT_0 + 1) {
        OnNotification();
    } else if (result == WAIT_TIMEOUT && m_resetLatched == 0) {
        AsioTrace("no notification for %lu ms", static_cast<unsigned long>(kNotificationTimeoutMs));
        RequestReset();
    }
    // Device loss, seen from either direction, is reported once.
    for (ASIO_SHARED_HEADER *header : {m_renderHeader, m_captureHeader}) {
        if (header != nullptr && header->DeviceStatus != 0 &&
            InterlockedExchange(&m_resetLatched, 1) == 0) {
            AsioTrace("device lost (0x%08lx)", static_cast<unsigned long>(header->DeviceStatus));
            RequestReset();
        }
    }
}

void CZelAsioDriver::RequestReset()
{
    ASIOCallbacks *callbacks = m_callbacks;
    if (callbacks != nullptr && callbacks->asioMessage != nullptr)
        callbacks->asioMessage(kAsioResetRequest, 0, nullptr, nullptr);
}

void CZelAsioDriver::OnNotification()
{
    m_timeStamp = TimeStamp();
    ASIO_SHARED_HEADER *header = m_inputsInUse > 0 ? m_captureHeader : m_renderHeader;
    if (header == nullptr)
        return;
    const ULONG index = header->CurrentHalf == 0 ? 1 : 0;
    if (m_previousIndex <= 1 && m_previousIndex == index)
        AsioTrace("repeated half %lu", static_cast<unsigned long>(index));
    m_previousIndex = index;
    if (header->ToggleCount > 1)
        AsioTrace("missed %ld switches", static_cast<long>(header->ToggleCount - 1));
    header->ToggleCount = 0;
    m_doubleBufferIndex = index;
    if (m_firstSwitch) {
        if (index == 1)
            m_firstSwitch = false;
    } else {
        m_samplePosition += m_hostBufferSamples;
    }
    DeliverSwitch();
}

void CZelAsioDriver::DeliverSwitch()
{
    // Once stop has begun the host is not called again.
    if (m_stopRequested == 1)
        return;
    ASIOCallbacks *callbacks = m_callbacks;
    if (callbacks == nullptr)
        return;
    if (m_timeInfoMode)
        TimeInfoSwitch();
    else
        callbacks->bufferSwitch(LONG(m_doubleBufferIndex), ASIOTrue);
    // A host that does not report its output as ready still plays.
    if (m_hostSentOutputReady == 0 && m_renderPin != nullptr && m_stopRequested != 1 &&
        FAILED(m_renderPin->StoreProperty(KSPROPSETID_AsioPrivate, KSPROPERTY_ASIO_OUTPUT_READY,
                                          nullptr, 0)))
        AsioTrace("[REN] output ready failed");
}

void CZelAsioDriver::TimeInfoSwitch()
{
    AsioTimeInfo &info = m_timeRecord.timeInfo;
    getSamplePosition(&info.samplePosition, &info.systemTime);
    if (m_timeCodeRead) {
        // A time code running 600 seconds ahead of the sample position.
        const ULONGLONG code = ULONGLONG(m_sampleRate) * 600 + info.samplePosition.lo;
        m_timeRecord.timeCode.timeCodeSamples.hi = ULONG(code >> 32);
        m_timeRecord.timeCode.timeCodeSamples.lo = ULONG(code);
    }
    m_callbacks->bufferSwitchTimeInfo(&m_timeRecord, LONG(m_doubleBufferIndex), ASIOTrue);
    info.flags &= ~ULONG(kSampleRateChanged | kClockSourceChanged);
}
