#include "formats/cab/lzx_decoder.h"

#include <cstring>
#include <new>

#include "formats/cab/lzx_huffman.h"

namespace {

// Bytes past the window's end that a short match copy may touch; they are
// never history.
constexpr std::uint32_t kWindowSlack = 16;

// Position slots by window bits 15..21.
constexpr std::uint8_t kPositionSlots[] = {30, 32, 34, 36, 38, 42, 50};

// The frame's input as 16-bit little-endian words, bits taken from the most
// significant end, buffered 64 bits at a time so that one refill serves a
// whole literal or the main and length codes of a match. Past inputLength it
// yields zeros without touching memory (the gathered input's two zero
// bytes); how far it went there is judged by overrun().
struct BitInput {
    const std::uint8_t* input;
    std::uint32_t length;
    std::uint32_t position = 0;  // next byte to load; passes length while zeros are fed
    std::uint32_t start = 0;     // where word loading began
    std::uint64_t bits = 0;      // buffered bits, first at bit 63, zeros below them
    int count = 0;               // number of buffered bits

    BitInput(const std::uint8_t* in, std::uint32_t len) : input(in), length(len) {}

    // Leaves more than 32 bits buffered.
    void refill() {
        if (count > 32) return;
        if (static_cast<std::uint64_t>(position) + 4 <= length) {
            std::uint32_t pair;
            std::memcpy(&pair, input + position, 4);
            // Two little-endian words, the first one's bits first: on a
            // little-endian host that is the loaded value turned by 16.
            pair = toHostLittle(pair);
            pair = pair << 16 | pair >> 16;
            bits |= static_cast<std::uint64_t>(pair) << (32 - count);
            count += 32;
            position += 4;
            return;
        }
        refillNearEnd();
    }
    void refillNearEnd() {
        while (count <= 32) {
            std::uint32_t word = 0;
            if (position < length) {
                word = input[position];
                if (position + 1 < length) word |= static_cast<std::uint32_t>(input[position + 1]) << 8;
            }
            // No cap is needed: every zero word loaded stands for bits taken,
            // and a frame takes a bounded number of bits.
            position += 2;
            bits |= static_cast<std::uint64_t>(word) << (48 - count);
            count += 16;
        }
    }
    static std::uint32_t toHostLittle(std::uint32_t v) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_bswap32(v);
#else
        return v;
#endif
    }
    void drop(int n) {
        bits <<= n;
        count -= n;
    }
    // n in 1..32, at most count.
    std::uint32_t take(int n) {
        const std::uint32_t value = static_cast<std::uint32_t>(bits >> (64 - n));
        drop(n);
        return value;
    }
    // n in 1..17.
    std::uint32_t read(int n) {
        refill();
        return take(n);
    }
    // Bits taken since start.
    std::uint64_t consumed() const { return 8 * static_cast<std::uint64_t>(position - start) - count; }
    // Bits beyond the input's whole words were taken: a trailing odd byte
    // shares its word with the first zero byte, whose bits come first.
    bool overrun() const {
        const std::uint64_t whole = length >= start ? (length - start) / 2 : 0;
        return consumed() > 16 * whole;
    }
    // Byte-wise access for uncompressed blocks: the buffer is discarded.
    void restartAt(std::uint32_t bytePosition) {
        position = bytePosition;
        start = bytePosition;
        bits = 0;
        count = 0;
    }
};

// One code of a table built by lzxBuildTable: a single look-up, or the walk
// through the nodes for the rare code longer than the table's direct bits.
// Returns the symbol, or -1. Needs 16 bits buffered.
inline int decodeSymbol(BitInput& in, const std::uint16_t* table, int tableBits) {
    std::uint32_t entry = table[in.bits >> (64 - tableBits)];
    if ((entry >> kLzxEntryLengthShift) == kLzxNodeLength) {
        const int walked = lzxLookupEntry(table, tableBits, static_cast<std::uint32_t>(in.bits >> 48));
        if (walked < 0) return -1;
        entry = static_cast<std::uint32_t>(walked);
    }
    in.drop(static_cast<int>(entry >> kLzxEntryLengthShift));
    return static_cast<int>(entry & kLzxEntryValueMask);
}

