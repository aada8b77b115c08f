#include "formats/tar/tar_stream_handler.h"

#include <zlib.h>

#include <climits>
#include <cstring>

#include "core/app_state.h"
#include "core/decode_ahead.h"
#include "core/extraction_driver.h"
#include "core/member_output.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/stream/compress_stream.h"
#include "formats/tar/bzip2_pull_stream.h"
#include "formats/tar/tar_header.h"
#include "formats/tar/tar_sparse.h"
#include "platform/text_conversion.h"
#include "platform/win_types.h"

namespace {

using tar::kBlockSize;

// The longest member name kept from a long-name record or a pax path. Any
// name near it is far beyond what a path holds; it only has to be long
// enough to tell "too long" apart from a name whose ".." components shrink it.
constexpr std::size_t kNameCapacity = 1024;
// The largest pax extended header read; a larger one is damage or abuse.
constexpr std::size_t kPaxCapacity = kSniffBufferSize;
constexpr unsigned kGzipBufferSize = 256 * 1024;
constexpr std::size_t kChunk = kSniffBufferSize;
constexpr std::size_t kInputBufferSize = 256 * 1024;

std::uint64_t paddedSize(std::uint64_t size) {
    const std::uint64_t blocks = size / kBlockSize + (size % kBlockSize ? 1 : 0);
    return blocks * kBlockSize;
}

// Copies a fixed-length text field up to its first zero byte.
std::size_t copyField(char* out, const unsigned char* field, std::size_t length) {
    std::size_t n = 0;
    while (n < length && field[n] != 0) ++n;
    std::memcpy(out, field, n);
    out[n] = '\0';
    return n;
}

// A pax path is UTF-8; member names here are narrow text. A path that is
// not UTF-8 (bsdtar writes the raw bytes with hdrcharset=BINARY) is taken
// as narrow bytes, which the member output reads as it reads any name.
bool utf8ToNarrow(const char* utf8, char* out, std::size_t capacity) {
    WCHAR wide[kNameCapacity];
    if (MultiByteToWideChar(CP_UTF8, 0, utf8, -1, wide, static_cast<int>(kNameCapacity)) == 0) {
        if (GetLastError() != ERROR_NO_UNICODE_TRANSLATION || std::strlen(utf8) >= capacity) return false;
        std::strcpy(out, utf8);
        return true;
    }
    return WideCharToMultiByte(CP_ACP, 0, wide, -1, out, static_cast<int>(capacity), nullptr, nullptr) != 0;
}

enum class EntryClass { LongName, Pax, Skipped, Unsupported, Extracted, Sparse };

EntryClass classify(char typeflag) {
    switch (typeflag) {
        case 'L':
        case 'N':
            return EntryClass::LongName;
        case 'x':
            return EntryClass::Pax;
        // Links, devices and FIFOs have no form here; a link's long target
        // ('K') and the global pax header ('g') only describe entries.
        case '1':
        case '2':
        case '3':
        case '4':
        case '6':
        case 'K':
        case 'g':
        case 'V':
            return EntryClass::Skipped;
        // Part of a file continued from another volume cannot be rebuilt
        // from this entry alone.
        case 'M':
            return EntryClass::Unsupported;
        case 'S':
            return EntryClass::Sparse;
        default:
            return EntryClass::Extracted;
    }
}

}  // namespace

// The state one extract call carries from one header to the next.
struct TarStreamHandler::Walk {
    bool ok = true;
    bool longNamePending = false;
    bool longNameTooLong = false;
    char longName[kNameCapacity] = {};
    bool paxPending = false;
    tar::PaxOverrides pax;
    MemberOutput* output = nullptr;

    void clearPending() {
        longNamePending = false;
        paxPending = false;
        pax = tar::PaxOverrides();
    }
};

TarStreamHandler::TarStreamHandler() : FormatHandler("Tar") {}
TarStreamHandler::TarStreamHandler(const char* handlerName) : FormatHandler(handlerName) {}
TarStreamHandler::~TarStreamHandler() { TarStreamHandler::closeStream(); }

bool TarStreamHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "tar"); }

