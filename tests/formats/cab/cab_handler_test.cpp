// Cabinets are written here by cab_builder: several folders, reserves,
// damaged blocks, and sets split across cabinets (LZX sets reuse the blocks
// of tests/fixtures/lzx/w19-long.cab). Peer-made cabinets are checked
// through tests/fixtures/{cab,lzx}/manifest.tsv.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "formats/cab/cab_handler.h"
#include "formats/cab/cab_messages.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/test_support.h"

namespace {

using cab_testing::Folder;
using cab_testing::Options;
using cab_testing::Split;
using testing_support::readFile;
using testing_support::sampleData;

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
    int extract(const std::string& name) {
        testing_support::runShell("rm -rf '" + host("\\out") + "'");
        cabMessageBuffer[0] = '\0';
        return handler.extract(("\\in\\" + name).c_str(), "\\out");
    }
    std::string output(const std::string& name) const { return readFile(host("\\out\\" + name)); }
    std::vector<std::string> outputs() const { return testing_support::listFiles(host("\\out")); }
    std::string message() const { return cabMessageBuffer; }
    // Exactly the folders' members came out, byte for byte.
    void expectMembers(const std::vector<Folder>& folders) {
        std::vector<std::string> names;
        for (const Folder& f : folders) {
            for (const auto& m : f.members) {
                names.push_back(m.name);
                EXPECT_TRUE(testing_support::sameBytes(output(m.name), m.data)) << m.name;
            }
        }
        std::sort(names.begin(), names.end());
        EXPECT_EQ(outputs(), names);
    }
    CabHandler handler;
};
using CabFolders = CabTest;
using CabIntegrity = CabTest;
using CabSets = CabTest;

Folder folderOf(std::uint16_t type, std::vector<cab_testing::Member> members) { return {type, std::move(members), {}}; }

// Where a single cabinet's first CFDATA block starts.
std::size_t firstBlockOffset(const std::string& cab) {
    auto byte = [&](std::size_t i) { return static_cast<std::size_t>(static_cast<unsigned char>(cab[i])); };
    const std::size_t entry = (byte(30) & 4) ? 36 + 4 + (byte(36) | byte(37) << 8) : 36;
    return byte(entry) | byte(entry + 1) << 8 | byte(entry + 2) << 16;
}

// Quantum and unknown methods fail only their own members.
TEST_F(CabFolders, SeveralFoldersMembersOutOfOrderEmptyMembersAndRefusedMethods) {
    const std::vector<Folder> folders = {
        folderOf(0, {{"s1", sampleData(40000, 1)}, {"s-empty", ""}, {"s2", sampleData(3000, 2)}}),
        folderOf(1, {{"m1", sampleData(70000, 3)}, {"m2", sampleData(100, 4)}, {"m3", sampleData(50000, 5)}}),
        folderOf(1, {{"z-empty", ""}, {"z1", sampleData(9, 6)}}),
    };
    Options options;
    options.entryOrder = {5, 3, 0, 9, 4, 2, 7, 8, 6, 1};  // m3 m1 s1 unknown m2 s2 z1 quantum z-empty s-empty
    std::vector<Folder> all = folders;
    all.push_back(folderOf(0x0F02, {{"quantum", "q"}}));
    all.push_back(folderOf(5, {{"unknown", "u"}}));
    place("multi.cab", cab_testing::buildCabinet(all, options));
    EXPECT_EQ(extract("multi.cab"), 0);
    expectMembers(folders);
    EXPECT_EQ(message(), "\\in\\multi.cab: unsupported data format\n");
}

