// The cabinet reader's one decoding state: the folder being decoded, how far
// its uncompressed stream has been produced, the frame being handed out, and
// the buffers every method shares. Frames are gathered here from CFDATA
// blocks (checksums, blocks continued in the next cabinet) and handed to the
// folder's method routine as an input buffer and a frame length.
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/cab/cab_messages.h"
#include "formats/cab/cab_records.h"
#include "formats/cab/lzx_decoder.h"

// The most compressed data one frame may gather: 32,768 + 6,144.
constexpr std::uint32_t kCabInputCapacity = 38912;
constexpr std::uint32_t kCabFrameSize = 32768;

constexpr int kCabMethodStored = 0;
constexpr int kCabMethodMszip = 1;
constexpr int kCabMethodQuantum = 2;
constexpr int kCabMethodLzx = 3;

struct CabDecoder {
    CabFolder* folder = nullptr;  // none: the next member starts its folder
    std::uint64_t produced = 0;   // bytes of the folder's stream produced so far
    std::uint32_t frameReadPosition = 0;
    std::uint32_t frameBytesLeft = 0;  // of the frame buffer, not yet handed out
    std::uint16_t currentPart = 0;
    std::uint32_t blocksLeft = 0;  // of the folder's blocks in the current part's cabinet
    int method = -1;               // bits 0-3 of the folder's compression type
    std::FILE* file = nullptr;     // the current part's cabinet
    std::uint8_t input[kCabInputCapacity + 2] = {};  // gathered input and its two zero bytes
    // The uncompressed frame; MSZIP takes its history from it, so it is never
    // cleared between frames.
    std::uint8_t frame[kCabFrameSize] = {};
    LzxDecoder lzx;  // its window outlives folders and extractions
};

extern CabDecoder cabDecoder;

// Starts folder: chooses its method, opens its first cabinet and positions
// it. On failure no folder is current.
CabResult startCabFolder(CabFolder* folder);

// Decodes count bytes of the current folder; writes them to output, or
// discards them when output is nullptr.
CabResult decodeCabFolder(std::uint64_t count, std::FILE* output);

// Closes the current part's file; no folder is current afterwards.
void stopCabFolder();
