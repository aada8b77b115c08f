#include "tests/formats/cab/cab_builder.h"

#include <zlib.h>

#include <algorithm>

namespace cab_testing {
namespace {

constexpr std::size_t kFrame = 32768;

void put16(std::string& out, std::uint32_t v) {
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string mszipFrame(const std::string& frame, const std::string& previous) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    if (!previous.empty()) {
        deflateSetDictionary(&z, reinterpret_cast<const Bytef*>(previous.data()), static_cast<uInt>(previous.size()));
    }
    std::string out(deflateBound(&z, frame.size()) + 16, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(frame.data()));
    z.avail_in = static_cast<uInt>(frame.size());
    z.next_out = reinterpret_cast<Bytef*>(&out[2]);
    z.avail_out = static_cast<uInt>(out.size() - 2);
    deflate(&z, Z_FINISH);
    out.resize(2 + z.total_out);
    deflateEnd(&z);
    out[0] = 'C';
    out[1] = 'K';
    return out;
}

struct Entry {
    std::uint32_t size, offset;
    std::uint16_t index;
    std::string name;
};
struct FolderRecord {
    std::uint16_t type;
    std::vector<Block> pieces;
};

std::string assemble(const std::vector<FolderRecord>& folders, const std::vector<Entry>& entries,
                     const std::string& previousName, const std::string& nextName, const Options& o,
                     std::uint16_t cabinetIndex = 0) {
    std::uint16_t flags = 0;
    if (!previousName.empty()) flags |= 1;
    if (!nextName.empty()) flags |= 2;
    if (o.reserve) flags |= 4;
    std::string head;
    if (o.reserve) {
        put16(head, o.headerReserve);
        head += static_cast<char>(o.folderReserve);
        head += static_cast<char>(o.blockReserve);
        head += std::string(o.headerReserve, 'h');
    }
    if (!previousName.empty()) head += previousName + '\0' + "disk" + '\0';
    if (!nextName.empty()) head += nextName + '\0' + "disk" + '\0';
    const std::uint8_t folderReserve = o.reserve ? o.folderReserve : 0;
    const std::uint8_t blockReserve = o.reserve ? o.blockReserve : 0;
    std::size_t filesStart = 36 + head.size() + folders.size() * (8 + folderReserve);
    std::string files;
    for (const Entry& e : entries) {
        put32(files, e.size);
        put32(files, e.offset);
        put16(files, e.index);
        put16(files, 0x5A21);  // 2025-01-01
        put16(files, 0x6000);  // 12:00:00
        put16(files, 0x20);
        files += e.name + '\0';
    }
    std::size_t dataStart = filesStart + files.size();
    std::string folderEntries, data;
    for (const FolderRecord& f : folders) {
        put32(folderEntries, static_cast<std::uint32_t>(dataStart + data.size()));
        put16(folderEntries, static_cast<std::uint32_t>(f.pieces.size()));
        put16(folderEntries, f.type);
        folderEntries += std::string(folderReserve, 'f');
        for (const Block& b : f.pieces) {
            std::string sizes;
            put16(sizes, static_cast<std::uint32_t>(b.data.size()));
            put16(sizes, b.uncompressedSize);
            const std::string reserve(blockReserve, 'r');
            const std::uint32_t sum = o.checksums ? checksum(sizes + reserve, checksum(b.data, 0)) : 0;
            put32(data, sum);
            data += sizes + reserve + b.data;
        }
    }
    std::string out = "MSCF";
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(dataStart + data.size()));
    put32(out, 0);
    put32(out, static_cast<std::uint32_t>(filesStart));
    put32(out, 0);
    out += static_cast<char>(o.minorVersion);
    out += static_cast<char>(o.majorVersion);
    put16(out, static_cast<std::uint32_t>(folders.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, flags);
    put16(out, 0x1234);
    put16(out, cabinetIndex);
    return out + head + folderEntries + files + data;
}

}  // namespace

std::uint32_t checksum(const std::string& bytes, std::uint32_t seed) {
    std::size_t i = 0;
    auto at = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])); };
    for (; i + 4 <= bytes.size(); i += 4) seed ^= at(i) | at(i + 1) << 8 | at(i + 2) << 16 | at(i + 3) << 24;
    switch (bytes.size() - i) {
    case 3: seed ^= at(i) << 16 | at(i + 1) << 8 | at(i + 2); break;
    case 2: seed ^= at(i) << 8 | at(i + 1); break;
    case 1: seed ^= at(i); break;
    }
    return seed;
}

