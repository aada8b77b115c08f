// Differential target for the parallel bzip2 decoder: its bytes and its
// verdict must equal the plain one-thread decode on every input. The input
// is either a file of its own or an edit of a valid three-block stream
// whose block headers each hold a false block signature, so that damage
// lands among real and false block starts alike.
#include <bzlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/stream/bzip2_parallel.h"

namespace {

// Text over a byte set whose table of used values reads 0x3141 0x5926 0x5359.
std::string baseStream() {
    std::string alphabet;
    const unsigned ranges[16] = {0x8000, 0x3141, 0x5926, 0x5359, 0x8000, 0x8000, 0x8000, 0x8000,
                                 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000};
    for (int r = 0; r < 16; ++r) {
        for (int b = 0; b < 16; ++b) {
            if (ranges[r] & (0x8000u >> b)) alphabet.push_back(static_cast<char>(16 * r + b));
        }
    }
    std::string data;
    for (unsigned x = 1; data.size() < 230000; x = x * 1103515245 + 12345) {
        data.append((x >> 20) % 5 + 1, alphabet[(x >> 8) % alphabet.size()]);
    }
    std::string out(data.size() * 2, '\0');
    unsigned size = static_cast<unsigned>(out.size());
    if (BZ2_bzBuffToBuffCompress(&out[0], &size, &data[0], static_cast<unsigned>(data.size()), 1, 0, 0) != BZ_OK) {
        std::abort();
    }
    return out.substr(0, size);
}

std::string decodeAll(std::string& file, unsigned workers, std::size_t chunk, bool& failed) {
    std::FILE* input = fmemopen(&file[0], file.size(), "rb");
    if (input == nullptr) std::abort();
    std::string all, buffer(chunk, '\0');
    {
        Bzip2ParallelDecoder decoder(input, workers);
        while (std::size_t got = decoder.read(&buffer[0], chunk)) all.append(buffer, 0, got);
        failed = decoder.failed();
    }
    std::fclose(input);
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string base = baseStream();
    if (size < 4) return 0;
    const std::string edit(reinterpret_cast<const char*>(data) + 4, size - 4);
    const std::size_t at = (data[1] | data[2] << 8 | data[3] << 16) % base.size();
    std::string file;
    switch (data[0] % 4) {
    case 0: file = edit; break;                                      // a file of its own
    case 1: file = base.substr(0, at) + edit + base.substr(std::min(base.size(), at + edit.size())); break;
    case 2: file = base.substr(0, at) + edit + base.substr(at); break;  // inserted
    default: file = base.substr(0, at) + edit; break;                // cut, then anything
    }
    if (file.empty()) return 0;
    // The same read size for both: on a damaged block libbz2 keeps a
    // different share of its output depending on the room it is given.
    bool plainFailed = false, parallelFailed = false;
    const std::size_t chunk = data[0] & 0x80 ? 777 : 1 << 20;
    const std::string plain = decodeAll(file, 0, chunk, plainFailed);
    const std::string parallel = decodeAll(file, 1 + data[0] / 4 % 3, chunk, parallelFailed);
    if (plain != parallel || plainFailed != parallelFailed) std::abort();
    return 0;
}
