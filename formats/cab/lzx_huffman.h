// Canonical Huffman decoding tables of the LZX trees.
//
// A table has 2^tableBits direct entries, indexed by the next tableBits bits
// of input, followed by room for 2 x symbols entries of tree nodes. Every
// entry packs a value (low 11 bits) and a code length (high 5 bits). A
// direct entry whose length field is 1..16 is a whole code: the symbol and
// how many bits it takes, so the common case costs one load. Length field
// kLzxNodeLength marks a code longer than tableBits: the value names node
// n, whose two children lie at [2^tableBits + 2 x n] for a 0 bit and one
// after it for a 1 bit, each again a whole code or a further node. Codes are
// at most 16 bits, so a walk takes at most 16 - tableBits further bits.
#pragma once

#include <cstdint>

constexpr int kLzxMaxCodeLength = 16;
constexpr std::uint16_t kLzxEntryValueMask = 0x07FF;
constexpr int kLzxEntryLengthShift = 11;
constexpr std::uint16_t kLzxNodeLength = 0x1F;

// Marks an entry no code reached while the table is built; a table whose
// build failed may keep some, and a walk that meets one fails.
constexpr std::uint16_t kLzxUnsetEntry = 0xFFFF;

// Builds the table for lengths[0..symbols) (symbols at most 2,047). Fails
// when the lengths exceed 16, over-subscribe the code space, or leave it
// incomplete; all lengths 0 is accepted as the empty tree, which decodes as
// symbol 0 from no bits.
bool lzxBuildTable(const std::uint8_t* lengths, int symbols, int tableBits, std::uint16_t* table);

// Resolves the code at the top of peek16 (the next 16 input bits, first bit
// most significant) to its entry: value = entry & kLzxEntryValueMask,
// bits taken = entry >> kLzxEntryLengthShift. Returns -1 when the walk finds
// no symbol (only possible for a table that was never built).
inline int lzxLookupEntry(const std::uint16_t* table, int tableBits, std::uint32_t peek16) {
    std::uint32_t entry = table[peek16 >> (16 - tableBits)];
    int bit = 15 - tableBits;
    while ((entry >> kLzxEntryLengthShift) == kLzxNodeLength) {
        if (bit < 0 || entry == kLzxUnsetEntry) return -1;
        entry = table[(1u << tableBits) + 2 * (entry & kLzxEntryValueMask) + ((peek16 >> bit) & 1u)];
        --bit;
    }
    return static_cast<int>(entry);
}
