// The working state of one member's decoding, shared by the decoding loop and
// the method families. Each family keeps its own part; a method's start
// resets the parts it uses.
#pragma once

#include <cstdint>
#include <cstring>

#include "formats/lzh/lzh_bit_reader.h"
#include "formats/lzh/lzh_member_decoder.h"

namespace lzh {

// Alphabet sizes and table widths of the static-Huffman methods.
constexpr int kCharSymbols = 510;        // NC: literals 0-255, lengths 3-256
constexpr int kLengthCodeSymbols = 19;   // NT
constexpr int kCharTableBits = 12;
constexpr int kPosTableBits = 8;
// Any value a table or a tree link holds is below this, so every lookup with
// it stays inside the arrays even when the tables are stale or hostile.
constexpr int kNodeLimit = 1024;

// Canonical Huffman code: lengths per symbol, a direct lookup table for the
// short codes and a binary tree (left for 0, right for 1) for the longer ones.
// A lookup entry holds a symbol in its low 16 bits and the code's length
// above them, so that one load decodes a short code; kTreeMarker in the low
// bits instead links (above them) to the tree node where a longer code
// continues.
constexpr std::uint32_t kTreeMarker = 0xFFFF;
struct HuffmanTable {
    std::uint8_t length[kNodeLimit];
    std::uint16_t left[kNodeLimit];
    std::uint16_t right[kNodeLimit];
};
struct CharCode : HuffmanTable {
    std::uint32_t lookup[1 << kCharTableBits];
};
struct PosCode : HuffmanTable {
    std::uint32_t lookup[1 << kPosTableBits];
};

// Adaptive Huffman trees of lh1 and lh2: the character tree rooted at node 0,
// lh2's position tree rooted at kPosRoot. Nodes are ordered by falling
// frequency; a block is a run of nodes of equal frequency, led by its
// lowest-numbered node.
constexpr int kPosRoot = 628;
constexpr int kPosSymbolBase = 314;  // position symbols in leafOf and leaf links
constexpr int kTreeNodes = kPosRoot + 256;
struct AdaptiveTrees {
    std::uint16_t freq[kTreeNodes + 1];
    // Internal node: the higher-numbered of its two children (the other is
    // one below). Leaf: the complement of its symbol.
    std::int16_t child[kTreeNodes + 1];
    std::int16_t parent[kTreeNodes + 1];
    std::int16_t block[kTreeNodes + 1];
    std::int16_t leader[kTreeNodes + 1];     // per block
    std::int16_t freeBlocks[kTreeNodes + 1];
    int freeTop;
    std::int16_t leafOf[kPosSymbolBase + 128];
    int charSymbols;                        // 314 for lh1, 286 for lh2
    int newest;                             // last node of the position tree
    std::uint32_t positionCount;            // counted since the last rebuild
    std::uint64_t nextGroupAt;              // bytes produced before a new group
};

struct DecoderState {
    LzhBitReader bits;
    std::uint32_t ringSize = 0;
    std::uint32_t ringPos = 0;
    // Bytes the member had produced before the match being decoded (lh2
    // grows its position tree by it); the block loop leaves its total here.
    std::uint64_t produced = 0;
    // Set by a family when the data asks for something no encoder writes.
    bool corrupt = false;

    // Static-Huffman block methods (lh3-lh7, arj).
    int np = 0;
    int pbit = 0;
    std::uint16_t blockSize = 0;
    CharCode charCode;
    PosCode posCode;

    // lzs and lz5.
    std::uint32_t matchPos = 0;
    unsigned lz5Flags = 0;
    int lz5FlagCount = 0;

    AdaptiveTrees trees;

    // Back to how a member starts, the state being reused: a table left by an
    // earlier member must not shape this one's output. The trees are built
    // whole by lh1 and lh2's start, and tree links are reached only through
    // lookups.
    void reset() {
        ringPos = 0;
        produced = 0;
        corrupt = false;
        blockSize = 0;
        matchPos = 0;
        lz5Flags = 0;
        lz5FlagCount = 0;
        std::memset(charCode.length, 0, sizeof charCode.length);
        std::memset(charCode.lookup, 0, sizeof charCode.lookup);
        std::memset(posCode.length, 0, sizeof posCode.length);
        std::memset(posCode.lookup, 0, sizeof posCode.lookup);
    }
};

// Builds a canonical code over symbolCount symbols from code.length into
// table (tableBits wide) and code's tree. When the lengths do not fill the
// code space exactly (or one is longer than 16) the table is left as it was.
void buildCanonicalTable(HuffmanTable& code, int symbolCount, int tableBits,
                         std::uint32_t* table);
// Continues a code longer than the lookup table in code's tree from the node
// the table's entry links to; window holds the next 16 bits of the stream. A
// result of symbolCount or more means the tables lead nowhere valid.
unsigned continueInTree(const HuffmanTable& code, unsigned node, unsigned window, int tableBits,
                        int symbolCount);
// Fills every entry of table with symbol, the code of an alphabet that has
// only one symbol and spends no bits on it.
void fillTable(std::uint32_t* table, int tableBits, unsigned symbol);
// Lengths of a fixed code: startLength, growing by one at each symbol listed
// in growth (a symbol listed twice grows it twice).
void setFixedLengths(std::uint8_t* length, int symbolCount, int startLength,
                     const std::uint8_t* growth, int growthCount);
// Decodes one symbol of an alphabet of symbolCount symbols and consumes its
// bits; marks the state corrupt when the tables lead nowhere valid.
unsigned decodeCharCode(DecoderState& s, int symbolCount);
unsigned decodePosCode(DecoderState& s, int symbolCount);

// The static-Huffman block family (lh4-lh7, arj) has a decoding loop of its
// own, the hottest of all. Its ring is larger than any of their windows, so
// that output leaves in large writes and most matches copy without wrapping;
// kRingSlack bytes after it take a match copy's overrun.
constexpr int kMatchLengthOffset = 253;  // symbol c >= 256: a match of c - 253 bytes
constexpr std::uint32_t kBlockRingCapacity = 131072;
constexpr std::uint32_t kRingSlack = 16;
// Decodes unpackedSize bytes (np, pbit and ringSize, the window, set in s)
// through ring, which holds ringCapacity + kRingSlack bytes with the last
// ringSize bytes of the ring preset. ringCapacity exceeds ringSize by more
// than a longest match plus kRingSlack.
LzhDecodeResult runBlockMethod(DecoderState& s, std::uint8_t* ring, std::uint32_t ringCapacity,
                               LzhSink& output, std::uint32_t unpackedSize);

// One start, decodeChar and decodePosition per other method family.

void startLh3(DecoderState& s);
unsigned lh3DecodeChar(DecoderState& s);
unsigned lh3DecodePosition(DecoderState& s);

void startLh1(DecoderState& s);
void startLh2(DecoderState& s);
unsigned adaptiveDecodeChar(DecoderState& s);
unsigned lh1DecodePosition(DecoderState& s);
unsigned lh2DecodePosition(DecoderState& s);

void startLzs(DecoderState& s);
unsigned lzsDecodeChar(DecoderState& s);
unsigned lzsDecodePosition(DecoderState& s);
void startLz5(DecoderState& s, std::uint8_t* ring);
unsigned lz5DecodeChar(DecoderState& s);
unsigned lz5DecodePosition(DecoderState& s);

}  // namespace lzh
