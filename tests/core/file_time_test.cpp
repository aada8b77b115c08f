// Member times and attributes as handlers restore them.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/output_files.h"
#include "platform/files.h"
#include "tests/test_support.h"

namespace {

// POSIX zone rules, so the tests need no time-zone database.
const char* const kZones[] = {"JST-9", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3",
                              "UTC0"};

class MemberTimes : public testing_support::DeviceSandbox,
                    public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        const char* old = std::getenv("TZ");
        hadZone_ = old != nullptr;
        if (old) savedZone_ = old;
        setenv("TZ", GetParam(), 1);
        tzset();
        testing_support::writeFile(host("\\f.txt"), "data");
    }
    void TearDown() override {
        if (hadZone_) setenv("TZ", savedZone_.c_str(), 1); else unsetenv("TZ");
        tzset();
        DeviceSandbox::TearDown();
    }
    long long modificationTime() {
        struct stat st;
        EXPECT_EQ(stat(host("\\f.txt").c_str(), &st), 0);
        return static_cast<long long>(st.st_mtime);
    }
    // The Unix time of a local calendar time in the zone under test.
    long long localToUnix(int year, int month, int day, int hour, int minute, int second) {
        std::tm tm{};
        tm.tm_year = year - 1900;
        tm.tm_mon = month - 1;
        tm.tm_mday = day;
        tm.tm_hour = hour;
        tm.tm_min = minute;
        tm.tm_sec = second;
        tm.tm_isdst = -1;
        return static_cast<long long>(std::mktime(&tm));
    }

private:
    bool hadZone_ = false;
    std::string savedZone_;
};

std::uint16_t dosDate(int year, int month, int day) {
    return static_cast<std::uint16_t>((year - 1980) << 9 | month << 5 | day);
}
std::uint16_t dosTime(int hour, int minute, int second) {
    return static_cast<std::uint16_t>(hour << 11 | minute << 5 | second / 2);
}

}  // namespace

TEST_P(MemberTimes, UnixTimeIsSetExactlyInEveryZone) {
    for (long long t : {0LL, 1000000000LL, 1719792000LL /* 2024-07-01 00:00 UTC */,
                        1735689599LL, 2147483647LL, 4102444800LL /* 2100 */}) {
        setFileTimeFromUnix("\\f.txt", t);
        EXPECT_EQ(modificationTime(), t) << "zone " << GetParam();
    }
}

TEST_P(MemberTimes, DosTimeIsLocalTime) {
    // Winter and summer dates, so daylight rules matter in zones that have them.
    setFileTimeFromDos("\\f.txt", dosDate(2024, 1, 15), dosTime(13, 45, 30));
    EXPECT_EQ(modificationTime(), localToUnix(2024, 1, 15, 13, 45, 30));
    setFileTimeFromDos("\\f.txt", dosDate(2024, 7, 15), dosTime(8, 0, 58));
    EXPECT_EQ(modificationTime(), localToUnix(2024, 7, 15, 8, 0, 58));
    setFileTimeFromDos("\\f.txt", dosDate(1980, 1, 1), 0x0001);  // two seconds
    EXPECT_EQ(modificationTime(), localToUnix(1980, 1, 1, 0, 0, 2));
}

TEST_P(MemberTimes, InvalidDosDateSetsNothing) {
    setFileTimeFromUnix("\\f.txt", 1000000000);
    setFileTimeFromDos("\\f.txt", 0, 0);                                 // month 0
    setFileTimeFromDos("\\f.txt", dosDate(2023, 2, 29), 0);              // no leap day
    setFileTimeFromDos("\\f.txt", dosDate(2024, 5, 1), dosTime(24, 0, 0));  // hour 24
    EXPECT_EQ(modificationTime(), 1000000000);
}

TEST_P(MemberTimes, ReadOnlyFileKeepsItsTime) {
    setFileTimeFromUnix("\\f.txt", 1000000000);
    setAttributes("\\f.txt", FILE_ATTRIBUTE_READONLY);
    setFileTimeFromUnix("\\f.txt", 1500000000);
    EXPECT_EQ(modificationTime(), 1000000000);
    EXPECT_EQ(testing_support::readFile(host("\\f.txt")), "data");
}

INSTANTIATE_TEST_SUITE_P(Zones, MemberTimes, ::testing::ValuesIn(kZones));

TEST(MemberTimeConversion, UnixEpochsLineUp) {
    FILETIME t = fileTimeFromUnix(0);
    std::uint64_t units = static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime;
    EXPECT_EQ(units, 116444736000000000ULL);
    t = fileTimeFromUnix(-20000000000LL);  // before 1601: clamped, not wrapped
    EXPECT_EQ(t.dwHighDateTime, 0u);
    EXPECT_EQ(t.dwLowDateTime, 0u);
}