TEST_F(CabIntegrity, ChecksumsAndReservesAreCheckedOrSkippedAsTheyShouldBe) {
    const std::vector<Folder> folders = {folderOf(1, {{"a", sampleData(80000, 8)}}),
                                         folderOf(0, {{"b", sampleData(33, 9)}})};
    Options options;
    options.checksums = false;  // a checksum of 0 is not checked
    place("zero.cab", cab_testing::buildCabinet(folders, options));
    ASSERT_EQ(extract("zero.cab"), 1) << message();
    expectMembers(folders);

    options = Options();
    options.reserve = true;
    options.headerReserve = 60000;  // exactly 60,000 and version 1.3 warn of nothing
    options.folderReserve = 3;
    options.blockReserve = 7;  // odd: the tail rule applies after the reserve
    place("reserve.cab", cab_testing::buildCabinet(folders, options));
    ASSERT_EQ(extract("reserve.cab"), 1) << message();
    EXPECT_EQ(message(), "");
    expectMembers(folders);

    options.headerReserve = 60001;
    options.minorVersion = 4;
    std::string cab = cab_testing::buildCabinet(folders, options);
    place("warned.cab", cab);
    ASSERT_EQ(extract("warned.cab"), 1);
    EXPECT_EQ(message(), "\\in\\warned.cab: WARNING; header reserved space > 60000\n");

    // A changed checksum, or a changed reserve byte under it, fails the
    // member whose frame it is; the other folder still extracts.
    for (std::size_t at : {0u, 8u}) {
        std::string changed = cab;
        changed[firstBlockOffset(cab) + at] ^= 0x40;
        place("changed.cab", changed);
        EXPECT_EQ(extract("changed.cab"), 0);
        EXPECT_EQ(message(), "\\in\\changed.cab: checksum error\n");
        EXPECT_EQ(output("a"), "");
        EXPECT_TRUE(testing_support::sameBytes(output("b"), folders[1].members[0].data));
    }
}

TEST_F(CabIntegrity, DamagedFramesTruncationAndForeignFilesFail) {
    // A frame declaring more or fewer bytes than it holds, or without "CK".
    struct Damage { std::uint16_t type; std::size_t at; char value; };
    for (const Damage& d : {Damage{0, 6, 101}, Damage{1, 6, 101}, Damage{1, 6, 99}, Damage{1, 9, 'X'}}) {
        Options unchecked;
        unchecked.checksums = false;
        std::string cab = cab_testing::buildCabinet({folderOf(d.type, {{"short", std::string(100, 'x')}})}, unchecked);
        cab[firstBlockOffset(cab) + d.at] = d.value;
        place("short.cab", cab);
        EXPECT_EQ(extract("short.cab"), 0) << d.type << " " << d.at;
        EXPECT_EQ(message(), "\\in\\short.cab: illegal or corrupt data\n");
    }
    const std::string good = cab_testing::buildCabinet({folderOf(1, {{"cut", sampleData(60000, 12)}})});
    std::string empty = good.substr(0, 36);
    empty[26] = empty[27] = empty[28] = empty[29] = 0;
    const std::pair<std::string, std::string> cases[] = {
        {good.substr(0, good.size() - 10), "input error"},
        {sampleData(5000, 13), "not a Microsoft cabinet file"},
        {empty, "no folders in cabinet"},
        {good.substr(0, 30), "WARNING; cabinet is truncated"},
    };
    for (const auto& [bytes, text] : cases) {
        place("bad.cab", bytes);
        EXPECT_EQ(extract("bad.cab"), 0);
        EXPECT_EQ(message(), "\\in\\bad.cab: " + text + "\n");
    }

}

std::string lzxOriginal(const std::string& name) { return readFile(testing_support::fixturePath("lzx/" + name)); }

