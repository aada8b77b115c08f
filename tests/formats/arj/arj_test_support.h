// Shared by the ARJ suites: the inputs the fixture script packed (rebuilt
// with the same generators) and ARJ headers built byte by byte with zlib's
// CRC-32.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>

#include "tests/formats/lzh/lzh_test_support.h"

namespace arj_testing {

using lzh_testing::fixtureText;
using lzh_testing::putU16;
using lzh_testing::putU32;

// The noise generator of tests/fixtures/make-arj-fixtures.sh.
inline std::string fixtureNoise(std::size_t size, std::uint32_t seed) {
    std::uint32_t x = seed;
    std::string out;
    while (out.size() < size) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        out += static_cast<char>((x >> 16) & 0xFF);
    }
    return out;
}

inline std::uint32_t crc32Of(const std::string& data) {
    return static_cast<std::uint32_t>(
        ::crc32(0L, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
}

struct Member {
    std::string name;
    std::string packed;
    std::uint32_t unpackedSize = 0;
    std::uint32_t fileCrc = 0;
    std::uint8_t archiverVersion = 11;
    std::uint8_t extractVersion = 1;
    std::uint8_t hostOs = 0;
    std::uint8_t flags = 0;
    std::uint8_t method = 0;
    std::uint8_t fileType = 0;
    std::uint32_t timeStamp = 0x52642800;  // 2021-03-04 05:00:00 as DOS date and time
    std::uint16_t accessMode = 0x20;
    std::string extendedHeader;  // one extended header's bytes, when not empty
};

inline Member stored(const std::string& name, const std::string& data) {
    Member m;
    m.name = name;
    m.packed = data;
    m.unpackedSize = static_cast<std::uint32_t>(data.size());
    m.fileCrc = crc32Of(data);
    return m;
}

// One header (id, size, basic header, CRC, extended headers) and the data.
// basicSizeOverride pads the basic header to that size (CRC still right).
inline std::string header(const Member& m, std::size_t basicSizeOverride = 0) {
    std::string basic;
    for (int b : {30, +m.archiverVersion, +m.extractVersion, +m.hostOs, +m.flags, +m.method, +m.fileType, 0}) {
        basic += static_cast<char>(b);
    }
    putU32(basic, m.timeStamp), putU32(basic, static_cast<std::uint32_t>(m.packed.size()));
    putU32(basic, m.unpackedSize), putU32(basic, m.fileCrc);
    putU16(basic, 0), putU16(basic, m.accessMode), putU16(basic, 0);
    basic += m.name + std::string(2, '\0');  // name and comment terminators
    if (basicSizeOverride > basic.size()) basic.resize(basicSizeOverride, '\0');
    std::string out = "\x60\xEA";
    putU16(out, static_cast<unsigned>(basic.size()));
    out += basic;
    putU32(out, crc32Of(basic));
    if (!m.extendedHeader.empty()) {
        putU16(out, static_cast<unsigned>(m.extendedHeader.size()));
        out += m.extendedHeader;
        putU32(out, crc32Of(m.extendedHeader));
    }
    putU16(out, 0);
    return out;
}
inline std::string member(const Member& m) { return header(m) + m.packed; }

inline std::string mainHeader() {
    Member main = stored("test.arj", "");
    main.fileType = 2;
    return header(main);
}
inline const std::string kEnd = std::string("\x60\xEA\0\0", 4);

inline std::string archive(const std::string& members) { return mainHeader() + members + kEnd; }

}  // namespace arj_testing
