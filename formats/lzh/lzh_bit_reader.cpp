#include "formats/lzh/lzh_bit_reader.h"

void LzhBitReader::start(std::FILE* stream, std::uint32_t packedSize) {
    input = stream;
    packedLeft = packedSize;
    window = 0;
    held = 0;
    paddingBytes = 0;
    bufferPos = 0;
    bufferFill = 0;
}

void LzhBitReader::refill() {
    while (held <= 56) {
        window = (window << 8) | nextInputByte();
        held += 8;
    }
}

unsigned LzhBitReader::refillBuffer() {
    if (packedLeft > 0 && input != nullptr) {
        const std::size_t want = packedLeft < sizeof buffer ? packedLeft : sizeof buffer;
        const std::size_t got = std::fread(buffer, 1, want, input);
        if (got > 0) {
            packedLeft -= static_cast<std::uint32_t>(got);
            bufferPos = 1;
            bufferFill = got;
            return buffer[0];
        }
        // The archive ends before the member's data does.
        packedLeft = 0;
    }
    ++paddingBytes;
    return 0;
}
