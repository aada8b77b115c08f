// What the gzip, bzip2 and compress handlers share: output names derived
// from the archive's, and outputs that cannot be written fail the request.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "formats/stream/bzip2_handler.h"
#include "formats/stream/compress_handler.h"
#include "formats/stream/gzip_handler.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using testing_support::sameBytes;

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
        const std::string path = place(std::string("x.") + (kinds[i] == 'g' ? "gz" : kinds[i] == 'b' ? "bz2" : "Z"),
                                       fixture(fixtures[i]));
        EXPECT_EQ(handler->extract(path.c_str(), "\\no-such-folder"), 0);
        EXPECT_EQ(handler->extract(path.c_str(), "\\out"), 0);  // read-only \out\x
        // Longer than the device's 260-byte paths: refused, not cut short.
        EXPECT_EQ(handler->extract(path.c_str(), longFolder.c_str()), 0);
    }
    EXPECT_EQ(output("x"), "keep me");
    EXPECT_EQ(outputs(), std::vector<std::string>{"x"});
    EXPECT_FALSE(testing_support::fileExists(host("\\no-such-folder")));
}

}  // namespace
