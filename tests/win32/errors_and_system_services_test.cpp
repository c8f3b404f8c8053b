// What user mode gets back from the system: Win32 errors for kernel statuses, handles with their
// tag bits, MMCSS registration, debug output, the version and processor topology, and the code
// page conversions.
#include "win32_fixture.h"

#include "status_errors.h"

#include "kernel/debug_log.h"

#include <avrt.h>

#include <cstring>

namespace {

using ErrorsAndSystemServices = Win32Test;

TEST_F(ErrorsAndSystemServices, KernelStatusesBecomeTheirWin32Errors)
{
    const struct {
        NTSTATUS status;
        ULONG error;
    } cases[] = {
        {STATUS_SUCCESS, ERROR_SUCCESS},
        {STATUS_PENDING, ERROR_IO_PENDING},
        {STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA},
        {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION},
        {STATUS_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},
        {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {STATUS_INSUFFICIENT_RESOURCES, ERROR_NO_SYSTEM_RESOURCES},
        {STATUS_CANCELLED, ERROR_OPERATION_ABORTED},
        {STATUS_DEVICE_NOT_CONNECTED, ERROR_DEVICE_NOT_CONNECTED},
        {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {STATUS_NOT_FOUND, ERROR_NOT_FOUND},
        {NTSTATUS(0xC0000230), ERROR_SET_NOT_FOUND}, // STATUS_PROPSET_NOT_FOUND
        {NTSTATUS(0xC0070490), 0x490},               // a Win32 error carried as a status
        {NTSTATUS(0xC0001234), ERROR_MR_MID_NOT_FOUND},
    };
    for (const auto &c : cases)
        EXPECT_EQ(host::win32::ErrorFromStatus(c.status), c.error) << std::hex << c.status;
}

TEST_F(ErrorsAndSystemServices, HandleTagBitsAreIgnoredAndClosingTwiceFails)
{
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto tagged = [event](ULONG_PTR bits) {
        return reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(event) | bits);
    };
    EXPECT_TRUE(SetEvent(tagged(1)));
    EXPECT_EQ(WaitForSingleObject(tagged(3), 0), WAIT_OBJECT_0);
    EXPECT_TRUE(CloseHandle(tagged(2)));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    EXPECT_EQ(Reports(host::VerifierCheck::Usage), 1u);
    EXPECT_TRUE(CloseHandle(GetCurrentProcess()));
    EXPECT_TRUE(CloseHandle(GetCurrentThread()));
}

TEST_F(ErrorsAndSystemServices, MmcssRegistersKnownTasksOnly)
{
    DWORD index = 0;
    HANDLE task = AvSetMmThreadCharacteristicsW(L"Pro Audio", &index);
    ASSERT_NE(task, nullptr);
    EXPECT_NE(index, 0u);
    EXPECT_TRUE(AvSetMmThreadPriority(task, AVRT_PRIORITY_HIGH));
    EXPECT_TRUE(AvRevertMmThreadCharacteristics(task));
    EXPECT_FALSE(AvRevertMmThreadCharacteristics(task));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    index = 0;
    EXPECT_EQ(AvSetMmThreadCharacteristicsW(L"No Such Task", &index), nullptr);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INVALID_TASK_NAME));
}

TEST_F(ErrorsAndSystemServices, DebugOutputReachesTheMachineLog)
{
    OutputDebugStringA("ansi \xE9\n");
    OutputDebugStringW(L"wide \u20AC \u0100\n");
    EXPECT_TRUE(host::DebugLogOf(M()).Contains("ansi \xC3\xA9\n"));
    // Through the ANSI code page: the euro sign exists there, A with macron does not.
    EXPECT_TRUE(host::DebugLogOf(M()).Contains("wide \xE2\x82\xAC ?\n"));
}

