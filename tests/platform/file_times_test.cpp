#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/file_times.h"

namespace {

constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL;
constexpr std::uint64_t kTicksPerSecond = 10000000ULL;

std::uint64_t ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

FILETIME fileTime(std::uint64_t value) {
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

SYSTEMTIME calendar(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                    int milliseconds = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    t.wMilliseconds = static_cast<WORD>(milliseconds);
    return t;
}

std::uint64_t toTicks(const SYSTEMTIME& t) {
    FILETIME result{0xDEADBEEF, 0xDEADBEEF};
    EXPECT_TRUE(SystemTimeToFileTime(&t, &result));
    return ticks(result);
}

bool rejects(const SYSTEMTIME& t) {
    FILETIME result;
    SetLastError(0);
    return !SystemTimeToFileTime(&t, &result) && GetLastError() == ERROR_INVALID_PARAMETER;
}

// Sets TZ for one test and puts the old value back afterwards.
class LocalTime : public ::testing::Test {
protected:
    void SetUp() override {
        if (const char* tz = std::getenv("TZ")) {
            hadZone_ = true;
            savedZone_ = tz;
        }
    }
    void TearDown() override {
        if (hadZone_) setenv("TZ", savedZone_.c_str(), 1); else unsetenv("TZ");
        tzset();
    }
    static void useZone(const char* zone) { setenv("TZ", zone, 1); }

    static std::uint64_t toLocal(std::uint64_t utc) {
        FILETIME in = fileTime(utc);
        FILETIME out{};
        EXPECT_TRUE(FileTimeToLocalFileTime(&in, &out));
        return ticks(out);
    }
    static std::uint64_t toUtc(std::uint64_t local) {
        FILETIME in = fileTime(local);
        FILETIME out{};
        EXPECT_TRUE(LocalFileTimeToFileTime(&in, &out));
        return ticks(out);
    }

private:
    bool hadZone_ = false;
    std::string savedZone_;
};

constexpr std::uint64_t kHour = 3600 * kTicksPerSecond;

}  // namespace

TEST(CalendarTimes, KnownDatesGiveKnownFileTimes) {
    EXPECT_EQ(toTicks(calendar(1601, 1, 1)), 0u);
    EXPECT_EQ(toTicks(calendar(1970, 1, 1)), kUnixEpochTicks);
    // 2000-02-29 12:34:56.789 UTC is Unix time 951827696.
    EXPECT_EQ(toTicks(calendar(2000, 2, 29, 12, 34, 56, 789)),
              kUnixEpochTicks + 951827696ULL * kTicksPerSecond + 7890000ULL);
    // The first second after 2038's 32-bit rollover.
    EXPECT_EQ(toTicks(calendar(2038, 1, 19, 3, 14, 8)),
              kUnixEpochTicks + 2147483648ULL * kTicksPerSecond);
}

TEST(CalendarTimes, OutOfRangeFieldsAreRejected) {
    EXPECT_TRUE(rejects(calendar(2020, 0, 1)));
    EXPECT_TRUE(rejects(calendar(2020, 13, 1)));
    EXPECT_TRUE(rejects(calendar(2020, 1, 0)));
    EXPECT_TRUE(rejects(calendar(2000, 2, 30)));
    EXPECT_TRUE(rejects(calendar(1900, 2, 29)));  // century, not a leap year
    EXPECT_TRUE(rejects(calendar(2021, 2, 29)));
    EXPECT_TRUE(rejects(calendar(2021, 4, 31)));
    EXPECT_TRUE(rejects(calendar(2021, 1, 1, 24)));
    EXPECT_TRUE(rejects(calendar(2021, 1, 1, 0, 60)));
    EXPECT_TRUE(rejects(calendar(2021, 1, 1, 0, 0, 60)));
    EXPECT_TRUE(rejects(calendar(2021, 1, 1, 0, 0, 0, 1000)));
    EXPECT_TRUE(rejects(calendar(1600, 12, 31)));
    EXPECT_TRUE(rejects(calendar(30828, 1, 1)));
    EXPECT_FALSE(rejects(calendar(2000, 2, 29)));
    EXPECT_FALSE(rejects(calendar(2024, 2, 29)));
    EXPECT_FALSE(rejects(calendar(30827, 12, 31, 23, 59, 59, 999)));
}

TEST(CalendarTimes, FileTimesBreakDownIntoTheSameFieldsWithWeekday) {
    const SYSTEMTIME dates[] = {calendar(1601, 1, 1),
                                calendar(1980, 1, 1, 0, 0, 2),
                                calendar(2000, 2, 29, 12, 34, 56, 789),
                                calendar(2100, 3, 1, 23, 59, 59, 999),
                                calendar(30827, 12, 31, 23, 59, 59, 999)};
    const WORD weekdays[] = {1, 2, 2, 1, 5};  // Sunday is 0
    for (int i = 0; i < 5; ++i) {
        FILETIME time = fileTime(toTicks(dates[i]));
        SYSTEMTIME back{};
        ASSERT_TRUE(FileTimeToSystemTime(&time, &back));
        EXPECT_EQ(back.wYear, dates[i].wYear);
        EXPECT_EQ(back.wMonth, dates[i].wMonth);
        EXPECT_EQ(back.wDay, dates[i].wDay);
        EXPECT_EQ(back.wHour, dates[i].wHour);
        EXPECT_EQ(back.wMinute, dates[i].wMinute);
        EXPECT_EQ(back.wSecond, dates[i].wSecond);
        EXPECT_EQ(back.wMilliseconds, dates[i].wMilliseconds);
        EXPECT_EQ(back.wDayOfWeek, weekdays[i]) << back.wYear;
    }
    FILETIME tooLarge{0, 0x80000000u};
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &out));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(LocalTime, FixedOffsetZoneShiftsBothWays) {
    useZone("JST-9");
    std::uint64_t utc = kUnixEpochTicks + 1000000000ULL * kTicksPerSecond + 1234567;
    EXPECT_EQ(toLocal(utc), utc + 9 * kHour);
    EXPECT_EQ(toUtc(utc + 9 * kHour), utc);
}

