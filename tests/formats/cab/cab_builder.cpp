#include "tests/formats/cab/cab_builder.h"

#include <zlib.h>

#include <algorithm>

namespace cab_testing {
namespace {

void put16(std::string& out, std::uint32_t v) { out += {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8 & 0xFF)}; }
void put32(std::string& out, std::uint32_t v) { put16(out, v & 0xFFFF), put16(out, v >> 16); }
std::uint32_t le(const std::string& s, std::size_t at, int bytes) {
    std::uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<std::uint8_t>(s.at(at + static_cast<std::size_t>(i)));
    return v;
}

std::uint32_t checksum(const std::string& bytes, std::uint32_t seed) {
    std::size_t i = 0;
    for (; i + 4 <= bytes.size(); i += 4) seed ^= le(bytes, i, 4);
    for (std::uint32_t tail = 0; i < bytes.size(); ++i) {
        tail = tail << 8 | static_cast<std::uint8_t>(bytes[i]);
        if (i + 1 == bytes.size()) seed ^= tail;
    }
    return seed;
}

std::string mszipFrame(const std::string& frame, const std::string& previous) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (!previous.empty()) deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(previous.data()), 32768);
    std::string out(deflateBound(&z, frame.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(frame.data()));
    z.avail_in = static_cast<uInt>(frame.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[0]);
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return "CK" + out;
}

std::vector<Block> blocksOf(const Folder& folder) {
    if (folder.compressionType > 1) return folder.blocks;
    std::vector<Block> blocks;
    std::string stream;
    for (const Member& m : folder.members) stream += m.data;
    for (std::size_t at = 0; at < stream.size(); at += 32768) {
        const std::string frame = stream.substr(at, 32768);
        blocks.push_back({folder.compressionType == 1 ? mszipFrame(frame, at ? stream.substr(at - 32768, 32768) : "")
                                                      : frame,
                          static_cast<std::uint16_t>(frame.size())});
    }
    return blocks;
}

struct Entry {
    std::uint32_t size, offset;
    std::uint16_t index;
    std::string name;
};

std::string assemble(const std::vector<std::pair<std::uint16_t, std::vector<Block>>>& folders,
                     const std::vector<Entry>& entries, const std::string& previous, const std::string& next,
                     const Options& o, std::uint16_t cabinetIndex = 0) {
    std::string head;
    if (o.reserve) {
        put16(head, o.headerReserve);
        head += {static_cast<char>(o.folderReserve), static_cast<char>(o.blockReserve)};
        head += std::string(o.headerReserve, 'h');
    }
    if (!previous.empty()) head += previous + '\0' + "disk" + '\0';
    if (!next.empty()) head += next + '\0' + "disk" + '\0';
    const std::size_t folderReserve = o.reserve ? o.folderReserve : 0, blockReserve = o.reserve ? o.blockReserve : 0;
    const std::size_t filesStart = 36 + head.size() + folders.size() * (8 + folderReserve);
    std::string files;
    for (const Entry& e : entries) {
        put32(files, e.size), put32(files, e.offset), put16(files, e.index);
        put16(files, 0x5A21), put16(files, 0x6000), put16(files, 0x20);
        files += e.name + '\0';
    }
    const std::size_t dataStart = filesStart + files.size();
    std::string folderEntries, data;
    for (const auto& [type, blocks] : folders) {
        put32(folderEntries, static_cast<std::uint32_t>(dataStart + data.size()));
        put16(folderEntries, static_cast<std::uint32_t>(static_cast<int>(blocks.size()) + o.blockCountBias));
        put16(folderEntries, type);
        folderEntries += std::string(folderReserve, 'f');
        for (const Block& b : blocks) {
            std::string sizes;
            put16(sizes, static_cast<std::uint32_t>(b.data.size())), put16(sizes, b.uncompressedSize);
            sizes += std::string(blockReserve, 'r');
            put32(data, o.checksums ? checksum(sizes, checksum(b.data, 0)) : 0);
            data += sizes + b.data;
        }
    }
    std::string out = "MSCF";
    put32(out, 0), put32(out, static_cast<std::uint32_t>(dataStart + data.size()));
    put32(out, 0), put32(out, static_cast<std::uint32_t>(filesStart)), put32(out, 0);
    out += {static_cast<char>(o.minorVersion), 1};
    put16(out, static_cast<std::uint32_t>(folders.size())), put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, (previous.empty() ? 0u : 1u) | (next.empty() ? 0u : 2u) | (o.reserve ? 4u : 0u));
    put16(out, 0x1234), put16(out, cabinetIndex);
    return out + head + folderEntries + files + data;
}

}  // namespace

