// The member decoder on data built here bit by bit, for what no archiver at
// hand writes: single-symbol tables, the lz5 preset ring, distances beyond
// the ring, stored copies and hostile input.
#include <algorithm>
#include <string>
#include <vector>

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

// Canonical codes as an encoder assigns them: by length, then by symbol.
struct CanonicalCode {
    std::vector<unsigned> code;
    std::vector<int> length;
};
CanonicalCode canonicalCode(const std::vector<int>& lengths) {
    CanonicalCode c{std::vector<unsigned>(lengths.size()), lengths};
    unsigned next = 0;
    for (int l = 1; l <= 16; ++l, next <<= 1) {
        for (std::size_t symbol = 0; symbol < lengths.size(); ++symbol) {
            if (lengths[symbol] == l) c.code[symbol] = next++;
        }
    }
    return c;
}

// Long members through the block loop, checked against copying byte by byte
// from the output itself (spaces before the first byte): matches that cross
// the end of the decoder's ring, that start their copy before it, that
// overlap the bytes they write, and distances reaching across its wrap.
TEST(LzhBlockCodes, LongMembersMatchAByteByByteCopy) {
    struct Case {
        LzhMethod method;
        std::uint32_t window;
        std::vector<int> positionLengths;
        int pbit;
    };
    std::vector<int> lh5Positions(14, 4), lh7Positions(17, 4);
    lh5Positions[0] = lh5Positions[1] = 3;  // 2 x 2^13 + 12 x 2^12 = 2^16
    lh7Positions[15] = lh7Positions[16] = 5;  // 15 x 2^12 + 2 x 2^11 = 2^16
    std::vector<int> charLengths(510, 9);
    charLengths[0] = charLengths[1] = 8;  // 2 x 2^8 + 508 x 2^7 = 2^16
    const CanonicalCode chars = canonicalCode(charLengths);
    constexpr std::uint32_t kRingEnd = 131072;  // the decoder's ring, a multiple of every window
    constexpr std::size_t kTotal = 3 * kRingEnd + 5000;

    for (const Case& test : {Case{LzhMethod::Lh5, 8192, lh5Positions, 4}, Case{LzhMethod::Lh7, 65536, lh7Positions, 5}}) {
        SCOPED_TRACE(test.window);
        const CanonicalCode positions = canonicalCode(test.positionLengths);
        std::string expected;
        struct Token {
            unsigned length;  // 0: a literal
            unsigned value;   // the literal, or the distance - 1
        };
        std::vector<Token> tokens;
        auto match = [&](unsigned length, unsigned distance) {
            tokens.push_back({length, distance});
            for (unsigned i = 0; i < length; ++i) {
                const std::size_t back = static_cast<std::size_t>(distance) + 1;
                expected += expected.size() >= back ? expected[expected.size() - back] : ' ';
            }
        };
        std::uint32_t x = 12345;
        auto next = [&x]() { return (x = x * 1103515245u + 12345u) >> 8; };
        match(100, test.window - 1);  // all from before the first byte
        while (expected.size() < kTotal) {
            const std::uint32_t toEnd = kRingEnd - static_cast<std::uint32_t>(expected.size() % kRingEnd);
            if (toEnd > 3 && toEnd < 600) {
                if (toEnd > 200) {
                    match(std::min(256u, toEnd - 150), next() % test.window);
                    continue;
                }
                match(256, next() % test.window);  // across the ring's end
                const unsigned after = static_cast<unsigned>(expected.size() % kRingEnd);
                match(50, after + 100);  // from just before the end, not across it
                match(100, after + 50 + 10);  // from across the end
                continue;
            }
            const std::uint32_t r = next();
            if (r % 5 < 2) {
                tokens.push_back({0, r >> 8 & 0xFF});
                expected += static_cast<char>(r >> 8 & 0xFF);
            } else {
                const unsigned distance = r % 4 == 0 ? (r >> 4) % 7 : (r >> 4) % test.window;
                match(3 + (r >> 20) % 254, distance);
            }
        }

        BitWriter w;
        const std::size_t kBlockSymbols = 20000;
        for (std::size_t t = 0; t < tokens.size(); ++t) {
            if (t % kBlockSymbols == 0) {
                w.put(static_cast<unsigned>(std::min(kBlockSymbols, tokens.size() - t)), 16);
                // The code-length code: symbols 10 and 11 (lengths 8 and 9),
                // one bit each; three zero lengths, a run of three, four more.
                w.put(12, 5);
                for (int i = 0; i < 3; ++i) w.put(0, 3);
                w.put(3, 2);
                for (int i = 6; i < 10; ++i) w.put(0, 3);
                w.put(1, 3);
                w.put(1, 3);
                w.put(510, 9);
                for (int length : charLengths) w.put(length == 8 ? 0 : 1, 1);
                w.put(static_cast<unsigned>(test.positionLengths.size()), test.pbit);
                for (int length : test.positionLengths) w.put(static_cast<unsigned>(length), 3);
            }
            const Token& token = tokens[t];
            const unsigned symbol = token.length == 0 ? token.value : token.length + 253;
            w.put(chars.code[symbol], chars.length[symbol]);
            if (token.length == 0) continue;
            unsigned j = 0;
            while ((token.value >> j) != 0) ++j;  // bit length of the distance
            w.put(positions.code[j], positions.length[j]);
            if (j > 1) w.put(token.value - (1u << (j - 1)), static_cast<int>(j - 1));
        }
        const std::string packed = w.finish();

        std::string out;
        ASSERT_EQ(decode(test.method, packed, static_cast<std::uint32_t>(expected.size()), out),
                  LzhDecodeResult::Done);
        EXPECT_TRUE(sameBytes(out, expected));
        // Cut inside a match two rings on.
        const std::uint32_t cut = 2 * kRingEnd + 77;
        ASSERT_EQ(decode(test.method, packed, cut, out), LzhDecodeResult::Done);
        EXPECT_TRUE(sameBytes(out, expected.substr(0, cut)));
    }
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
    EXPECT_EQ(decode(LzhMethod::Stored, data, 0, out, 100), LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, data.substr(0, 100)));
    EXPECT_EQ(decode(LzhMethod::Stored, data, 0, out, 0xFFFFFFFFu), LzhDecodeResult::Done);
    EXPECT_TRUE(sameBytes(out, data));
    EXPECT_EQ(decode(LzhMethod::Stored, data, 0, out, 80000), LzhDecodeResult::InputEnded);
    EXPECT_TRUE(sameBytes(out, data));
}

