// The LZX method of cabinet folders: an LZ77 window of 2^15 to 2^21 bytes,
// verbatim, aligned-offset and uncompressed blocks, three repeated match
// offsets, and the optional translation of x86 call operands (0xE8) on the
// output.
//
// One LzxDecoder serves the whole process. lzxInitialise starts a folder
// (the window buffer is kept when it is large enough, its content is not
// cleared); lzxDecode then turns one gathered frame into the frame buffer.
// Block state, the trees' code lengths, the repeated offsets and the
// translation state run on from frame to frame of the folder; the bit input
// restarts at the start of every frame.
//
// Input is never read past inputLength: the two zero bytes that follow the
// gathered input are supplied by the bit reader itself, and a frame that
// needs more than those fails. Output never passes the window or the frame:
// a match that would carry the window position beyond the run it belongs to
// (the current block within the current frame) is corrupt data, so every
// successful frame holds exactly outputLength freshly decoded bytes.
#pragma once

#include <cstdint>

constexpr int kLzxMinWindowBits = 15;
constexpr int kLzxMaxWindowBits = 21;
constexpr std::uint32_t kLzxFrameSize = 32768;

constexpr int kLzxPretreeSymbols = 20;
constexpr int kLzxMainSymbolsMax = 256 + 8 * 50;  // 656
constexpr int kLzxLengthSymbols = 250;             // 249 read, one spare
constexpr int kLzxAlignedSymbols = 8;

// Bits resolved by one look-up in each tree's direct table; longer codes
// continue through the tree nodes stored behind it.
constexpr int kLzxPretreeTableBits = 6;
constexpr int kLzxMainTableBits = 12;
constexpr int kLzxLengthTableBits = 12;
constexpr int kLzxAlignedTableBits = 7;

enum LzxBlockType : std::uint16_t {
    kLzxBlockNone = 0,
    kLzxBlockVerbatim = 1,
    kLzxBlockAligned = 2,
    kLzxBlockUncompressed = 3,
};

enum class LzxResult {
    Ok,
    DataFormat,   // window bits outside 15..21, a frame above 32,768 bytes, a run past the window's end
    IllegalData,  // corrupt data
    NoMemory,     // the window cannot be allocated, or decoding before any initialisation
};

struct LzxDecoder {
    // windowAllocated bytes, then a few bytes of slack that short match
    // copies may touch and that never hold history.
    std::uint8_t* window = nullptr;
    std::uint32_t windowSize = 0;       // 2^windowBits of the current folder
    std::uint32_t windowAllocated = 0;  // size of the buffer, at least windowSize
    std::uint32_t windowPosition = 0;   // where the next decoded byte goes

    std::uint32_t r0 = 1, r1 = 1, r2 = 1;  // the three most recent match offsets
    std::uint16_t mainElements = 0;        // 256 + 8 x position slots

    bool headerRead = false;  // the folder's translation header
    std::uint16_t blockType = kLzxBlockNone;
    std::uint32_t blockLength = 0;
    std::uint32_t blockRemaining = 0;

    std::uint32_t framesRead = 0;
    std::int32_t translationSize = 0;  // 0: the folder is never translated
    std::int32_t translationPosition = 0;
    bool translationStarted = false;

    // Code lengths. The main and length trees are sent as differences from
    // the previous block's lengths, so they outlive the block.
    std::uint8_t pretreeLengths[kLzxPretreeSymbols] = {};
    std::uint8_t mainLengths[kLzxMainSymbolsMax] = {};
    std::uint8_t lengthLengths[kLzxLengthSymbols] = {};
    std::uint8_t alignedLengths[kLzxAlignedSymbols] = {};

    std::uint16_t pretreeTable[(1 << kLzxPretreeTableBits) + 2 * kLzxPretreeSymbols] = {};
    std::uint16_t mainTable[(1 << kLzxMainTableBits) + 2 * kLzxMainSymbolsMax] = {};
    std::uint16_t lengthTable[(1 << kLzxLengthTableBits) + 2 * kLzxLengthSymbols] = {};
    std::uint16_t alignedTable[(1 << kLzxAlignedTableBits) + 2 * kLzxAlignedSymbols] = {};

    std::uint8_t extraBits[52] = {};
    std::uint32_t positionBase[51] = {};
};

// Starts an LZX folder.
LzxResult lzxInitialise(LzxDecoder& decoder, int windowBits);

// input: the frame's inputLength gathered bytes. frame: the frame buffer;
// exactly outputLength (1 to 32,768) bytes are written to its start.
// Corrupt data: an unknown block type, a bad tree, a code that does not
// resolve, input overrun, a match passing its run, an offset beyond the
// window.
LzxResult lzxDecode(LzxDecoder& decoder, const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                    std::uint32_t outputLength);

// Frees the window; the next folder allocates a new one.
void lzxRelease(LzxDecoder& decoder);
