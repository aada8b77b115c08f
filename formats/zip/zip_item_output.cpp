#include "formats/zip/zip_item_output.h"

#include <algorithm>

#include "formats/zip/zip_crc32.h"
#include "formats/zip/zip_crypto.h"

namespace {

constexpr std::uint32_t kFlagEncrypted = 0x0001;
constexpr std::uint32_t kFlagDataDescriptor = 0x0008;
constexpr std::uint32_t kMethodDeflated = 8;

// Large pieces keep system calls few on big items.
constexpr std::size_t kInputChunk = 1024 * 1024;
constexpr std::size_t kOutputChunk = 512 * 1024;
constexpr std::size_t kHeldOutput = 1024 * 1024;

// Where an item's bytes go. The target is created at the first write that
// is not held back; an encrypted item holds back its first kHeldOutput
// bytes, so that data a wrong password turned into garbage (the check byte
// matches one time in 256) is found out before an existing file is replaced.
// Small items are then checked whole, CRC included, before the target exists.
struct ItemSink {
    MemberOutput& output;
    const WCHAR* name;
    bool holdBack;
    std::vector<std::uint8_t>& held;
    bool opened = false;

    ZipResult write(const std::uint8_t* bytes, std::size_t count) {
        if (holdBack && held.size() + count <= kHeldOutput) {
            held.insert(held.end(), bytes, bytes + count);
            return ZipResult::Ok;
        }
        const ZipResult released = release();
        if (released != ZipResult::Ok) return released;
        return output.write(bytes, count) ? ZipResult::Ok : ZipResult::Write;
    }
    // Creates the target and writes what was held back.
    ZipResult release() {
        if (!opened) opened = output.open(name) == MemberStart::Opened;
        if (!opened) return ZipResult::NoFile;
        holdBack = false;
        if (held.empty()) return ZipResult::Ok;
        const bool written = output.write(held.data(), held.size());
        held.clear();
        return written ? ZipResult::Ok : ZipResult::Write;
    }
};

// Counts, checks and passes on what the decoder made.
struct Produced {
    const ZipItemData& data;
    ItemSink& sink;
    std::uint64_t count = 0;
    std::uint32_t crc = 0;

    ZipResult take(const std::uint8_t* bytes, std::size_t made) {
        count += made;
        // More output than the directory promises is damage; it is never
        // written.
        if (count > data.uncompressedSize) return ZipResult::Corrupt;
        crc = zipCrc32(crc, bytes, made);
        return sink.write(bytes, made);
    }
};

// Inflates the input in z until it is used up or the stream ends; with no
// input, drains what zlib still holds.
ZipResult inflateInto(ZipItemWriter& writer, Produced& produced, bool& streamEnded) {
    z_stream& z = writer.inflater;
    do {
        z.next_out = writer.output.data();
        z.avail_out = static_cast<uInt>(writer.output.size());
        const uInt inputBefore = z.avail_in;
        const int status = inflate(&z, Z_SYNC_FLUSH);
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) return ZipResult::Flate;
        const std::size_t made = writer.output.size() - z.avail_out;
        if (made > 0) {
            const ZipResult taken = produced.take(writer.output.data(), made);
            if (taken != ZipResult::Ok) return taken;
        }
        if (status == Z_STREAM_END) streamEnded = true;
        // Needs more input (or makes no progress at all).
        if (made == 0 && (status == Z_BUF_ERROR || z.avail_in == 0 || z.avail_in == inputBefore)) break;
    } while (!streamEnded);
    return ZipResult::Ok;
}

