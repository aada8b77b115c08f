// Frames are written here: by zlib (each primed with the previous frame, as
// cabinet writers do) and, for block layouts zlib never emits, bit by bit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/cab/mszip_decoder.h"
#include "tests/formats/cab/cab_builder.h"
#include "tests/test_support.h"

namespace {

using testing_support::sameBytes;

// Deflate's bit order: values least significant bit first, Huffman codes
// most significant bit first.
class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) put((value >> i) & 1);
    }
    void code(std::uint32_t value, int length) {
        for (int i = length - 1; i >= 0; --i) put((value >> i) & 1);
    }
    void align() {
        while (used_ != 0) put(0);
    }
    void byte(char c) { bits(static_cast<unsigned char>(c), 8); }
    std::string take() {
        align();
        return "CK" + out_;
    }

private:
    void put(int bit) {
        if (used_ == 0) out_ += '\0';
        out_.back() = static_cast<char>(out_.back() | bit << used_);
        used_ = (used_ + 1) & 7;
    }
    std::string out_;
    int used_ = 0;
};

void storedBlock(BitWriter& w, bool final, const std::string& data) {
    w.bits(final, 1);
    w.bits(0, 2);
    w.align();
    w.bits(static_cast<std::uint32_t>(data.size()), 16);
    w.bits(~static_cast<std::uint32_t>(data.size()) & 0xFFFF, 16);
    for (char c : data) w.byte(c);
}

struct Frame {
    std::vector<std::uint8_t> frame = std::vector<std::uint8_t>(kMszipFrameSize);
    int decode(const std::string& input, std::size_t outputLength) {
        std::vector<std::uint8_t> buffer(input.begin(), input.end());
        buffer.resize(input.size() + 2, 0);
        return mszipDecode(buffer.data(), static_cast<std::uint32_t>(input.size()), frame.data(),
                           static_cast<std::uint32_t>(outputLength));
    }
    std::string text(std::size_t length) const { return std::string(frame.begin(), frame.begin() + length); }
};

TEST(MszipFrames, ReferencesReachIntoThePreviousFrames) {
    std::string stream;
    for (unsigned seed = 0; stream.size() < 5 * 32768 + 777; ++seed) {
        stream += testing_support::sampleData(3000, seed % 5);  // repeats from far back
    }
    stream.resize(5 * 32768 + 777);
    const std::vector<cab_testing::Block> blocks = cab_testing::makeBlocks(1, stream);
    ASSERT_EQ(blocks.size(), 6u);
    Frame f;
    std::string decoded;
    for (const cab_testing::Block& b : blocks) {
        ASSERT_EQ(f.decode(b.data, b.uncompressedSize), 0);
        decoded += f.text(b.uncompressedSize);
    }
    EXPECT_TRUE(sameBytes(decoded, stream));
}

TEST(MszipFrames, StoredBlocksOfAnyLengthAndSeveralBlocksPerFrame) {
    BitWriter w;
    storedBlock(w, false, "");
    storedBlock(w, false, "hello ");
    // A fixed-code block: literals 'w', 'o' then a match of 3 at distance 2
    // ("wow" is followed by "ow" from the match), end of block.
    w.bits(0, 1);
    w.bits(1, 2);
    w.code(0x30 + 'w', 8);
    w.code(0x30 + 'o', 8);
    w.code(1, 7);  // length symbol 257: 3
    w.code(1, 5);  // distance symbol 1: 2
    w.code(0, 7);
    storedBlock(w, true, "!");
    Frame f;
    ASSERT_EQ(f.decode(w.take(), 12), 0);
    EXPECT_EQ(f.text(12), "hello wowow!");
}

TEST(MszipFrames, ADynamicBlockWithASingleDistanceCode) {
    // Literal/length code: 'a' 1 bit (0), 256 two bits (10), 257 two bits
    // (11); one distance code of 1 bit. Code-length code: 0, 1 and 18 of two
    // bits (00, 01, 10), 2 and 17 of three (110, 111).
    BitWriter w;
    w.bits(1, 1);
    w.bits(2, 2);
    w.bits(1, 5);   // 258 literal/length codes
    w.bits(0, 5);   // 1 distance code
    w.bits(14, 4);  // 18 code-length code lengths
    const int order[18] = {0, 3, 2, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2};  // 16 17 18 0 8 7 ... 2 14 1
    for (int length : order) w.bits(static_cast<std::uint32_t>(length), 3);
    w.code(2, 2), w.bits(97 - 11, 7);     // 97 zeros
    w.code(1, 2);                         // 'a': 1
    w.code(2, 2), w.bits(138 - 11, 7);    // 138 zeros
    w.code(2, 2), w.bits(20 - 11, 7);     // 20 zeros
    w.code(6, 3), w.code(6, 3);           // 256, 257: 2
    w.code(1, 2);                         // distance 0: 1
    w.code(0, 1);                         // 'a'
    w.code(3, 2), w.code(0, 1);           // length 3, distance 1
    w.code(0, 1);                         // 'a'
    w.code(2, 2);                         // end of block
    Frame f;
    ASSERT_EQ(f.decode(w.take(), 5), 0);
    EXPECT_EQ(f.text(5), "aaaaa");
}

TEST(MszipFrames, CorruptOrMismatchedFramesFail) {
    const std::string data = testing_support::sampleData(20000, 3);
    const std::string good = cab_testing::makeBlocks(1, data)[0].data;
    Frame f;
    EXPECT_EQ(f.decode(good, 20001), 2);  // ends short of its declared size
    EXPECT_EQ(f.decode(good, 19999), 2);  // would write past it
    EXPECT_EQ(f.decode(good, 32769), 1);
    EXPECT_EQ(f.decode(good.substr(0, good.size() / 2), 20000), 2);  // input ends early
    EXPECT_EQ(f.decode("CX" + good.substr(2), 20000), 2);
    BitWriter badType;
    badType.bits(7, 3);
    EXPECT_EQ(f.decode(badType.take(), 1), 2);
    std::string badLength = "CK\x01\x02\x00\x00\x00xy";  // LEN 2, NLEN 0
    EXPECT_EQ(f.decode(badLength, 2), 2);
    ASSERT_EQ(f.decode(good, 20000), 0);
    EXPECT_TRUE(sameBytes(f.text(20000), data));

    // Arbitrary bytes after "CK" end in a result, never outside the buffers.
    for (unsigned seed = 0; seed < 300; ++seed) {
        std::string noise = "CK" + testing_support::sampleData(1 + seed * 7, seed + 100);
        const int result = f.decode(noise, 1 + seed * 97);
        EXPECT_TRUE(result == 0 || result == 2);
    }
}

}  // namespace
