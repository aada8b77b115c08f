#include "formats/arj/arj_method4_decoder.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// A most-significant-bit-first reader over the member's packed bytes. Past
// them it feeds zero bytes and counts them, so that the decoder can tell a
// member whose data ran out from one whose last code merely ends near it.
class FastBitReader {
public:
    void start(std::FILE* stream, std::uint32_t packedSize) {
        input = stream;
        packedLeft = packedSize;
        window = 0;
        held = 0;
        paddingBytes = 0;
        bufferPos = bufferFill = 0;
    }

    // At least 57 bits held afterwards: one whole length and distance code.
    void refill() {
        while (held <= 56) {
            if (bufferPos == bufferFill && !fillBuffer()) {
                window <<= 8;
                ++paddingBytes;
            } else {
                window = (window << 8) | buffer[bufferPos++];
            }
            held += 8;
        }
    }
    // The next 16 bits, not consumed; needs held >= 16.
    unsigned peek16() const { return static_cast<unsigned>(window >> (held - 16)) & 0xFFFFu; }
    void skip(int n) { held -= n; }
    // n bits (0..16) as a number; needs held >= n.
    unsigned take(int n) {
        held -= n;
        return static_cast<unsigned>(window >> held) & ((1u << n) - 1u);
    }
    // True once a padding bit has been consumed: the codes ran past the data.
    bool ranOut() const { return paddingBytes * 8 > static_cast<std::uint64_t>(held); }

private:
    bool fillBuffer() {
        if (packedLeft == 0) return false;
        const std::size_t want = packedLeft < sizeof buffer ? packedLeft : sizeof buffer;
        const std::size_t got = std::fread(buffer, 1, want, input);
        if (got == 0) {
            // The archive ends before the member's data does.
            packedLeft = 0;
            return false;
        }
        packedLeft -= static_cast<std::uint32_t>(got);
        bufferPos = 0;
        bufferFill = got;
        return true;
    }

    std::FILE* input = nullptr;
    std::uint32_t packedLeft = 0;
    std::uint64_t window = 0;  // the low `held` bits are the stream's next bits
    int held = 0;
    std::uint64_t paddingBytes = 0;
    std::size_t bufferPos = 0;
    std::size_t bufferFill = 0;
    std::uint8_t buffer[32768];
};

// Leading one-bits of the top `limit` bits of a 16-bit value.
inline int leadingOnes(unsigned bits16, int limit) {
    int ones = 0;
    while (ones < limit && (bits16 & (0x8000u >> ones))) ++ones;
    return ones;
}

// Kept from member to member, so that an archive of many small members
// allocates and clears them once.
struct Workspace {
    FastBitReader bits;
    std::uint8_t ring[kArjMethod4RingSize];
    // ring[0 .. dirtyEnd) may hold an earlier member's bytes.
    std::uint32_t dirtyEnd = kArjMethod4RingSize;
};

// One per thread, made on first use; null when there is no memory for it.
Workspace* workspace() {
    thread_local std::unique_ptr<Workspace> kept;
    if (!kept) kept.reset(new (std::nothrow) Workspace());
    return kept.get();
}

}  // namespace

LzhDecodeResult decodeArjMethod4(std::FILE* input, std::uint32_t packedSize, LzhSink& output,
                                 std::uint32_t unpackedSize) {
    if (unpackedSize == 0) return LzhDecodeResult::Done;
    Workspace* work = workspace();
    if (work == nullptr) return LzhDecodeResult::OutOfMemory;
    // Every member starts from a zeroed ring, whatever the one before wrote.
    std::memset(work->ring, 0, work->dirtyEnd);
    std::uint8_t* const ring = work->ring;
    FastBitReader& in = work->bits;
    in.start(input, packedSize);
    // A match writes no further than the member's size, and after a wrap
    // the whole ring is written.
    work->dirtyEnd = unpackedSize < kArjMethod4RingSize ? unpackedSize : kArjMethod4RingSize;

    std::uint32_t pos = 0;
    std::uint32_t left = unpackedSize;
    LzhDecodeResult result = LzhDecodeResult::Done;
    while (left > 0) {
        in.refill();
        // Length code (at most 14 bits) and, for a match, distance code (at
        // most 17): both fit in the 57 bits one refill gives.
        const int w = leadingOnes(in.peek16(), 7);
        in.skip(w < 7 ? w + 1 : 7);
        const unsigned c = ((1u << w) - 1u) + in.take(w);
        if (c == 0) {
            ring[pos] = static_cast<std::uint8_t>(in.take(8));
            if (in.ranOut()) {
                result = LzhDecodeResult::InputEnded;
                break;
            }
            --left;
            if (++pos == kArjMethod4RingSize) {
                if (!output.write(ring, kArjMethod4RingSize)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
            continue;
        }
        const int k = leadingOnes(in.peek16(), 4);
        in.skip(k < 4 ? k + 1 : 4);
        const std::uint32_t distance = 512u * ((1u << k) - 1u) + in.take(9 + k);
        if (in.ranOut()) {
            result = LzhDecodeResult::InputEnded;
            break;
        }
        // The member never grows past its stated size, even when its last
        // match is longer than what is left.
        std::uint32_t length = c + 2;
        if (length > left) length = left;
        left -= length;
        // distance < 16,384 < the ring, so one wrap at most.
        std::uint32_t from = pos > distance ? pos - distance - 1 : pos + kArjMethod4RingSize - distance - 1;
        if (from + length <= kArjMethod4RingSize && pos + length <= kArjMethod4RingSize) {
            std::uint8_t* to = ring + pos;
            const std::uint8_t* source = ring + from;
            if (distance + 1 >= length) {
                std::memcpy(to, source, length);
            } else {
                // Overlapping: each byte may be one this match just wrote.
                for (std::uint32_t i = 0; i < length; ++i) to[i] = source[i];
            }
            pos += length;
            if (pos == kArjMethod4RingSize) {
                if (!output.write(ring, kArjMethod4RingSize)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
            continue;
        }
        while (length-- > 0) {
            ring[pos] = ring[from];
            if (++from == kArjMethod4RingSize) from = 0;
            if (++pos == kArjMethod4RingSize) {
                if (!output.write(ring, kArjMethod4RingSize)) return LzhDecodeResult::WriteFailed;
                pos = 0;
            }
        }
    }
    if (pos > 0 && !output.write(ring, pos)) return LzhDecodeResult::WriteFailed;
    return result;
}
