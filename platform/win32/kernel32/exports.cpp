// kernel32.dll: the entry points the emulation implements.
#include "system_modules.h"

#include <winbase.h>

#include <iterator>

namespace host::win32 {

namespace {

const SystemExport kExports[] = {
    QUEN_SYSTEM_EXPORT(CancelIo),
    QUEN_SYSTEM_EXPORT(CancelIoEx),
    QUEN_SYSTEM_EXPORT(CloseHandle),
    QUEN_SYSTEM_EXPORT(CreateEventA),
    QUEN_SYSTEM_EXPORT(CreateEventExW),
    QUEN_SYSTEM_EXPORT(CreateEventW),
    QUEN_SYSTEM_EXPORT(CreateMutexA),
    QUEN_SYSTEM_EXPORT(CreateMutexExW),
    QUEN_SYSTEM_EXPORT(CreateFileA),
    QUEN_SYSTEM_EXPORT(CreateFileW),
    QUEN_SYSTEM_EXPORT(CreateMutexW),
    QUEN_SYSTEM_EXPORT(CreateProcessW),
    QUEN_SYSTEM_EXPORT(CreateThread),
    QUEN_SYSTEM_EXPORT(DeviceIoControl),
    QUEN_SYSTEM_EXPORT(DisableThreadLibraryCalls),
    QUEN_SYSTEM_EXPORT(ExitProcess),
    QUEN_SYSTEM_EXPORT(ExitThread),
    QUEN_SYSTEM_EXPORT(FileTimeToSystemTime),
    QUEN_SYSTEM_EXPORT(FreeLibrary),
    QUEN_SYSTEM_EXPORT(GetCurrentProcess),
    QUEN_SYSTEM_EXPORT(GetCurrentProcessId),
    QUEN_SYSTEM_EXPORT(GetCurrentThread),
    QUEN_SYSTEM_EXPORT(GetCurrentThreadId),
    QUEN_SYSTEM_EXPORT(GetDateFormatA),
    QUEN_SYSTEM_EXPORT(GetExitCodeProcess),
    QUEN_SYSTEM_EXPORT(GetExitCodeThread),
    QUEN_SYSTEM_EXPORT(GetLastError),
    QUEN_SYSTEM_EXPORT(GetLogicalProcessorInformation),
    QUEN_SYSTEM_EXPORT(GetModuleFileNameA),
    QUEN_SYSTEM_EXPORT(GetModuleFileNameW),
    QUEN_SYSTEM_EXPORT(GetModuleHandleA),
    QUEN_SYSTEM_EXPORT(GetModuleHandleExW),
    QUEN_SYSTEM_EXPORT(GetModuleHandleW),
    QUEN_SYSTEM_EXPORT(GetOverlappedResult),
    QUEN_SYSTEM_EXPORT(GetOverlappedResultEx),
    QUEN_SYSTEM_EXPORT(GetProcAddress),
    QUEN_SYSTEM_EXPORT(GetProcessId),
    QUEN_SYSTEM_EXPORT(GetSystemTime),
    QUEN_SYSTEM_EXPORT(GetSystemTimeAsFileTime),
    QUEN_SYSTEM_EXPORT(GetThreadId),
    QUEN_SYSTEM_EXPORT(GetThreadPriority),
    QUEN_SYSTEM_EXPORT(GetTickCount),
    QUEN_SYSTEM_EXPORT(GetTickCount64),
    QUEN_SYSTEM_EXPORT(GetTimeFormatA),
    QUEN_SYSTEM_EXPORT(GetVersionExA),
    QUEN_SYSTEM_EXPORT(GetVersionExW),
    QUEN_SYSTEM_EXPORT(IsWow64Process),
    QUEN_SYSTEM_EXPORT(LoadLibraryA),
    QUEN_SYSTEM_EXPORT(LoadLibraryExW),
    QUEN_SYSTEM_EXPORT(LoadLibraryW),
    QUEN_SYSTEM_EXPORT(MultiByteToWideChar),
    QUEN_SYSTEM_EXPORT(OpenEventA),
    QUEN_SYSTEM_EXPORT(OpenEventW),
    QUEN_SYSTEM_EXPORT(OpenMutexW),
    QUEN_SYSTEM_EXPORT(OutputDebugStringA),
    QUEN_SYSTEM_EXPORT(OutputDebugStringW),
    QUEN_SYSTEM_EXPORT(QueryPerformanceCounter),
    QUEN_SYSTEM_EXPORT(QueryPerformanceFrequency),
    QUEN_SYSTEM_EXPORT(ReleaseMutex),
    QUEN_SYSTEM_EXPORT(ResetEvent),
    QUEN_SYSTEM_EXPORT(ResumeThread),
    QUEN_SYSTEM_EXPORT(SetEvent),
    QUEN_SYSTEM_EXPORT(SetLastError),
    QUEN_SYSTEM_EXPORT(SetThreadPriority),
    QUEN_SYSTEM_EXPORT(Sleep),
    QUEN_SYSTEM_EXPORT(SleepEx),
    QUEN_SYSTEM_EXPORT(TerminateProcess),
    QUEN_SYSTEM_EXPORT(WaitForMultipleObjects),
    QUEN_SYSTEM_EXPORT(WaitForMultipleObjectsEx),
    QUEN_SYSTEM_EXPORT(WaitForSingleObject),
    QUEN_SYSTEM_EXPORT(WaitForSingleObjectEx),
    QUEN_SYSTEM_EXPORT(WideCharToMultiByte),
    QUEN_SYSTEM_EXPORT(lstrcmpW),
    QUEN_SYSTEM_EXPORT(lstrcmpiA),
    QUEN_SYSTEM_EXPORT(lstrcmpiW),
    QUEN_SYSTEM_EXPORT(lstrlenA),
    QUEN_SYSTEM_EXPORT(lstrlenW),
};

} // namespace

extern const SystemModule kKernel32Module = {u"kernel32.dll", kExports, std::size(kExports), true};

} // namespace host::win32
