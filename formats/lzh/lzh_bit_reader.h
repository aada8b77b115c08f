// The bit reader every bit-coded LZH method shares: most significant bit
// first, never taking more than the member's packed size from the input.
// Past the end it feeds zero bits, and counts them, so that the decoding
// loop can tell a member whose data ran out from one that merely peeks ahead.
//
// The position in the stream is a small Cursor so that the hot decoding loop
// can keep it in local variables (stores into the ring through a byte
// pointer would otherwise force it back to memory after every byte) and hand
// it back to the reader only around the rare slow steps.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class LzhBitReader {
public:
    LzhBitReader() = default;
    // The cursor points into this reader's own buffer.
    LzhBitReader(const LzhBitReader&) = delete;
    LzhBitReader& operator=(const LzhBitReader&) = delete;

    struct Cursor {
        std::uint64_t window;        // the low `held` bits are the stream's next bits
        int held;
        const std::uint8_t* next;    // unread bytes of the input buffer
        const std::uint8_t* end;
    };

    // Tops a cursor holding at most 55 bits up to at least 56 from a buffer
    // that still has eight bytes; false (nothing taken) when it has fewer.
    static bool fastRefill(Cursor& c) {
        if (c.end - c.next < 8) return false;
        const std::uint8_t* p = c.next;
        const std::uint64_t word = (static_cast<std::uint64_t>(p[0]) << 56) |
                                   (static_cast<std::uint64_t>(p[1]) << 48) |
                                   (static_cast<std::uint64_t>(p[2]) << 40) |
                                   (static_cast<std::uint64_t>(p[3]) << 32) |
                                   (static_cast<std::uint64_t>(p[4]) << 24) |
                                   (static_cast<std::uint64_t>(p[5]) << 16) |
                                   (static_cast<std::uint64_t>(p[6]) << 8) | static_cast<std::uint64_t>(p[7]);
        // Whole bytes only, as many as fit below bit 64: 1 to 7 of them.
        const int take = (63 - c.held) >> 3;
        c.window = (c.window << (8 * take)) | (word >> (64 - 8 * take));
        c.held += 8 * take;
        c.next += take;
        return true;
    }
    static unsigned peek16(const Cursor& c) {
        return static_cast<unsigned>(c.window >> (c.held - 16)) & 0xFFFFu;
    }

    void start(std::FILE* input, std::uint32_t packedSize);

    // The next 16 bits of the stream, not consumed.
    unsigned peek16() {
        if (cursor.held < 16) refill();
        return peek16(cursor);
    }
    // Consumes n bits (0 <= n <= 24).
    void skip(int n) {
        if (cursor.held < n) refill();
        cursor.held -= n;
    }
    // Takes n bits (0 <= n <= 24) as a number.
    unsigned get(int n) {
        if (n == 0) return 0;
        if (cursor.held < n) refill();
        cursor.held -= n;
        return static_cast<unsigned>(cursor.window >> cursor.held) & ((1u << n) - 1u);
    }
    // A whole byte for the byte-coded method (lz5), which never mixes it with
    // bit reads.
    unsigned byte() {
        if (cursor.next < cursor.end) return *cursor.next++;
        return refillBuffer();
    }

    // Tops the held bits (at most 55) up to 56 or more, with zero bits past
    // the end.
    void refill() {
        if (!fastRefill(cursor)) slowRefill();
    }

    // More than two bytes' worth of padding consumed: no well-formed member
    // gets here, since its last code ends inside its own data.
    bool ranOut() const { return paddingBytes * 8 > static_cast<std::uint64_t>(cursor.held) + 16; }
    bool ranOut(const Cursor& c) const { return paddingBytes * 8 > static_cast<std::uint64_t>(c.held) + 16; }
    // Whether any padding was fed yet (before that, ranOut() is false).
    bool padded() const { return paddingBytes != 0; }

    // The position, for a loop that keeps it locally; hand it back with
    // restore() before calling anything else of this reader.
    Cursor save() const { return cursor; }
    void restore(const Cursor& c) { cursor = c; }

private:
    void slowRefill();
    unsigned refillBuffer();

    static constexpr std::size_t kBufferSize = 65536;

    std::FILE* input = nullptr;
    std::uint32_t packedLeft = 0;
    Cursor cursor = {0, 0, buffer, buffer};
    std::uint64_t paddingBytes = 0;
    std::uint8_t buffer[kBufferSize];
};