bool TarStreamHandler::openStream(const char* path) {
    closeStream();
    file_ = openNarrow(path, "rb");
    if (file_ == nullptr) return false;
    if (inputBuffer_.empty()) inputBuffer_.resize(kInputBufferSize);
    std::setvbuf(file_, inputBuffer_.data(), _IOFBF, inputBuffer_.size());
    return true;
}

std::size_t TarStreamHandler::readStream(void* buffer, std::size_t count) {
    return file_ ? std::fread(buffer, 1, count, file_) : 0;
}

void TarStreamHandler::closeStream() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
}

bool TarStreamHandler::streamFailed() { return file_ != nullptr && std::ferror(file_) != 0; }

void TarStreamHandler::startReadingAhead() {
    if (!decodesAhead()) return;
    if (!ahead_) ahead_.reset(new DecodeAhead);
    readingAhead_ = ahead_->start([this](void* buffer, std::size_t count) { return readStream(buffer, count); });
}

void TarStreamHandler::stopReadingAhead() {
    if (readingAhead_) ahead_->stop();
    readingAhead_ = false;
}

std::size_t TarStreamHandler::readFully(void* buffer, std::size_t count) {
    if (readingAhead_) return ahead_->read(buffer, count);
    std::size_t got = 0;
    while (got < count) {
        const std::size_t n = readStream(static_cast<char*>(buffer) + got, count - got);
        if (n == 0) break;
        got += n;
    }
    return got;
}

bool TarStreamHandler::skipBytes(std::uint64_t count) {
    while (count > 0) {
        const std::size_t chunk = count < kChunk ? static_cast<std::size_t>(count) : kChunk;
        if (readFully(appState.sniffBuffer, chunk) != chunk) return false;
        count -= chunk;
    }
    return true;
}

bool TarStreamHandler::extractEntry(Walk& walk, const unsigned char* header, char typeflag,
                                    std::uint64_t size, const char*, const tar::SparseMap* sparse) {
    const std::uint64_t padded = paddedSize(size);
    const std::uint32_t mode =
        static_cast<std::uint32_t>(tar::numericField(header + tar::kModeOffset, tar::kModeLength));
    std::int64_t mtime = tar::numericField(header + tar::kMtimeOffset, tar::kMtimeLength);
    if (walk.paxPending && walk.pax.hasMtime) mtime = walk.pax.mtime;

    // A sparse file's real name outranks the pax path, which outranks a
    // long-name record, which outranks the header.
    char memberName[kNameCapacity];
    bool usable = true;
    if (walk.paxPending && walk.pax.sparse.hasName) {
        usable = !walk.pax.sparse.nameTooLong && utf8ToNarrow(walk.pax.sparse.name, memberName, sizeof memberName);
    } else if (walk.paxPending && walk.pax.hasPath) {
        usable = !walk.pax.pathTooLong && utf8ToNarrow(walk.pax.path, memberName, sizeof memberName);
    } else if (walk.longNamePending) {
        usable = !walk.longNameTooLong;
        std::memcpy(memberName, walk.longName, sizeof memberName);
    } else {
        std::size_t length = 0;
        if (tar::hasUstarPrefix(header)) {
            length = copyField(memberName, header + tar::kPrefixOffset, tar::kPrefixLength);
            if (length > 0) memberName[length++] = '/';
        }
        copyField(memberName + length, header + tar::kNameOffset, tar::kNameLength);
    }
    if (!usable) {
        walk.ok = false;
        return skipBytes(padded);
    }
    if (memberName[0] == '\0') return skipBytes(padded);

    bool nameEndsWithSeparator = false;
    for (const char* p = memberName; *p; p = nextChar(p)) nameEndsWithSeparator = *p == '/' || *p == '\\';
    const bool isFolder = typeflag == '5' || typeflag == 'D' || (mode & tar::kModeDirectory) != 0 ||
                          nameEndsWithSeparator;

    MemberOutput& output = *walk.output;
    const MemberStart started = isFolder ? output.makeFolder(memberName) : output.open(memberName);
    if (started != MemberStart::Opened) {
        // A folder entry with nothing usable left ("/", "..") asks for nothing.
        if (started == MemberStart::Failed || !isFolder) walk.ok = false;
        return skipBytes(padded);
    }
    if (isFolder) return skipBytes(padded);

    // Only the bytes the stream really gave reach the file.
    std::uint64_t dataLeft = size;
    std::uint64_t paddedLeft = padded;
    const tar::SparseMap none;
    tar::SparseWriter sparseWriter(sparse ? *sparse : none, output);
    bool written = true;
    bool complete = true;
    while (paddedLeft > 0) {
        const std::size_t chunk = paddedLeft < kChunk ? static_cast<std::size_t>(paddedLeft) : kChunk;
        const std::size_t got = readFully(appState.sniffBuffer, chunk);
        const std::size_t keep = got < dataLeft ? got : static_cast<std::size_t>(dataLeft);
        if (written && keep > 0 &&
            !(sparse ? sparseWriter.write(appState.sniffBuffer, keep) : output.write(appState.sniffBuffer, keep))) {
            written = false;
        }
        dataLeft -= keep;
        paddedLeft -= got;
        if (got < chunk) {
            complete = false;
            break;
        }
    }
    if (sparse && written && complete && !sparseWriter.finish()) written = false;
    if (!written || !complete) {
        output.abandon();
        walk.ok = false;
        return complete;
    }
    const FILETIME modified = fileTimeFromUnix(mtime);
    if (!output.close(&modified, nullptr, (mode & tar::kModeOwnerWrite) ? 0x20 : 0x21)) walk.ok = false;
    return true;
}

