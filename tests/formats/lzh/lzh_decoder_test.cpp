// The member decoder on data built here bit by bit, for what no archiver at
// hand writes: single-symbol tables, the lz5 preset ring, distances beyond
// the window and stored copies (fuzz/fuzz_lzh_decoder.cpp holds every
// method's output to the member's size on hostile input). Members longer than the ring
// are the lh5/lh7 "huge" fixtures of tests/fixtures/lzh/manifest.tsv.
#include <string>

#include "tests/formats/lzh/lzh_test_support.h"
#include "tests/test_support.h"

namespace {

using namespace lzh_testing;
using testing_support::sameBytes;

// One lh4-lh7 block head whose three code-length lists each announce a single
// symbol (count 0), so every symbol of the block costs no bits.
std::string singleSymbolBlock(unsigned blockSize, unsigned charSymbol, unsigned posSymbol, int pbit) {
    BitWriter w;
    w.put(blockSize, 16);
    w.put(0, 5);
    w.put(0, 5);  // code-length code: one symbol
    w.put(0, 9);
    w.put(charSymbol, 9);
    w.put(0, static_cast<unsigned>(pbit));
    w.put(posSymbol, pbit);
    return w.finish();
}

TEST(LzhBlockCodes, CountZeroHeadersSpendNoBitsPerSymbol) {
    std::string out;
    // Every code-length symbol is 10 (length 8) at no cost: 256 literals of
    // 8 bits, code = byte value.
    BitWriter w;
    w.put(6, 16);
    w.put(0, 5);
    w.put(10, 5);
    w.put(256, 9);
    w.put(0, 4);
    w.put(0, 4);
    for (unsigned char c : std::string("tovrin")) w.put(c, 8);
    ASSERT_EQ(decode(LzhMethod::Lh5, w.finish(), 6, out), LzhDecodeResult::Done);
    EXPECT_EQ(out, "tovrin");

    // A single literal symbol: the whole member from the block head alone.
    // A stored block size of 0 stands for 65,536 symbols.
    ASSERT_EQ(decode(LzhMethod::Lh5, singleSymbolBlock(0, 'A', 0, 4), 65536, out), LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, std::string(65536, 'A')));
    // One more needs a block head the data does not hold.
    EXPECT_EQ(decode(LzhMethod::Lh5, singleSymbolBlock(0, 'A', 0, 4), 65537, out),
              LzhDecodeResult::InputEnded);

    // Matches of 256 bytes at distance 0 copy the space-filled ring; the last
    // is cut at the member's size.
    ASSERT_EQ(decode(LzhMethod::Lh7, singleSymbolBlock(100, 509, 0, 5), 1000, out), LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, std::string(1000, ' ')));
}

TEST(LzhBlockCodes, DistancesBeyondTheRingStopTheMember) {
    std::string out;
    // Position symbol 13: a distance of 4,096 or more, inside lh5's ring but
    // not lh4's.
    const std::string packed = singleSymbolBlock(10, 256, 13, 4) + std::string(16, '\0');
    EXPECT_EQ(decode(LzhMethod::Lh5, packed, 30, out), LzhDecodeResult::Done);
    EXPECT_EQ(out, std::string(30, ' '));
    EXPECT_EQ(decode(LzhMethod::Lh4, packed, 30, out), LzhDecodeResult::CorruptData);
    EXPECT_EQ(out, "");
    // A symbol count larger than the alphabet is no table.
    BitWriter w;
    w.put(1, 16);
    w.put(31, 5);
    EXPECT_EQ(decode(LzhMethod::Lh6, w.finish() + std::string(8, '\xFF'), 30, out),
              LzhDecodeResult::CorruptData);
}

TEST(LzhLarc, Lz5MatchesReproduceThePresetRing) {
    // Flag byte 0: the next eight items are matches (2 bytes: position low 8
    // bits; position high 4 bits and length - 3). A copy starts at position + 18.
    static const char kItems[] = "\x00"
                                 "\x4D\x3A"    // 845: the run of 13 bytes 0x41
                                 "\x64\xDF"    // 3428: 18 ascending from 100
                                 "\x00\xEF"    // 3584: 18 descending from 255
                                 "\x00\xFF"    // 3840: 18 zeros
                                 "\x80\xFF";   // 3968: 18 spaces
    const std::string packed(kItems, sizeof kItems - 1);
    std::string expected(13, 'A');
    for (int i = 0; i < 18; ++i) expected += static_cast<char>(100 + i);
    for (int i = 0; i < 18; ++i) expected += static_cast<char>(255 - i);
    expected += std::string(18, '\0') + std::string(18, ' ');
    std::string out;
    ASSERT_EQ(decode(LzhMethod::Lz5, packed, static_cast<std::uint32_t>(expected.size()), out),
              LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, expected));
}

TEST(LzhStored, CopiesThePackedSizeWhateverTheUnpackedSizeSays) {
    const std::string data = testing_support::sampleData(70000, 5);
    std::string out;
    EXPECT_EQ(decode(LzhMethod::Stored, data, 1, out), LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, data));
    EXPECT_EQ(decode(LzhMethod::Stored, data, 0, out, 80000), LzhDecodeResult::InputEnded);
    EXPECT_TRUE(sameBytes(out, data));
}

}  // namespace
