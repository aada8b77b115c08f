// Fixtures: tests/fixtures/make-arj-fixtures.sh (Debian's arj, a Unix-host
// archiver: Unix modes and Unix times; 7zz agrees on every archive it reads);
// their bytes are checked through tests/fixtures/arj/manifest.tsv.
// DOS-host and damaged archives are built here with arj_test_support.h.
#include <sys/stat.h>

#include <cstring>
#include <ctime>
#include <string>

#include "formats/arj/arj_handler.h"
#include "tests/formats/arj/arj_test_support.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using namespace arj_testing;
using testing_support::sameBytes;

class ArjTest : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath) { return handler.extract(devicePath.c_str(), "\\out"); }
    int extractBytes(const std::string& content) { return extract(place("a.arj", content)); }
    bool probeBytes(const std::string& content) {
        place("probed", content);
        return probe(handler, content);
    }
    static std::string arjFixture(const std::string& name) {
        return testing_support::readFile(testing_support::fixturePath("arj/" + name));
    }
    void clearOut() { testing_support::runShell("rm -rf '" + root() + "/out'/*"); }
    ArjHandler handler;
};
using ArjArchives = ArjTest;
using ArjHeaders = ArjTest;
using ArjSafety = ArjTest;

const std::time_t kPackedAt = 1614834368;  // 2021-03-04 05:06:08 UTC
const std::time_t kReadOnlyAt = 1577836798;  // 2019-12-31 23:59:58 UTC

TEST_F(ArjArchives, VolumesExtractWhatEachHoldsAndJoinInOrder) {
    auto volumeMember = [](unsigned i) { return fixtureNoise(6000, 10 + i) + fixtureText(10000, 20 + i); };
    const std::string first = arjFixture("vol.arj");
    // Alone, the first volume gives its whole member and the start of the
    // next, which makes the request fail: that file is incomplete.
    EXPECT_EQ(extractBytes(first), 0);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"v0.bin", "v1.bin"}));
    EXPECT_TRUE(sameBytes(output("v0.bin"), volumeMember(0)));
    EXPECT_TRUE(sameBytes(output("v1.bin"), volumeMember(1).substr(0, output("v1.bin").size())));
    EXPECT_LT(output("v1.bin").size(), 16000u);
    // The following volumes, in order into the same folder, complete them.
    EXPECT_EQ(extract(place("vol.a01", arjFixture("vol.a01"))), 0);
    EXPECT_EQ(extract(place("vol.a02", arjFixture("vol.a02"))), 0);
    EXPECT_EQ(extract(place("vol.a03", arjFixture("vol.a03"))), 1);
    for (unsigned i = 0; i < 4; ++i) {
        const std::string name = "v" + std::to_string(i) + ".bin";
        SCOPED_TRACE(name);
        EXPECT_TRUE(sameBytes(output(name), volumeMember(i)));
        EXPECT_EQ(info(name).st_mtime, 1582977600);  // 2020-02-29 12:00:00 UTC
    }
    // A continuation without its beginning is never written as the file.
    clearOut();
    EXPECT_EQ(extract(place("vol.a02", arjFixture("vol.a02"))), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"v3.bin"});
}

TEST_F(ArjHeaders, HeaderSearchBoundsAreTheSameForProbeAndExtract) {
    const std::string fixture = arjFixture("m1.arj");
    std::string small = archive(member(stored("s.txt", "small")));
    small.resize(300, 'x');  // bytes after the end marker are never read
    // A file of exactly 2,602 bytes is searched at no position; one byte
    // more gives one. A basic header of 2,601 bytes is no header.
    const Member big = stored("b.txt", "b");
    const struct { std::string bytes; bool found; bool extract = true; } cases[] = {
        {std::string(20000, 'M') + fixture, true}, {std::string(49999, 'M') + fixture, true},
        {std::string(50000, 'M') + fixture, false}, {small, true}, {small + std::string(2302, 'x'), false},
        {small + std::string(2303, 'x'), true}, {header(big, 2601) + big.packed + kEnd, false, false},
        {header(big, 2600) + big.packed + kEnd, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.bytes.size());
        EXPECT_EQ(probeBytes(c.bytes), c.found);
        clearOut();  // ro.txt, read-only, cannot be replaced
        EXPECT_EQ(c.extract ? extractBytes(c.bytes) : c.found, c.found ? 1 : 0);
    }
    // Stale bytes of a longer file beyond a short one's end never count.
    const std::string whole = archive(member(stored("s.txt", "small")));
    std::memcpy(appState.sniffBuffer, whole.data(), whole.size());
    place("probed", whole.substr(0, 40));
    EXPECT_FALSE(handler.probe("\\in\\probed", 40));
}

