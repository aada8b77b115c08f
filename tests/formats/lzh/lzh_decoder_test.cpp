// The member decoder on block heads built here bit by bit, for what no
// archiver at hand writes: single-symbol tables and distances beyond the
// window. Real members of every method, the lz5 preset ring included, are
// in tests/fixtures/lzh/manifest.tsv; fuzz/fuzz_lzh_decoder.cpp holds every
// method's output to the member's size on hostile input.
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

// A stored block size of 0 stands for 65,536 symbols; matches of 256 bytes
// at distance 0 copy the space-filled ring and the last is cut at the
// member's size; position symbol 13 (4,096 or more back) lies inside lh5's
// ring but not lh4's; a symbol count above the alphabet is no table.
TEST(LzhBlockCodes, SingleSymbolTablesAndDistancesBeyondTheRing) {
    const std::string beyond = singleSymbolBlock(10, 256, 13, 4) + std::string(16, '\0');
    BitWriter w;
    w.put(1, 16);
    w.put(31, 5);
    const struct { LzhMethod method; std::string packed; std::uint32_t size; LzhDecodeResult result; std::string out; } cases[] = {
        {LzhMethod::Lh5, singleSymbolBlock(0, 'A', 0, 4), 65536, LzhDecodeResult::Done, std::string(65536, 'A')},
        {LzhMethod::Lh7, singleSymbolBlock(100, 509, 0, 5), 1000, LzhDecodeResult::Done, std::string(1000, ' ')},
        {LzhMethod::Lh5, beyond, 30, LzhDecodeResult::Done, std::string(30, ' ')},
        {LzhMethod::Lh4, beyond, 30, LzhDecodeResult::CorruptData, ""},
        {LzhMethod::Lh6, w.finish() + std::string(8, '\xFF'), 30, LzhDecodeResult::CorruptData, ""},
    };
    std::string out;
    for (const auto& c : cases) {
        EXPECT_EQ(decode(c.method, c.packed, c.size, out), c.result) << c.size;
        EXPECT_TRUE(sameBytes(out, c.out)) << c.size;
    }
    // One symbol more than the block holds needs a block head the data lacks.
    EXPECT_EQ(decode(LzhMethod::Lh5, singleSymbolBlock(0, 'A', 0, 4), 65537, out), LzhDecodeResult::InputEnded);
}

}  // namespace