bool TarStreamHandler::extractSparseEntry(Walk& walk, const unsigned char* header, char typeflag,
                                          std::uint64_t size, const char* destFolder) {
    tar::SparseMap oldGnuMap;
    tar::SparseMap* map = &walk.pax.sparse.map;
    bool usable = true;
    unsigned char block[kBlockSize];
    if (typeflag == 'S') {
        map = &oldGnuMap;
        usable = tar::addOldGnuEntries(header + tar::kOldGnuHeaderEntries, tar::kOldGnuHeaderCount, oldGnuMap);
        const std::int64_t realSize = tar::numericField(header + tar::kOldGnuRealSizeOffset, tar::kOldGnuRealSizeLength);
        if (realSize < 0) usable = false;
        // Some old writers left the real size out; the map's end stands for it.
        if (realSize > 0) oldGnuMap.setRealSize(static_cast<std::uint64_t>(realSize));
        // The extension blocks come before the data and are read whatever
        // they hold, so that the walk stays in step.
        bool extended = header[tar::kOldGnuHeaderExtended] != 0;
        while (extended) {
            if (readFully(block, kBlockSize) != kBlockSize) return false;
            if (usable) usable = tar::addOldGnuEntries(block, tar::kOldGnuExtensionCount, oldGnuMap);
            extended = block[tar::kOldGnuExtensionExtended] != 0;
        }
    } else {
        usable = !walk.pax.sparse.broken && walk.pax.sparse.complete();
        if (usable && walk.pax.sparse.mapInData) {
            tar::SparseMapText text(*map);
            tar::SparseMapText::State state = tar::SparseMapText::State::NeedMore;
            while (state == tar::SparseMapText::State::NeedMore && size >= kBlockSize) {
                if (readFully(block, kBlockSize) != kBlockSize) return false;
                size -= kBlockSize;
                state = text.feed(block, kBlockSize);
            }
            usable = state == tar::SparseMapText::State::Done;
        }
    }
    if (!usable || !map->fits(size)) {
        walk.ok = false;
        return skipBytes(paddedSize(size));
    }
    return extractEntry(walk, header, typeflag, size, destFolder, map);
}

bool TarStreamHandler::probe(const char* path, std::int32_t) {
    if (!openStream(path)) return false;
    // A buffer of its own: the SniffBuffer holds the file's head for the
    // probes that come after this one.
    unsigned char header[kBlockSize];
    const bool result = readFully(header, kBlockSize) == kBlockSize && tar::checksumMatches(header);
    closeStream();
    return result;
}

