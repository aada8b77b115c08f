// Shared by the LZH suites: the inputs the fixture script packed (rebuilt
// here with the same generators), LZH headers built byte by byte, a bit
// writer for hand-made member data and a sink that keeps decoded bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/lzh/lzh_handler.h"
#include "formats/lzh/lzh_member_decoder.h"

namespace lzh_testing {

// The generators of tests/fixtures/make-lzh-fixtures.sh.
inline std::string fixtureText(std::size_t size, std::uint32_t seed) {
    static const char* const words[] = {"alpha", "beta",    "gamma",   "delta", "ring",
                                        "window", "match",  "literal", "huffman", "block",
                                        "\n",     "  ",     "0123456789"};
    std::uint32_t x = seed;
    std::string out;
    while (out.size() < size) {
        x = (x * 1103515245u + 12345u) & 0x7FFFFFFFu;
        out += words[(x >> 16) % 13];
        out += ' ';
    }
    return out.substr(0, size);
}

inline std::uint16_t crc16(const std::string& data) {
    static const LzhCrc16 crc;
    return crc.update(0, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
}

inline void putU16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
inline void putU32(std::string& s, std::uint32_t v) {
    putU16(s, v & 0xFFFF);
    putU16(s, v >> 16);
}

struct Member {
    int level = 0;
    std::string method = "-lh0-";
    std::string name;
    std::string folder;  // level 1, 2: the folder extended header's data
    std::string packed;  // the member's data as stored
    std::uint32_t unpackedSize = 0;
    std::uint16_t dataCrc = 0;
    std::uint32_t timeStamp = 0x52642800;  // 2021-03-04 05:00:00 as DOS date and time
    std::uint8_t attribute = 0x20;
    int attributeExtension = -1;  // level 2: value of an attribute extended header
    bool headerCrc = false;       // level 1, 2: add a header CRC extended header
};

// A stored member of data with the right sizes and CRC.
inline Member stored(int level, const std::string& name, const std::string& data) {
    Member m;
    m.level = level;
    m.name = name;
    m.packed = data;
    m.unpackedSize = static_cast<std::uint32_t>(data.size());
    m.dataCrc = crc16(data);
    return m;
}

inline std::string header(const Member& m) {
    std::vector<std::string> extended;
    auto ext = [&](char type, const std::string& data) { extended.push_back(type + data); };
    if (m.headerCrc) ext(0x00, std::string(2, '\0'));
    if (m.level == 2) ext(0x01, m.name);
    if (!m.folder.empty()) ext(0x02, m.folder);
    const auto attribute = static_cast<unsigned>(m.attributeExtension);
    if (m.attributeExtension >= 0) ext(0x40, {static_cast<char>(attribute), static_cast<char>(attribute >> 8)});
    std::size_t extendedTotal = 0;
    for (const std::string& e : extended) extendedTotal += e.size() + 2;

    std::string h = std::string(2, '\0') + m.method;
    putU32(h, static_cast<std::uint32_t>(m.packed.size() + (m.level == 1 ? extendedTotal : 0)));
    putU32(h, m.unpackedSize);
    putU32(h, m.timeStamp);
    h += {static_cast<char>(m.attribute), static_cast<char>(m.level)};
    if (m.level < 2) h += static_cast<char>(m.name.size()) + m.name;
    putU16(h, m.dataCrc);
    if (m.level > 0) h += 'M';  // the OS byte
    for (const std::string& e : extended) putU16(h, static_cast<unsigned>(e.size() + 2)), h += e;
    if (m.level > 0) putU16(h, 0);
    if (m.level < 2) {
        const std::size_t base = h.size() - extendedTotal;
        h[0] = static_cast<char>(base - 2);
        std::uint8_t sum = 0;
        for (std::size_t i = 2; i < base; ++i) sum = static_cast<std::uint8_t>(sum + h[i]);
        h[1] = static_cast<char>(sum);
    } else {
        h[0] = static_cast<char>(h.size() & 0xFF);
        h[1] = static_cast<char>(h.size() >> 8);
    }
    std::string crc;  // into the first extended header's data
    if (m.headerCrc) putU16(crc, crc16(h)), h.replace(h.size() - extendedTotal + 1, 2, crc);
    return h;
}

inline std::string member(const Member& m) { return header(m) + m.packed; }

// Most significant bit first, as the LZH bit reader takes them.
struct BitWriter {
    std::string bits;  // one '0' or '1' per bit
    void put(std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) bits += static_cast<char>('0' + (value >> i & 1u));
    }
    std::string finish() const {
        std::string out((bits.size() + 7) / 8, '\0');
        for (std::size_t i = 0; i < bits.size(); ++i)
            if (bits[i] == '1') out[i / 8] = static_cast<char>(out[i / 8] | 0x80 >> (i % 8));
        return out;
    }
};

class StringSink : public LzhSink {
public:
    bool write(const std::uint8_t* data, std::size_t size) override {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::string bytes;
};

// Decodes packed as one member held in memory.
inline LzhDecodeResult decode(LzhMethod method, const std::string& packed, std::uint32_t unpackedSize,
                              std::string& out) {
    std::string backing = packed;
    std::FILE* input = fmemopen(&backing[0], backing.size(), "rb");
    StringSink sink;
    const LzhDecodeResult result =
        decodeLzhMember(method, input, static_cast<std::uint32_t>(packed.size()), sink, unpackedSize);
    std::fclose(input);
    out = sink.bytes;
    return result;
}

}  // namespace lzh_testing
