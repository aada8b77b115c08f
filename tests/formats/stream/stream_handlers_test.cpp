// What the gzip, bzip2 and compress handlers share: output names derived
// from the archive's, probes that want a decodable start, damaged streams
// that fail keeping only right bytes, and outputs that cannot be written.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "formats/stream/bzip2_handler.h"
#include "formats/stream/compress_handler.h"
#include "formats/stream/gzip_handler.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::isPrefixOf;
using testing_support::sameBytes;

const char* extensionOf(char kind) { return kind == 'g' ? ".gz" : kind == 'b' ? ".bz2" : ".Z"; }

std::unique_ptr<FormatHandler> handlerFor(char kind) {
    if (kind == 'g') return std::unique_ptr<FormatHandler>(new GzipHandler);
    if (kind == 'b') return std::unique_ptr<FormatHandler>(new Bzip2Handler);
    return std::unique_ptr<FormatHandler>(new CompressHandler);
}

using StreamHandlers = stream_testing::StreamSandbox;

// Fixture bytes under their plain derived names are checked through
// tests/fixtures/stream/manifest.tsv; here the other naming rules.
TEST_F(StreamHandlers, OutputNamesAreDerivedFromTheArchiveName) {
    const struct { char kind; const char* placedAs; const char* outputName; } cases[] = {
        {'g', "x.GZ", "x"}, {'g', "data", "data.ungzip"}, {'g', "x.tgz", "x.tgz.ungzip"}, {'g', ".gz", ".gz.ungzip"},
        {'b', "x.tbz", "x.tbz.unbzip2"}, {'b', "c.BZ2", "c"}, {'b', "e", "e.unbzip2"}, {'c', "w10.z", "w10"},
        {'c', "w11.tar.Z", "w11.tar"}, {'c', "w12.bin", "w12.bin.uncompress"}, {'c', "w13", "w13.uncompress"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.placedAs);
        const char* fixtureName = c.kind == 'g' ? "no-name.gz" : c.kind == 'b' ? "text-1.bz2" : "width-12.Z";
        ASSERT_NE(handlerFor(c.kind)->extract(place(c.placedAs, fixture(fixtureName)).c_str(), "\\out"), 0);
        EXPECT_TRUE(sameBytes(output(c.outputName), fixture("sample.txt") + (c.kind == 'c' ? fixture("sample.bin") : "")));
    }
}

TEST_F(StreamHandlers, OutputThatCannotBeCreatedFailsAndLeavesExistingFileAlone) {
    const char* fixtures[] = {"no-name.gz", "text-1.bz2", "width-12.Z"};
    const char kinds[] = {'g', 'b', 'c'};
    testing_support::writeFile(host("\\out\\x"), "keep me");
    ASSERT_EQ(chmod(host("\\out\\x").c_str(), 0444), 0);
    const std::string longFolder = "\\out\\" + std::string(254, 'd');
    testing_support::makeDirectories(host(longFolder));
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(fixtures[i]);
        std::unique_ptr<FormatHandler> handler = handlerFor(kinds[i]);
        const std::string path = place(std::string("x") + extensionOf(kinds[i]), fixture(fixtures[i]));
        EXPECT_EQ(handler->extract(path.c_str(), "\\no-such-folder"), 0);
        EXPECT_EQ(handler->extract(path.c_str(), "\\out"), 0);  // read-only \out\x
        // Longer than the device's 260-byte paths: refused, not cut short.
        EXPECT_EQ(handler->extract(path.c_str(), longFolder.c_str()), 0);
    }
    EXPECT_EQ(output("x"), "keep me");
    EXPECT_EQ(outputs(), std::vector<std::string>{"x"});
    EXPECT_FALSE(testing_support::fileExists(host("\\no-such-folder")));
}

TEST_F(StreamHandlers, ProbesWantAStartThatDecodes) {
    const std::string gz = fixture("no-name.gz"), bz = fixture("binary-9.bz2");
    std::string bzMagic = bz, bzOrigin = bz;
    bzMagic[4] ^= '\xFF';  // block header magic
    for (int i = 14; i < 18; ++i) bzOrigin[i] = '\xFF';  // start pointer beyond any block
    const struct { char kind; std::string bytes; bool accepted; } cases[] = {
        {'g', gz.substr(0, 10), true}, {'g', gz.substr(0, 9), false},
        {'g', std::string("\x1F\x9E", 2) + std::string(8, '\0'), true},
        {'g', std::string("\x1F\x9D", 2) + std::string(8, '\0'), false},
        {'b', bz, true}, {'b', bzMagic, false}, {'b', bzOrigin, false}, {'b', bz.substr(0, bz.size() / 2), false},
        {'b', "BZh", false}, {'c', std::string("\x1F\x9D\x10", 3), true}, {'c', std::string("\x1F\x9D", 2), false},
        {'c', std::string("\x1F\x9D\x91\x61\x00", 5), false}, {'c', std::string("\x1F\x9D\x88\x61\x00", 5), false},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(probe(*handlerFor(cases[i].kind), cases[i].bytes), cases[i].accepted) << i;
    }
}

// A damaged stream fails; what it wrote, if anything, is a prefix of the
// original. Headers that start no stream write nothing.
TEST_F(StreamHandlers, DamagedStreamsFailKeepingOnlyRightBytes) {
    const std::string gz = fixture("no-name.gz"), bz = fixture("text-1.bz2"), sample = fixture("sample.txt");
    std::string crc = gz, length = gz, data = gz, oldMagic = gz, method = gz;
    crc[gz.size() - 8] ^= 1;
    length[gz.size() - 4] ^= 1;
    data[40] ^= '\xFF';
    oldMagic[1] = '\x9E';  // zlib would copy such a file through as it is
    method[2] = 7;
    const struct { char kind; const char* name; std::string bytes; std::string kept; } cases[] = {
        {'g', "crc", crc, sample}, {'g', "length", length, sample}, {'g', "data", data, sample},
        {'g', "second", gz + data, sample + sample}, {'g', "old", oldMagic, ""}, {'g', "method", method, ""},
        {'g', "short", gz.substr(0, 9), ""}, {'b', "plain", "BZx not a stream", ""},
        {'b', "level", "BZh0" + bz.substr(4), ""}, {'c', "w17", std::string("\x1F\x9D\x91\x61\x00", 5), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(handlerFor(c.kind)->extract(place(c.name + std::string(extensionOf(c.kind)), c.bytes).c_str(), "\\out"), 0);
        EXPECT_EQ(testing_support::fileExists(host(std::string("\\out\\") + c.name)), !c.kept.empty());
        EXPECT_TRUE(isPrefixOf(output(c.name), c.kept));
    }
}

}  // namespace
