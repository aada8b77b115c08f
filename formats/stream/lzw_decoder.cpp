#include "formats/stream/lzw_decoder.h"

#include <cstring>
#include <new>

namespace {

constexpr long kClearCode = 256;

// The limit at the first width is always 511, whatever the maximum: with a
// maximum of 9 the width still grows to 10 once the table is full, as the
// encoder counts it; the table itself never grows past 2^maxWidth entries.
constexpr long kFirstWidthLimit = (1L << kLzwFirstWidth) - 1;

long limitAfterGrowth(int codeWidth, int maxWidth) {
    return codeWidth == maxWidth ? (1L << maxWidth) : (1L << codeWidth) - 1;
}

long roundUpToGroup(long bitPosition, int codeWidth) {
    const long groupBits = 8L * codeWidth;
    return (bitPosition + groupBits - 1) / groupBits * groupBits;
}

// Moves the unread input to the front of the window and reads more when
// little is left. Called only at group boundaries (see LzwDecoder::input).
void refill(LzwDecoder* d) {
    long offset = d->bitPosition >> 3;
    // A group skip may point past the buffered bytes only at the very end
    // of the data, where nothing remains to be kept.
    if (offset > d->inputSize) offset = d->inputSize;
    const long keep = d->inputSize - offset;
    if (keep > 0 && offset > 0) std::memmove(d->input, d->input + offset, static_cast<std::size_t>(keep));
    d->inputSize = keep;
    d->bitPosition = 0;
    if (keep < static_cast<long>(kLzwInputKeep) && d->lastReadCount > 0) {
        long got = d->read(d->source, d->input + keep, kLzwInputChunk);
        if (got < 0) {
            d->failed = true;
            got = 0;
        }
        if (got > static_cast<long>(kLzwInputChunk)) got = static_cast<long>(kLzwInputChunk);
        d->lastReadCount = got;
        d->inputSize += got;
    }
    // While more input may follow, only whole groups are taken, so the
    // window's start stays on a group boundary.
    if (d->lastReadCount > 0) {
        d->inputBits = (d->inputSize - d->inputSize % d->codeWidth) * 8;
    } else {
        d->inputBits = d->inputSize * 8 - d->codeWidth + 1;
    }
}

}  // namespace

LzwDecoder* lzwDecoderCreate(int maxWidth, bool blockMode, LzwReadFunction read, void* source) {
    if (maxWidth < kLzwFirstWidth || maxWidth > kLzwLargestWidth || read == nullptr) return nullptr;
    LzwDecoder* d = new (std::nothrow) LzwDecoder;
    if (d == nullptr) return nullptr;
    d->read = read;
    d->source = source;
    d->maxWidth = maxWidth;
    d->blockMode = blockMode;
    d->inputSize = 0;
    // Positive so that the first refill reads.
    d->lastReadCount = 1;
    d->bitPosition = 0;
    d->inputBits = 0;
    d->codeWidth = kLzwFirstWidth;
    d->widthLimit = kFirstWidthLimit;
    d->nextFree = blockMode ? kClearCode + 1 : kClearCode;
    d->previousCode = -1;
    d->firstByte = 0;
    d->pending = nullptr;
    d->pendingLength = 0;
    d->ended = false;
    d->failed = false;
    // Only the byte entries need values: every other entry is defined before
    // a code may name it (a code above the next free one is refused), so the
    // 64 Ki-entry tables are not swept on every open.
    for (std::size_t i = 0; i < 256; ++i) {
        d->prefix[i] = 0;
        d->suffix[i] = static_cast<std::uint8_t>(i);
        d->stringLength[i] = 1;
    }
    std::memset(d->input, 0, sizeof d->input);
    return d;
}

void lzwDecoderDestroy(LzwDecoder* decoder) { delete decoder; }

bool lzwDecoderFailed(const LzwDecoder* decoder) { return decoder->failed; }

