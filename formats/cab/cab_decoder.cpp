#include "formats/cab/cab_decoder.h"

#include <climits>
#include <cstring>

#include "formats/cab/cab_checksum.h"
#include "formats/cab/cab_messages.h"
#include "formats/cab/cab_reader.h"
#include "formats/cab/mszip_decoder.h"

CabDecoder cabDecoder;

namespace {

constexpr std::size_t kBlockHeaderSize = 8;

CabResult fromMszip(MszipResult result) {
    switch (result) {
    case MszipResult::Ok: return CabResult::Ok;
    case MszipResult::FrameTooLarge: return CabResult::DataFormat;
    case MszipResult::CorruptData: return CabResult::IllegalData;
    case MszipResult::NoMemory: return CabResult::NoMemory;
    }
    return CabResult::IllegalData;
}

CabResult fromLzx(LzxResult result) {
    switch (result) {
    case LzxResult::Ok: return CabResult::Ok;
    case LzxResult::DataFormat: return CabResult::DataFormat;
    case LzxResult::IllegalData: return CabResult::IllegalData;
    case LzxResult::NoMemory: return CabResult::NoMemory;
    }
    return CabResult::IllegalData;
}

CabResult decodeStored(std::uint32_t inputLength, std::uint32_t outputLength) {
    if (inputLength != outputLength) return CabResult::IllegalData;
    std::memcpy(cabDecoder.frame, cabDecoder.input, outputLength);
    return CabResult::Ok;
}

CabResult decodeFrame(std::uint32_t inputLength, std::uint32_t outputLength) {
    switch (cabDecoder.method) {
    case kCabMethodStored: return decodeStored(inputLength, outputLength);
    case kCabMethodMszip:
        return fromMszip(mszipDecode(cabDecoder.input, inputLength, cabDecoder.frame, outputLength));
    case kCabMethodLzx:
        return fromLzx(lzxDecode(cabDecoder.lzx, cabDecoder.input, inputLength, cabDecoder.frame, outputLength));
    default: return CabResult::DataFormat;
    }
}

bool positionAt(std::FILE* file, std::uint64_t position) {
    return position <= static_cast<std::uint64_t>(LONG_MAX) &&
           std::fseek(file, static_cast<long>(position), SEEK_SET) == 0;
}

std::FILE* openPart(const CabFolderPart& part) {
    std::uint64_t length = 0;
    std::FILE* file = openCabinetFile(part.cabinet->path, &length);
    if (file == nullptr) return nullptr;
    if (!positionAt(file, part.position)) {
        std::fclose(file);
        return nullptr;
    }
    return file;
}

// Goes on with the folder's part in the next cabinet of the set.
CabResult nextPart() {
    std::fclose(cabDecoder.file);
    cabDecoder.file = nullptr;
    CabFolder* folder = cabDecoder.folder;
    if (cabDecoder.currentPart >= folder->extraParts) return CabResult::Input;
    const CabFolderPart& part = folder->parts[++cabDecoder.currentPart];
    cabDecoder.file = openPart(part);
    if (cabDecoder.file == nullptr) return CabResult::Input;
    cabDecoder.blocksLeft = part.blockCount;
    return CabResult::Ok;
}

// Gathers one frame from its CFDATA blocks and decodes it into the frame
// buffer. A folder goes on in the next cabinet either inside a block (a
// block of uncompressed size 0 announces it) or between two blocks (its
// blocks in this cabinet are used up). In the last part the block count is
// not needed, so a count that lies there changes nothing; a count of 0
// says nothing, so such a part goes on until a zero-size block.
CabResult nextFrame() {
    CabFolder* folder = cabDecoder.folder;
    std::uint32_t inputLength = 0;
    for (;;) {
        if (cabDecoder.blocksLeft == 0 && folder->parts[cabDecoder.currentPart].blockCount != 0 &&
            cabDecoder.currentPart < folder->extraParts) {
            const CabResult moved = nextPart();
            if (moved != CabResult::Ok) return moved;
            continue;
        }
        const Cabinet* cabinet = folder->parts[cabDecoder.currentPart].cabinet;
        std::uint8_t header[kBlockHeaderSize];
        std::uint8_t reserve[255];
        if (!readCabinetBytes(cabDecoder.file, header, sizeof header, cabinet->path) ||
            (cabinet->blockReserve &&
             !readCabinetBytes(cabDecoder.file, reserve, cabinet->blockReserve, cabinet->path))) {
            return CabResult::Input;
        }
        if (cabDecoder.blocksLeft > 0) --cabDecoder.blocksLeft;
        const std::uint32_t storedChecksum = static_cast<std::uint32_t>(header[0]) | header[1] << 8 |
                                             header[2] << 16 | static_cast<std::uint32_t>(header[3]) << 24;
        const std::uint32_t compressedSize = header[4] | header[5] << 8;
        const std::uint32_t uncompressedSize = header[6] | header[7] << 8;
        if (inputLength + compressedSize > kCabInputCapacity) return CabResult::Input;
        std::uint8_t* data = cabDecoder.input + inputLength;
        if (!readCabinetBytes(cabDecoder.file, data, compressedSize, cabinet->path)) return CabResult::Input;
        data[compressedSize] = 0;
        data[compressedSize + 1] = 0;
        if (storedChecksum != 0 &&
            storedChecksum != cabBlockChecksum(header, reserve, cabinet->blockReserve, data, compressedSize)) {
            return CabResult::Checksum;
        }
        inputLength += compressedSize;
        if (uncompressedSize == 0) {
            const CabResult moved = nextPart();
            if (moved != CabResult::Ok) return moved;
            continue;
        }
        if (uncompressedSize > kCabFrameSize) return CabResult::DataFormat;
        const CabResult result = decodeFrame(inputLength, uncompressedSize);
        if (result != CabResult::Ok) return result;
        cabDecoder.frameReadPosition = 0;
        cabDecoder.frameBytesLeft = uncompressedSize;
        return CabResult::Ok;
    }
}

}  // namespace