// A folder of twelve frames split into `cabinets` parts, at block ends or
// inside blocks: members that cross every cut and members wholly after the
// last one. The second cabinet is named in upper case by the first, and the
// last one stands behind other data (found by the header search).
TEST_F(CabSets, FoldersFollowTheirBlocksIntoTheNextCabinets) {
    const Folder mszip = folderOf(1, {{"head", sampleData(20000, 20)}, {"middle", sampleData(300000, 21)},
                                      {"tail", sampleData(15000, 22)}, {"after", sampleData(5000, 23)}});
    const Folder lzx = cab_testing::readFolder(lzxOriginal("w19-long.cab"), lzxOriginal);
    for (const Folder* folder : {&mszip, &lzx}) {
        for (std::size_t cabinets : {2u, 3u, 10u}) {
            for (bool atBlockEnd : {true, false}) {
                SCOPED_TRACE(std::to_string(folder->compressionType & 0xF) + ": " + std::to_string(cabinets) +
                             (atBlockEnd ? " cabinets, cut at block ends" : " cabinets, cut inside blocks"));
                std::vector<Split> splits;
                std::vector<std::string> names = {"set-1.cab"};
                for (std::size_t i = 1; i < cabinets; ++i) {
                    splits.push_back({i, atBlockEnd ? 0 : 1 + 13 * i});
                    names.push_back("set-" + std::to_string(i + 1) + ".cab");
                }
                names[1] = "SET-2.CAB";
                std::vector<std::string> cabs = cab_testing::buildSet(*folder, splits, names);
                cabs.back() = std::string(1000, 'j') + cabs.back() + std::string(21, 'j');
                for (std::size_t i = 0; i < cabinets; ++i) place("set-" + std::to_string(i + 1) + ".cab", cabs[i]);
                ASSERT_EQ(extract("set-1.cab"), 1) << message();
                expectMembers({*folder});
            }
        }
    }
}

TEST_F(CabSets, HostileChainsFailWithoutHarmToTheOtherMembers) {
    const Folder folder = folderOf(1, {{"head", sampleData(20000, 30)}, {"middle", sampleData(100000, 31)},
                                       {"tail", sampleData(15000, 32)}});
    const std::vector<std::string> names = {"h1.cab", "h2.cab", "h3.cab"};
    // Block counts that claim one block more or fewer than each cabinet
    // holds (a claim of 0 is no claim). Where blocks are cut, the zero-size
    // piece still moves on, so one block too many does no harm there.
    struct Lie { int bias; std::size_t cut; int result; };
    for (const Lie& lie : {Lie{1, 0, 0}, Lie{-1, 0, 0}, Lie{1, 50, 1}, Lie{-1, 50, 0}}) {
        Options options;
        options.blockCountBias = lie.bias;
        const auto cabs = cab_testing::buildSet(folder, {{1, lie.cut}, {2, lie.cut}}, names, options);
        for (std::size_t i = 0; i < 3; ++i) place(names[i], cabs[i]);
        EXPECT_EQ(extract("h1.cab"), lie.result) << lie.bias << " " << lie.cut;
        EXPECT_TRUE(testing_support::sameBytes(output("head"), folder.members[0].data));
        if (lie.result == 1) expectMembers({folder});
    }
    // A missing next cabinet; a next name that leads back to the first.
    auto cabs = cab_testing::buildSet(folder, {{1, 500}}, {"m1.cab", "m2.cab"});
    place("m1.cab", cabs[0]);
    EXPECT_EQ(extract("m1.cab"), 0);
    EXPECT_EQ(message(), "\\in\\m1.cab: can't read next cabinet \\in\\m2.cab\n");
    EXPECT_EQ(outputs(), std::vector<std::string>{"head"});
    cabs = cab_testing::buildSet(folder, {{1, 5000}, {2, 3000}}, {"c1.cab", "c2.cab", "C1.cab"});
    place("c1.cab", cabs[0]);
    place("c2.cab", cabs[1]);
    EXPECT_EQ(extract("c1.cab"), 0);
    EXPECT_EQ(outputs(), std::vector<std::string>{"head"});

    // A folder spans ten cabinets, never eleven.
    for (std::size_t count : {10u, 11u}) {
        const Folder big = folderOf(0, {{"big", sampleData(count * 32768, 23)}, {"after", "end"}});
        std::vector<Split> splits;
        std::vector<std::string> parts;
        for (std::size_t i = 0; i < count; ++i) {
            if (i) splits.push_back({i, i % 2});
            parts.push_back("p" + std::to_string(count) + "-" + std::to_string(i) + ".cab");
        }
        cabs = cab_testing::buildSet(big, splits, parts);
        for (std::size_t i = 0; i < count; ++i) place(parts[i], cabs[i]);
        EXPECT_EQ(extract(parts[0]), count == 10 ? 1 : 0) << message();
        if (count == 10) expectMembers({big});
        EXPECT_EQ(testing_support::fileExists(host("\\out\\big")), count == 10);
    }
}

}  // namespace
