// Canonical Huffman tables shared by the static-Huffman methods (lh3-lh7,
// arj) and lh1's fixed position code: codes of up to tableBits bits decode by
// one lookup, longer ones continue in a tree whose nodes are numbered from the
// alphabet size upward.
#include <cstring>

#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {
constexpr std::uint16_t kUnset = 0xFFFF;
}

void fillTable(std::uint16_t* table, int tableBits, unsigned symbol) {
    // A table never holds a value that is not a valid index of the arrays.
    const std::uint16_t value = static_cast<std::uint16_t>(symbol < kNodeLimit ? symbol : 0);
    for (int i = 0; i < (1 << tableBits); ++i) table[i] = value;
}

void buildCanonicalTable(HuffmanTable& code, int symbolCount, int tableBits,
                         std::uint16_t* table) {
    std::uint32_t count[17] = {};
    for (int i = 0; i < symbolCount; ++i) {
        if (code.length[i] > 16) return;
        ++count[code.length[i]];
    }
    // Codes are 16-bit left-aligned; a complete code fills exactly 2^16. An
    // over-full one would write past the table, an under-full one leave holes.
    std::uint32_t next[18];
    next[1] = 0;
    for (int l = 1; l <= 16; ++l) next[l + 1] = next[l] + (count[l] << (16 - l));
    if (next[17] != 65536) return;

    const int tableSize = 1 << tableBits;
    for (int i = 0; i < tableSize; ++i) table[i] = kUnset;
    int avail = symbolCount;
    for (int symbol = 0; symbol < symbolCount; ++symbol) {
        const int l = code.length[symbol];
        if (l == 0) continue;
        const std::uint32_t codeword = next[l];
        next[l] += 1u << (16 - l);
        if (l <= tableBits) {
            const std::uint32_t first = codeword >> (16 - tableBits);
            const std::uint32_t entries = 1u << (tableBits - l);
            for (std::uint32_t e = 0; e < entries; ++e) {
                table[first + e] = static_cast<std::uint16_t>(symbol);
            }
            continue;
        }
        std::uint16_t* slot = &table[codeword >> (16 - tableBits)];
        for (int depth = tableBits; depth < l; ++depth) {
            if (*slot == kUnset) {
                // A complete code needs fewer nodes than symbols; this bound
                // only guards the arrays.
                if (avail >= kNodeLimit) return;
                code.left[avail] = kUnset;
                code.right[avail] = kUnset;
                *slot = static_cast<std::uint16_t>(avail++);
            }
            slot = ((codeword >> (15 - depth)) & 1u) ? &code.right[*slot] : &code.left[*slot];
        }
        *slot = static_cast<std::uint16_t>(symbol);
    }
}

namespace {

template <int TableBits, typename Code>
inline unsigned decodeWith(DecoderState& s, Code& code, int symbolCount) {
    const unsigned window = s.bits.peek16();
    unsigned c = code.lookup[window >> (16 - TableBits)];
    if (c >= static_cast<unsigned>(symbolCount)) {
        unsigned mask = 1u << (15 - TableBits);
        do {
            c = (window & mask) ? code.right[c] : code.left[c];
            mask >>= 1;
        } while (c >= static_cast<unsigned>(symbolCount) && c < kNodeLimit && mask != 0);
        if (c >= static_cast<unsigned>(symbolCount)) {
            s.corrupt = true;
            return 0;
        }
    }
    s.bits.skip(code.length[c]);
    return c;
}

}  // namespace

unsigned decodeCharCode(DecoderState& s, int symbolCount) {
    return decodeWith<kCharTableBits>(s, s.charCode, symbolCount);
}

unsigned decodePosCode(DecoderState& s, int symbolCount) {
    return decodeWith<kPosTableBits>(s, s.posCode, symbolCount);
}

}  // namespace lzh