int decodePretree(LzxDecoder& d, BitInput& in) {
    in.refill();
    return decodeSymbol(in, d.pretreeTable, kLzxPretreeTableBits);
}

std::uint32_t readLittle32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Reads lengths[first..last) of one tree through a fresh pretree, each as a
// difference from the length it had in the previous block. A run that would
// reach past last is corrupt data: the table ends there.
LzxResult readLengths(LzxDecoder& d, BitInput& in, std::uint8_t* lengths, int first, int last) {
    for (int i = 0; i < kLzxPretreeSymbols; ++i) d.pretreeLengths[i] = static_cast<std::uint8_t>(in.read(4));
    if (!lzxBuildTable(d.pretreeLengths, kLzxPretreeSymbols, kLzxPretreeTableBits, d.pretreeTable)) {
        return LzxResult::IllegalData;
    }
    int i = first;
    while (i < last) {
        const int z = decodePretree(d, in);
        if (z < 0) return LzxResult::IllegalData;
        if (z <= 16) {
            lengths[i] = static_cast<std::uint8_t>((lengths[i] + 17 - z) % 17);
            ++i;
            continue;
        }
        int run;
        int value = 0;
        if (z == 17) {
            run = 4 + static_cast<int>(in.read(4));
        } else if (z == 18) {
            run = 20 + static_cast<int>(in.read(5));
        } else {
            run = 4 + static_cast<int>(in.read(1));
            const int z2 = decodePretree(d, in);
            if (z2 < 0 || z2 > 16) return LzxResult::IllegalData;
            value = (lengths[i] + 17 - z2) % 17;
        }
        if (run > last - i) return LzxResult::IllegalData;
        std::memset(lengths + i, value, static_cast<std::size_t>(run));
        i += run;
    }
    return in.overrun() ? LzxResult::IllegalData : LzxResult::Ok;
}

LzxResult readBlockHeader(LzxDecoder& d, BitInput& in) {
    if (d.blockType == kLzxBlockUncompressed) {
        // An uncompressed block of odd length is padded to a whole word.
        std::uint32_t next = in.position;
        if (d.blockLength & 1u) ++next;
        in.restartAt(next);
    }
    const std::uint32_t type = in.read(3);
    const std::uint32_t high = in.read(16);
    const std::uint32_t low = in.read(8);
    d.blockType = static_cast<std::uint16_t>(type);
    d.blockLength = high << 8 | low;
    d.blockRemaining = d.blockLength;

    LzxResult result;
    switch (type) {
    case kLzxBlockAligned:
        for (int i = 0; i < kLzxAlignedSymbols; ++i) d.alignedLengths[i] = static_cast<std::uint8_t>(in.read(3));
        if (!lzxBuildTable(d.alignedLengths, kLzxAlignedSymbols, kLzxAlignedTableBits, d.alignedTable)) {
            return LzxResult::IllegalData;
        }
        [[fallthrough]];
    case kLzxBlockVerbatim:
        if ((result = readLengths(d, in, d.mainLengths, 0, 256)) != LzxResult::Ok) return result;
        if ((result = readLengths(d, in, d.mainLengths, 256, d.mainElements)) != LzxResult::Ok) return result;
        if (!lzxBuildTable(d.mainLengths, d.mainElements, kLzxMainTableBits, d.mainTable)) return LzxResult::IllegalData;
        if (d.mainLengths[0xE8] != 0) d.translationStarted = true;
        if ((result = readLengths(d, in, d.lengthLengths, 0, kLzxLengthSymbols - 1)) != LzxResult::Ok) return result;
        if (!lzxBuildTable(d.lengthLengths, kLzxLengthSymbols, kLzxLengthTableBits, d.lengthTable)) {
            return LzxResult::IllegalData;
        }
        return LzxResult::Ok;
    case kLzxBlockUncompressed: {
        d.translationStarted = true;
        // Align to the next word; one that is already aligned skips a whole
        // padding word.
        const std::uint64_t dataStart = in.start + 2 * (in.consumed() / 16 + 1);
        if (dataStart > in.length || in.length - dataStart < 12) return LzxResult::IllegalData;
        const std::uint8_t* const offsets = in.input + dataStart;
        d.r0 = readLittle32(offsets);
        d.r1 = readLittle32(offsets + 4);
        d.r2 = readLittle32(offsets + 8);
        in.restartAt(static_cast<std::uint32_t>(dataStart) + 12);
        return LzxResult::Ok;
    }
    default:
        return LzxResult::IllegalData;
    }
}

