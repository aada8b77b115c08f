// Fixtures: tests/fixtures/make-cab-fixtures.sh (gcab, checked against 7zz
// and bsdtar). Every other cabinet is written here by cab_builder: several
// folders, reserves, damaged blocks and sets split across cabinets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "formats/cab/cab_handler.h"
#include "formats/cab/cab_messages.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/test_support.h"

namespace {

using cab_testing::Folder;
using cab_testing::Member;
using cab_testing::Options;
using testing_support::listFiles;
using testing_support::readFile;
using testing_support::sameBytes;
using testing_support::sampleData;

const char* const kGcabMembers[] = {"readme.txt", "data/sample.bin", "empty.txt", "sub/deeper/notes.txt"};

class CabTest : public testing_support::DeviceSandbox {
protected:
    void SetUp() override {
        DeviceSandbox::SetUp();
        testing_support::makeDirectories(host("\\in"));
        cabMessageBuffer[0] = '\0';
    }
    void place(const std::string& name, const std::string& bytes) {
        testing_support::writeFile(host("\\in\\" + name), bytes);
    }
    int extract(const std::string& name) { return handler.extract(("\\in\\" + name).c_str(), "\\out"); }
    std::string output(const std::string& name) const { return readFile(host("\\out\\" + name)); }
    std::vector<std::string> outputs() const { return listFiles(host("\\out")); }
    std::string message() const { return cabMessageBuffer; }
    // The folder's members all extracted byte for byte.
    void expectMembers(const Folder& folder) {
        for (const Member& m : folder.members) EXPECT_TRUE(sameBytes(output(m.name), m.data)) << m.name;
    }
    CabHandler handler;
};
using CabFixtures = CabTest;
using CabFolders = CabTest;
using CabIntegrity = CabTest;
using CabSets = CabTest;
using CabNames = CabTest;

Folder folderOf(std::uint16_t type, std::vector<Member> members) { return Folder{type, std::move(members)}; }

// Where a single cabinet's first CFDATA block starts (its first folder
// entry follows the header and, with flag 0x0004, the reserve fields).
std::size_t firstBlockOffset(const std::string& cab) {
    auto byte = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(cab[i])); };
    const std::size_t entry = (byte(30) & 4) ? 36 + 4 + (byte(36) | byte(37) << 8) : 36;
    return byte(entry) | byte(entry + 1) << 8 | byte(entry + 2) << 16;
}

TEST_F(CabFixtures, GcabStoredAndMszipCabinetsExtractWithTheirSubfolders) {
    for (const char* cab : {"stored.cab", "mszip.cab"}) {
        SCOPED_TRACE(cab);
        testing_support::makeDirectories(host("\\out"));
        place(cab, readFile(testing_support::fixturePath(std::string("cab/") + cab)));
        ASSERT_EQ(extract(cab), 1) << message();
        EXPECT_EQ(outputs(), (std::vector<std::string>{"data/sample.bin", "empty.txt", "readme.txt",
                                                       "sub/deeper/notes.txt"}));
        for (const char* m : kGcabMembers) {
            EXPECT_TRUE(sameBytes(output(m), readFile(testing_support::fixturePath(std::string("cab/src/") + m))))
                << m;
        }
        testing_support::runShell("rm -rf '" + host("\\out") + "'");
    }
}

TEST_F(CabFixtures, CommandLineExtractsAndReportsFailureWithStatus4) {
    place("mszip.cab", readFile(testing_support::fixturePath("cab/mszip.cab")));
    testing_support::ProgramRun run = testing_support::runProgram({"#F(\\in\\mszip.cab)#P(\\out)"});
    ASSERT_EQ(run.exitStatus, 0) << run.err;
    EXPECT_TRUE(sameBytes(output("data/sample.bin"), readFile(testing_support::fixturePath("cab/src/data/sample.bin"))));

    place("bad.cab", std::string("MSCF") + std::string(40, '\0'));
    run = testing_support::runProgram({"#F(\\in\\bad.cab)#P(\\out2)"});
    EXPECT_EQ(run.exitStatus, 4);
}