ZipResult copyItemData(ZipItemWriter& writer, ZipByteSource* source, const ZipItemData& data,
                       std::uint64_t packedAt, std::uint64_t packedLeft, ZipCryptKeys* keys, ItemSink& sink) {
    const bool deflated = data.method == kMethodDeflated;
    if (deflated) {
        if (!writer.inflaterReady) {
            if (inflateInit2(&writer.inflater, -MAX_WBITS) != Z_OK) return ZipResult::NoMemory;
            writer.inflaterReady = true;
        } else if (inflateReset(&writer.inflater) != Z_OK) {
            return ZipResult::Flate;
        }
    }
    Produced produced{data, sink, 0, static_cast<std::uint32_t>(crc32(0, nullptr, 0))};
    bool streamEnded = !deflated;
    while (packedLeft > 0 && !(deflated && streamEnded)) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(packedLeft, kInputChunk));
        if (!readZipBytesAt(source, packedAt, writer.input.data(), piece)) return ZipResult::Read;
        packedAt += piece;
        packedLeft -= piece;
        if (keys) decryptZipBytes(*keys, writer.input.data(), piece);
        ZipResult result = ZipResult::Ok;
        if (deflated) {
            writer.inflater.next_in = writer.input.data();
            writer.inflater.avail_in = static_cast<uInt>(piece);
            result = inflateInto(writer, produced, streamEnded);
        } else {
            result = produced.take(writer.input.data(), piece);
        }
        if (result != ZipResult::Ok) return result;
    }
    // Deflated data can end with output still inside zlib's window.
    if (deflated && !streamEnded) {
        writer.inflater.next_in = nullptr;
        writer.inflater.avail_in = 0;
        const ZipResult drained = inflateInto(writer, produced, streamEnded);
        if (drained != ZipResult::Ok) return drained;
        if (!streamEnded) return ZipResult::Flate;
    }
    if (produced.count != data.uncompressedSize || produced.crc != data.crc) return ZipResult::Corrupt;
    return ZipResult::Ok;
}

}  // namespace

ZipItemWriter::~ZipItemWriter() {
    if (inflaterReady) inflateEnd(&inflater);
}

ZipResult writeZipItem(ZipItemWriter& writer, ZipByteSource* source, const ZipItemData& data,
                       const char* password, MemberOutput& output, const WCHAR* name,
                       const FILETIME& modifyTime, const FILETIME& accessTime, DWORD attributes) {
    std::uint64_t packedAt = data.dataOffset;
    std::uint64_t packedLeft = data.compressedSize;
    const bool encrypted = (data.flag & kFlagEncrypted) != 0;
    // Some writers store an empty deflated item with no data at all.
    const bool emptyItem = data.uncompressedSize == 0 && packedLeft == 0 && data.crc == 0 && !encrypted;
    ZipCryptKeys keys{};
    if (encrypted) {
        if (packedLeft < kZipCryptHeaderSize) return ZipResult::Corrupt;
        std::uint8_t header[kZipCryptHeaderSize];
        if (!readZipBytesAt(source, packedAt, header, sizeof header)) return ZipResult::Read;
        packedAt += kZipCryptHeaderSize;
        packedLeft -= kZipCryptHeaderSize;
        keys = initZipCryptKeys(password);
        decryptZipBytes(keys, header, sizeof header);
        const std::uint8_t check = header[kZipCryptHeaderSize - 1];
        bool matches = check == static_cast<std::uint8_t>(data.crc >> 24);
        // Writers that stream (general-purpose bit 3) check against the
        // high byte of the DOS time instead; some use the CRC all the same.
        if (data.flag & kFlagDataDescriptor) matches = matches || check == static_cast<std::uint8_t>(data.dosDate >> 8);
        if (!matches) return ZipResult::Password;
    }

    if (writer.input.empty()) {
        writer.input.resize(kInputChunk);
        writer.output.resize(kOutputChunk);
    }
    ItemSink sink{output, name, encrypted, writer.held};
    writer.held.clear();
    ZipResult result = emptyItem ? ZipResult::Ok
                                 : copyItemData(writer, source, data, packedAt, packedLeft, encrypted ? &keys : nullptr, sink);
    if (result == ZipResult::Ok) {
        result = sink.release();
    } else if (!sink.opened && encrypted) {
        // Nothing was written: the data did not decrypt to this item.
        result = ZipResult::Password;
    }
    if (sink.opened) {
        if (result != ZipResult::Ok) output.abandon();
        else if (!output.close(&modifyTime, &accessTime, attributes)) result = ZipResult::Write;
    }
    return result;
}