int TarStreamHandler::extract(const char* path, const char* destFolder) {
    if (!openStream(path)) return 0;
    startReadingAhead();
    unsigned char* block = appState.sniffBuffer;
    Walk walk;
    MemberOutput output(destFolder, MemberNames::Sanitized);
    walk.output = &output;
    std::size_t got = readFully(block, kBlockSize);
    if (got < kBlockSize) {
        stopReadingAhead();
        // Nothing at all is an empty archive; part of a header is damage.
        const bool ok = got == 0 && !streamFailed();
        closeStream();
        return ok ? 1 : 0;
    }

    bool reachedEndBlock = false;
    for (;;) {
        if (tar::isZeroBlock(block)) {
            reachedEndBlock = true;
            break;
        }
        // A header that fails its checksum is damage; what its fields say
        // cannot be trusted, nor where the next header starts.
        if (!tar::checksumMatches(block)) {
            walk.ok = false;
            break;
        }
        const char typeflag = static_cast<char>(block[tar::kTypeflagOffset]);
        const std::int64_t storedSize = tar::numericField(block + tar::kSizeOffset, tar::kSizeLength);
        if (storedSize < 0) {
            walk.ok = false;
            break;
        }
        std::uint64_t size = static_cast<std::uint64_t>(storedSize);
        const EntryClass entryClass = classify(typeflag);
        if (entryClass != EntryClass::LongName && entryClass != EntryClass::Pax && walk.paxPending &&
            walk.pax.hasSize) {
            size = walk.pax.size;
        }

        bool streamEnded = false;
        if (entryClass == EntryClass::LongName) {
            // The name is the record's data up to its first zero byte.
            const std::size_t kept = size < kNameCapacity ? static_cast<std::size_t>(size) : kNameCapacity;
            const std::uint64_t padded = paddedSize(size);
            const std::size_t readNow = static_cast<std::size_t>(paddedSize(kept));
            if (readFully(block, readNow) != readNow || !skipBytes(padded - readNow)) {
                streamEnded = true;
            } else if (size > 0) {
                const std::size_t length = strnlen(reinterpret_cast<const char*>(block), kept);
                walk.longNameTooLong = length >= kNameCapacity;
                const std::size_t stored = walk.longNameTooLong ? 0 : length;
                std::memcpy(walk.longName, block, stored);
                walk.longName[stored] = '\0';
                walk.longNamePending = true;
            }
        } else if (entryClass == EntryClass::Pax) {
            const std::uint64_t padded = paddedSize(size);
            if (size > kPaxCapacity) {
                walk.ok = false;
                streamEnded = !skipBytes(padded);
            } else if (readFully(block, static_cast<std::size_t>(padded)) != padded) {
                streamEnded = true;
            } else {
                walk.pax = tar::PaxOverrides();
                if (!tar::parsePaxRecords(reinterpret_cast<const char*>(block), static_cast<std::size_t>(size),
                                          walk.pax)) {
                    walk.ok = false;
                }
                walk.paxPending = true;
            }
        } else if (entryClass != EntryClass::Extracted && entryClass != EntryClass::Sparse) {
            if (entryClass == EntryClass::Unsupported) walk.ok = false;
            walk.clearPending();
            streamEnded = !skipBytes(paddedSize(size));
        } else if (entryClass == EntryClass::Sparse || (walk.paxPending && walk.pax.sparse.present)) {
            streamEnded = !extractSparseEntry(walk, block, typeflag, size, destFolder);
            walk.clearPending();
        } else {
            streamEnded = !extractEntry(walk, block, typeflag, size, destFolder, nullptr);
            walk.clearPending();
        }
        if (streamEnded) {
            walk.ok = false;
            break;
        }

        got = readFully(block, kBlockSize);
        if (got < kBlockSize) {
            // An archive may end without its zero blocks, but not inside a
            // header.
            if (got > 0) walk.ok = false;
            break;
        }
    }
    if (reachedEndBlock && readsToEnd()) {
        while (readFully(appState.sniffBuffer, kChunk) > 0) {
        }
    }
    stopReadingAhead();
    if (streamFailed()) walk.ok = false;
    closeStream();
    return walk.ok ? 1 : 0;
}

// --- gzip ---------------------------------------------------------------