TEST_F(CabFolders, SeveralFoldersMembersOutOfOrderAndEmptyMembers) {
    const std::vector<Folder> folders = {
        folderOf(0, {{"s1", sampleData(40000, 1)}, {"s-empty", ""}, {"s2", sampleData(3000, 2)}}),
        folderOf(1, {{"m1", sampleData(70000, 3)}, {"m2", sampleData(100, 4)}, {"m3", sampleData(50000, 5)}}),
        folderOf(1, {{"z-empty", ""}, {"z1", sampleData(9, 6)}}),
    };
    Options options;
    options.entryOrder = {5, 3, 0, 4, 2, 7, 6, 1};  // m3 m1 s1 m2 s2 z1 z-empty s-empty
    place("multi.cab", cab_testing::buildCabinet(folders, options));
    ASSERT_EQ(extract("multi.cab"), 1) << message();
    EXPECT_EQ(outputs().size(), 8u);
    for (const Folder& f : folders) expectMembers(f);
}

TEST_F(CabFolders, QuantumAndUnknownMethodsFailOnlyTheirOwnMembers) {
    const std::vector<Folder> folders = {
        folderOf(0x0F02, {{"quantum", "q"}}),
        folderOf(1, {{"good", sampleData(5000, 7)}}),
        folderOf(0x0005, {{"unknown", "u"}}),
    };
    place("q.cab", cab_testing::buildCabinet(folders));
    EXPECT_EQ(extract("q.cab"), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"good"});
    expectMembers(folders[1]);
    EXPECT_EQ(message(), "\\in\\q.cab: unsupported data format\n");
}

