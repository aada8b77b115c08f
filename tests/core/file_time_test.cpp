// Member times as the member-output service restores them, in several zones.
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>

#include "core/member_output.h"
#include "core/output_files.h"
#include "platform/files.h"
#include "tests/test_support.h"

namespace {

// POSIX zone rules, so the tests need no time-zone database.
const char* const kZones[] = {"JST-9", "EST5EDT,M3.2.0,M11.1.0", "CET-1CEST,M3.5.0,M10.5.0/3", "UTC0"};

std::uint32_t dos(int year, int month, int day, int hour, int minute, int second) {
    return static_cast<std::uint32_t>((year - 1980) << 25 | month << 21 | day << 16 | hour << 11 | minute << 5 |
                                      second / 2);
}

// The local time a DOS time names, as the C library converts it.
long long localToUnix(std::uint32_t t) {
    const auto field = [t](int shift, unsigned mask) { return static_cast<int>(t >> shift & mask); };
    std::tm tm{};
    tm.tm_year = field(25, 127) + 80, tm.tm_mon = field(21, 15) - 1, tm.tm_mday = field(16, 31);
    tm.tm_hour = field(11, 31), tm.tm_min = field(5, 63), tm.tm_sec = field(0, 31) * 2, tm.tm_isdst = -1;
    return static_cast<long long>(std::mktime(&tm));
}

class MemberTimes : public testing_support::DeviceSandbox, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        if (const char* old = std::getenv("TZ")) savedZone_ = old;
        setenv("TZ", GetParam(), 1);
        tzset();
        testing_support::makeDirectories(host("\\out"));
    }
    void TearDown() override {
        if (savedZone_.empty()) unsetenv("TZ"); else setenv("TZ", savedZone_.c_str(), 1);
        tzset();
        DeviceSandbox::TearDown();
    }
    // Writes \out\f with the given time through the service; its mtime.
    long long written(MemberOutput& output, const FILETIME& time, DWORD attributes = 0) {
        EXPECT_EQ(output.open("f"), MemberStart::Opened);
        EXPECT_TRUE(output.write("data", 4));
        output.close(&time, nullptr, attributes);
        struct stat st;
        EXPECT_EQ(stat(host("\\out\\f").c_str(), &st), 0);
        return static_cast<long long>(st.st_mtime);
    }

private:
    std::string savedZone_;
};

}  // namespace

TEST_P(MemberTimes, UnixTimeIsSetExactlyInEveryZone) {
    MemberOutput output("\\out", MemberNames::AsStored);
    for (long long t : {1LL, 1000000000LL, 1719792000LL, 2147483647LL, 4102444800LL /* 2100 */}) {
        EXPECT_EQ(written(output, fileTimeFromUnix(t)), t);
    }
}

TEST_P(MemberTimes, DosTimeIsLocalTimeAcrossDaylightChanges) {
    // Winter, summer, and both sides of the spring change in the zones that
    // have one, asked in an order that tests the service's per-day cache.
    MemberOutput output("\\out", MemberNames::AsStored);
    for (std::uint32_t t : {dos(2024, 1, 15, 13, 45, 30), dos(2024, 7, 15, 8, 0, 58), dos(1980, 1, 1, 0, 0, 2),
                            dos(2024, 3, 10, 1, 30, 0), dos(2024, 3, 10, 12, 0, 0), dos(2024, 3, 31, 0, 30, 0),
                            dos(2024, 3, 31, 4, 0, 0), dos(2024, 3, 10, 1, 30, 0)}) {
        EXPECT_EQ(written(output, output.fileTimeFromDos(t)), localToUnix(t)) << std::hex << t;
    }
}

TEST_P(MemberTimes, InvalidDosDateLeavesTheTimeAlone) {
    MemberOutput output("\\out", MemberNames::AsStored);
    for (std::uint32_t t : {0u, dos(2023, 2, 29, 0, 0, 0), dos(2024, 5, 1, 24, 0, 0)}) {
        const FILETIME none = output.fileTimeFromDos(t);
        EXPECT_EQ(none.dwLowDateTime | none.dwHighDateTime, 0u);
        EXPECT_GT(written(output, none), 1600000000LL) << std::hex << t;  // now, not the bad date
    }
}

TEST_P(MemberTimes, ReadOnlyMembersGetTheirTimeBeforeTheirAttribute) {
    MemberOutput output("\\out", MemberNames::AsStored);
    EXPECT_EQ(written(output, fileTimeFromUnix(1000000000), FILE_ATTRIBUTE_READONLY), 1000000000);
    struct stat st;
    ASSERT_EQ(stat(host("\\out\\f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
}

INSTANTIATE_TEST_SUITE_P(Zones, MemberTimes, ::testing::ValuesIn(kZones));

TEST(MemberTimeConversion, UnixEpochsLineUp) {
    FILETIME t = fileTimeFromUnix(0);
    EXPECT_EQ(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime, 116444736000000000ULL);
    t = fileTimeFromUnix(-20000000000LL);  // before 1601: clamped, not wrapped
    EXPECT_EQ(t.dwHighDateTime | t.dwLowDateTime, 0u);
}
