// lh4, lh5, lh6, lh7 and arj: blocks of symbols, each block headed by its
// symbol count and three code-length lists (the code of the code lengths, the
// character/length code, the position code).
#include <cstring>

#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {

constexpr int kLengthCodeCountBits = 5;  // TBIT
constexpr int kCharCountBits = 9;        // CBIT
// After the third code-length length, a 2-bit count of zero lengths follows.
constexpr int kLengthCodeZeroRunAfter = 3;

// The code-length code (n = 19) and the position code share posCode.
void readAuxLengths(DecoderState& s, int n, int countBits, int zeroRunAfter) {
    LzhBitReader& bits = s.bits;
    const unsigned k = bits.get(countBits);
    if (k == 0) {
        const unsigned only = bits.get(countBits);
        std::memset(s.posCode.length, 0, static_cast<std::size_t>(n));
        fillTable(s.posCode.lookup, kPosTableBits, only);
        return;
    }
    if (k > static_cast<unsigned>(n)) {
        s.corrupt = true;
        return;
    }
    int i = 0;
    while (i < static_cast<int>(k)) {
        const unsigned window = bits.peek16();
        int length = static_cast<int>(window >> 13);
        if (length == 7) {
            // Lengths of 7 and more continue in unary: one more per 1-bit.
            for (unsigned mask = 1u << 12; (window & mask) != 0; mask >>= 1) ++length;
        }
        bits.skip(length < 7 ? 3 : length - 3);
        s.posCode.length[i++] = static_cast<std::uint8_t>(length);
        if (i == zeroRunAfter) {
            for (unsigned zeros = bits.get(2); zeros > 0 && i < n; --zeros) s.posCode.length[i++] = 0;
        }
    }
    while (i < n) s.posCode.length[i++] = 0;
    buildCanonicalTable(s.posCode, n, kPosTableBits, s.posCode.lookup);
}

void readCharLengths(DecoderState& s) {
    LzhBitReader& bits = s.bits;
    const unsigned k = bits.get(kCharCountBits);
    if (k == 0) {
        const unsigned only = bits.get(kCharCountBits);
        std::memset(s.charCode.length, 0, kCharSymbols);
        fillTable(s.charCode.lookup, kCharTableBits, only);
        return;
    }
    if (k > static_cast<unsigned>(kCharSymbols)) {
        s.corrupt = true;
        return;
    }
    int i = 0;
    while (i < static_cast<int>(k)) {
        const unsigned symbol = decodePosCode(s, kLengthCodeSymbols);
        if (s.corrupt) return;
        if (symbol <= 2) {
            unsigned zeros = 1;
            if (symbol == 1) zeros = bits.get(4) + 3;
            if (symbol == 2) zeros = bits.get(kCharCountBits) + 20;
            for (; zeros > 0 && i < kCharSymbols; --zeros) s.charCode.length[i++] = 0;
        } else {
            s.charCode.length[i++] = static_cast<std::uint8_t>(symbol - 2);
        }
    }
    while (i < kCharSymbols) s.charCode.length[i++] = 0;
    buildCanonicalTable(s.charCode, kCharSymbols, kCharTableBits, s.charCode.lookup);
}

}  // namespace

void startBlockMethod(DecoderState& s) {
    s.blockSize = 0;
}

unsigned blockDecodeChar(DecoderState& s) {
    if (s.blockSize == 0) {
        s.blockSize = static_cast<std::uint16_t>(s.bits.get(16));
        readAuxLengths(s, kLengthCodeSymbols, kLengthCodeCountBits, kLengthCodeZeroRunAfter);
        if (!s.corrupt) readCharLengths(s);
        if (!s.corrupt) readAuxLengths(s, s.np, s.pbit, -1);
        if (s.corrupt) return 0;
    }
    // A stored count of 0 stands for 65,536 symbols.
    --s.blockSize;
    return decodeCharCode(s, kCharSymbols);
}

unsigned blockDecodePosition(DecoderState& s) {
    const unsigned j = decodePosCode(s, s.np);
    if (j <= 1) return j;
    return (1u << (j - 1)) + s.bits.get(static_cast<int>(j - 1));
}

}  // namespace lzh
