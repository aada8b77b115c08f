// The MSZIP method of cabinet folders: each frame is a deflate stream behind
// the two bytes "CK", decoded into the frame buffer, which doubles as the
// 32 KiB deflate window. A back-reference that reaches before the frame's
// start reads, modulo 32,768, what the previous frame left in the buffer, so
// the history runs on from frame to frame without being copied.
//
// State: none survives a call. The bit reader (input position, a 64-bit bit
// buffer filled least significant bit first, its bit count) and the output
// position are reset at the start of every frame; the Huffman tables of a
// block are rebuilt for each block in fixed arrays, so decoding allocates
// nothing.
#pragma once

#include <cstdint>

constexpr std::uint32_t kMszipFrameSize = 32768;

// input: inputLength bytes followed by two zero bytes (the reader may take
// those two, never more). frame: the 32,768-byte frame buffer holding the
// previous frame's output. Writes exactly outputLength bytes to its start.
// Returns 0 on success, 1 when outputLength exceeds 32,768, 2 for corrupt
// data, including a frame that ends before outputLength bytes were produced
// or that would produce more.
int mszipDecode(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                std::uint32_t outputLength);
