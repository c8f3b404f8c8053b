#include "reg_key_watcher.h"

#include <new>
#include <stdarg.h>
#include <stdio.h>

namespace {

constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_ATTRIBUTES |
                                REG_NOTIFY_CHANGE_LAST_SET | REG_NOTIFY_CHANGE_SECURITY;

// The watcher's lines go to the debugger as UTF-16, formatted into 1024 units.
void Print(const char *format, ...) __attribute__((format(printf, 1, 2)));
void Print(const char *format, ...)
{
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    WCHAR line[1024];
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, line, 1024) > 0)
        OutputDebugStringW(line);
}

ULONG CountBits(ULONG_PTR mask)
{
    ULONG count = 0;
    for (; mask != 0; mask &= mask - 1)
        ++count;
    return count;
}

} // namespace

CRegKeyWatcher::CRegKeyWatcher(HKEY root, LPCWSTR path) : m_root(root)
{
    ULONG i = 0;
    for (; path != nullptr && i < 255 && path[i] != 0; ++i)
        m_path[i] = path[i];
    m_path[i] = 0;
    m_threadCount = SurveyProcessors();
}

CRegKeyWatcher::~CRegKeyWatcher()
{
    StopWatch();
    if (m_stop != nullptr)
        CloseHandle(m_stop);
}

ULONG CRegKeyWatcher::SurveyProcessors()
{
    typedef BOOL(WINAPI * Survey)(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION, PDWORD);
    HMODULE kernel32 = GetModuleHandleW(L"kernel32");
    Survey survey = kernel32 == nullptr
                        ? nullptr
                        : reinterpret_cast<Survey>(reinterpret_cast<void *>(
                              GetProcAddress(kernel32, "GetLogicalProcessorInformation")));
    if (survey == nullptr) {
        Print("\nGetLogicalProcessorInformation is not supported.\n");
        return 0;
    }
    PSYSTEM_LOGICAL_PROCESSOR_INFORMATION buffer = nullptr;
    DWORD length = 0;
    while (!survey(buffer, &length)) {
        DWORD error = GetLastError();
        delete[] buffer;
        buffer = nullptr;
        if (error != ERROR_INSUFFICIENT_BUFFER) {
            Print("\nError %d\n", int(error));
            return 0;
        }
        buffer =
            new (std::nothrow) SYSTEM_LOGICAL_PROCESSOR_INFORMATION[length / sizeof *buffer + 1];
        if (buffer == nullptr) {
            Print("\nError: Allocation failure\n");
            return 0;
        }
    }
    ULONG nodes = 0, packages = 0, cores = 0, logical = 0, caches[3] = {};
    for (DWORD i = 0; i < length / sizeof *buffer; ++i) {
        const SYSTEM_LOGICAL_PROCESSOR_INFORMATION &record = buffer[i];
        switch (record.Relationship) {
        case RelationProcessorCore:
            ++cores;
            logical += CountBits(record.ProcessorMask);
            break;
        case RelationNumaNode: ++nodes; break;
        case RelationCache:
            if (record.Cache.Level >= 1 && record.Cache.Level <= 3)
                ++caches[record.Cache.Level - 1];
            break;
        case RelationProcessorPackage: ++packages; break;
        default: Print("\nError: Unsupported LOGICAL_PROCESSOR_RELATIONSHIP value.\n"); break;
        }
    }
    Print("\nGetLogicalProcessorInformation results:\n");
    Print("Number of NUMA nodes: %d\n", int(nodes));
    Print("Number of physical processor packages: %d\n", int(packages));
    Print("Number of processor cores: %d\n", int(cores));
    Print("Number of logical processors: %d\n", int(logical));
    Print("Number of processor L1/L2/L3 caches: %d/%d/%d\n", int(caches[0]), int(caches[1]),
          int(caches[2]));
    delete[] buffer;
    return logical;
}

DWORD CRegKeyWatcher::StartWatch()
{
    if (m_started != 0)
        return 0; // already watching
    ULONG count = m_threadCount == 0 ? 1 : m_threadCount > 16 ? 16 : m_threadCount;
    if (m_stop == nullptr)
        m_stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (m_stop == nullptr)
        return GetLastError();
    ResetEvent(m_stop);
    for (ULONG i = 0; i < count + 1; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, WatchThread, this, CREATE_SUSPENDED, nullptr);
        if (thread == nullptr) {
            // The threads made so far are let run into the stop event, so none stays suspended.
            DWORD error = GetLastError();
            Print("! CreateThread failed.\n");
            StopWatch();
            return error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY;
        }
        m_threads[m_started++] = thread;
    }
    for (ULONG i = 0; i < m_started; ++i) {
        Print("start: %p\n", m_threads[i]);
        ResumeThread(m_threads[i]);
    }
    return 0;
}

void CRegKeyWatcher::StopWatch()
{
    if (m_started == 0)
        return;
    SetEvent(m_stop);
    for (ULONG i = 0; i < m_started; ++i)
        ResumeThread(m_threads[i]); // a no-op for a running thread
    WaitForMultipleObjects(m_started, m_threads, TRUE, INFINITE);
    CloseThreads();
}

void CRegKeyWatcher::CloseThreads()
{
    for (ULONG i = 0; i < m_started; ++i)
        CloseHandle(m_threads[i]);
    m_started = 0;
}

DWORD WINAPI CRegKeyWatcher::WatchThread(LPVOID parameter)
{
    if (parameter == nullptr) {
        Print("! invalid parameter\n");
        return ERROR_INVALID_PARAMETER;
    }
    return static_cast<CRegKeyWatcher *>(parameter)->WatchLoop();
}

DWORD CRegKeyWatcher::WatchLoop()
{
    HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (changed == nullptr)
        return GetLastError();
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(m_root, m_path, 0, KEY_NOTIFY, &key);
    DWORD result = DWORD(status);
    if (status != ERROR_SUCCESS) {
        Print("Error in RegOpenKeyEx (%d).\n", int(status));
        key = nullptr;
    } else {
        status = RegNotifyChangeKeyValue(key, TRUE, kNotifyFilter, changed, TRUE);
    }
    while (key != nullptr && status == ERROR_SUCCESS) {
        HANDLE waits[2] = {m_stop, changed};
        DWORD wait = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (wait == WAIT_OBJECT_0) {
            RegCloseKey(key); // completes the armed notification
            key = nullptr;
            WaitForSingleObject(changed, INFINITE);
            result = 0;
            break;
        }
        if (wait == WAIT_FAILED) {
            result = GetLastError();
            Print("Error in WaitForSingleObject (%d).\n", int(result));
            if (result != 0)
                break;
        }
        // Armed again before the notification runs, so that a write racing with the reader
        // the notification wakes is reported too.
        status = RegNotifyChangeKeyValue(key, TRUE, kNotifyFilter, changed, TRUE);
        if (wait == WAIT_OBJECT_0 + 1)
            Notify();
    }
    if (status != ERROR_SUCCESS && key != nullptr) {
        Print("Error in RegNotifyChangeKeyValue (%d).\n", int(status));
        result = DWORD(status);
    }
    if (key != nullptr)
        RegCloseKey(key);
    CloseHandle(changed);
    Print("end\n");
    return result;
}

void CRegistryNotify::RequestRefresh()
{
    if (m_target != nullptr && InterlockedExchange(&m_pending, 1) == 0)
        if (!PostMessageW(m_target, WM_APP, 0, 0))
            InterlockedExchange(&m_pending, 0);
}
