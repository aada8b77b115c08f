#include "formats/lzh/lzh_bit_reader.h"

void LzhBitReader::start(std::FILE* stream, std::uint32_t packedSize) {
    input = stream;
    packedLeft = packedSize;
    cursor = {0, 0, buffer, buffer};
    paddingBytes = 0;
}

void LzhBitReader::slowRefill() {
    while (cursor.held <= 55) {
        // Once the buffer holds eight bytes again the rest goes in one step.
        if (fastRefill(cursor)) return;
        cursor.window = (cursor.window << 8) | byte();
        cursor.held += 8;
    }
}

unsigned LzhBitReader::refillBuffer() {
    if (packedLeft > 0 && input != nullptr) {
        const std::size_t want = packedLeft < sizeof buffer ? packedLeft : sizeof buffer;
        const std::size_t got = std::fread(buffer, 1, want, input);
        if (got > 0) {
            packedLeft -= static_cast<std::uint32_t>(got);
            cursor.next = buffer + 1;
            cursor.end = buffer + got;
            return buffer[0];
        }
        // The archive ends before the member's data does.
        packedLeft = 0;
    }
    ++paddingBytes;
    return 0;
}
