// The records of one cabinet extraction: the cabinets of the set, their
// folders (compressed streams, possibly joined across cabinets) and their
// members. They live for one extract call.
#pragma once

#include <cstdint>

#include "core/extraction_driver.h"

// A folder may span at most this many cabinets.
constexpr int kCabSplitMax = 10;

constexpr std::uint16_t kCabFlagPrevious = 0x0001;
constexpr std::uint16_t kCabFlagNext = 0x0002;
constexpr std::uint16_t kCabFlagReserve = 0x0004;

constexpr std::uint16_t kCabContinuedFromPrevious = 0xFFFD;
constexpr std::uint16_t kCabContinuedToNext = 0xFFFE;
constexpr std::uint16_t kCabContinuedBoth = 0xFFFF;

struct Cabinet;
struct CabFile;

struct CabFolderPart {
    Cabinet* cabinet;
    std::uint64_t position;    // absolute offset of the folder's data in that cabinet's file
    std::uint16_t blockCount;  // CFDATA blocks of the folder in that cabinet
};

struct CabFolder {
    CabFolder* next = nullptr;  // the following folder of the same cabinet
    CabFolderPart parts[kCabSplitMax] = {};
    std::uint8_t extraParts = 0;  // parts beyond the first
    std::uint16_t compressionType = 0;
    CabFile* continuation = nullptr;  // the member that goes on into the next cabinet
};

// What became of a member entry while the member list was built.
enum class CabEntryState : std::uint8_t {
    Unseen,
    Listed,      // extracted through its folder
    Continuing,  // goes on into the next cabinet: extracted from its entry there
    Joined,      // a continuing entry whose later part was found and joined
    Dropped,     // cannot be extracted
};

struct CabFile {
    CabFile* nextListed = nullptr;
    CabFolder* folder = nullptr;
    char* name = nullptr;
    std::uint32_t length = 0;
    std::uint32_t offset = 0;  // of its first byte in the folder's uncompressed stream
    std::uint16_t folderIndex = 0;
    std::uint16_t date = 0;
    std::uint16_t time = 0;
    std::uint16_t attributes = 0;
    CabEntryState state = CabEntryState::Unseen;
};

struct Cabinet {
    char path[kArchivePathCapacity] = {};
    std::uint64_t fileLength = 0;
    Cabinet* previous = nullptr;
    Cabinet* next = nullptr;
    char* previousName = nullptr;
    char* previousDisk = nullptr;
    char* nextName = nullptr;
    char* nextDisk = nullptr;
    CabFolder* folders = nullptr;  // array of folderCount, linked in entry order
    std::uint16_t folderCount = 0;
    CabFile* files = nullptr;  // array of fileCount
    std::uint16_t fileCount = 0;
    std::uint8_t blockReserve = 0;
    std::uint16_t flags = 0;

    Cabinet() = default;
    Cabinet(const Cabinet&) = delete;
    Cabinet& operator=(const Cabinet&) = delete;
    ~Cabinet();
};

struct CabSet {
    Cabinet* first = nullptr;
    CabFile* members = nullptr;  // the member list, in extraction order
    // Set when a cabinet of the chain could not be loaded or a member entry
    // cannot be extracted: the extraction then reports failure.
    bool incomplete = false;

    CabSet() = default;
    CabSet(const CabSet&) = delete;
    CabSet& operator=(const CabSet&) = delete;
    ~CabSet();
};