TEST_F(CabIntegrity, ChecksumZeroIsNotCheckedAndAWrongOneFailsTheMember) {
    const std::vector<Folder> folders = {folderOf(1, {{"a", sampleData(20000, 8)}}),
                                         folderOf(0, {{"b", sampleData(300, 9)}})};
    Options unchecked;
    unchecked.checksums = false;
    place("zero.cab", cab_testing::buildCabinet(folders, unchecked));
    ASSERT_EQ(extract("zero.cab"), 1);
    for (const Folder& f : folders) expectMembers(f);

    std::string cab = cab_testing::buildCabinet(folders);
    cab[firstBlockOffset(cab)] ^= 1;
    place("wrong.cab", cab);
    testing_support::runShell("rm -rf '" + host("\\out") + "'");
    EXPECT_EQ(extract("wrong.cab"), 0);
    EXPECT_EQ(message(), "\\in\\wrong.cab: checksum error\n");
    EXPECT_EQ(outputs(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(output("a"), "");  // created, then its first frame failed
    expectMembers(folders[1]);
}

TEST_F(CabIntegrity, ReserveBytesAreSkippedAndCoveredByTheChecksum) {
    const std::vector<Folder> folders = {folderOf(1, {{"r", sampleData(80000, 10)}}),
                                         folderOf(0, {{"t", sampleData(33, 11)}})};
    Options options;
    options.reserve = true;
    options.headerReserve = 60000;
    options.folderReserve = 3;
    options.blockReserve = 7;  // odd: the tail rule applies after the reserve
    options.minorVersion = 3;
    place("reserve.cab", cab_testing::buildCabinet(folders, options));
    ASSERT_EQ(extract("reserve.cab"), 1) << message();
    EXPECT_EQ(message(), "");  // version 1.3 and a reserve of exactly 60,000 warn of nothing
    for (const Folder& f : folders) expectMembers(f);

    options.headerReserve = 60001;
    options.minorVersion = 4;
    std::string cab = cab_testing::buildCabinet(folders, options);
    place("warned.cab", cab);
    ASSERT_EQ(extract("warned.cab"), 1);
    EXPECT_EQ(message(), "\\in\\warned.cab: WARNING; header reserved space > 60000\n");

    // A changed reserve byte breaks the checksum.
    cab[firstBlockOffset(cab) + 8] ^= 0x40;
    place("changed.cab", cab);
    EXPECT_EQ(extract("changed.cab"), 0);
    EXPECT_EQ(message(), "\\in\\changed.cab: checksum error\n");
}

TEST_F(CabIntegrity, ShortFramesTruncationAndForeignFilesFail) {
    // A stored block that declares more bytes than it holds, and an MSZIP
    // frame that decodes to fewer than it declares.
    Options unchecked;
    unchecked.checksums = false;
    for (std::uint16_t type : {0, 1}) {
        std::string cab = cab_testing::buildCabinet({folderOf(type, {{"short", std::string(100, 'x')}})}, unchecked);
        cab[firstBlockOffset(cab) + 6] = 101;  // uncompressed size 101 instead of 100
        place("short.cab", cab);
        cabMessageBuffer[0] = '\0';
        EXPECT_EQ(extract("short.cab"), 0) << type;
        EXPECT_EQ(message(), "\\in\\short.cab: illegal or corrupt data\n");
    }

    const std::string good = cab_testing::buildCabinet({folderOf(1, {{"cut", sampleData(60000, 12)}})});
    place("cut.cab", good.substr(0, good.size() - 10));
    EXPECT_EQ(extract("cut.cab"), 0);
    EXPECT_EQ(message(), "\\in\\cut.cab: input error\n");

    place("foreign.cab", sampleData(5000, 13));
    EXPECT_EQ(extract("foreign.cab"), 0);
    EXPECT_EQ(message(), "\\in\\foreign.cab: not a Microsoft cabinet file\n");
    std::string empty = good.substr(0, 36);
    empty[26] = empty[27] = empty[28] = empty[29] = 0;
    place("empty.cab", empty);
    EXPECT_EQ(extract("empty.cab"), 0);
    EXPECT_EQ(message(), "\\in\\empty.cab: no folders in cabinet\n");
    place("header.cab", good.substr(0, 30));
    EXPECT_EQ(extract("header.cab"), 0);
    EXPECT_EQ(message(), "\\in\\header.cab: WARNING; cabinet is truncated\n");
}

TEST_F(CabIntegrity, ProbeClaimsOnlyTheSignatureAtTheStart) {
    std::memcpy(appState.sniffBuffer, "MSCF", 4);
    EXPECT_TRUE(handler.probe("\\in\\x", 4));
    EXPECT_FALSE(handler.probe("\\in\\x", 3));
    std::memcpy(appState.sniffBuffer, "xMSCF", 5);
    EXPECT_FALSE(handler.probe("\\in\\x", 100));
    EXPECT_TRUE(handler.matchesExtension("CaB"));
}

// A folder of three members split across cabinets; the middle member spans
// every cut.
Folder spanningFolder(std::uint16_t type, std::size_t middleSize) {
    return folderOf(type, {{"head", sampleData(20000, 20)}, {"middle", sampleData(middleSize, 21)},
                           {"tail", sampleData(15000, 22)}});
}

TEST_F(CabSets, FoldersJoinAcrossCabinetsWithFramesCutBetweenThem) {
    const Folder folder = spanningFolder(1, 120000);
    const std::vector<std::string> cabs =
        cab_testing::buildSet(folder, {{1, 100}, {2, 5}, {3, 1}}, {"set1.cab", "SET2.CAB", "set3.cab", "set4.cab"});
    place("set1.cab", cabs[0]);
    place("set2.cab", cabs[1]);  // named in upper case by the first cabinet
    place("set3.cab", std::string(1000, 'j') + cabs[2] + std::string(21, 'j'));  // behind other data
    place("set4.cab", cabs[3]);
    ASSERT_EQ(extract("set1.cab"), 1) << message();
    EXPECT_EQ(outputs(), (std::vector<std::string>{"head", "middle", "tail"}));
    expectMembers(folder);
}

TEST_F(CabSets, AMissingNextCabinetFailsOnlyTheMemberThatGoesOn) {
    const Folder folder = spanningFolder(0, 50000);
    const std::vector<std::string> cabs = cab_testing::buildSet(folder, {{1, 500}}, {"m1.cab", "m2.cab"});
    place("m1.cab", cabs[0]);
    EXPECT_EQ(extract("m1.cab"), 0);
    EXPECT_EQ(message(), "\\in\\m1.cab: can't read next cabinet \\in\\m2.cab\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{"head"});
    EXPECT_TRUE(sameBytes(output("head"), folder.members[0].data));
}

TEST_F(CabSets, AFolderSpansTenCabinetsButNotEleven) {
    for (std::size_t count : {10u, 11u}) {
        SCOPED_TRACE(count);
        const Folder folder = folderOf(0, {{"big", sampleData(count * 32768, 23)}, {"after", "end"}});
        std::vector<cab_testing::Split> splits;
        std::vector<std::string> names;
        for (std::size_t i = 0; i < count; ++i) {
            if (i) splits.push_back({i, 1});
            names.push_back("p" + std::to_string(count) + "-" + std::to_string(i) + ".cab");
        }
        const std::vector<std::string> cabs = cab_testing::buildSet(folder, splits, names);
        for (std::size_t i = 0; i < count; ++i) place(names[i], cabs[i]);
        testing_support::runShell("rm -rf '" + host("\\out") + "'");
        const int result = extract(names[0]);
        if (count == 10) {
            EXPECT_EQ(result, 1) << message();
            expectMembers(folder);
        } else {
            EXPECT_EQ(result, 0);
            EXPECT_FALSE(testing_support::fileExists(host("\\out\\big")));
        }
    }
}

TEST_F(CabSets, ANextCabinetNameLeadingBackEndsTheChain) {
    const Folder folder = spanningFolder(0, 70000);
    const std::vector<std::string> cabs =
        cab_testing::buildSet(folder, {{1, 20000}, {2, 10000}}, {"c1.cab", "c2.cab", "C1.cab"});
    place("c1.cab", cabs[0]);
    place("c2.cab", cabs[1]);
    EXPECT_EQ(extract("c1.cab"), 0);  // the member going on into "C1.cab" cannot be had
    EXPECT_EQ(outputs(), std::vector<std::string>{"head"});
}

TEST_F(CabNames, MemberNamesAreConfinedBelowTheDestination) {
    const Folder folder = folderOf(0, {{"..\\..\\evil.txt", "1"}, {"\\abs\\x.txt", "2"}, {"C:\\drive.txt", "3"},
                                       {"a/b\\c.txt", "4"}, {"dir\\", ""}});
    place("names.cab", cab_testing::buildCabinet({folder}));
    ASSERT_EQ(extract("names.cab"), 1) << message();
    EXPECT_EQ(outputs(), (std::vector<std::string>{"a/b/c.txt", "abs/x.txt", "drive.txt", "evil.txt"}));
    EXPECT_EQ(output("evil.txt") + output("abs/x.txt") + output("drive.txt") + output("a/b/c.txt"), "1234");
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\dir")));
    EXPECT_EQ(listFiles(root()).size(), 5u);  // names.cab and the four members
}

TEST_F(CabNames, AMemberWhoseTargetCannotBeCreatedFailsAlone) {
    const Folder folder = folderOf(0, {{"f", "file"}, {"f\\g", "under a file"}, {"h", "after"}});
    place("blocked.cab", cab_testing::buildCabinet({folder}));
    EXPECT_EQ(extract("blocked.cab"), 0);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"f", "h"}));
    EXPECT_EQ(output("f") + output("h"), "fileafter");
}

}  // namespace
