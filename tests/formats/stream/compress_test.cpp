// Fixtures: tests/fixtures/make-stream-fixtures.sh. Short streams with
// chosen codes are packed here by hand; large ones are made at test time
// with the compress tool.
#include <initializer_list>
#include <random>
#include <string>

#include "formats/stream/compress_handler.h"
#include "formats/stream/compress_stream.h"
#include "tests/formats/stream/stream_sandbox.h"

namespace {

using stream_testing::isPrefixOf;
using stream_testing::sameBytes;

constexpr unsigned char kBlockMode16 = 0x90;
constexpr unsigned char kNoBlockMode16 = 0x10;

// A .Z file whose codes are all 9 bits wide, least significant bit first.
std::string packNineBitCodes(unsigned char flags, std::initializer_list<unsigned> codes) {
    std::string out{'\x1F', '\x9D', static_cast<char>(flags)};
    unsigned long bitsHeld = 0;
    int count = 0;
    for (unsigned code : codes) {
        bitsHeld |= static_cast<unsigned long>(code) << count;
        for (count += 9; count >= 8; count -= 8, bitsHeld >>= 8) out.push_back(static_cast<char>(bitsHeld));
    }
    if (count > 0) out.push_back(static_cast<char>(bitsHeld));
    return out;
}

class CompressTest : public stream_testing::StreamSandbox {
protected:
    int extract(const std::string& devicePath) { return handler.extract(devicePath.c_str(), "\\out"); }
    std::string decoded(const std::string& name, std::initializer_list<unsigned> codes, unsigned char flags,
                        int expectedResult) {
        EXPECT_EQ(extract(place(name + ".Z", packNineBitCodes(flags, codes))), expectedResult) << name;
        return output(name);
    }
    CompressHandler handler;
};
using CompressDecoding = CompressTest;
using CompressFailures = CompressTest;

TEST_F(CompressDecoding, HandPackedCodesExerciseTheTableRules) {
    // A code equal to the next free code: the previous string plus its own first byte.
    EXPECT_EQ(decoded("kwk", {'a', 257, 258}, kBlockMode16, 1), "aaaaaa");
    // Without block mode 256 is an ordinary code and free codes start there.
    EXPECT_EQ(decoded("plain", {'a', 'b', 256, 258}, kNoBlockMode16, 1), "abababa");
    // A clear code skips the rest of its group of 8 codes (the five x's); the
    // code after it defines 256, so 257 is then "c" + "d".
    EXPECT_EQ(decoded("clear", {'a', 'b', 256, 'x', 'x', 'x', 'x', 'x', 'c', 'd', 257}, kBlockMode16, 1),
              "abcdcd");
}

TEST_F(CompressDecoding, LargeInputFillsTheTableAtTheWidestCodes) {
    const std::string data = testing_support::sampleData(3 * 1048576 + 777, 5);
    const std::string packed = packWithTool("compress", "-b16", data);
    if (packed.empty()) GTEST_SKIP() << "compress not installed";
    ASSERT_NE(extract(place("big.Z", packed)), 0);
    EXPECT_TRUE(sameBytes(output("big"), data));
}

TEST_F(CompressFailures, CorruptCodesKeepTheDecodedPrefix) {
    EXPECT_EQ(decoded("beyond", {'a', 'b', 300, 'c'}, kBlockMode16, 0), "ab");  // next free is 258
    EXPECT_EQ(decoded("first", {300, 'a'}, kBlockMode16, 0), "");  // nothing defined yet
    // ncompress -C marks the header as without block mode yet numbers codes
    // from 257; its own decompressor rejects the file too.
    EXPECT_EQ(extract(place("c.Z", fixture("no-block-mode-C.Z"))), 0);
    // Reads after a failure deliver nothing more.
    CompressStream* stream = compressStreamOpen("\\in\\beyond.Z");
    char buffer[8];
    EXPECT_EQ(compressStreamRead(buffer, sizeof buffer, stream), 2u);
    EXPECT_TRUE(compressStreamFailed(stream));
    EXPECT_EQ(compressStreamRead(buffer, sizeof buffer, stream), 0u);
    compressStreamClose(stream);
    EXPECT_EQ(compressStreamOpen(place("w8.Z", std::string("\x1F\x9D\x88\x61\x00", 5)).c_str()), nullptr);
    EXPECT_EQ(compressStreamOpen(place("gz.Z", fixture("no-name.gz")).c_str()), nullptr);
    EXPECT_EQ(compressStreamOpen("\\in\\missing.Z"), nullptr);
}

TEST_F(CompressFailures, InputCutInsideACodeIsReported) {
    EXPECT_EQ(extract(place("one.Z", std::string("\x1F\x9D\x90\x61", 4))), 0);
    // 80000 random bytes make about 45000 codes: the end lies in 16-bit codes
    // and the table never fills. Of two neighbouring cuts one ends half-way
    // into a code; the other ends between codes and reads as a shorter file.
    std::string data(80000, '\0');
    std::mt19937 random(12);
    for (char& c : data) c = static_cast<char>(random());
    const std::string packed = packWithTool("compress", "-b16", data);
    if (packed.empty()) GTEST_SKIP() << "compress not installed";
    const std::size_t cut = packed.size() - 1001;
    const int first = extract(place("cutA.Z", packed.substr(0, cut)));
    const int second = extract(place("cutB.Z", packed.substr(0, cut + 1)));
    EXPECT_NE(first != 0, second != 0);
    EXPECT_TRUE(isPrefixOf(output("cutA"), data));
    EXPECT_TRUE(isPrefixOf(output("cutB"), data));
    EXPECT_GT(output("cutA").size(), data.size() / 2);
}

}  // namespace
