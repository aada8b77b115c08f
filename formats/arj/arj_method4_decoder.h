// ARJ's fast method (method 4): LZ77 over a 26,624-byte ring with no Huffman
// stage. Every code is a unary prefix followed by that many more bits:
//   length code: up to 7 one-bits (ended by a 0-bit when fewer), w ones, then
//     w bits; c = 2^w - 1 + those bits. c = 0 is a literal of the next 8 bits,
//     otherwise a match of c + 2 bytes;
//   distance code: up to 4 one-bits, k ones, then 9 + k bits;
//     d = 512 * (2^k - 1) + those bits, copying from d + 1 bytes back.
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/lzh/lzh_member_decoder.h"

constexpr std::uint32_t kArjMethod4RingSize = 26624;

// Decodes one member from input, positioned at its first data byte, taking at
// most packedSize bytes from it, into output; yields unpackedSize bytes from
// a well-formed member and never more. The ring starts zeroed, so a distance
// reaching before the first byte written reads zeros. Data that ends before
// the member is whole gives InputEnded, never a run of made-up bytes.
LzhDecodeResult decodeArjMethod4(std::FILE* input, std::uint32_t packedSize, LzhSink& output,
                                 std::uint32_t unpackedSize);