std::vector<Block> makeBlocks(std::uint16_t compressionType, const std::string& stream) {
    std::vector<Block> blocks;
    std::string previous;
    for (std::size_t at = 0; at < stream.size(); at += kFrame) {
        const std::string frame = stream.substr(at, kFrame);
        const std::string data = (compressionType & 0x0F) == 1 ? mszipFrame(frame, previous) : frame;
        blocks.push_back(Block{data, static_cast<std::uint16_t>(frame.size())});
        previous = frame;
    }
    return blocks;
}

std::string buildCabinet(const std::vector<Folder>& folders, const Options& options) {
    std::vector<FolderRecord> records;
    std::vector<Entry> entries;
    for (std::size_t f = 0; f < folders.size(); ++f) {
        std::string stream;
        for (const Member& m : folders[f].members) {
            entries.push_back(Entry{static_cast<std::uint32_t>(m.data.size()), static_cast<std::uint32_t>(stream.size()),
                                    static_cast<std::uint16_t>(f), m.name});
            stream += m.data;
        }
        records.push_back(FolderRecord{folders[f].compressionType, makeBlocks(folders[f].compressionType, stream)});
    }
    if (!options.entryOrder.empty()) {
        std::vector<Entry> ordered;
        for (int i : options.entryOrder) ordered.push_back(entries[static_cast<std::size_t>(i)]);
        entries = ordered;
    }
    return assemble(records, entries, "", "", options);
}

std::vector<std::string> buildSet(const Folder& folder, const std::vector<Split>& splits,
                                  const std::vector<std::string>& names, const Options& options) {
    std::string stream;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    for (const Member& m : folder.members) {
        spans.emplace_back(stream.size(), stream.size() + m.data.size());
        stream += m.data;
    }
    const std::vector<Block> blocks = makeBlocks(folder.compressionType, stream);
    const std::size_t count = splits.size() + 1;
    std::vector<std::vector<Block>> pieces(count);
    std::vector<std::uint64_t> endOf(count, 0);
    std::size_t cabinet = 0;
    std::uint64_t produced = 0;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        std::size_t from = 0;
        while (cabinet < splits.size() && splits[cabinet].block == i) {
            const std::size_t cut = splits[cabinet].cut;
            if (cut > from) pieces[cabinet].push_back(Block{blocks[i].data.substr(from, cut - from), 0});
            endOf[cabinet] = produced;
            from = std::max(from, cut);
            ++cabinet;
        }
        pieces[cabinet].push_back(Block{blocks[i].data.substr(from), blocks[i].uncompressedSize});
        produced += blocks[i].uncompressedSize;
    }
    for (std::size_t c = cabinet; c < count; ++c) endOf[c] = produced;

    std::vector<std::string> out;
    for (std::size_t c = 0; c < count; ++c) {
        const std::uint64_t start = c == 0 ? 0 : endOf[c - 1];
        std::vector<Entry> entries;
        for (std::size_t m = 0; m < spans.size(); ++m) {
            const auto [s, e] = spans[m];
            const bool startsBefore = c > 0 && s < start;
            const bool startsHere = (s >= start && s < endOf[c]) || (c + 1 == count && s >= start);
            const bool goesOn = c + 1 < count && e > endOf[c];
            if (!startsHere && !(startsBefore && e > start)) continue;
            std::uint16_t index = 0;
            if (startsBefore && goesOn) {
                index = 0xFFFF;
            } else if (startsBefore) {
                index = 0xFFFD;
            } else if (goesOn) {
                index = 0xFFFE;
            }
            entries.push_back(Entry{static_cast<std::uint32_t>(e - s), static_cast<std::uint32_t>(s), index,
                                    folder.members[m].name});
        }
        out.push_back(assemble({FolderRecord{folder.compressionType, pieces[c]}}, entries, c ? names[c - 1] : "",
                               c + 1 < count ? names[c + 1] : "", options, static_cast<std::uint16_t>(c)));
    }
    return out;
}

}  // namespace cab_testing
