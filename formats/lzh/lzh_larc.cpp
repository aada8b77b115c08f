// lzs and lz5: the two methods of the older LArc archiver. Both send an
// absolute ring position rather than a distance; lz5 starts from a ring
// preset with runs and sequences that early matches may refer to.
#include <cstring>

#include "formats/lzh/lzh_decoder_state.h"

namespace lzh {

namespace {
constexpr std::uint32_t kLzsRingMask = 0x7FF;
constexpr std::uint32_t kLz5RingMask = 0xFFF;
}  // namespace

void startLzs(DecoderState& s) {
    s.matchPos = 0;
}

unsigned lzsDecodeChar(DecoderState& s) {
    if (s.bits.get(1)) return s.bits.get(8);
    s.matchPos = s.bits.get(11);
    return s.bits.get(4) + 256;
}

unsigned lzsDecodePosition(DecoderState& s) {
    // The copy starts at ring position matchPos + 17.
    return (s.ringPos - s.matchPos - 18) & kLzsRingMask;
}

void startLz5(DecoderState& s, std::uint8_t* ring) {
    s.lz5FlagCount = 0;
    s.matchPos = 0;
    // The ring opens with 18 zero bytes, then 13 of each byte value.
    std::memset(ring, 0, 18);
    for (int value = 0; value < 256; ++value) {
        std::memset(ring + 18 + 13 * value, value, 13);
    }
    for (int i = 0; i < 256; ++i) {
        ring[3346 + i] = static_cast<std::uint8_t>(i);
        ring[3602 + i] = static_cast<std::uint8_t>(255 - i);
    }
    std::memset(ring + 3858, 0, 128);
}

unsigned lz5DecodeChar(DecoderState& s) {
    if (s.lz5FlagCount == 0) {
        s.lz5Flags = s.bits.byte();
        s.lz5FlagCount = 8;
    }
    const bool literal = (s.lz5Flags & 1u) != 0;
    s.lz5Flags >>= 1;
    --s.lz5FlagCount;
    const unsigned first = s.bits.byte();
    if (literal) return first;
    const unsigned second = s.bits.byte();
    s.matchPos = first | ((second & 0xF0u) << 4);
    return (second & 0x0Fu) + 256;
}

unsigned lz5DecodePosition(DecoderState& s) {
    // The copy starts at ring position matchPos + 18.
    return (s.ringPos - s.matchPos - 19) & kLz5RingMask;
}

}  // namespace lzh