// Copies a match of length bytes from offset back, inside the window. The
// destination [position, position + length) lies within the window.
inline void copyMatch(std::uint8_t* window, std::uint32_t windowSize, std::uint32_t position, std::uint32_t offset,
                      std::uint32_t length) {
    std::uint8_t* to = window + position;
    if (position >= offset) {
        const std::uint8_t* from = to - offset;
        if (offset >= length) {
            if (length <= 16) {
                // Apart and short, the common case: one 16-byte copy whose
                // bytes past the match (history still) are put back. Every
                // byte this touches lies below the window's end plus its
                // slack, and the bytes the match needs all precede it.
                std::uint8_t piece[16], after[16];
                std::memcpy(piece, from, 16);
                std::memcpy(after, to + length, 16);
                std::memcpy(to, piece, 16);
                std::memcpy(to + length, after, 16);
            } else {
                std::memcpy(to, from, length);
            }
        } else if (offset >= 8) {
            // Overlapping, at least 8 back: each 8-byte load is complete
            // before the bytes it reads are written. The last piece ends
            // exactly at the match's end (the bytes after it are history)
            // and rewrites some bytes with the values they already hold.
            std::uint32_t i = 0;
            for (; i + 8 <= length; i += 8) {
                std::uint64_t word;
                std::memcpy(&word, from + i, 8);
                std::memcpy(to + i, &word, 8);
            }
            if (i < length) {
                std::uint64_t word;
                std::memcpy(&word, from + length - 8, 8);
                std::memcpy(to + length - 8, &word, 8);
            }
        } else if (offset == 1) {
            std::memset(to, to[-1], length);
        } else {
            // A short pattern repeated: a forward byte copy.
            for (std::uint32_t i = 0; i < length; ++i) to[i] = from[i];
        }
        return;
    }
    // The source starts before the window's start, at its end.
    std::uint32_t source = position + windowSize - offset;
    if (length <= windowSize - source) {
        // The source lies ahead of the destination and is read before it is
        // written over: a forward copy, which memmove does here.
        std::memmove(to, window + source, length);
        return;
    }
    for (std::uint32_t i = 0; i < length; ++i) {
        to[i] = window[source];
        if (++source == windowSize) source = 0;
    }
}

