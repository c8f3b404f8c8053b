// avrt: registration of threads with the multimedia class scheduler. A task exists when the
// machine's registry lists it under the scheduler's Tasks key, as on Windows. In virtual time a
// registration orders nothing; it is recorded so tests can see which threads run as which task.
#include "caller.h"
#include "code_pages.h"
#include "status_errors.h"

#include "kernel/registry_store.h"
#include "kernel/wide_string.h"

#include <avrt.h>

using namespace host::win32;

namespace {

constexpr char16_t kTasksKey[] =
    u"\\REGISTRY\\MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Multimedia\\"
    u"SystemProfile\\Tasks\\";

// The thread record that holds an MMCSS handle, in the caller's process; lock held.
ThreadRecord *RegisteredThreadLocked(ProcessRecord &process, HANDLE handle)
{
    ThreadRecord *record = process.FindThreadLocked(host::CurrentThreadOrNull());
    if (handle != nullptr && record != nullptr &&
        record->mmcssTask == reinterpret_cast<ULONG_PTR>(handle))
        return record;
    return nullptr;
}

} // namespace

extern "C" {

HANDLE WINAPI AvSetMmThreadCharacteristicsW(LPCWSTR TaskName, LPDWORD TaskIndex)
{
    Caller caller = CallerOf("AvSetMmThreadCharacteristicsW");
    if (TaskName == nullptr || TaskIndex == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::u16string task = host::ToU16(TaskName);
    if (task.empty() || task.find(u'\\') != std::u16string::npos ||
        !caller.machine.Registry().KeyExists(kTasksKey + task)) {
        SetLastError(ERROR_INVALID_TASK_NAME);
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(caller.process.Lock());
    ThreadRecord &record = caller.process.ThreadLocked(caller.thread);
    if (*TaskIndex != 0 && *TaskIndex != record.mmcssTaskIndex) {
        SetLastError(ERROR_INVALID_TASK_INDEX);
        return nullptr;
    }
    if (record.mmcssTask == 0) {
        record.mmcssTask = (ULONG_PTR(caller.thread->id) << 8) | 0x5A;
        record.mmcssTaskIndex = caller.thread->id;
    }
    *TaskIndex = record.mmcssTaskIndex;
    return reinterpret_cast<HANDLE>(record.mmcssTask);
}

HANDLE WINAPI AvSetMmThreadCharacteristicsA(LPCSTR TaskName, LPDWORD TaskIndex)
{
    return AvSetMmThreadCharacteristicsW(WideArgument(TaskName).Get(), TaskIndex);
}

BOOL WINAPI AvRevertMmThreadCharacteristics(HANDLE AvrtHandle)
{
    Caller caller = CallerOf("AvRevertMmThreadCharacteristics");
    std::lock_guard<std::mutex> guard(caller.process.Lock());
    ThreadRecord *record = RegisteredThreadLocked(caller.process, AvrtHandle);
    if (record == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    record->mmcssTask = 0;
    record->mmcssTaskIndex = 0;
    return TRUE;
}

BOOL WINAPI AvSetMmThreadPriority(HANDLE AvrtHandle, AVRT_PRIORITY Priority)
{
    Caller caller = CallerOf("AvSetMmThreadPriority");
    std::lock_guard<std::mutex> guard(caller.process.Lock());
    if (RegisteredThreadLocked(caller.process, AvrtHandle) == nullptr ||
        Priority < AVRT_PRIORITY_VERYLOW || Priority > AVRT_PRIORITY_CRITICAL) {
        SetLastError(RegisteredThreadLocked(caller.process, AvrtHandle) == nullptr
                         ? ERROR_INVALID_HANDLE
                         : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return TRUE;
}

} // extern "C"
