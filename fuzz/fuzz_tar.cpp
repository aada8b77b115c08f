// Drives the four TAR handlers on arbitrary bytes: the input itself as a
// plain archive, and wrapped by gzip, bzip2 and compress on the fly so that
// mutations reach the TAR walk behind every decoder as well as the decoders'
// own error paths (the first byte chooses; a raw input is also tried as is
// by the wrapper handlers).
#include <bzlib.h>
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/tar/tar_stream_handler.h"
#include "fuzz/fuzz_harness.h"

namespace {

// A zlib stream is a deflate stream between a two-byte head and an Adler-32;
// gzip puts its own ten-byte head and a CRC-32 and the size around it.
std::vector<std::uint8_t> gzipOf(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> z(compressBound(static_cast<uLong>(size)));
    uLongf length = static_cast<uLongf>(z.size());
    if (compress2(z.data(), &length, data, static_cast<uLong>(size), 1) != Z_OK) return {};
    std::vector<std::uint8_t> out = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3};
    out.insert(out.end(), z.begin() + 2, z.begin() + static_cast<long>(length) - 4);
    const auto crc = static_cast<std::uint32_t>(crc32(0, data, static_cast<uInt>(size)));
    for (std::uint32_t v : {crc, static_cast<std::uint32_t>(size)})
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return out;
}

std::vector<std::uint8_t> bzip2Of(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> out(size + size / 100 + 700);
    unsigned length = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &length,
                                 const_cast<char*>(reinterpret_cast<const char*>(data)),
                                 static_cast<unsigned>(size), 1, 0, 0) != BZ_OK) {
        length = 0;
    }
    out.resize(length);
    return out;
}

}  // namespace

TOVRIN_FUZZ_INIT

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static TarStreamHandler plain;
    static TarGzipHandler gzip;
    static TarBzip2Handler bzip2;
    static TarCompressHandler compress;
    if (size == 0) return 0;
    const std::uint8_t* body = data + 1;
    const std::size_t bodySize = size - 1;
    switch (data[0] % 4) {
        case 0:
            fuzzing::probeAndExtract(plain, "input.tar", body, bodySize);
            break;
        case 1: {
            const std::vector<std::uint8_t> packed = gzipOf(body, bodySize);
            fuzzing::probeAndExtract(gzip, "input.tgz", packed.data(), packed.size());
            fuzzing::probeAndExtract(gzip, "raw.tgz", body, bodySize);
            break;
        }
        case 2: {
            const std::vector<std::uint8_t> packed = bzip2Of(body, bodySize);
            fuzzing::probeAndExtract(bzip2, "input.tbz", packed.data(), packed.size());
            fuzzing::probeAndExtract(bzip2, "raw.tbz", body, bodySize);
            break;
        }
        default:
            // compress data is taken raw: the LZW stream is its own mutation target.
            fuzzing::probeAndExtract(compress, "input.taZ", body, bodySize);
            break;
    }
    return 0;
}