std::size_t lzwDecode(LzwDecoder* d, std::uint8_t* out, std::size_t count) {
    std::size_t produced = 0;
    if (d->pendingLength > 0) {
        const std::size_t n = d->pendingLength < count ? d->pendingLength : count;
        std::memcpy(out, d->pending, n);
        d->pending += n;
        d->pendingLength -= n;
        produced = n;
    }
    if (produced == count || d->ended || d->failed) return produced;

    // The hot state lives in locals and is stored back on every way out.
    const std::uint8_t* const input = d->input;
    std::uint16_t* const prefix = d->prefix;
    std::uint8_t* const suffix = d->suffix;
    std::uint16_t* const stringLength = d->stringLength;
    std::uint8_t* const stackEnd = d->stack + kLzwTableSize;
    const long tableLimit = 1L << d->maxWidth;
    const bool blockMode = d->blockMode;
    long bitPosition = d->bitPosition;
    long inputBits = d->inputBits;
    int codeWidth = d->codeWidth;
    unsigned long codeMask = (1UL << codeWidth) - 1;
    long widthLimit = d->widthLimit;
    long nextFree = d->nextFree;
    long previousCode = d->previousCode;
    int firstByte = d->firstByte;

    auto refillAt = [&](long position) {
        d->bitPosition = position;
        d->codeWidth = codeWidth;
        refill(d);
        bitPosition = d->bitPosition;
        inputBits = d->inputBits;
    };

    while (produced < count) {
        if (bitPosition >= inputBits) {
            if (d->lastReadCount <= 0 || d->failed) {
                d->ended = true;
                // An encoder pads only the last byte; eight or more bits that
                // do not make a whole code mean the input was cut inside one.
                if (d->inputSize * 8 - bitPosition >= 8) d->failed = true;
                break;
            }
            refillAt(bitPosition);
            continue;
        }
        if (nextFree > widthLimit) {
            const long skipped = roundUpToGroup(bitPosition, codeWidth);
            ++codeWidth;
            codeMask = (1UL << codeWidth) - 1;
            widthLimit = limitAfterGrowth(codeWidth, d->maxWidth);
            refillAt(skipped);
            continue;
        }

        const std::uint8_t* p = input + (bitPosition >> 3);
        const unsigned long bits = static_cast<unsigned long>(p[0]) |
                                   (static_cast<unsigned long>(p[1]) << 8) |
                                   (static_cast<unsigned long>(p[2]) << 16);
        long code = static_cast<long>((bits >> (bitPosition & 7)) & codeMask);
        bitPosition += codeWidth;

        if (previousCode < 0) {
            // Nothing is defined yet, so the first code must be a byte.
            if (code > 0xFF) {
                d->failed = true;
                break;
            }
            out[produced++] = static_cast<std::uint8_t>(code);
            previousCode = code;
            firstByte = static_cast<int>(code);
            continue;
        }
        if (code == kClearCode && blockMode) {
            // Entry 256 is redefined (harmlessly) by the next code, as the
            // encoder counts it; it is never referenced.
            nextFree = kClearCode;
            const long skipped = roundUpToGroup(bitPosition, codeWidth);
            codeWidth = kLzwFirstWidth;
            codeMask = (1UL << codeWidth) - 1;
            widthLimit = kFirstWidthLimit;
            refillAt(skipped);
            continue;
        }
        // LZW codes must not exceed the next free code; once the table is
        // full, the next free code names an entry that never comes.
        if (code > nextFree || (code == nextFree && nextFree >= tableLimit)) {
            d->failed = true;
            break;
        }

        const long codeRead = code;
        const std::size_t room = count - produced;
        std::size_t length;
        int lastByte = -1;
        if (code == nextFree) {
            // The string being defined: the previous string and its own first byte.
            lastByte = firstByte;
            code = previousCode;
            length = static_cast<std::size_t>(stringLength[code]) + 1;
        } else {
            length = stringLength[code];
        }
        if (length <= room) {
            // Written straight into place, back to front.
            std::uint8_t* write = out + produced + length - 1;
            if (lastByte >= 0) *write-- = static_cast<std::uint8_t>(lastByte);
            while (code > 0xFF) {
                *write-- = suffix[code];
                code = prefix[code];
            }
            *write = static_cast<std::uint8_t>(code);
            produced += length;
        } else {
            // Does not fit: expanded into the stack, the rest handed out later.
            std::uint8_t* sp = stackEnd;
            if (lastByte >= 0) *--sp = static_cast<std::uint8_t>(lastByte);
            while (code > 0xFF) {
                *--sp = suffix[code];
                code = prefix[code];
            }
            *--sp = static_cast<std::uint8_t>(code);
            std::memcpy(out + produced, sp, room);
            produced = count;
            d->pending = sp + room;
            d->pendingLength = length - room;
        }
        firstByte = static_cast<int>(code);

        if (nextFree < tableLimit) {
            // Keeps prefix[c] < c, so no chain can loop or outgrow the stack.
            // Entry 256 after a clear is the exception; it is never expanded.
            if (previousCode >= nextFree && nextFree != kClearCode) {
                d->failed = true;
                break;
            }
            prefix[nextFree] = static_cast<std::uint16_t>(previousCode);
            suffix[nextFree] = static_cast<std::uint8_t>(firstByte);
            stringLength[nextFree] = static_cast<std::uint16_t>(stringLength[previousCode] + 1);
            ++nextFree;
        }
        previousCode = codeRead;
    }

    d->bitPosition = bitPosition;
    d->inputBits = inputBits;
    d->codeWidth = codeWidth;
    d->widthLimit = widthLimit;
    d->nextFree = nextFree;
    d->previousCode = previousCode;
    d->firstByte = firstByte;
    return produced;
}
