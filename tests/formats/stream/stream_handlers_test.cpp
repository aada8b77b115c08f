// What the gzip, bzip2 and compress handlers share: every peer-made fixture
// decodes to its original under its derived name, and outputs that cannot
// be written fail the request. Fixtures: tests/fixtures/make-stream-fixtures.sh.
#include <sys/stat.h>

#include <memory>
#include <string>

#include "formats/stream/bzip2_handler.h"
#include "formats/stream/compress_handler.h"
#include "formats/stream/gzip_handler.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::sameBytes;

std::unique_ptr<FormatHandler> handlerFor(char kind) {
    if (kind == 'g') return std::unique_ptr<FormatHandler>(new GzipHandler);
    if (kind == 'b') return std::unique_ptr<FormatHandler>(new Bzip2Handler);
    return std::unique_ptr<FormatHandler>(new CompressHandler);
}

using StreamHandlers = stream_testing::StreamSandbox;

TEST_F(StreamHandlers, EveryFixtureDecodesToItsOriginalUnderItsDerivedName) {
    const std::string text = fixture("sample.txt");
    const std::string binary = fixture("sample.bin");
    const std::string mixed = text + binary;
    struct Case { char kind; const char* fixtureName; const char* placedAs; const char* outputName; std::string original; };
    const Case cases[] = {
        {'g', "no-name.gz", "x.GZ", "x", text},
        {'g', "binary-9.gz", "data", "data.ungzip", binary},
        {'g', "no-name.gz", "x.tgz", "x.tgz.ungzip", text},
        {'g', "no-name.gz", ".gz", ".gz.ungzip", text},
        {'g', "pigz.gz", "p.gz", "sample.bin", binary},  // pigz stores the name
        {'g', "empty.gz", "e.gz", "e", ""},
        {'b', "text-1.bz2", "t.bz2", "t", text},
        {'b', "binary-9.bz2", "x.tbz", "x.tbz.unbzip2", binary},
        {'b', "concatenated.bz2", "c.BZ2", "c", mixed},
        {'b', "empty.bz2", "e", "e.unbzip2", ""},
        {'c', "width-9.Z", "w9.Z", "w9", fixture("short.txt")},
        {'c', "width-10.Z", "w10.z", "w10", mixed},
        {'c', "width-11.Z", "w11.tar.Z", "w11.tar", mixed},
        {'c', "width-12.Z", "w12.bin", "w12.bin.uncompress", mixed},
        {'c', "width-13.Z", "w13", "w13.uncompress", mixed},
        {'c', "width-14.Z", "w14.Z", "w14", mixed},
        {'c', "width-15.Z", "w15.Z", "w15", mixed},
        {'c', "width-16.Z", "w16.Z", "w16", mixed},
        {'c', "clear.Z", "clear.Z", "clear", fixture("clear-source.txt")},  // holds a clear code
        {'c', "empty.Z", "header.Z", "header", ""},  // the 3-byte header alone
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.placedAs);
        const std::string content = fixture(c.fixtureName);
        std::unique_ptr<FormatHandler> handler = handlerFor(c.kind);
        EXPECT_TRUE(probe(*handler, content));
        ASSERT_NE(handler->extract(place(c.placedAs, content).c_str(), "\\out"), 0);
        ASSERT_TRUE(testing_support::fileExists(host("\\out\\") + c.outputName));
        EXPECT_TRUE(sameBytes(output(c.outputName), c.original));
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