// Unix hosts store the Unix time itself, whatever the time zone, and their
// modes; DOS hosts local times, attributes and code page 932 names.
TEST_F(ArjHeaders, HostsKeepTheirNamesTimesAndModes) {
    ASSERT_EQ(extractBytes(arjFixture("m1.arj")), 1);
    EXPECT_EQ(info("text.txt").st_mtime, kPackedAt);
    EXPECT_EQ(info("ro.txt").st_mtime, kReadOnlyAt);
    EXPECT_TRUE(info("binary.bin").st_mode & S_IWUSR);
    EXPECT_FALSE(info("ro.txt").st_mode & S_IWUSR);
    clearOut();
    Member dos = stored("d\x83\x5C.txt", "dos");  // a double-byte character whose second byte is `\`
    dos.accessMode = 0x21;
    dos.extendedHeader = "skipped extended header";
    Member unixHost = stored("\xE9u.txt", "unix");
    unixHost.hostOs = 2;
    unixHost.timeStamp = 1234567890;
    unixHost.accessMode = 0x81A4;  // -rw-r--r--
    Member folder = stored("empty\\dir", "");
    folder.fileType = 3;
    Member label = stored("label", "");
    label.fileType = 4;
    ASSERT_EQ(extractBytes(archive(member(dos) + member(unixHost) + member(folder) + member(label))), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"d\xE3\x82\xBD.txt", "iu.txt"}));
    EXPECT_EQ(output("iu.txt"), "unix");
    EXPECT_EQ(info("iu.txt").st_mtime, 1234567890);
    EXPECT_TRUE(info("iu.txt").st_mode & S_IWUSR);
    struct std::tm local{};
    local.tm_year = 121, local.tm_mon = 2, local.tm_mday = 4, local.tm_hour = 5, local.tm_isdst = -1;
    EXPECT_EQ(info("d\xE3\x82\xBD.txt").st_mtime, std::mktime(&local));
    EXPECT_FALSE(info("d\xE3\x82\xBD.txt").st_mode & S_IWUSR);
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\empty\\dir")));
}

TEST_F(ArjSafety, UndecodableAndDamagedMembersFailWhileTheOthersExtract) {
    Member badCrc = stored("bad.txt", "damaged data");
    badCrc.fileCrc ^= 1;
    Member method5 = stored("m5.txt", "x");
    method5.method = 5;
    Member newer = stored("v4.txt", "x");
    newer.extractVersion = 4;
    Member fastFromVersion1 = stored("f1.txt", "x");
    fastFromVersion1.method = 4;
    fastFromVersion1.archiverVersion = 1;
    const Member tooLong = stored(std::string(600, 'n'), "longer than the name buffer");
    const std::string good = member(stored("good.txt", "fine"));
    for (const Member& m : {badCrc, method5, newer, fastFromVersion1, tooLong}) {
        SCOPED_TRACE(m.name);
        clearOut();
        EXPECT_EQ(extractBytes(archive(member(m) + good)), 0);
        EXPECT_EQ(output("good.txt"), "fine");
    }
    EXPECT_EQ(outputs(), std::vector<std::string>{"good.txt"});
    clearOut();
    extractBytes(archive(member(badCrc)));
    EXPECT_EQ(output("bad.txt"), "damaged data");  // kept as decoded
}

}  // namespace
