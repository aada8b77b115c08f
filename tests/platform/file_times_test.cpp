// Calendar and zone conversions of file times (100 ns units since 1601 UTC).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "platform/file_times.h"

namespace {

constexpr std::uint64_t kEpoch = 116444736000000000ULL, kSecond = 10000000ULL, kHour = 3600 * kSecond;

std::uint64_t ticks(const FILETIME& t) { return (std::uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; }
FILETIME fileTime(std::uint64_t v) { return FILETIME{static_cast<DWORD>(v), static_cast<DWORD>(v >> 32)}; }
SYSTEMTIME calendar(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = WORD(y), t.wMonth = WORD(mo), t.wDay = WORD(d), t.wHour = WORD(h), t.wMinute = WORD(mi);
    t.wSecond = WORD(s), t.wMilliseconds = WORD(ms);
    return t;
}
std::uint64_t toTicks(const SYSTEMTIME& t) {
    FILETIME out{0xDEAD, 0xBEEF};
    SetLastError(0);
    return SystemTimeToFileTime(&t, &out) ? ticks(out) : GetLastError() == ERROR_INVALID_PARAMETER ? ~0ULL : 0;
}
constexpr std::uint64_t kRejected = ~0ULL;

// TZ for one test, put back afterwards.
class LocalTime : public ::testing::Test {
protected:
    void TearDown() override {
        if (saved_) setenv("TZ", saved_->c_str(), 1); else unsetenv("TZ");
        tzset();
    }
    static std::uint64_t toLocal(std::uint64_t utc) {
        FILETIME in = fileTime(utc), out{};
        EXPECT_TRUE(FileTimeToLocalFileTime(&in, &out));
        return ticks(out);
    }
    static std::uint64_t toUtc(std::uint64_t local) {
        FILETIME in = fileTime(local), out{};
        EXPECT_TRUE(LocalFileTimeToFileTime(&in, &out));
        return ticks(out);
    }

private:
    std::unique_ptr<std::string> saved_{getenv("TZ") ? new std::string(getenv("TZ")) : nullptr};
};

}  // namespace

TEST(CalendarTimes, FieldsConvertBothWaysAndOutOfRangeIsRejected) {
    const std::pair<SYSTEMTIME, std::uint64_t> known[] = {
        {calendar(1601, 1, 1), 0},
        {calendar(1970, 1, 1), kEpoch},
        {calendar(2000, 2, 29, 12, 34, 56, 789), kEpoch + 951827696ULL * kSecond + 7890000},
        {calendar(2038, 1, 19, 3, 14, 8), kEpoch + 2147483648ULL * kSecond},  // past 32-bit time
    };
    for (const auto& [fields, expected] : known) EXPECT_EQ(toTicks(fields), expected);
    for (SYSTEMTIME bad : {calendar(2020, 0, 1), calendar(2020, 13, 1), calendar(2020, 1, 0), calendar(2000, 2, 30),
                           calendar(1900, 2, 29), calendar(2021, 2, 29), calendar(2021, 4, 31),
                           calendar(2021, 1, 1, 24), calendar(2021, 1, 1, 0, 60), calendar(2021, 1, 1, 0, 0, 60),
                           calendar(2021, 1, 1, 0, 0, 0, 1000), calendar(1600, 12, 31), calendar(30828, 1, 1)})
        EXPECT_EQ(toTicks(bad), kRejected) << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay;

    const std::pair<SYSTEMTIME, WORD> back[] = {  // with the weekday, Sunday 0
        {calendar(1601, 1, 1), 1}, {calendar(1980, 1, 1, 0, 0, 2), 2}, {calendar(2000, 2, 29, 12, 34, 56, 789), 2},
        {calendar(2100, 3, 1, 23, 59, 59, 999), 1}, {calendar(30827, 12, 31, 23, 59, 59, 999), 5}};
    for (const auto& [fields, weekday] : back) {
        FILETIME time = fileTime(toTicks(fields));
        SYSTEMTIME out{};
        ASSERT_TRUE(FileTimeToSystemTime(&time, &out));
        EXPECT_EQ(toTicks(out), toTicks(fields));
        EXPECT_EQ(out.wDayOfWeek, weekday) << out.wYear;
    }
    FILETIME tooLarge{0, 0x80000000u};
    SYSTEMTIME out;
    EXPECT_FALSE(FileTimeToSystemTime(&tooLarge, &out));
}

TEST_F(LocalTime, ZonesAndDaylightRulesApplyAtTheDateConverted) {
    setenv("TZ", "EST5EDT,M3.2.0,M11.1.0", 1);
    std::uint64_t winter = toTicks(calendar(2021, 1, 15, 12)), summer = toTicks(calendar(2021, 7, 15, 12, 0, 0, 500));
    EXPECT_EQ(toLocal(winter), winter - 5 * kHour);
    EXPECT_EQ(toLocal(summer), summer - 4 * kHour);
    EXPECT_EQ(toUtc(winter - 5 * kHour), winter);
    EXPECT_EQ(toUtc(summer - 4 * kHour), summer);
    // The zone is read again when TZ changes between calls; 1965 converts too.
    setenv("TZ", "JST-9", 1);
    EXPECT_EQ(toLocal(summer), summer + 9 * kHour);
    std::uint64_t old = toTicks(calendar(1965, 6, 1));
    EXPECT_EQ(toUtc(old + 9 * kHour), old);
    EXPECT_EQ(toLocal(old), old + 9 * kHour);
}
