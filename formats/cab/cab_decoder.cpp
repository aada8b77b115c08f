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

int decodeStored(std::uint32_t inputLength, std::uint32_t outputLength) {
    if (inputLength != outputLength) return kCabIllegalData;
    std::memcpy(cabDecoder.frame, cabDecoder.input, outputLength);
    return kCabOk;
}

int decodeFrame(std::uint32_t inputLength, std::uint32_t outputLength) {
    switch (cabDecoder.method) {
    case kCabMethodStored: return decodeStored(inputLength, outputLength);
    case kCabMethodMszip: return mszipDecode(cabDecoder.input, inputLength, cabDecoder.frame, outputLength);
    case kCabMethodLzx:
        return lzxDecode(cabDecoder.lzx, cabDecoder.input, inputLength, cabDecoder.frame, outputLength);
    default: return kCabDataFormat;
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

// Gathers one frame from its CFDATA blocks and decodes it into the frame
// buffer.
int nextFrame() {
    CabFolder* folder = cabDecoder.folder;
    std::uint32_t inputLength = 0;
    for (;;) {
        const Cabinet* cabinet = folder->parts[cabDecoder.currentPart].cabinet;
        std::uint8_t header[kBlockHeaderSize];
        std::uint8_t reserve[255];
        if (!readCabinetBytes(cabDecoder.file, header, sizeof header, cabinet->path) ||
            (cabinet->blockReserve &&
             !readCabinetBytes(cabDecoder.file, reserve, cabinet->blockReserve, cabinet->path))) {
            return kCabInput;
        }
        const std::uint32_t storedChecksum = static_cast<std::uint32_t>(header[0]) | header[1] << 8 |
                                             header[2] << 16 | static_cast<std::uint32_t>(header[3]) << 24;
        const std::uint32_t compressedSize = header[4] | header[5] << 8;
        const std::uint32_t uncompressedSize = header[6] | header[7] << 8;
        if (inputLength + compressedSize > kCabInputCapacity) return kCabInput;
        std::uint8_t* data = cabDecoder.input + inputLength;
        if (!readCabinetBytes(cabDecoder.file, data, compressedSize, cabinet->path)) return kCabInput;
        data[compressedSize] = 0;
        data[compressedSize + 1] = 0;
        if (storedChecksum != 0 &&
            storedChecksum != cabBlockChecksum(header, reserve, cabinet->blockReserve, data, compressedSize)) {
            return kCabChecksum;
        }
        inputLength += compressedSize;
        if (uncompressedSize != 0) {
            if (uncompressedSize > kCabFrameSize) return kCabDataFormat;
            const int result = decodeFrame(inputLength, uncompressedSize);
            if (result != kCabOk) return result;
            cabDecoder.frameReadPosition = 0;
            cabDecoder.frameBytesLeft = uncompressedSize;
            return kCabOk;
        }
        // The frame goes on in the next cabinet's part of the folder.
        std::fclose(cabDecoder.file);
        cabDecoder.file = nullptr;
        if (cabDecoder.currentPart >= folder->extraParts) return kCabInput;
        ++cabDecoder.currentPart;
        cabDecoder.file = openPart(folder->parts[cabDecoder.currentPart]);
        if (cabDecoder.file == nullptr) return kCabInput;
    }
}

}  // namespace

void stopCabFolder() {
    if (cabDecoder.file) std::fclose(cabDecoder.file);
    cabDecoder.file = nullptr;
    cabDecoder.folder = nullptr;
}

int startCabFolder(CabFolder* folder) {
    const int method = folder->compressionType & 0x0F;
    if (cabDecoder.method == kCabMethodLzx && method != kCabMethodLzx) lzxRelease(cabDecoder.lzx);
    stopCabFolder();
    cabDecoder.method = method;
    if (method == kCabMethodLzx) {
        const int result = lzxInitialise(cabDecoder.lzx, (folder->compressionType >> 8) & 0x1F);
        if (result != kCabOk) return result;
    } else if (method != kCabMethodStored && method != kCabMethodMszip) {
        return kCabDataFormat;
    }
    cabDecoder.file = openPart(folder->parts[0]);
    if (cabDecoder.file == nullptr) return kCabInput;
    cabDecoder.folder = folder;
    cabDecoder.produced = 0;
    cabDecoder.frameReadPosition = 0;
    cabDecoder.frameBytesLeft = 0;
    cabDecoder.currentPart = 0;
    return kCabOk;
}

int decodeCabFolder(std::uint64_t count, std::FILE* output) {
    while (count > 0) {
        if (cabDecoder.frameBytesLeft == 0) {
            const int result = nextFrame();
            if (result != kCabOk) return result;
        }
        const std::uint32_t take =
            count < cabDecoder.frameBytesLeft ? static_cast<std::uint32_t>(count) : cabDecoder.frameBytesLeft;
        if (output && std::fwrite(cabDecoder.frame + cabDecoder.frameReadPosition, 1, take, output) != take) {
            return kCabOutput;
        }
        cabDecoder.frameReadPosition += take;
        cabDecoder.frameBytesLeft -= take;
        cabDecoder.produced += take;
        count -= take;
    }
    return kCabOk;
}
