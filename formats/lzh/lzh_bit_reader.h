// The bit reader every bit-coded LZH method shares: most significant bit
// first, never taking more than the member's packed size from the input.
// Past the end it feeds zero bits, and counts them, so that the decoding
// loop can tell a member whose data ran out from one that merely peeks ahead.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class LzhBitReader {
public:
    void start(std::FILE* input, std::uint32_t packedSize);

    // The next 16 bits of the stream, not consumed.
    unsigned peek16() {
        if (held < 16) refill();
        return static_cast<unsigned>(window >> (held - 16)) & 0xFFFFu;
    }
    // Consumes n bits (0 <= n <= 24).
    void skip(int n) {
        if (held < n) refill();
        held -= n;
    }
    // Takes n bits (0 <= n <= 24) as a number.
    unsigned get(int n) {
        if (n == 0) return 0;
        if (held < n) refill();
        held -= n;
        return static_cast<unsigned>(window >> held) & ((1u << n) - 1u);
    }
    // A whole byte for the byte-coded method (lz5), which never mixes it with
    // bit reads.
    unsigned byte() { return nextInputByte(); }

    // More than two bytes' worth of padding consumed: no well-formed member
    // gets here, since its last code ends inside its own data.
    bool ranOut() const { return paddingBytes * 8 > static_cast<std::uint64_t>(held) + 16; }

private:
    void refill();
    unsigned nextInputByte() {
        if (bufferPos < bufferFill) return buffer[bufferPos++];
        return refillBuffer();
    }
    unsigned refillBuffer();

    std::FILE* input = nullptr;
    std::uint32_t packedLeft = 0;
    std::uint64_t window = 0;  // the low `held` bits are the stream's next bits
    int held = 0;
    std::uint64_t paddingBytes = 0;
    std::size_t bufferPos = 0;
    std::size_t bufferFill = 0;
    std::uint8_t buffer[16384];
};