TEST_F(LocalTime, DaylightRulesApplyAtTheDateConverted) {
    useZone("EST5EDT,M3.2.0,M11.1.0");
    // 2021-01-15 12:00 UTC is 07:00 EST; 2021-07-15 12:00 UTC is 08:00 EDT.
    std::uint64_t winter = toTicks(calendar(2021, 1, 15, 12));
    std::uint64_t summer = toTicks(calendar(2021, 7, 15, 12, 0, 0, 500));
    EXPECT_EQ(toLocal(winter), toTicks(calendar(2021, 1, 15, 7)));
    EXPECT_EQ(toLocal(summer), toTicks(calendar(2021, 7, 15, 8, 0, 0, 500)));
    EXPECT_EQ(toUtc(toTicks(calendar(2021, 1, 15, 7))), winter);
    EXPECT_EQ(toUtc(toTicks(calendar(2021, 7, 15, 8, 0, 0, 500))), summer);

    // The zone is read again when TZ changes between calls.
    useZone("UTC0");
    EXPECT_EQ(toLocal(summer), summer);
    useZone("JST-9");
    EXPECT_EQ(toUtc(toTicks(calendar(2021, 7, 15, 21, 0, 0, 500))), summer);
}

TEST_F(LocalTime, DatesBefore1970AreConverted) {
    useZone("JST-9");
    std::uint64_t local = toTicks(calendar(1965, 6, 1, 9));
    EXPECT_EQ(toUtc(local), toTicks(calendar(1965, 6, 1, 0)));
    EXPECT_EQ(toLocal(toTicks(calendar(1965, 6, 1, 0))), local);
}
