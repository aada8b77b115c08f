// The one cabinet writer of the tests and tools: folders of stored or MSZIP
// data (MSZIP frames by zlib, each primed with the previous frame as its
// dictionary) or of blocks made elsewhere (LZX), optional checksums and
// reserves, and sets whose one folder is split across cabinets, between
// blocks or inside them. 7zz extracts its MSZIP sets byte for byte, and 7zz
// and bsdtar accept its checksums with per-block reserves.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cab_testing {

struct Member {
    std::string name;
    std::string data;
};

// One CFDATA block: compressed bytes and uncompressed size.
struct Block {
    std::string data;
    std::uint16_t uncompressedSize;
};

struct Folder {
    std::uint16_t compressionType = 0;  // 0 stored, 1 MSZIP; any other type takes `blocks` as given
    std::vector<Member> members;        // back to back in the folder's stream
    std::vector<Block> blocks;          // for types other than 0 and 1
};

struct Options {
    bool checksums = true;
    std::uint8_t minorVersion = 3;
    bool reserve = false;  // writes the reserve sizes below, with flag 0x0004
    std::uint16_t headerReserve = 0;
    std::uint8_t folderReserve = 0;
    std::uint8_t blockReserve = 0;
    std::vector<int> entryOrder;  // indices into all members in folder order; empty: as given
    int blockCountBias = 0;       // added to every CFFOLDER block count (hostile sets)
};

std::string buildCabinet(const std::vector<Folder>& folders, const Options& options = Options());

// Where a set's cabinet ends: before byte `cut` of block `block` (0: between
// blocks; otherwise the block's first piece announces that it goes on).
struct Split {
    std::size_t block;
    std::size_t cut;
};

// One folder across splits.size() + 1 cabinets named names[i].
std::vector<std::string> buildSet(const Folder& folder, const std::vector<Split>& splits,
                                  const std::vector<std::string>& names, const Options& options = Options());

// The first folder of a one-cabinet file: its type, its blocks and its
// members, each member's bytes given by contentOf(name).
Folder readFolder(const std::string& cab, std::string (*contentOf)(const std::string& name));

}  // namespace cab_testing