void stopCabFolder() {
    if (cabDecoder.file) std::fclose(cabDecoder.file);
    cabDecoder.file = nullptr;
    cabDecoder.folder = nullptr;
}

CabResult startCabFolder(CabFolder* folder) {
    const int method = folder->compressionType & 0x0F;
    if (cabDecoder.method == kCabMethodLzx && method != kCabMethodLzx) lzxRelease(cabDecoder.lzx);
    stopCabFolder();
    cabDecoder.method = method;
    if (method == kCabMethodLzx) {
        const CabResult result = fromLzx(lzxInitialise(cabDecoder.lzx, (folder->compressionType >> 8) & 0x1F));
        if (result != CabResult::Ok) return result;
    } else if (method != kCabMethodStored && method != kCabMethodMszip) {
        return CabResult::DataFormat;
    }
    cabDecoder.file = openPart(folder->parts[0]);
    if (cabDecoder.file == nullptr) return CabResult::Input;
    cabDecoder.folder = folder;
    cabDecoder.produced = 0;
    cabDecoder.frameReadPosition = 0;
    cabDecoder.frameBytesLeft = 0;
    cabDecoder.currentPart = 0;
    cabDecoder.blocksLeft = folder->parts[0].blockCount;
    return CabResult::Ok;
}

CabResult decodeCabFolder(std::uint64_t count, std::FILE* output) {
    while (count > 0) {
        if (cabDecoder.frameBytesLeft == 0) {
            const CabResult result = nextFrame();
            if (result != CabResult::Ok) return result;
        }
        const std::uint32_t take =
            count < cabDecoder.frameBytesLeft ? static_cast<std::uint32_t>(count) : cabDecoder.frameBytesLeft;
        if (output && std::fwrite(cabDecoder.frame + cabDecoder.frameReadPosition, 1, take, output) != take) {
            return CabResult::Output;
        }
        cabDecoder.frameReadPosition += take;
        cabDecoder.frameBytesLeft -= take;
        cabDecoder.produced += take;
        count -= take;
    }
    return CabResult::Ok;
}
