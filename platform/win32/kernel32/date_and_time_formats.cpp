// kernel32: dates and times as text in the user's locale, which on the simulated PC is English
// (United States): "Wednesday, December 9, 2026", "12/9/2026", "10:04:33 AM". Format pictures are
// not emulated.
#include "caller.h"

#include <winbase.h>

#include <cstring>
#include <string>

using namespace host::win32;

namespace {

const char *const kDays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};
const char *const kMonths[] = {"January",   "February", "March",    "April",
                               "May",       "June",     "July",     "August",
                               "September", "October",  "November", "December"};

bool LeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

bool ValidDate(const SYSTEMTIME &date)
{
    static const int kDaysIn[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.wYear < 1601 || date.wYear > 30827 || date.wMonth < 1 || date.wMonth > 12 ||
        date.wDay < 1)
        return false;
    int days = kDaysIn[date.wMonth - 1] + (date.wMonth == 2 && LeapYear(date.wYear) ? 1 : 0);
    return date.wDay <= days;
}

// The day of the week of a civil date (Sakamoto's method); the caller's wDayOfWeek is ignored,
// as Windows ignores it.
int DayOfWeek(int year, int month, int day)
{
    static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (month < 3)
        year -= 1;
    return (year + year / 4 - year / 100 + year / 400 + kOffsets[month - 1] + day) % 7;
}

bool KnownLocale(LCID locale)
{
    return locale == LOCALE_USER_DEFAULT || locale == LOCALE_SYSTEM_DEFAULT ||
           locale == LOCALE_INVARIANT || locale == 0x0409;
}

// Copies the text with its terminator as the NLS functions do: the count needed when the buffer
// is 0 long, ERROR_INSUFFICIENT_BUFFER when it is too short.
int CopyText(const std::string &text, LPSTR buffer, int capacity)
{
    int needed = int(text.size()) + 1;
    if (capacity == 0)
        return needed;
    if (buffer == nullptr || capacity < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text.c_str(), size_t(needed));
    return needed;
}

// Checks common to both: the locale, the picture (not emulated), the buffer; the time to format
// (now if none is given).
bool Prepare(const char *entryPoint, LCID locale, LPCSTR format, LPSTR buffer, int capacity,
             const SYSTEMTIME *given, SYSTEMTIME *time)
{
    Caller caller = CallerOf(entryPoint);
    if (format != nullptr) {
        caller.machine.Checks().Report(host::VerifierCheck::Unimplemented,
                                       std::string(entryPoint) + " with a format picture");
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!KnownLocale(locale) || capacity < 0 || (capacity > 0 && buffer == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (given != nullptr)
        *time = *given;
    else
        GetSystemTime(time); // the simulated PC's time zone is UTC
    return true;
}

} // namespace

extern "C" {

int WINAPI GetDateFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME *lpDate, LPCSTR lpFormat,
                          LPSTR lpDateStr, int cchDate)
{
    SYSTEMTIME date;
    if (!Prepare("GetDateFormatA", Locale, lpFormat, lpDateStr, cchDate, lpDate, &date))
        return 0;
    if ((dwFlags & ~DWORD(DATE_SHORTDATE | DATE_LONGDATE)) != 0 ||
        dwFlags == (DATE_SHORTDATE | DATE_LONGDATE)) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (!ValidDate(date)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    std::string text;
    if (dwFlags & DATE_LONGDATE)
        text = std::string(kDays[DayOfWeek(date.wYear, date.wMonth, date.wDay)]) + ", " +
               kMonths[date.wMonth - 1] + " " + std::to_string(date.wDay) + ", " +
               std::to_string(date.wYear);
    else
        text = std::to_string(date.wMonth) + "/" + std::to_string(date.wDay) + "/" +
               std::to_string(date.wYear);
    return CopyText(text, lpDateStr, cchDate);
}

int WINAPI GetTimeFormatA(LCID Locale, DWORD dwFlags, const SYSTEMTIME *lpTime, LPCSTR lpFormat,
                          LPSTR lpTimeStr, int cchTime)
{
    SYSTEMTIME time;
    if (!Prepare("GetTimeFormatA", Locale, lpFormat, lpTimeStr, cchTime, lpTime, &time))
        return 0;
    constexpr DWORD kKnown =
        TIME_NOMINUTESORSECONDS | TIME_NOSECONDS | TIME_NOTIMEMARKER | TIME_FORCE24HOURFORMAT;
    if ((dwFlags & ~kKnown) != 0) {
        SetLastError(ERROR_INVALID_FLAGS);
        return 0;
    }
    if (time.wHour > 23 || time.wMinute > 59 || time.wSecond > 59 || time.wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    bool twelveHour = !(dwFlags & TIME_FORCE24HOURFORMAT);
    int hour = twelveHour ? (time.wHour % 12 == 0 ? 12 : time.wHour % 12) : time.wHour;
    auto twoDigits = [](int value) { return (value < 10 ? "0" : "") + std::to_string(value); };
    std::string text = twelveHour ? std::to_string(hour) : twoDigits(hour);
    if (!(dwFlags & TIME_NOMINUTESORSECONDS)) {
        text += ":" + twoDigits(time.wMinute);
        if (!(dwFlags & TIME_NOSECONDS))
            text += ":" + twoDigits(time.wSecond);
    }
    if (twelveHour && !(dwFlags & TIME_NOTIMEMARKER))
        text += time.wHour < 12 ? " AM" : " PM";
    return CopyText(text, lpTimeStr, cchTime);
}

} // extern "C"
