// What every archive handler must do, whatever its format: keep hostile
// names inside the destination, fail cleanly on damaged input while keeping
// what it wrote before the damage, and fail a request whose outputs cannot
// all be created while the other members still come out. The archives are
// built here with one tiny stored-data writer per format.
#include <sys/stat.h>
#include <zlib.h>

#include <map>

#include "tests/formats/arj/arj_test_support.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/formats/lzh/lzh_test_support.h"
#include "tests/formats/tar/tar_writer.h"
#include "tests/test_support.h"

using testing_support::handlerNamed;
using testing_support::sameBytes;

namespace {

struct Entry {
    std::string name;
    std::string data;
};
using Entries = std::vector<Entry>;

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

std::string tarArchive(const Entries& entries) {
    std::string out;
    for (const Entry& e : entries) out += tar_testing::entry(e.name, e.data);
    return out + tar_testing::kEnd;
}

std::string zipArchive(const Entries& entries) {
    std::string local, central;
    for (const Entry& e : entries) {
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(e.data.data()), static_cast<uInt>(e.data.size())));
        const auto size = static_cast<std::uint32_t>(e.data.size());
        // Version needed, flags and method (stored), DOS time and date, CRC,
        // sizes, name and extra length: shared by both headers.
        std::string common;
        for (auto [value, bytes] : {std::pair<std::uint32_t, int>{10, 2}, {0, 4}, {0x52642800, 4}, {crc, 4}, {size, 4},
                                    {size, 4}, {static_cast<std::uint32_t>(e.name.size()), 2}, {0, 2}})
            putLe(common, value, bytes);
        central += std::string("PK\1\2\x14\0", 6) + common + std::string(10, '\0');
        putLe(central, static_cast<std::uint32_t>(local.size()), 4);
        central += e.name;
        local += std::string("PK\3\4", 4) + common + e.name + e.data;
    }
    std::string end("PK\5\6\0\0\0\0", 8);
    const auto count = static_cast<std::uint32_t>(entries.size());
    for (auto [value, bytes] : {std::pair<std::uint32_t, int>{count, 2}, {count, 2},
                                {static_cast<std::uint32_t>(central.size()), 4}, {static_cast<std::uint32_t>(local.size()), 4}, {0, 2}})
        putLe(end, value, bytes);
    return local + central + end;
}

std::string lzhArchive(const Entries& entries) {
    std::string out;
    for (const Entry& e : entries) out += lzh_testing::member(lzh_testing::stored(out.empty() ? 0 : 1, e.name, e.data));
    return out + std::string(1, '\0');
}

std::string arjArchive(const Entries& entries) {
    std::string members;
    for (const Entry& e : entries) members += arj_testing::member(arj_testing::stored(e.name, e.data));
    return arj_testing::archive(members);
}

std::string cabArchive(const Entries& entries) {
    cab_testing::Folder folder;
    for (const Entry& e : entries) folder.members.push_back({e.name, e.data});
    return cab_testing::buildCabinet({folder});
}

struct Format {
    const char* handler;
    const char* extension;
    std::string (*build)(const Entries&);
    // What a cut leaves to read: the members before it (their headers and
    // data alternate), the members of whole data blocks before it (CAB), or
    // nothing (ZIP reads its directory at the end).
    enum { MembersBefore, BlocksBefore, Nothing } cut;
};
const Format kFormats[] = {
    {"Tar", "tar", tarArchive, Format::MembersBefore}, {"ZIP", "zip", zipArchive, Format::Nothing},
    {"Lzh", "lzh", lzhArchive, Format::MembersBefore}, {"Arj", "arj", arjArchive, Format::MembersBefore},
    {"CAB", "cab", cabArchive, Format::BlocksBefore},
};

std::string formatName(const ::testing::TestParamInfo<Format>& info) { return info.param.extension; }

class EveryHandler : public testing_support::DeviceSandbox, public ::testing::WithParamInterface<Format> {
protected:
    int extractBuilt(const Entries& entries) {
        const Format& format = GetParam();
        return extract(handlerNamed(format.handler),
                       place(std::string("built.") + format.extension, format.build(entries)));
    }
    // Nothing may appear beside \in\<archive>, \out and the registry's home.
    void expectNothingOutsideOut() {
        for (const std::string& file : testing_support::listFiles(root())) {
            const bool inside = file.rfind("out/", 0) == 0 || file.rfind("config/", 0) == 0 ||
                                file == std::string("in/built.") + GetParam().extension;
            EXPECT_TRUE(inside) << file;
        }
    }
};

}  // namespace

TEST_P(EveryHandler, HostileNamesStayInsideTheDestination) {
    const Entries hostile = {{"../up1", "up one"},         {"/abs/x2", "absolute"},
                             {"C:\\drive3", "drive prefix"}, {"a/../../up4", "dot-dot after a folder"},
                             {"a\\..\\..\\up5", "backslash dot-dot"}};
    extractBuilt(hostile);
    expectNothingOutsideOut();
    // Whatever each name became, what came out are the members' own bytes.
    std::map<std::string, std::string> byData;
    for (const Entry& e : hostile) byData[e.data] = e.name;
    const std::vector<std::string> files = outputs();
    EXPECT_FALSE(files.empty());
    for (const std::string& file : files) EXPECT_EQ(byData.count(output(file)), 1u) << file;
}

