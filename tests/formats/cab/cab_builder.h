// A cabinet writer for the tests: folders of stored or MSZIP data (MSZIP
// frames by zlib, each primed with the previous frame as its dictionary),
// optional checksums and reserves, and sets whose one folder is split across
// cabinets, with blocks cut between cabinets where the test asks.
// Its layout was checked against peers: 7zz extracts its MSZIP sets (blocks
// cut across cabinets) byte for byte, and 7zz and bsdtar accept its block
// checksums with per-block reserves and reject them when a reserve byte
// changes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace cab_testing {

struct Member {
    std::string name;
    std::string data;
};

struct Folder {
    std::uint16_t compressionType = 0;  // 0 stored, 1 MSZIP; others written as stored bytes
    std::vector<Member> members;
};

struct Options {
    bool checksums = true;
    std::uint8_t minorVersion = 3;
    std::uint8_t majorVersion = 1;
    bool reserve = false;  // writes the reserve sizes below, with flag 0x0004
    std::uint16_t headerReserve = 0;
    std::uint8_t folderReserve = 0;
    std::uint8_t blockReserve = 0;
    // Entry order of the members (indices into the folders' members taken in
    // order); empty: as given.
    std::vector<int> entryOrder;
};

// The CFDATA blocks of one folder: compressed bytes and uncompressed size.
struct Block {
    std::string data;
    std::uint16_t uncompressedSize;
};
std::vector<Block> makeBlocks(std::uint16_t compressionType, const std::string& stream);

// One complete cabinet.
std::string buildCabinet(const std::vector<Folder>& folders, const Options& options = Options());

// Where a set's cabinet ends: before byte `cut` of block `block`'s data
// (cut 0: between blocks; otherwise the block is split and its first piece
// announces that it goes on in the next cabinet).
struct Split {
    std::size_t block;
    std::size_t cut;
};

// One folder split across splits.size() + 1 cabinets named names[i] (each
// names the next one); returns the cabinets' bytes.
std::vector<std::string> buildSet(const Folder& folder, const std::vector<Split>& splits,
                                  const std::vector<std::string>& names, const Options& options = Options());

std::uint32_t checksum(const std::string& bytes, std::uint32_t seed);

}  // namespace cab_testing