TarGzipHandler::TarGzipHandler() : TarStreamHandler("Tar+Gzip \x93\x57\x8A\x4A") {}
TarGzipHandler::~TarGzipHandler() { TarGzipHandler::closeStream(); }

bool TarGzipHandler::matchesExtension(const char* ext) {
    return equalsIgnoreCase(ext, "gz") || equalsIgnoreCase(ext, "tgz");
}

bool TarGzipHandler::openStream(const char* path) {
    closeStream();
    failed_ = false;
    // zlib passes anything that is not deflate-compressed gzip through
    // unchanged; only real gzip data is read as a compressed tarball.
    std::FILE* file = openNarrow(path, "rb");
    if (file == nullptr) return false;
    unsigned char head[10];
    const std::size_t got = std::fread(head, 1, sizeof head, file);
    std::fclose(file);
    if (got < sizeof head || head[0] != 0x1F || head[1] != 0x8B || head[2] != Z_DEFLATED) return false;

    const int descriptor = openNarrowReadDescriptor(path);
    if (descriptor < 0) return false;
    gz_ = gzdopen(descriptor, "rb");
    if (gz_ == nullptr) {
        closeNarrowReadDescriptor(descriptor);
        return false;
    }
    gzbuffer(gz_, kGzipBufferSize);
    return true;
}

std::size_t TarGzipHandler::readStream(void* buffer, std::size_t count) {
    if (gz_ == nullptr || failed_) return 0;
    const unsigned ask = count > INT_MAX ? static_cast<unsigned>(INT_MAX) : static_cast<unsigned>(count);
    const int got = gzread(gz_, buffer, ask);
    if (got < 0) {
        failed_ = true;
        return 0;
    }
    return static_cast<std::size_t>(got);
}

void TarGzipHandler::closeStream() {
    if (gz_) gzclose(gz_);
    gz_ = nullptr;
}

bool TarGzipHandler::streamFailed() {
    if (failed_) return true;
    if (gz_ == nullptr) return false;
    // Input cut inside a member shows here only (Z_BUF_ERROR).
    int error = Z_OK;
    gzerror(gz_, &error);
    return error != Z_OK;
}

// --- bzip2 --------------------------------------------------------------

TarBzip2Handler::TarBzip2Handler() : TarStreamHandler("Tar+Bzip2 \x93\x57\x8A\x4A") {}
TarBzip2Handler::~TarBzip2Handler() { TarBzip2Handler::closeStream(); }

bool TarBzip2Handler::matchesExtension(const char* ext) {
    return equalsIgnoreCase(ext, "bz2") || equalsIgnoreCase(ext, "tbz");
}

bool TarBzip2Handler::openStream(const char* path) {
    closeStream();
    bz_ = bzip2PullOpen(path);
    return bz_ != nullptr;
}

std::size_t TarBzip2Handler::readStream(void* buffer, std::size_t count) {
    return bz_ ? bzip2PullRead(buffer, count, bz_) : 0;
}

void TarBzip2Handler::closeStream() {
    bzip2PullClose(bz_);
    bz_ = nullptr;
}

bool TarBzip2Handler::streamFailed() { return bz_ != nullptr && bzip2PullFailed(bz_); }

// --- compress -------------------------------------------------------------

TarCompressHandler::TarCompressHandler() : TarStreamHandler("Tar+Compress \x93\x57\x8A\x4A") {}
TarCompressHandler::~TarCompressHandler() { TarCompressHandler::closeStream(); }

bool TarCompressHandler::matchesExtension(const char* ext) {
    return std::strcmp(ext, "Z") == 0 || std::strcmp(ext, "taZ") == 0;
}

bool TarCompressHandler::openStream(const char* path) {
    closeStream();
    lzw_ = compressStreamOpen(path);
    return lzw_ != nullptr;
}

std::size_t TarCompressHandler::readStream(void* buffer, std::size_t count) {
    return lzw_ ? compressStreamRead(buffer, count, lzw_) : 0;
}

void TarCompressHandler::closeStream() {
    compressStreamClose(lzw_);
    lzw_ = nullptr;
}

bool TarCompressHandler::streamFailed() { return lzw_ != nullptr && compressStreamFailed(lzw_); }