TEST_P(EveryHandler, UnwritableOutputsFailTheRequestButTheOthersComeOut) {
    testing_support::makeDirectories(host("\\out\\folder"));
    testing_support::writeFile(host("\\out\\locked"), "old");
    chmod(host("\\out\\locked").c_str(), 0444);
    const Entries entries = {{"locked", "new bytes"}, {"first", "first member"},
                             {"folder", "a folder is in the way"}, {"second", "second member"}};
    EXPECT_EQ(extractBuilt(entries), 0);
    EXPECT_EQ(output("locked"), "old");
    EXPECT_TRUE(testing_support::isDirectory(host("\\out\\folder")));
    EXPECT_EQ(output("first"), "first member");
    EXPECT_EQ(output("second"), "second member");
}

TEST_P(EveryHandler, CutArchivesFailAndKeepTheMembersBeforeTheCut) {
    // The second member is long enough that a cabinet holds it in three
    // blocks, the first of which also holds all of the first member.
    const Entries entries = {{"one", testing_support::sampleData(3000, 1)},
                             {"two", testing_support::sampleData(70000, 2)}};
    const std::string whole = GetParam().build(entries);
    const std::size_t secondData = whole.find(entries[1].data.substr(0, 64));
    ASSERT_NE(secondData, std::string::npos);
    std::vector<std::size_t> cuts = {secondData + 35000, secondData + entries[1].data.size() - 1};
    if (GetParam().cut == Format::MembersBefore) cuts.push_back(secondData - 1);  // in the second's header
    for (std::size_t cut : cuts) {
        SCOPED_TRACE(cut);
        const std::string dest = "\\out" + std::to_string(cut);
        const std::string path = place(std::string("cut.") + GetParam().extension, whole.substr(0, cut));
        EXPECT_EQ(extract(handlerNamed(GetParam().handler), path, dest), 0);
        if (GetParam().cut == Format::Nothing) {
            EXPECT_EQ(outputs(dest), std::vector<std::string>{});
        } else {
            EXPECT_TRUE(sameBytes(output("one", dest), entries[0].data));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryHandler, ::testing::ValuesIn(kFormats), formatName);

namespace {

// Committed fixtures (see tests/fixtures/make-*-fixtures.sh) cut at several
// points before their trailing zero bytes: each cut must fail (but a .Z or
// Base64 stream has no end marker, and a yEnc file cut before its first
// header holds nothing to decode), and whatever files a cut leaves are
// members' exact bytes, but for the one member the cut went through.
struct CutFixture {
    const char* handler;
    const char* fixture;
    bool cutsFail = true;
};
const CutFixture kCutFixtures[] = {
    {"Tar", "tar/gnu.tar"},         {"ZIP", "zip/infozip-deflate.zip"}, {"ZIP", "zip/infozip-stored.zip"},
    {"Lzh", "lzh/lh5-l1.lzh"},      {"Lzh", "lzh/lh0-l2.lzh"},          {"Arj", "arj/m0.arj"},
    {"Arj", "arj/m4.arj"},          {"CAB", "cab/stored.cab"},          {"CAB", "cab/mszip.cab"},
    {"Gzip", "stream/binary-9.gz"}, {"Bzip2", "stream/binary-9.bz2"},   {"Compress", "stream/width-16.Z", false},
    {"yDecode", "text/uuenview-multi.ntx", false}, {"Base64 Decode", "text/mpack.mime", false}, {"UUDecode", "text/uuencode.uue"},
};

class CutFixtures : public testing_support::DeviceSandbox, public ::testing::WithParamInterface<CutFixture> {};

std::string fixtureName(const ::testing::TestParamInfo<CutFixture>& info) {
    std::string name = info.param.fixture;
    for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

}  // namespace

TEST_P(CutFixtures, FailWithoutCrashingAndKeepWhatWasWritten) {
    FormatHandler& handler = handlerNamed(GetParam().handler);
    const std::string whole = testing_support::fixture(GetParam().fixture);
    const std::string name = std::string(GetParam().fixture).substr(std::string(GetParam().fixture).find('/') + 1);
    ASSERT_NE(extract(handler, place(name, whole), "\\whole"), 0);
    std::map<std::string, std::string> reference;
    for (const std::string& file : outputs("\\whole")) reference[file] = output(file, "\\whole");
    ASSERT_FALSE(reference.empty());

    std::size_t completeBefore = 0;
    const std::size_t end = whole.find_last_not_of('\0') + 1;
    for (std::size_t cut : {std::size_t{10}, end / 3, end / 2, end * 5 / 6}) {
        SCOPED_TRACE(cut);
        const std::string dest = "\\cut" + std::to_string(cut);
        const int result = extract(handler, place(name, whole.substr(0, cut)), dest);
        if (GetParam().cutsFail) {
            EXPECT_EQ(result, 0);
        }
        std::size_t complete = 0, partial = 0;
        for (const std::string& file : outputs(dest)) {
            ASSERT_EQ(reference.count(file), 1u) << file;
            const std::string bytes = output(file, dest);
            ++(bytes == reference[file] ? complete : partial);
        }
        EXPECT_LE(partial, 1u);
        EXPECT_GE(complete, completeBefore);  // a longer input keeps at least as much
        completeBefore = complete;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, CutFixtures, ::testing::ValuesIn(kCutFixtures), fixtureName);
