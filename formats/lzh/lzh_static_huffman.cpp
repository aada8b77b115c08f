// Canonical Huffman tables shared by the static-Huffman methods (lh3-lh7,
// arj) and lh1's fixed position code: codes of up to tableBits bits decode by
// one lookup, longer ones continue in a tree whose nodes are numbered from the
// alphabet size upward.
#include <cstring>

#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {
constexpr std::uint16_t kUnset = 0xFFFF;
// An entry no build has filled: a tree link to no node.
constexpr std::uint32_t kUnsetEntry = 0xFFFFFFFFu;
}  // namespace

void fillTable(std::uint32_t* table, int tableBits, unsigned symbol) {
    // A symbol outside every alphabet (above the marker's range) would read
    // as a tree link; it decodes as no symbol instead.
    const std::uint32_t value = symbol < kNodeLimit ? symbol : kUnsetEntry;
    for (int i = 0; i < (1 << tableBits); ++i) table[i] = value;
}

void buildCanonicalTable(HuffmanTable& code, int symbolCount, int tableBits,
                         std::uint32_t* table) {
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
    for (int i = 0; i < tableSize; ++i) table[i] = kUnsetEntry;
    int avail = symbolCount;
    auto newNode = [&]() -> int {
        // A complete code needs fewer nodes than symbols; this bound only
        // guards the arrays.
        if (avail >= kNodeLimit) return -1;
        code.left[avail] = kUnset;
        code.right[avail] = kUnset;
        return avail++;
    };
    for (int symbol = 0; symbol < symbolCount; ++symbol) {
        const int l = code.length[symbol];
        if (l == 0) continue;
        const std::uint32_t codeword = next[l];
        next[l] += 1u << (16 - l);
        if (l <= tableBits) {
            const std::uint32_t first = codeword >> (16 - tableBits);
            const std::uint32_t entries = 1u << (tableBits - l);
            const std::uint32_t value =
                static_cast<std::uint32_t>(symbol) | (static_cast<std::uint32_t>(l) << 16);
            for (std::uint32_t e = 0; e < entries; ++e) table[first + e] = value;
            continue;
        }
        std::uint32_t& entry = table[codeword >> (16 - tableBits)];
        if (entry == kUnsetEntry) {
            const int node = newNode();
            if (node < 0) return;
            entry = kTreeMarker | (static_cast<std::uint32_t>(node) << 16);
        }
        // In a complete code no shorter code is a prefix of this one.
        if ((entry & 0xFFFFu) != kTreeMarker) return;
        const unsigned root = entry >> 16;
        std::uint16_t* slot = ((codeword >> (15 - tableBits)) & 1u) ? &code.right[root] : &code.left[root];
        for (int depth = tableBits + 1; depth < l; ++depth) {
            if (*slot == kUnset) {
                const int node = newNode();
                if (node < 0) return;
                *slot = static_cast<std::uint16_t>(node);
            }
            slot = ((codeword >> (15 - depth)) & 1u) ? &code.right[*slot] : &code.left[*slot];
        }
        *slot = static_cast<std::uint16_t>(symbol);
    }
}

unsigned continueInTree(const HuffmanTable& code, unsigned node, unsigned window, int tableBits,
                        int symbolCount) {
    if (node >= kNodeLimit) return node;
    unsigned c = node;
    unsigned mask = 1u << (15 - tableBits);
    do {
        c = (window & mask) ? code.right[c] : code.left[c];
        mask >>= 1;
    } while (c >= static_cast<unsigned>(symbolCount) && c < kNodeLimit && mask != 0);
    return c;
}

namespace {

template <int TableBits, typename Code>
inline unsigned decodeWith(DecoderState& s, Code& code, int symbolCount) {
    const unsigned window = s.bits.peek16();
    const std::uint32_t entry = code.lookup[window >> (16 - TableBits)];
    unsigned c = entry & 0xFFFFu;
    int length = static_cast<int>(entry >> 16);
    if (c >= static_cast<unsigned>(symbolCount)) {
        // A tree link, or a table left from a larger alphabet.
        c = c == kTreeMarker ? continueInTree(code, entry >> 16, window, TableBits, symbolCount) : c;
        if (c >= static_cast<unsigned>(symbolCount)) {
            s.corrupt = true;
            return 0;
        }
        length = code.length[c];
    }
    s.bits.skip(length);
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
