// Fixtures: tests/fixtures/make-lzh-fixtures.sh; their bytes are checked
// through tests/fixtures/lzh/manifest.tsv. Synthetic archives are built here
// with lzh_test_support.h.
#include <sys/stat.h>

#include <ctime>
#include <string>

#include "tests/formats/lzh/lzh_test_support.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using namespace lzh_testing;

class LzhTest : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath) { return handler.extract(devicePath.c_str(), "\\out"); }
    int extractBytes(const std::string& archive) { return extract(place("a.lzh", archive)); }
    // Probing reads the file as well as its head in the SniffBuffer.
    bool probeBytes(const std::string& content) {
        place("probed", content);
        return probe(handler, content);
    }
    LzhHandler handler;
};
using LzhHeaders = LzhTest;

TEST_F(LzhHeaders, SelfExtractingLayoutIsFoundWithinItsLimit) {
    const std::string archive = member(stored(0, "a.txt", "hello")) + std::string(1, '\0');
    const std::string program(1000, 'P');
    EXPECT_TRUE(probeBytes(program + archive));
    ASSERT_EQ(extractBytes(program + archive), 1);
    EXPECT_EQ(output("a.txt"), "hello");
    EXPECT_FALSE(probeBytes(std::string(307200, 'P') + archive));
    EXPECT_FALSE(probeBytes(archive.substr(0, 20)));
    // A method-like text with a wrong header sum is no header.
    std::string badSum = archive;
    badSum[1] ^= 1;
    EXPECT_FALSE(probeBytes(badSum));
}

TEST_F(LzhHeaders, ExtendedHeadersGiveFoldersNamesAttributesAndTimes) {
    Member inFolder = stored(1, "b.txt", "in folder");
    inFolder.folder = "dir\xFFsub\xFF";
    inFolder.headerCrc = true;
    Member readOnly = stored(2, "ro.txt", "read only");
    readOnly.attributeExtension = 0x0001;
    readOnly.timeStamp = 1234567891;
    readOnly.headerCrc = true;
    Member level2Name = stored(2, "a.txt", "level two");
    level2Name.folder = "dir\xFFsub";  // no trailing separator
    level2Name.timeStamp = 1;
    // Level 1 counts its extended headers in packedSize; the next header
    // follows the data directly.
    ASSERT_EQ(extractBytes(member(inFolder) + member(readOnly) + member(level2Name) + std::string(1, '\0')), 1);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"dir/sub/a.txt", "dir/sub/b.txt", "ro.txt"}));
    EXPECT_EQ(output("dir\\sub\\b.txt"), "in folder");
    EXPECT_EQ(output("dir\\sub\\a.txt"), "level two");
    EXPECT_EQ(output("ro.txt"), "read only");
    EXPECT_FALSE(info("ro.txt").st_mode & S_IWUSR);
    EXPECT_EQ(info("ro.txt").st_mtime, 1234567891);
    EXPECT_EQ(info("dir/sub/a.txt").st_mtime, 1);
    std::tm local{};  // the DOS time of a level-1 header is local time
    local.tm_year = 121, local.tm_mon = 2, local.tm_mday = 4, local.tm_hour = 5, local.tm_isdst = -1;
    EXPECT_EQ(info("dir/sub/b.txt").st_mtime, std::mktime(&local));
}

TEST_F(LzhHeaders, WalkEndsAtTheEndMarkerOrADamagedHeader) {
    const std::string first = member(stored(0, "first.txt", "1"));
    // The end byte closes the archive whatever follows it.
    ASSERT_EQ(extractBytes(first + std::string(1, '\0') + member(stored(0, "after.txt", "2"))), 1);
    EXPECT_EQ(outputs(), std::vector<std::string>{"first.txt"});
    // No end byte at all is a normal end too.
    ASSERT_EQ(extractBytes(first), 1);

    Member withCrc = stored(2, "second.txt", "2");
    withCrc.headerCrc = true;
    std::string wrongCrc = member(withCrc);
    wrongCrc[27] ^= 1;  // the header CRC's low byte
    withCrc.name = "third.txt";
    const std::string goodCrc = member(withCrc);
    EXPECT_EQ(extractBytes(first + wrongCrc + goodCrc), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"first.txt"});
    // A cut header or one of level 3 ends the walk as a failure.
    EXPECT_EQ(extractBytes(first + goodCrc.substr(0, 15)), 0);
    std::string level3 = member(stored(0, "x", "x"));
    level3[20] = 3;
    EXPECT_EQ(extractBytes(first + level3), 0);
}

TEST_F(LzhHeaders, DamagedMembersAndUnknownMethodsFailButTheOthersExtract) {
    Member badCrc = stored(0, "bad.txt", "damaged data");
    badCrc.dataCrc ^= 1;
    Member unknown = stored(0, "unknown.txt", "??");
    unknown.method = "-lhx-";
    Member folder = stored(1, "", "");
    folder.method = "-lhd-";
    folder.folder = "empty\xFF";
    const std::string good = member(stored(0, "good.txt", "fine"));
    ASSERT_EQ(extractBytes(good + member(folder)), 1);
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\empty")));
    EXPECT_EQ(extractBytes(member(badCrc) + member(unknown) + good), 0);
    EXPECT_EQ(output("bad.txt"), "damaged data");  // kept as decoded
    EXPECT_FALSE(testing_support::fileExists(host("\\out\\unknown.txt")));
    EXPECT_EQ(output("good.txt"), "fine");
}

}  // namespace
