// The four TAR handlers. Peer-made archives: tests/fixtures/make-tar-fixtures.sh
// (GNU tar and bsdtar layouts, wrapped by gzip, bzip2 and compress). Hostile
// archives are built here block by block, where each field is plain to see.
#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "formats/tar/tar_stream_handler.h"
#include "tests/formats/stream/stream_sandbox.h"
#include "tests/formats/tar/tar_writer.h"

namespace {

using stream_testing::sameBytes;
using testing_support::listFiles;
using testing_support::readFile;
using namespace tar_testing;

// The fixture script's pattern(n, k).
std::string pattern(std::size_t n, unsigned k) {
    std::string out(n, '\0');
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>((i * k + (i / 13) * 31) % 256);
    return out;
}

// An old GNU sparse member "s": map (offset, length, ...) entries, four in
// the header and 21 in each extension block, the real size, then the data.
std::string oldGnuSparse(const std::vector<std::uint64_t>& map, std::uint64_t realSize, const std::string& data) {
    std::string entries;
    char field[13];
    for (std::uint64_t v : map) {
        std::snprintf(field, sizeof field, "%011llo", static_cast<unsigned long long>(v));
        entries.append(field, 12);
    }
    std::string h = header("s", data.size(), 'S');
    h.replace(257, 8, std::string("ustar  \0", 8));
    h.replace(386, std::min<std::size_t>(entries.size(), 96), entries.substr(0, 96));
    std::snprintf(&h[483], 12, "%011llo", static_cast<unsigned long long>(realSize));
    h[482] = entries.size() > 96;
    std::string extension;
    for (std::size_t at = 96; at < entries.size(); at += 504) {
        std::string block = entries.substr(at, 504);
        block.resize(512, '\0');
        block[504] = at + 504 < entries.size();
        extension += block;
    }
    return checksummed(h) + extension + padded(data);
}
// A pax sparse member "s" (real size 2000) with its map records.
std::string paxSparse(const std::string& records, const std::string& data) {
    return entry("PaxHeader/s", pax("GNU.sparse.size", "2000") + records, 'x') + entry("s", data);
}

struct Member {
    std::string path;
    std::string bytes;
    long long mtime;
    bool readOnly;
};

std::vector<Member> commonTree() {
    const std::string longPath = std::string(80, 'p') + "/" + std::string(80, 'q') + ".txt";
    return {{"block512.bin", pattern(512, 3), 1200000000, false},
            {"dir/sub/data.bin", pattern(5000, 7), 1300000000, false},
            {"empty", "", 1100000000, false},
            {"future.txt", "future\n", 4102444800LL, false},
            {"hello.txt", "hello, tar\n", 1000000000, false},
            {longPath, "long\n", 1500000000, false},
            {"readonly.txt", "read only\n", 1400000000, true}};
}

class TarTest : public stream_testing::StreamSandbox {
protected:
    static std::unique_ptr<FormatHandler> handlerFor(char kind) {
        if (kind == 'g') return std::unique_ptr<FormatHandler>(new TarGzipHandler);
        if (kind == 'b') return std::unique_ptr<FormatHandler>(new TarBzip2Handler);
        if (kind == 'c') return std::unique_ptr<FormatHandler>(new TarCompressHandler);
        return std::unique_ptr<FormatHandler>(new TarStreamHandler);
    }
    static std::string tarFixture(const std::string& name) { return fixture("../tar/" + name); }
    // Extracts content, placed as \in\<name>, into a fresh \out\<folder>.
    int extract(char kind, const std::string& name, const std::string& content, const std::string& folder = "x") {
        testing_support::makeDirectories(host("\\out\\" + folder));
        return handlerFor(kind)->extract(place(name, content).c_str(), ("\\out\\" + folder).c_str());
    }
    // Wraps data with a peer compressor (gzip -n, bzip2, compress).
    std::string wrap(char kind, const std::string& data) {
        return kind == 'g' ? packWithTool("gzip", "-n", data)
               : kind == 'b' ? packWithTool("bzip2", "", data)
                             : packWithTool("compress", "-f", data);
    }
    void expectTree(const std::string& folder, const std::vector<Member>& members) {
        const std::string base = host("\\out\\" + folder) + "/";
        std::vector<std::string> expectedNames;
        for (const Member& m : members) expectedNames.push_back(m.path);
        ASSERT_EQ(listFiles(base), expectedNames);
        for (const Member& m : members) {
            SCOPED_TRACE(m.path);
            EXPECT_TRUE(sameBytes(readFile(base + m.path), m.bytes));
            struct stat st {};
            ASSERT_EQ(stat((base + m.path).c_str(), &st), 0);
            EXPECT_EQ(st.st_mtime, m.mtime);
            EXPECT_EQ((st.st_mode & 0200) == 0, m.readOnly);
        }
    }
};
using TarArchives = TarTest;
using TarNames = TarTest;
using TarDetection = TarTest;
using TarDamage = TarTest;
using TarThreads = TarTest;

TEST_F(TarArchives, PeerLayoutsAndWrappersExtractEveryByteTimeAndReadOnlyFlag) {
    const struct { const char* file; char kind; } cases[] = {
        {"gnu.tar", 't'},          {"ustar.tar", 't'},       {"gnu-pax.tar", 't'},    {"bsdtar.tar", 't'},
        {"bsdtar-pax.tar", 't'},   {"bsdtar-ustar.tar", 't'}, {"gnu.tar.gz", 'g'},    {"bsdtar.tgz", 'g'},
        {"gnu.tar.bz2", 'b'},      {"bsdtar.tbz", 'b'},       {"gnu.tar.Z", 'c'},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string folder = std::to_string(n++);
        const std::string content = tarFixture(c.file);
        EXPECT_TRUE(handlerFor(c.kind)->probe(place(c.file, content).c_str(), 1));
        ASSERT_EQ(extract(c.kind, c.file, content, folder), 1);
        // Links are not extracted; the empty folder is.
        expectTree(folder, commonTree());
        EXPECT_TRUE(testing_support::isDirectory(host("\\out\\" + folder + "\\emptydir")));
    }
}

// Plain hostile names are the cross-format test's; these are TAR's own:
// links and the records that only describe other entries.
TEST_F(TarNames, LinksAndNameRecordsStayBelowTheDestination) {
    // A link to the root, then a member through it: the link is not made,
    // so the member lands in a plain folder of that name.
    std::string link = header("lnk", 0, '2');
    link[157] = '/';
    std::string archive = checksummed(link) + entry("lnk/z", "6") + entry("hard", "", '1');
    archive += entry("././@LongLink", "target", 'K') + entry("glob", pax("comment", "x"), 'g');
    archive += entry("PaxHeader/p", pax("path", "pax/../../from-pax.txt") + pax("mtime", "1234567890.5"), 'x') +
               entry("short", "7");
    archive += entry("././@LongLink", std::string(200, 'L') + "/n.txt", 'L') + entry("cut", "8");
    ASSERT_EQ(extract('t', "hostile.tar", archive + kEnd, "h"), 1);
    EXPECT_EQ(listFiles(host("\\out\\h")),
              (std::vector<std::string>{std::string(200, 'L') + "/n.txt", "from-pax.txt", "lnk/z"}));
    EXPECT_EQ(readFile(host("\\out\\h\\from-pax.txt")), "7");
    struct stat st {};
    ASSERT_EQ(stat(host("\\out\\h\\from-pax.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1234567890);
    EXPECT_EQ(listFiles(root()).size(), 4u);  // the archive and the three members
}

TEST_F(TarDetection, WrongFirstChecksumIsRefusedByAllFourProbes) {
    for (char kind : {'t', 'g', 'b', 'c'}) {
        for (bool damaged : {false, true}) {
            SCOPED_TRACE(std::string(1, kind) + (damaged ? " damaged" : ""));
            std::string tar = tarFixture("gnu.tar");
            tar[0] ^= damaged ? 1 : 0;
            EXPECT_EQ(handlerFor(kind)->probe(place("p", kind == 't' ? tar : wrap(kind, tar)).c_str(), 1), !damaged);
        }
    }
    EXPECT_FALSE(handlerFor('g')->probe(place("tiny.gz", wrap('g', "short")).c_str(), 1));
}

// The decoders run ahead of the walk by a few buffers; the member is larger
// than those, so that the walk also stops while its decoder waits ahead.
TEST_F(TarThreads, StreamsThatEndOrBreakKeepExactlyWhatCameBefore) {
    const std::string second = testing_support::sampleData(1600000, 5);
    const std::string archive = entry("first.txt", "first\n") + entry("second.bin", second);
    std::string badHeader = entry("third.txt", "third\n");
    badHeader[0] = 'T';
    const struct { const char* what; std::string tar; int result; std::size_t secondKept; } cases[] = {
        {"cut", archive.substr(0, 1536 + 1000000), 0, 1000000},
        {"head", archive.substr(0, 1024 + 100), 0, std::string::npos},
        {"whole", archive, 1, second.size()},  // no end blocks: no damage
        {"badsum", archive + badHeader + std::string(2 << 20, 'x'), 0, second.size()},
    };
    for (char kind : {'t', 'g', 'b', 'c'}) {
        for (const auto& c : cases) {
            const std::string folder = c.what + std::string(1, kind);
            SCOPED_TRACE(folder);
            ASSERT_EQ(extract(kind, folder, kind == 't' ? c.tar : wrap(kind, c.tar), folder), c.result);
            EXPECT_EQ(readFile(host("\\out\\" + folder + "\\first.txt")), "first\n");
            if (c.secondKept != std::string::npos) {
                EXPECT_TRUE(sameBytes(readFile(host("\\out\\" + folder + "\\second.bin")), second.substr(0, c.secondKept)));
            }
            EXPECT_EQ(listFiles(host("\\out\\" + folder)).size(), c.secondKept == std::string::npos ? 1u : 2u);
        }
    }
}

TEST_F(TarDamage, SparseMapsThatCannotBeRightFailTheirMemberOnly) {
    const std::string d700 = pattern(700, 3);
    const std::string v1 = pax("GNU.sparse.major", "1") + pax("GNU.sparse.minor", "0");
    const struct { const char* what; std::string member; } cases[] = {
        {"overlap", oldGnuSparse({0, 600, 500, 100}, 1000, d700)},
        {"unsorted", oldGnuSparse({1000, 100, 0, 600}, 2000, d700)},
        {"past the data", oldGnuSparse({0, 2000}, 2000, d700)},
        {"past the real size", oldGnuSparse({0, 600, 5000, 100}, 1000, d700)},
        {"overlap in an extension block", oldGnuSparse({0, 100, 200, 100, 400, 100, 600, 100, 650, 300}, 1000, d700)},
        {"odd 0.1 map", paxSparse(pax("GNU.sparse.map", "0,700,900"), d700)},
        {"0.1 offset at the top", paxSparse(pax("GNU.sparse.map", "18446744073709551615,700"), d700)},
        {"0.0 length alone", paxSparse(pax("GNU.sparse.numbytes", "700"), d700)},
        {"0.0 huge count", paxSparse(pax("GNU.sparse.numblocks", "99999999999999999999") +
                                         pax("GNU.sparse.offset", "0") + pax("GNU.sparse.numbytes", "700"), d700)},
        {"1.0 huge count", paxSparse(v1, padded("1000000000000\n0\n700\n") + d700)},
        {"1.0 map past the data", paxSparse(v1, "1\n0\n70")},
        {"1.0 map with a letter", paxSparse(v1, padded("1\n0x\n700\n") + d700)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(extract('t', c.what, c.member + entry("next.txt", "next\n") + kEnd, c.what), 0);
        EXPECT_EQ(listFiles(host("\\out\\") + c.what), std::vector<std::string>{"next.txt"});
        EXPECT_EQ(readFile(host("\\out\\" + std::string(c.what) + "\\next.txt")), "next\n");
    }
}

TEST_F(TarDamage, DamagedWrappersAndSizesFailWithoutHarm) {
    // A damaged checksum far past the end blocks is met only by reading on.
    const std::string big = testing_support::sampleData(600000, 4);
    std::string late = wrap('g', entry("big", big) + std::string(2 << 20, '\0'));
    late[late.size() - 8] ^= 1;
    EXPECT_EQ(extract('g', "late.tgz", late, "late"), 0);
    EXPECT_TRUE(sameBytes(readFile(host("\\out\\late\\big")), big));
    for (const char* file : {"gnu.tar.gz", "gnu.tar.bz2"}) {
        std::string damaged = tarFixture(file);
        damaged[damaged.size() / 2] ^= 0x55;
        EXPECT_EQ(extract(file[8], file, damaged, file), 0) << file;
    }
    const std::string first = entry("first.txt", "first\n");
    // A size in the binary form far beyond the stream fails the member.
    std::string huge = header("huge", 0);
    huge[124] = '\x80';
    huge.replace(125, 11, std::string(11, '\x7F'));
    EXPECT_EQ(extract('t', "huge.tar", first + checksummed(huge) + std::string(4096, 'h'), "huge"), 0);
    EXPECT_EQ(readFile(host("\\out\\huge\\huge")), std::string(4096, 'h'));
}

}  // namespace