std::string buildCabinet(const std::vector<Folder>& folders, const Options& options) {
    std::vector<std::pair<std::uint16_t, std::vector<Block>>> records;
    std::vector<Entry> entries;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        std::uint32_t offset = 0;
        for (const Member& m : folders[f].members) {
            entries.push_back({static_cast<std::uint32_t>(m.data.size()), offset, static_cast<std::uint16_t>(f), m.name});
            offset += static_cast<std::uint32_t>(m.data.size());
        }
        records.emplace_back(folders[f].compressionType, blocksOf(folders[f]));
    }
    std::vector<Entry> ordered;
    for (int i : options.entryOrder) ordered.push_back(entries[static_cast<std::size_t>(i)]);
    return assemble(records, options.entryOrder.empty() ? entries : ordered, "", "", options);
}

std::vector<std::string> buildSet(const Folder& folder, const std::vector<Split>& splits,
                                  const std::vector<std::string>& names, const Options& options) {
    const std::vector<Block> blocks = blocksOf(folder);
    const std::size_t count = splits.size() + 1;
    std::vector<std::vector<Block>> pieces(count);
    std::vector<std::uint64_t> endOf(count, 0);  // stream offset where each cabinet's bytes end
    std::size_t cabinet = 0;
    std::uint64_t produced = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::size_t from = 0;
        for (; cabinet < splits.size() && splits[cabinet].block == i; ++cabinet) {
            const std::size_t cut = splits[cabinet].cut;
            if (cut > from) pieces[cabinet].push_back({blocks[i].data.substr(from, cut - from), 0});
            endOf[cabinet] = produced;
            from = std::max(from, cut);
        }
        pieces[cabinet].push_back({blocks[i].data.substr(from), blocks[i].uncompressedSize});
        produced += blocks[i].uncompressedSize;
    }
    for (std::size_t c = cabinet; c < count; ++c) endOf[c] = produced;

    std::vector<std::string> out;
    for (std::size_t c = 0; c < count; ++c) {
        const std::uint64_t start = c == 0 ? 0 : endOf[c - 1];
        std::vector<Entry> entries;
        std::uint64_t s = 0;
        for (const Member& m : folder.members) {
            const std::uint64_t e = s + m.data.size();
            const bool startsBefore = c > 0 && s < start, goesOn = c + 1 < count && e > endOf[c];
            const bool startsHere = s >= start && (s < endOf[c] || c + 1 == count);
            if (startsHere || (startsBefore && e > start)) {
                const std::uint16_t index = startsBefore ? (goesOn ? 0xFFFF : 0xFFFD) : (goesOn ? 0xFFFE : 0);
                entries.push_back({static_cast<std::uint32_t>(e - s), static_cast<std::uint32_t>(s), index, m.name});
            }
            s = e;
        }
        out.push_back(assemble({{folder.compressionType, pieces[c]}}, entries, c ? names[c - 1] : "",
                               c + 1 < count ? names[c + 1] : "", options, static_cast<std::uint16_t>(c)));
    }
    return out;
}

Folder readFolder(const std::string& cab, std::string (*contentOf)(const std::string& name)) {
    Folder folder;
    folder.compressionType = static_cast<std::uint16_t>(le(cab, 42, 2));
    std::size_t at = 44;
    for (std::uint32_t i = 0, files = le(cab, 28, 2); i < files; ++i) {
        const std::size_t nameEnd = cab.find('\0', at + 16);
        folder.members.push_back({cab.substr(at + 16, nameEnd - at - 16), ""});
        folder.members.back().data = contentOf(folder.members.back().name);
        at = nameEnd + 1;
    }
    at = le(cab, 36, 4);
    for (std::uint32_t i = 0, blocks = le(cab, 40, 2); i < blocks; ++i) {
        const std::uint32_t packed = le(cab, at + 4, 2);
        folder.blocks.push_back({cab.substr(at + 8, packed), static_cast<std::uint16_t>(le(cab, at + 6, 2))});
        at += 8 + packed;
    }
    return folder;
}

}  // namespace cab_testing
