#include "platform/file_times.h"

#include <cstdint>
#include <ctime>

namespace {

constexpr std::int64_t kTicksPerMillisecond = 10000;
constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kSecondsPerDay = 86400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDaysFrom1601To1970 = 134774;
constexpr std::int64_t kUnixEpochTicks = kDaysFrom1601To1970 * kSecondsPerDay * kTicksPerSecond;

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (negative before).
std::int64_t daysFromCivil(std::int64_t year, int month, int day) {
    year -= month <= 2;
    std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    auto yearOfEra = static_cast<std::int64_t>(year - era * 400);
    std::int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(std::int64_t days, std::int64_t& year, int& month, int& day) {
    days += 719468;
    std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    std::int64_t dayOfEra = days - era * 146097;
    std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
    month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
    year = yearOfEra + era * 400 + (month <= 2);
}

bool ticksOf(const FILETIME* fileTime, std::int64_t& ticks) {
    if (!fileTime) return false;
    std::uint64_t value = (static_cast<std::uint64_t>(fileTime->dwHighDateTime) << 32) |
                          fileTime->dwLowDateTime;
    if (value > static_cast<std::uint64_t>(INT64_MAX)) return false;
    ticks = static_cast<std::int64_t>(value);
    return true;
}

void storeTicks(std::int64_t ticks, FILETIME* fileTime) {
    auto value = static_cast<std::uint64_t>(ticks);
    fileTime->dwLowDateTime = static_cast<DWORD>(value & 0xFFFFFFFFu);
    fileTime->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

BOOL fail() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

// Splits ticks since 1601 into whole seconds since 1970 and the rest.
void splitTicks(std::int64_t ticks, std::int64_t& unixSeconds, std::int64_t& subSecondTicks) {
    std::int64_t seconds = ticks / kTicksPerSecond;
    subSecondTicks = ticks % kTicksPerSecond;
    unixSeconds = seconds - kDaysFrom1601To1970 * kSecondsPerDay;
}

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime) {
    if (!systemTime || !fileTime) return fail();
    const SYSTEMTIME& t = *systemTime;
    if (t.wYear < 1601 || t.wYear > 30827 || t.wMonth < 1 || t.wMonth > 12 || t.wDay < 1 ||
        t.wDay > daysInMonth(t.wYear, t.wMonth) || t.wHour > 23 || t.wMinute > 59 ||
        t.wSecond > 59 || t.wMilliseconds > 999)
        return fail();
    std::int64_t days = daysFromCivil(t.wYear, t.wMonth, t.wDay) + kDaysFrom1601To1970;
    std::int64_t seconds = days * kSecondsPerDay + t.wHour * 3600 + t.wMinute * 60 + t.wSecond;
    storeTicks(seconds * kTicksPerSecond + t.wMilliseconds * kTicksPerMillisecond, fileTime);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* fileTime, SYSTEMTIME* systemTime) {
    std::int64_t ticks;
    if (!ticksOf(fileTime, ticks) || !systemTime) return fail();
    std::int64_t seconds = ticks / kTicksPerSecond;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    std::int64_t year;
    int month;
    int day;
    civilFromDays(days - kDaysFrom1601To1970, year, month, day);
    systemTime->wYear = static_cast<WORD>(year);
    systemTime->wMonth = static_cast<WORD>(month);
    systemTime->wDay = static_cast<WORD>(day);
    // 1601-01-01 was a Monday; Sunday is 0.
    systemTime->wDayOfWeek = static_cast<WORD>((days + 1) % 7);
    systemTime->wHour = static_cast<WORD>(secondOfDay / 3600);
    systemTime->wMinute = static_cast<WORD>(secondOfDay / 60 % 60);
    systemTime->wSecond = static_cast<WORD>(secondOfDay % 60);
    systemTime->wMilliseconds = static_cast<WORD>(ticks / kTicksPerMillisecond % 1000);
    return TRUE;
}

// The offset is the one in force at that instant (daylight time included),
// not today's: a summer file keeps its summer offset all year round.
BOOL FileTimeToLocalFileTime(const FILETIME* fileTime, FILETIME* localFileTime) {
    std::int64_t ticks;
    if (!ticksOf(fileTime, ticks) || !localFileTime) return fail();
    std::int64_t unixSeconds;
    std::int64_t subSecond;
    splitTicks(ticks, unixSeconds, subSecond);
    // TZ may have changed since the last call.
    tzset();
    auto instant = static_cast<time_t>(unixSeconds);
    struct tm local;
    if (!localtime_r(&instant, &local)) return fail();
    std::int64_t offsetTicks = static_cast<std::int64_t>(local.tm_gmtoff) * kTicksPerSecond;
    if ((offsetTicks > 0 && ticks > INT64_MAX - offsetTicks) || ticks + offsetTicks < 0)
        return fail();
    storeTicks(ticks + offsetTicks, localFileTime);
    return TRUE;
}

// A local time that daylight saving skips or repeats is resolved as the
// host's mktime resolves it.
BOOL LocalFileTimeToFileTime(const FILETIME* localFileTime, FILETIME* fileTime) {
    std::int64_t ticks;
    if (!ticksOf(localFileTime, ticks) || !fileTime) return fail();
    std::int64_t localSeconds;
    std::int64_t subSecond;
    splitTicks(ticks, localSeconds, subSecond);
    std::int64_t days = localSeconds / kSecondsPerDay;
    std::int64_t secondOfDay = localSeconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    std::int64_t year;
    int month;
    int day;
    civilFromDays(days, year, month, day);
    struct tm local = {};
    local.tm_year = static_cast<int>(year - 1900);
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = static_cast<int>(secondOfDay / 3600);
    local.tm_min = static_cast<int>(secondOfDay / 60 % 60);
    local.tm_sec = static_cast<int>(secondOfDay % 60);
    local.tm_isdst = -1;
    // mktime's -1 is also a valid time, so success is told by tm_wday,
    // which it fills only when it succeeds.
    local.tm_wday = -1;
    tzset();
    time_t instant = mktime(&local);
    if (local.tm_wday < 0) return fail();
    std::int64_t seconds = static_cast<std::int64_t>(instant);
    constexpr std::int64_t maxSeconds = (INT64_MAX - kUnixEpochTicks) / kTicksPerSecond - 1;
    if (seconds < -kDaysFrom1601To1970 * kSecondsPerDay || seconds > maxSeconds) return fail();
    storeTicks(kUnixEpochTicks + seconds * kTicksPerSecond + subSecond, fileTime);
    return TRUE;
}
