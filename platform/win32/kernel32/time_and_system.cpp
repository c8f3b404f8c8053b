// kernel32: the clocks user mode reads (tick count, performance counter, system time), all from
// the machine's virtual clock, and what it asks about the system (version, processor topology).
#include "caller.h"
#include "status_errors.h"

#include "kernel/dispatcher.h"

#include <winbase.h>

#include <cstring>
#include <vector>

using namespace host::win32;

namespace {

// The performance counter counts the interrupt time's 100 ns units, as on Windows 10.
constexpr LONGLONG kPerformanceFrequency = 10000000;

ULONGLONG InterruptTime(const char *entryPoint)
{
    return CallerOf(entryPoint).machine.Clock().Now();
}

// The simulated PC's processor: one package, four cores with two logical processors each, each
// core with its own L1 data, L1 instruction and L2 caches, one shared L3, one NUMA node.
std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> ProcessorTopology()
{
    constexpr unsigned kCores = 4;
    constexpr ULONG_PTR kAllProcessors = (ULONG_PTR(1) << (2 * kCores)) - 1;
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> list;
    auto cache = [&list](ULONG_PTR mask, BYTE level, DWORD size, PROCESSOR_CACHE_TYPE type) {
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION entry = {};
        entry.ProcessorMask = mask;
        entry.Relationship = RelationCache;
        entry.Cache = {level, 8, 64, size, type};
        list.push_back(entry);
    };
    for (unsigned core = 0; core < kCores; ++core) {
        ULONG_PTR mask = ULONG_PTR(3) << (2 * core);
        SYSTEM_LOGICAL_PROCESSOR_INFORMATION entry = {};
        entry.ProcessorMask = mask;
        entry.Relationship = RelationProcessorCore;
        entry.ProcessorCore.Flags = LTP_PC_SMT;
        list.push_back(entry);
        cache(mask, 1, 32 << 10, CacheData);
        cache(mask, 1, 32 << 10, CacheInstruction);
        cache(mask, 2, 256 << 10, CacheUnified);
    }
    cache(kAllProcessors, 3, 8 << 20, CacheUnified);
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION package = {};
    package.ProcessorMask = kAllProcessors;
    package.Relationship = RelationProcessorPackage;
    list.push_back(package);
    SYSTEM_LOGICAL_PROCESSOR_INFORMATION node = {};
    node.ProcessorMask = kAllProcessors;
    node.Relationship = RelationNumaNode;
    list.push_back(node);
    return list;
}

// An application without a compatibility manifest is told Windows 8 (6.2.9200), whatever the
// version of Windows 10 it runs on.
template <class Info>
BOOL FillVersion(Info *info)
{
    if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(Info) &&
                            info->dwOSVersionInfoSize != sizeof(Info) + 8)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD size = info->dwOSVersionInfoSize;
    std::memset(reinterpret_cast<char *>(info) + sizeof(DWORD), 0, size - sizeof(DWORD));
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 2;
    info->dwBuildNumber = 9200;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    return TRUE;
}

} // namespace

extern "C" {

DWORD WINAPI GetTickCount(void) { return DWORD(InterruptTime("GetTickCount") / 10000); }

ULONGLONG WINAPI GetTickCount64(void) { return InterruptTime("GetTickCount64") / 10000; }

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *lpPerformanceCount)
{
    lpPerformanceCount->QuadPart = LONGLONG(InterruptTime("QueryPerformanceCounter"));
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *lpFrequency)
{
    lpFrequency->QuadPart = kPerformanceFrequency;
    return TRUE;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME lpSystemTimeAsFileTime)
{
    ULONGLONG now = ULONGLONG(host::BootSystemTime()) + InterruptTime("GetSystemTimeAsFileTime");
    lpSystemTimeAsFileTime->dwLowDateTime = DWORD(now);
    lpSystemTimeAsFileTime->dwHighDateTime = DWORD(now >> 32);
}

BOOL WINAPI FileTimeToSystemTime(const FILETIME *lpFileTime, LPSYSTEMTIME lpSystemTime)
{
    ULONGLONG time = (ULONGLONG(lpFileTime->dwHighDateTime) << 32) | lpFileTime->dwLowDateTime;
    if (time > ULONGLONG(MAXLONGLONG)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    ULONGLONG seconds = time / 10000000;
    ULONGLONG days = seconds / 86400;
    ULONGLONG secondOfDay = seconds % 86400;
    // Days since 1601-01-01 (a Monday) to a civil date: count from 0000-03-01 (584694 days
    // earlier) in eras of 400 years.
    LONGLONG z = LONGLONG(days) + 584694;
    LONGLONG era = z / 146097;
    LONGLONG dayOfEra = z - era * 146097;
    LONGLONG yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    LONGLONG dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    LONGLONG mp = (5 * dayOfYear + 2) / 153;
    LONGLONG month = mp < 10 ? mp + 3 : mp - 9;
    LONGLONG year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    lpSystemTime->wYear = WORD(year);
    lpSystemTime->wMonth = WORD(month);
    lpSystemTime->wDay = WORD(dayOfYear - (153 * mp + 2) / 5 + 1);
    lpSystemTime->wDayOfWeek = WORD((days + 1) % 7);
    lpSystemTime->wHour = WORD(secondOfDay / 3600);
    lpSystemTime->wMinute = WORD(secondOfDay / 60 % 60);
    lpSystemTime->wSecond = WORD(secondOfDay % 60);
    lpSystemTime->wMilliseconds = WORD(time / 10000 % 1000);
    return TRUE;
}

void WINAPI GetSystemTime(LPSYSTEMTIME lpSystemTime)
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    FileTimeToSystemTime(&now, lpSystemTime);
}

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW lpVersionInformation)
{
    return FillVersion(lpVersionInformation);
}

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation)
{
    return FillVersion(lpVersionInformation);
}

BOOL WINAPI GetLogicalProcessorInformation(PSYSTEM_LOGICAL_PROCESSOR_INFORMATION Buffer,
                                           PDWORD ReturnedLength)
{
    if (ReturnedLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> topology = ProcessorTopology();
    DWORD needed = DWORD(topology.size() * sizeof(SYSTEM_LOGICAL_PROCESSOR_INFORMATION));
    if (Buffer == nullptr || *ReturnedLength < needed) {
        *ReturnedLength = needed;
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(Buffer, topology.data(), needed);
    *ReturnedLength = needed;
    return TRUE;
}

} // extern "C"
