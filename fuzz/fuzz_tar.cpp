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
    // compress data is taken raw only: the LZW stream is its own mutation target.
    using Packer = std::vector<std::uint8_t> (*)(const std::uint8_t*, std::size_t);
    const struct { FormatHandler& handler; const char* raw; const char* packedName; Packer pack; } ways[] = {
        {plain, "input.tar", nullptr, nullptr}, {gzip, "raw.tgz", "input.tgz", gzipOf},
        {bzip2, "raw.tbz", "input.tbz", bzip2Of}, {compress, "input.taZ", nullptr, nullptr}};
    const auto& way = ways[data[0] % 4];
    if (way.pack) {
        const std::vector<std::uint8_t> packed = way.pack(data + 1, size - 1);
        fuzzing::probeAndExtract(way.handler, way.packedName, packed.data(), packed.size());
    }
    fuzzing::probeAndExtract(way.handler, way.raw, data + 1, size - 1);
    return 0;
}