TEST(LzhHostileData, EveryMethodEndsWithinItsSize) {
    const LzhMethod methods[] = {LzhMethod::Lzs, LzhMethod::Lz5, LzhMethod::Lh1, LzhMethod::Lh2,
                                 LzhMethod::Lh3, LzhMethod::Lh4, LzhMethod::Lh5, LzhMethod::Lh6,
                                 LzhMethod::Lh7, LzhMethod::Arj};
    const std::string inputs[] = {testing_support::sampleData(3000, 7), std::string(3000, '\xFF'),
                                  std::string(3000, '\0'), std::string(2, '\x55')};
    for (LzhMethod method : methods) {
        for (const std::string& input : inputs) {
            std::string out;
            const LzhDecodeResult result = decode(method, input, 5000000, out);
            EXPECT_LE(out.size(), 5000000u);
            if (result == LzhDecodeResult::Done) {
                EXPECT_EQ(out.size(), 5000000u);
            }
        }
        // Nothing for an empty member, whatever the data.
        std::string out = "x";
        EXPECT_EQ(decode(method, "\xFF\xFF", 0, out), LzhDecodeResult::Done);
        EXPECT_EQ(out, "");
    }
}

TEST(LzhHostileData, TruncatedDataIsReportedNotPaddedOut) {
    // The first member of the lh5 fixture (text.txt, 9,000 bytes), cut short.
    const std::string archive =
        testing_support::readFile(testing_support::fixturePath("lzh/lh5-l0.lzh"));
    const std::size_t dataStart = static_cast<unsigned char>(archive[0]) + 2;
    const std::uint32_t packedSize = static_cast<unsigned char>(archive[7]) |
                                     (static_cast<unsigned char>(archive[8]) << 8);
    const std::string packed = archive.substr(dataStart, packedSize);
    std::string whole, out;
    ASSERT_EQ(decode(LzhMethod::Lh5, packed, 9000, whole), LzhDecodeResult::Done);
    EXPECT_EQ(crc16(whole), 0x491F);  // the header's, from the 9,000-byte text
    EXPECT_EQ(decode(LzhMethod::Lh5, packed.substr(0, packedSize / 2), 9000, out),
              LzhDecodeResult::InputEnded);
    // What comes before the cut is right; a symbol or two decoded from the
    // end's padding may not be.
    ASSERT_LT(out.size(), 9000u);
    ASSERT_GT(out.size(), 3000u);
    EXPECT_EQ(out.substr(0, 3000), whole.substr(0, 3000));
    EXPECT_EQ(crc16("123456789"), 0xBB3D);  // the check value of this CRC-16
}

}  // namespace