// Decodes the window bytes [windowPosition, end) of a verbatim or aligned
// block. The bit state and repeated offsets live in locals for the loop:
// window stores through a byte pointer would otherwise force them back to
// memory on every byte.
template <bool kAligned>
LzxResult decodeCompressedRun(LzxDecoder& d, BitInput& input, std::uint32_t end) {
    std::uint8_t* const window = d.window;
    const std::uint32_t windowSize = d.windowSize;
    const std::uint16_t* const mainTable = d.mainTable;
    const std::uint16_t* const lengthTable = d.lengthTable;
    const std::uint16_t* const alignedTable = d.alignedTable;
    const std::uint8_t* const extraBits = d.extraBits;
    const std::uint32_t* const positionBase = d.positionBase;
    std::uint32_t r0 = d.r0, r1 = d.r1, r2 = d.r2;
    std::uint32_t position = d.windowPosition;
    BitInput in = input;
    LzxResult result = LzxResult::Ok;

    while (position < end) {
        in.refill();
        const int symbol = decodeSymbol(in, mainTable, kLzxMainTableBits);
        if (symbol < 256) {
            if (symbol < 0) {
                result = LzxResult::IllegalData;
                break;
            }
            window[position++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        const std::uint32_t header = static_cast<std::uint32_t>(symbol - 256) & 7u;
        const std::uint32_t slot = static_cast<std::uint32_t>(symbol - 256) >> 3;
        std::uint32_t length = header + 2;
        if (header == 7) {
            // The refill above left more than 32 bits: room for both codes.
            const int extra = decodeSymbol(in, lengthTable, kLzxLengthTableBits);
            if (extra < 0) {
                result = LzxResult::IllegalData;
                break;
            }
            length += static_cast<std::uint32_t>(extra);
        }

        std::uint32_t offset;
        if (slot == 0) {
            offset = r0;
        } else if (slot == 1) {
            offset = r1;
            r1 = r0;
            r0 = offset;
        } else if (slot == 2) {
            offset = r2;
            r2 = r0;
            r0 = offset;
        } else {
            in.refill();
            const int bits = extraBits[slot];
            std::uint32_t extra = 0;
            if (kAligned && bits >= 3) {
                if (bits > 3) extra = in.take(bits - 3) << 3;
                const int low = decodeSymbol(in, alignedTable, kLzxAlignedTableBits);
                if (low < 0) {
                    result = LzxResult::IllegalData;
                    break;
                }
                extra += static_cast<std::uint32_t>(low);
            } else if (bits > 0) {
                extra = in.take(bits);
            }
            offset = positionBase[slot] - 2 + extra;
            r2 = r1;
            r1 = r0;
            r0 = offset;
        }

        // The match must stay inside the run: past it lies the next block's
        // or the next frame's output, or the window's end.
        if (length > end - position || offset - 1 >= windowSize) {
            result = LzxResult::IllegalData;
            break;
        }
        copyMatch(window, windowSize, position, offset, length);
        position += length;
    }
    d.r0 = r0;
    d.r1 = r1;
    d.r2 = r2;
    d.windowPosition = position;
    input = in;
    if (result != LzxResult::Ok) return result;
    return in.overrun() ? LzxResult::IllegalData : LzxResult::Ok;
}

void translateCalls(LzxDecoder& d, std::uint8_t* frame, std::uint32_t outputLength) {
    const std::uint32_t framesBefore = d.framesRead++;
    if (framesBefore >= 32768 || d.translationSize == 0) return;
    const std::int32_t frameStart = d.translationPosition;
    d.translationPosition = static_cast<std::int32_t>(static_cast<std::uint32_t>(frameStart) + outputLength);
    // Frames of up to ten bytes have nothing to scan (see below).
    if (outputLength <= 10 || !d.translationStarted) return;

    // The last 10 bytes never start a call: a call's operand could reach
    // into the next frame.
    // Every byte moves the position by one, so a call's position is the
    // frame's start plus its index.
    const std::int32_t size = d.translationSize;
    const std::uint32_t scanEnd = outputLength - 10;  // outputLength > 10 here
    std::uint32_t i = 0;
    while (i < scanEnd) {
        const void* hit = std::memchr(frame + i, 0xE8, scanEnd - i);
        if (hit == nullptr) break;
        const std::uint32_t at = static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) - frame);
        const std::int32_t current = static_cast<std::int32_t>(static_cast<std::uint32_t>(frameStart) + at);
        std::uint8_t* operand = frame + at + 1;
        const std::int32_t absolute = static_cast<std::int32_t>(readLittle32(operand));
        if (absolute >= -current && absolute < size) {
            const std::int32_t relative = absolute >= 0 ? absolute - current : absolute + size;
            const std::uint32_t bits = static_cast<std::uint32_t>(relative);
            operand[0] = static_cast<std::uint8_t>(bits);
            operand[1] = static_cast<std::uint8_t>(bits >> 8);
            operand[2] = static_cast<std::uint8_t>(bits >> 16);
            operand[3] = static_cast<std::uint8_t>(bits >> 24);
        }
        i = at + 5;
    }
}

}  // namespace

