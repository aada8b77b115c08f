// Fixtures: tests/fixtures/make-text-fixtures.sh (uuenview single and
// multi-part; through the program in tests/fixtures/text/manifest.tsv).
// Blocks with chosen headers, trailers and names are written here around
// the fixture's data lines.
#include <filesystem>
#include <string>

#include "formats/stream/yenc_handler.h"
#include "tests/formats/text/text_sandbox.h"

namespace {

using text_testing::sameBytes;

class YencTest : public text_testing::TextSandbox {
protected:
    // sample.bin as a block; the trailer's parameters are the given ones.
    std::string block(const std::string& name, const std::string& trailer = " size=3000 crc32=40747cec") const {
        return "=ybegin line=128 size=3000 name=" + name + "\n" + sampleLines + "=yend" + trailer + "\n";
    }
    YencHandler handler;
    const std::string sample = textFixture("sample.bin");
    const std::string sampleLines = dataLines("uuenview.ntx", "=yend");
};
using YencDecoding = YencTest;
using YencChecks = YencTest;

TEST_F(YencDecoding, EscapesBlocksAndNames) {
    // '*' is 0x00, "=J" 0xE0, "=}" 0x13; an escape at a line's end applies
    // to the next line's first byte. The last line has no line break.
    const std::string handMade = "=ybegin size=4 name=hand.bin\n*=\nJ=}+\n=yend size=4";
    ASSERT_EQ(probeAndExtract(handler, "b.ntx",
                              block("a b.txt  ") + "junk between blocks\n" + block("twice") +
                                  "=ybegin name=twice\n=ypart begin=1 end=1\n+\n=yend\n" + block("a/b") +
                                  block("../../up:x.bin") + block("/abs/c") + block("..") + handMade),
              1);
    // Folders in names are created below \out only; ".." gives the derived name.
    EXPECT_EQ(testing_support::listFiles(root()),
              (std::vector<std::string>{"in/b.ntx", "out/a b.txt", "out/a/b", "out/abs/c", "out/b", "out/hand.bin",
                                        "out/twice", "out/up_x.bin"}));
    for (const char* name : {"a b.txt", "a/b", "abs/c", "b", "up_x.bin"}) EXPECT_TRUE(sameBytes(output(name), sample));
    EXPECT_EQ(output("twice"), std::string(1, '\x01'));  // the repeated name replaced the first
    EXPECT_EQ(output("hand.bin"), std::string("\x00\xE0\x13\x01", 4));
}

TEST_F(YencChecks, SizeCrcTrailerAndPartMismatchesFailButKeepTheFile) {
    struct Case { const char* name; std::string text; };
    const Case cases[] = {
        {"crc", block("crc", " size=3000 crc32=40747ced")},
        {"pcrc", block("pcrc", " pcrc32=0")},
        {"size", block("size", " size=2999")},
        {"header", "=ybegin size=3001 name=header\n" + sampleLines + "=yend\n"},
        {"open", "=ybegin size=3000 name=open\n" + sampleLines},
        {"cut", "=ybegin size=3000 name=cut\n" + sampleLines + block("good")},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(probeAndExtract(handler, std::string(c.name) + ".ntx", c.text), 0) << c.name;
        EXPECT_TRUE(sameBytes(output(c.name), sample)) << c.name;
    }
    EXPECT_TRUE(sameBytes(output("good"), sample));  // the block after the cut one
    const std::string multi = textFixture("uuenview-multi.ntx");
    // A lone second part has nowhere to go (a lone first part is a cut
    // fixture of every_handler_test.cpp).
    EXPECT_EQ(probeAndExtract(handler, "p2.ntx", multi.substr(multi.find("=ybegin part=2"))), 0);
    EXPECT_FALSE(testing_support::fileExists(host("\\out\\large.dat")));
}

// A two-part post whose first part fails its CRC: each extraction reports
// failure, closes the joined file (no descriptor left open) and leaves all
// its bytes on disk at once.
TEST_F(YencChecks, AFailedPartClosesItsOutputOnEveryRun) {
    std::string post = textFixture("uuenview-multi.ntx");
    const std::size_t crc = post.find("pcrc32=") + 7;
    post[crc] = post[crc] == '0' ? '1' : '0';
    auto openDescriptors = [] {
        using std::filesystem::directory_iterator;
        return std::distance(directory_iterator("/proc/self/fd"), directory_iterator());
    };
    const auto before = openDescriptors();
    for (int run = 0; run < 20; ++run) {
        EXPECT_EQ(probeAndExtract(handler, "broken.ntx", post), 0);
        EXPECT_TRUE(sameBytes(output("large.dat"), textFixture("large.bin")));
    }
    EXPECT_EQ(openDescriptors(), before);
}

}  // namespace