TEST_F(ErrorsAndSystemServices, VersionAndProcessorTopology)
{
    OSVERSIONINFOW version = {};
    EXPECT_FALSE(GetVersionExW(&version));
    version.dwOSVersionInfoSize = sizeof version;
    ASSERT_TRUE(GetVersionExW(&version));
    EXPECT_EQ(version.dwMajorVersion, 6u);
    EXPECT_EQ(version.dwMinorVersion, 2u);
    DWORD size = 0;
    EXPECT_FALSE(GetLogicalProcessorInformation(nullptr, &size));
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<SYSTEM_LOGICAL_PROCESSOR_INFORMATION> info(size / sizeof info[0]);
    ASSERT_TRUE(GetLogicalProcessorInformation(info.data(), &size));
    int cores = 0, logical = 0;
    for (const auto &entry : info) {
        if (entry.Relationship == RelationProcessorCore) {
            ++cores;
            logical += __builtin_popcountll(entry.ProcessorMask);
        }
    }
    EXPECT_EQ(cores, 4);
    EXPECT_EQ(logical, 8);
}

TEST_F(ErrorsAndSystemServices, CodePageConversionsFollowTheirSizeRules)
{
    char ansi[8];
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u20ACx", -1, nullptr, 0, nullptr, nullptr), 3);
    BOOL usedDefault = FALSE;
    EXPECT_EQ(WideCharToMultiByte(CP_ACP, 0, L"\u0100", -1, ansi, 8, nullptr, &usedDefault), 2);
    EXPECT_TRUE(usedDefault);
    EXPECT_STREQ(ansi, "?");
    EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, L"\u00E9", -1, ansi, 2, nullptr, nullptr), 0);
    EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    WCHAR wide[4];
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, "\xC3", 1, wide, 4), 0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, 0, "\xC3\xA9", 2, wide, 4), 1);
    EXPECT_EQ(wide[0], WCHAR(0xE9));
    EXPECT_EQ(lstrcmpiW(L"usb\\vid_2fc3", L"USB\\VID_2FC3"), 0);
    EXPECT_NE(lstrcmpiW(L"USB\\VID_2FC3&PID_D003", L"USB\\VID_2FC3"), 0);
}

} // namespace

TEST_F(ErrorsAndSystemServices, DatesAndTimesFormatInTheUsersLocale)
{
    const SYSTEMTIME morning = {2026, 12, 3, 9, 10, 4, 33, 0};
    const SYSTEMTIME leapDay = {2024, 2, 0, 29, 23, 59, 0, 0};
    const SYSTEMTIME badDay = {2026, 2, 0, 29, 0, 0, 0, 0};
    const SYSTEMTIME badHour = {2026, 1, 0, 1, 24, 0, 0, 0};
    struct Case {
        bool date;
        const SYSTEMTIME *time;
        DWORD flags;
        const char *text; // null: refused with `error`
        DWORD error;
    } cases[] = {
        {true, &morning, DATE_LONGDATE, "Wednesday, December 9, 2026", 0},
        {true, &morning, DATE_SHORTDATE, "12/9/2026", 0},
        {true, &leapDay, DATE_LONGDATE, "Thursday, February 29, 2024", 0},
        {true, &badDay, DATE_LONGDATE, nullptr, ERROR_INVALID_PARAMETER},
        {true, &morning, DATE_LONGDATE | DATE_SHORTDATE, nullptr, ERROR_INVALID_FLAGS},
        {false, &morning, 0, "10:04:33 AM", 0},
        {false, &leapDay, 0, "11:59:00 PM", 0},
        {false, &leapDay, TIME_NOSECONDS | TIME_FORCE24HOURFORMAT, "23:59", 0},
        {false, &badHour, 0, nullptr, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        char text[64];
        auto format = [&c](LPSTR buffer, int size) {
            return c.date
                       ? GetDateFormatA(LOCALE_USER_DEFAULT, c.flags, c.time, nullptr, buffer, size)
                       : GetTimeFormatA(LOCALE_USER_DEFAULT, c.flags, c.time, nullptr, buffer,
                                        size);
        };
        int written = format(text, sizeof text);
        if (c.text == nullptr) {
            EXPECT_EQ(written, 0);
            EXPECT_EQ(GetLastError(), c.error);
            continue;
        }
        int needed = int(std::strlen(c.text)) + 1;
        EXPECT_EQ(written, needed);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(format(nullptr, 0), needed);
        EXPECT_EQ(format(text, needed - 1), 0);
        EXPECT_EQ(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    }
}