LzxResult lzxInitialise(LzxDecoder& d, int windowBits) {
    if (windowBits < kLzxMinWindowBits || windowBits > kLzxMaxWindowBits) return LzxResult::DataFormat;
    const std::uint32_t size = 1u << windowBits;
    if (d.windowAllocated < size) {
        lzxRelease(d);
        // Zero-filled: a match reaching before anything was decoded reads
        // defined bytes.
        d.window = new (std::nothrow) std::uint8_t[size + kWindowSlack]();
        if (d.window == nullptr) return LzxResult::NoMemory;
        d.windowAllocated = size;
    }
    d.windowSize = size;

    std::uint8_t step = 0;
    for (int i = 0; i < 52; i += 2) {
        d.extraBits[i] = step;
        d.extraBits[i + 1] = step;
        if (i != 0 && step < 17) ++step;
    }
    d.positionBase[0] = 0;
    for (int i = 0; i < 50; ++i) d.positionBase[i + 1] = d.positionBase[i] + (1u << d.extraBits[i]);

    d.mainElements = static_cast<std::uint16_t>(256 + 8 * kPositionSlots[windowBits - kLzxMinWindowBits]);
    d.r0 = d.r1 = d.r2 = 1;
    d.headerRead = false;
    d.framesRead = 0;
    d.blockRemaining = 0;
    d.blockLength = 0;
    d.blockType = kLzxBlockNone;
    d.translationSize = 0;
    d.translationPosition = 0;
    d.translationStarted = false;
    d.windowPosition = 0;
    std::memset(d.mainLengths, 0, sizeof d.mainLengths);
    std::memset(d.lengthLengths, 0, sizeof d.lengthLengths);
    return LzxResult::Ok;
}

void lzxRelease(LzxDecoder& d) {
    delete[] d.window;
    d.window = nullptr;
    d.windowAllocated = 0;
    d.windowSize = 0;
}

LzxResult lzxDecode(LzxDecoder& d, const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                    std::uint32_t outputLength) {
    if (d.window == nullptr || d.windowSize == 0) return LzxResult::NoMemory;
    if (outputLength > kLzxFrameSize) return LzxResult::DataFormat;
    if (outputLength == 0) return LzxResult::IllegalData;

    BitInput in(input, inputLength);
    if (!d.headerRead) {
        if (in.read(1) != 0) {
            const std::uint32_t high = in.read(16);
            const std::uint32_t low = in.read(16);
            d.translationSize = static_cast<std::int32_t>(high << 16 | low);
        } else {
            d.translationSize = 0;
        }
        d.headerRead = true;
    }

    std::uint32_t togo = outputLength;
    while (togo > 0) {
        if (d.blockRemaining == 0) {
            const LzxResult result = readBlockHeader(d, in);
            if (result != LzxResult::Ok) return result;
        }
        if (in.overrun()) return LzxResult::IllegalData;

        std::uint32_t run = d.blockRemaining < togo ? d.blockRemaining : togo;
        if (run == 0) continue;  // an empty block: the next header follows
        if (d.windowPosition >= d.windowSize) d.windowPosition -= d.windowSize;
        if (d.windowPosition + run > d.windowSize) return LzxResult::DataFormat;
        togo -= run;
        d.blockRemaining -= run;

        if (d.blockType == kLzxBlockUncompressed) {
            if (in.position > inputLength || inputLength - in.position < run) return LzxResult::IllegalData;
            std::memcpy(d.window + d.windowPosition, input + in.position, run);
            in.restartAt(in.position + run);
            d.windowPosition += run;
        } else {
            const std::uint32_t runEnd = d.windowPosition + run;
            const LzxResult result = d.blockType == kLzxBlockAligned ? decodeCompressedRun<true>(d, in, runEnd)
                                                               : decodeCompressedRun<false>(d, in, runEnd);
            if (result != LzxResult::Ok) return result;
        }
    }

    // The frame is the outputLength bytes that end at the window position;
    // they wrap when the frame began near the window's end.
    const std::uint32_t end = d.windowPosition;
    if (end >= outputLength) {
        std::memcpy(frame, d.window + (end - outputLength), outputLength);
    } else {
        const std::uint32_t tail = outputLength - end;
        std::memcpy(frame, d.window + (d.windowSize - tail), tail);
        std::memcpy(frame + tail, d.window, end);
    }
    translateCalls(d, frame, outputLength);
    return LzxResult::Ok;
}
