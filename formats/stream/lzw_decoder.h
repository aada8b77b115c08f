// Adaptive LZW decoding of a Unix compress code stream: the codes behind the
// 3-byte header, 9 to maxWidth bits wide (a maximum of 9 still grows to 10
// once the table is full), packed least significant bit first.
// The code width grows as the table fills; in block mode code 256 clears the
// table. Whenever the width changes, and at every clear code, the encoder
// pads to the end of the current group of 8 codes, so the decoder skips there.
//
// The decoder pulls its input through a read function and hands out output
// in pieces of whatever size the caller asks: one byte at a time gives the
// same bytes as one mebibyte at a time. It allocates nothing after creation;
// the only memory is the one state block below.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads up to capacity bytes into buffer. Returns the count, 0 at the end of
// the input, a negative value on a read error.
using LzwReadFunction = long (*)(void* source, std::uint8_t* buffer, std::size_t capacity);

constexpr int kLzwFirstWidth = 9;
constexpr int kLzwLargestWidth = 16;
constexpr std::size_t kLzwTableSize = std::size_t{1} << kLzwLargestWidth;
// One read of input, and how few unread bytes trigger the next read.
constexpr std::size_t kLzwInputChunk = 65536;
constexpr std::size_t kLzwInputKeep = 64;
// A code is fetched as three bytes at once; the last code may start in the
// final byte, so two bytes of slack keep that fetch inside the buffer.
constexpr std::size_t kLzwInputSlack = 4;

struct LzwDecoder {
    LzwReadFunction read;
    void* source;

    int maxWidth;    // from the header, 9..16
    bool blockMode;  // code 256 clears the table

    // Input window. Its first byte always starts a group of 8 codes of the
    // current width: the window only moves at group boundaries, so the skip
    // to the end of a group can be measured from bitPosition alone.
    std::uint8_t input[kLzwInputChunk + kLzwInputKeep + kLzwInputSlack];
    long inputSize;      // bytes held in input
    long lastReadCount;  // result of the most recent read; <= 0 once the input has ended
    long bitPosition;    // next code starts here (bits from input[0])
    long inputBits;      // codes may be taken while bitPosition is below this

    int codeWidth;
    long widthLimit;    // once nextFree exceeds this, the width grows
    long nextFree;      // table entry the next code defines
    long previousCode;  // -1 before the first code
    int firstByte;      // first byte of the previous expansion

    // Bytes of the last expansion not yet handed out; they lie in stack.
    const std::uint8_t* pending;
    std::size_t pendingLength;

    bool ended;   // every code has been decoded
    bool failed;  // corrupt or truncated data, or a read error

    // Entry c (c >= 257, or 256 without block mode) is the string of entry
    // prefix[c] followed by the byte suffix[c]; prefix[c] < c always, which
    // bounds every expansion by the stack's size.
    std::uint16_t prefix[kLzwTableSize];
    std::uint8_t suffix[kLzwTableSize];
    // Length of entry c's string, so that an expansion can be written
    // straight into the caller's buffer when it fits there.
    std::uint16_t stringLength[kLzwTableSize];
    // An expansion that does not fit is written backwards from the end of
    // the stack and handed out from there.
    std::uint8_t stack[kLzwTableSize];
};

// nullptr when maxWidth is outside 9..16 or memory is short.
LzwDecoder* lzwDecoderCreate(int maxWidth, bool blockMode, LzwReadFunction read, void* source);
void lzwDecoderDestroy(LzwDecoder* decoder);

// Places up to count decoded bytes in out and returns how many. Fewer than
// count only at the end of the data or after a failure (see lzwDecoderFailed);
// once either has happened every further call returns 0.
std::size_t lzwDecode(LzwDecoder* decoder, std::uint8_t* out, std::size_t count);

bool lzwDecoderFailed(const LzwDecoder* decoder);
