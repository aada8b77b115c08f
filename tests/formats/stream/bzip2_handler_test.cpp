// Fixtures: tests/fixtures/make-stream-fixtures.sh. Multi-block inputs are
// made at test time with the bzip2 tool (bzip2 -1: 100k blocks).
#include <string>

#include "formats/stream/bzip2_handler.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::isPrefixOf;
using stream_testing::sameBytes;

class Bzip2Test : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath) { return handler.extract(devicePath.c_str(), "\\out"); }
    Bzip2Handler handler;
};
using Bzip2Decoding = Bzip2Test;
using Bzip2Failures = Bzip2Test;

TEST_F(Bzip2Decoding, StreamsBackToBackDecodeAndTrailingBytesAreIgnored) {
    const std::string data = testing_support::sampleData(2500000, 4);
    const std::string packed = packWithTool("bzip2", "-1", data);
    if (packed.empty()) GTEST_SKIP() << "bzip2 not installed";
    const std::string small = fixture("text-1.bz2");
    // As parallel compressors write them; then zero padding, text, and a
    // "BZ" too short to start a stream: the common decompressor ignores these.
    ASSERT_NE(extract(place("big.bz2", packed + small + packed + std::string(700, '\0'))), 0);
    ASSERT_NE(extract(place("junk.bz2", small + "trailing text")), 0);
    ASSERT_NE(extract(place("bz.bz2", small + "BZ")), 0);
    EXPECT_TRUE(sameBytes(output("big"), data + fixture("sample.txt") + data));
    EXPECT_TRUE(sameBytes(output("junk"), fixture("sample.txt")));
    EXPECT_TRUE(sameBytes(output("bz"), fixture("sample.txt")));
}

TEST_F(Bzip2Failures, TruncatedStreamKeepsTheBlocksBeforeTheCut) {
    const std::string data = testing_support::sampleData(450000, 9);
    const std::string packed = packWithTool("bzip2", "-1", data);
    if (packed.empty()) GTEST_SKIP() << "bzip2 not installed";
    ASSERT_EQ(extract(place("cut.bz2", packed.substr(0, packed.size() * 3 / 4))), 0);
    EXPECT_GE(output("cut").size(), 200000u);  // at least two whole blocks
    EXPECT_TRUE(isPrefixOf(output("cut"), data));
    // Cut inside the end-of-stream marker: all data decoded, still a failure.
    const std::string small = fixture("text-1.bz2");
    EXPECT_EQ(extract(place("tail.bz2", small.substr(0, small.size() - 3))), 0);
    EXPECT_TRUE(sameBytes(output("tail"), fixture("sample.txt")));
}

TEST_F(Bzip2Failures, DamagedBlocksAndStreamsAreReported) {
    const std::string text = fixture("text-1.bz2");
    std::string badCrc = text;
    badCrc[10] ^= 1;  // the block's CRC
    std::string badSecond = fixture("binary-9.bz2");
    badSecond[60] ^= '\xFF';
    EXPECT_EQ(extract(place("crc.bz2", badCrc)), 0);
    EXPECT_EQ(extract(place("second.bz2", text + badSecond)), 0);
    EXPECT_EQ(extract(place("second-garbage.bz2", text + "BZh9 is no block")), 0);
    EXPECT_EQ(extract(place("plain.bz2", "BZx not a stream")), 0);
    EXPECT_EQ(outputs(), (std::vector<std::string>{"crc", "second", "second-garbage"}));
    EXPECT_TRUE(sameBytes(output("second-garbage"), fixture("sample.txt")));
}

TEST_F(Bzip2Failures, ProbeTrialDecodeRejectsADamagedFirstBlock) {
    const std::string stream = fixture("binary-9.bz2");
    EXPECT_TRUE(probe(handler, stream));
    std::string badMagic = stream, badOrigin = stream;
    badMagic[4] ^= '\xFF';  // block header magic
    for (int i = 14; i < 18; ++i) badOrigin[i] = '\xFF';  // start pointer beyond any block
    EXPECT_FALSE(probe(handler, badMagic));
    EXPECT_FALSE(probe(handler, badOrigin));
    EXPECT_FALSE(probe(handler, stream.substr(0, stream.size() / 2)));
    EXPECT_FALSE(probe(handler, "BZh"));
    EXPECT_FALSE(probe(handler, "BZ"));
    EXPECT_FALSE(handler.matchesExtension("bz2"));
}

}  // namespace
