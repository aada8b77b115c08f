// The MSZIP method of cabinet folders: each frame is a raw deflate stream
// (RFC 1951) behind the two bytes "CK", decoded by zlib into the frame
// buffer. The history runs on from frame to frame: before each frame the
// inflater is primed with the whole 32 KiB frame buffer, which still holds
// the previous frame's output, so a back-reference that reaches before the
// frame's start reads, modulo 32,768, what the previous frame left there.
//
// State: one zlib inflater for the whole process, allocated on first use
// and reset (not reallocated) for every frame; nothing of a frame survives
// into the next but the frame buffer itself.
#pragma once

#include <cstdint>

constexpr std::uint32_t kMszipFrameSize = 32768;

enum class MszipResult {
    Ok,
    FrameTooLarge,  // more than 32,768 bytes asked for
    CorruptData,    // no "CK", bad deflate data, or a frame shorter or longer than asked
    NoMemory,       // the inflater could not be allocated
};

// input: inputLength bytes followed by two zero bytes (the inflater may take
// those two, never more). frame: the 32,768-byte frame buffer holding the
// previous frame's output. Writes exactly outputLength bytes to its start.
MszipResult mszipDecode(const std::uint8_t* input, std::uint32_t inputLength, std::uint8_t* frame,
                        std::uint32_t outputLength);
