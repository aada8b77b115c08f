// lh4, lh5, lh6, lh7 and arj: blocks of symbols, each block headed by its
// symbol count and three code-length lists (the code of the code lengths, the
// character/length code, the position code). These methods carry most LZH
// data, so their decoding loop is written out here in one piece: symbols
// decode inline from the lookup tables with the bit position in registers,
// and matches copy eight bytes at a time where the ring does not wrap.
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

// Reads a block head: its symbol count and its three code-length lists.
void readBlockHead(DecoderState& s) {
    s.blockSize = static_cast<std::uint16_t>(s.bits.get(16));
    readAuxLengths(s, kLengthCodeSymbols, kLengthCodeCountBits, kLengthCodeZeroRunAfter);
    if (!s.corrupt) readCharLengths(s);
    if (!s.corrupt) readAuxLengths(s, s.np, s.pbit, -1);
}

// Bits one refill must provide: a character code of up to 16 bits; a
// position code (up to 20 in lengths from a table left over from corrupt
// data) and up to 15 bits of distance.
constexpr int kCharBitsNeeded = 16;
constexpr int kPositionBitsNeeded = 20 + 15;

}  // namespace

LzhDecodeResult runBlockMethod(DecoderState& s, std::uint8_t* ring, std::uint32_t ringCapacity,
                               LzhSink& output, std::uint32_t unpackedSize) {
    const std::uint32_t window = s.ringSize;
    const unsigned np = static_cast<unsigned>(s.np);
    const std::uint32_t* const charLookup = s.charCode.lookup;
    const std::uint32_t* const posLookup = s.posCode.lookup;

    // The stream position lives in locals here; the reader gets it back
    // around every step that goes through it.
    LzhBitReader::Cursor bits = s.bits.save();
    bool padded = s.bits.padded();
    auto ensure = [&](int needed) {
        if (bits.held >= needed) return;
        if (LzhBitReader::fastRefill(bits)) return;
        s.bits.restore(bits);
        s.bits.refill();
        bits = s.bits.save();
        padded = s.bits.padded();
    };
    auto ranOut = [&]() { return padded && s.bits.ranOut(bits); };

    std::uint32_t pos = 0;
    std::uint32_t left = unpackedSize;
    std::uint32_t blockLeft = 0;  // symbols left in the block
    LzhDecodeResult result = LzhDecodeResult::Done;
    while (left > 0) {
        if (blockLeft == 0) {
            s.bits.restore(bits);
            readBlockHead(s);
            bits = s.bits.save();
            padded = s.bits.padded();
            if (s.corrupt) {
                result = LzhDecodeResult::CorruptData;
                break;
            }
            // A stored count of 0 stands for 65,536 symbols.
            blockLeft = s.blockSize == 0 ? 65536u : s.blockSize;
        }
        --blockLeft;

        ensure(kCharBitsNeeded);
        unsigned peeked = LzhBitReader::peek16(bits);
        std::uint32_t entry = charLookup[peeked >> (16 - kCharTableBits)];
        unsigned c = entry & 0xFFFFu;
        if (c < static_cast<unsigned>(kCharSymbols)) {
            bits.held -= static_cast<int>(entry >> 16);
        } else {
            // A longer code, or a table left from a larger alphabet.
            if (c == kTreeMarker) {
                c = continueInTree(s.charCode, entry >> 16, peeked, kCharTableBits, kCharSymbols);
            }
            if (c >= static_cast<unsigned>(kCharSymbols)) {
                result = LzhDecodeResult::CorruptData;
                break;
            }
            bits.held -= s.charCode.length[c];
        }
        if (ranOut()) {
            result = LzhDecodeResult::InputEnded;
            break;
        }
        if (c < 256) {
            ring[pos++] = static_cast<std::uint8_t>(c);
            --left;
            if (pos == ringCapacity) {
                if (!output.write(ring, ringCapacity)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
            continue;
        }

        // A match: its length from the symbol, then the position code and
        // the distance's low bits.
        std::uint32_t length = c - kMatchLengthOffset;
        ensure(kPositionBitsNeeded);
        peeked = LzhBitReader::peek16(bits);
        entry = posLookup[peeked >> (16 - kPosTableBits)];
        unsigned j = entry & 0xFFFFu;
        if (j < np) {
            bits.held -= static_cast<int>(entry >> 16);
        } else {
            if (j == kTreeMarker) {
                j = continueInTree(s.posCode, entry >> 16, peeked, kPosTableBits, static_cast<int>(np));
            }
            if (j >= np) {
                result = LzhDecodeResult::CorruptData;
                break;
            }
            bits.held -= s.posCode.length[j];
        }
        std::uint32_t distance = j;
        if (j > 1) {
            const int extra = static_cast<int>(j - 1);
            bits.held -= extra;
            const unsigned low = static_cast<unsigned>(bits.window >> bits.held) & ((1u << extra) - 1u);
            distance = (1u << extra) + low;
        }
        if (ranOut()) {
            result = LzhDecodeResult::InputEnded;
            break;
        }
        if (distance >= window) {
            result = LzhDecodeResult::CorruptData;
            break;
        }
        // The member never grows past its stated size, even when its last
        // match is longer than what is left.
        if (length > left) length = left;
        left -= length;
        std::uint32_t from = pos >= distance + 1 ? pos - distance - 1 : pos + ringCapacity - distance - 1;
        if (pos + length <= ringCapacity && from + length <= ringCapacity) {
            // Neither end wraps. Eight bytes at a time may run up to seven
            // past the match: into the slack after the ring, or over ring
            // bytes older than any distance reaches, which the next symbols
            // overwrite before the ring is written out.
            std::uint8_t* to = ring + pos;
            const std::uint8_t* source = ring + from;
            if (distance >= 7) {
                for (std::uint32_t i = 0; i < length; i += 8) std::memcpy(to + i, source + i, 8);
            } else {
                // Each byte may be one this match just wrote.
                for (std::uint32_t i = 0; i < length; ++i) to[i] = source[i];
            }
            pos += length;
            if (pos == ringCapacity) {
                if (!output.write(ring, ringCapacity)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
            continue;
        }
        while (length > 0) {
            std::uint32_t run = length;
            if (ringCapacity - pos < run) run = ringCapacity - pos;
            if (ringCapacity - from < run) run = ringCapacity - from;
            if (distance + 1 >= run) {
                std::memmove(ring + pos, ring + from, run);
            } else {
                for (std::uint32_t i = 0; i < run; ++i) ring[pos + i] = ring[from + i];
            }
            pos += run;
            from += run;
            length -= run;
            if (from == ringCapacity) from = 0;
            if (pos == ringCapacity) {
                if (!output.write(ring, ringCapacity)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
        }
    }
    s.bits.restore(bits);
    s.produced = unpackedSize - left;
    if (pos > 0 && !output.write(ring, pos)) return LzhDecodeResult::WriteFailed;
    return result;
}

}  // namespace lzh
