// TAR archives, plain or wrapped as a whole in gzip, bzip2 or Unix compress.
// One probe and one extract serve all four handlers; each class supplies
// only the byte stream they read, which moves strictly forwards so that the
// plain file and the three decoders (which cannot seek) behave alike.
// These handlers come first in the list and claim the compressed
// extensions, so a compressed tarball is unpacked as a tarball while a
// compressed single file falls through to the single-stream handlers.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/format_handler.h"

namespace tar {
class SparseMap;
}
class DecodeAhead;
struct Bzip2PullStream;
struct CompressStream;
struct gzFile_s;

class TarStreamHandler : public FormatHandler {
public:
    TarStreamHandler();
    ~TarStreamHandler() override;

    bool matchesExtension(const char* ext) override;
    // True when the stream's first 512 bytes are a header whose checksum
    // holds. fileSize is not used: the stream may be compressed.
    bool probe(const char* path, std::int32_t fileSize) final;
    // 0 when the stream cannot be opened, or when anything went wrong on the
    // way (a member that could not be written, data cut short, a damaged
    // header or wrapper); the members that could be written stay.
    int extract(const char* path, const char* destFolder) final;

protected:
    explicit TarStreamHandler(const char* handlerName);

    // Closes any open stream first; true when the source is open.
    virtual bool openStream(const char* path);
    // The number of bytes placed in buffer; 0 when the stream is not open,
    // at its end, or after an error.
    virtual std::size_t readStream(void* buffer, std::size_t count);
    virtual void closeStream();
    // True once the source met a read or decoding error since it was opened.
    virtual bool streamFailed();
    // Wrapped streams are read on to their end after the archive's end, so
    // that damage past the last member (a failed checksum, corrupt codes)
    // is still reported.
    virtual bool readsToEnd() const { return false; }
    // Decoders run on a second thread during extract, a few buffers ahead
    // of the walk, so that decoding overlaps with writing the members.
    virtual bool decodesAhead() const { return false; }

private:
    struct Walk;
    // Starts reading ahead where the source decodes; stopReadingAhead()
    // must run before the source is asked about errors or closed.
    void startReadingAhead();
    void stopReadingAhead();
    // Reads until count bytes came or the stream ends.
    std::size_t readFully(void* buffer, std::size_t count);
    // Reads and drops count bytes; false when the stream ended first.
    bool skipBytes(std::uint64_t count);
    // Writes one file or folder entry whose header is in header and whose
    // data (size bytes, padded to whole blocks) follows in the stream.
    // False when the stream ended inside that data.
    // A sparse file's data is written where its map puts it.
    bool extractEntry(Walk& walk, const unsigned char* header, char typeflag, std::uint64_t size,
                      const char* destFolder, const tar::SparseMap* sparse);
    // Reads a sparse member's map (from its header and extension blocks, or
    // from its pax records and the head of its data) and writes the file
    // whole. A map that cannot be right fails the member, whose data is
    // skipped; false only when the stream ended.
    bool extractSparseEntry(Walk& walk, const unsigned char* header, char typeflag, std::uint64_t size,
                            const char* destFolder);

    std::FILE* file_ = nullptr;
    std::unique_ptr<DecodeAhead> ahead_;
    bool readingAhead_ = false;
    // stdio buffers of our own: a large one for the archive, so that runs of
    // small members cost one read between them, and one for each output
    // file, so that a small member is written by one call at its close.
    std::vector<char> inputBuffer_;
    std::vector<char> outputBuffer_;
};

class TarGzipHandler : public TarStreamHandler {
public:
    TarGzipHandler();
    ~TarGzipHandler() override;
    bool matchesExtension(const char* ext) override;

protected:
    bool openStream(const char* path) override;
    std::size_t readStream(void* buffer, std::size_t count) override;
    void closeStream() override;
    bool streamFailed() override;
    bool readsToEnd() const override { return true; }
    bool decodesAhead() const override { return true; }

private:
    gzFile_s* gz_ = nullptr;
    bool failed_ = false;
};

class TarBzip2Handler : public TarStreamHandler {
public:
    TarBzip2Handler();
    ~TarBzip2Handler() override;
    bool matchesExtension(const char* ext) override;

protected:
    bool openStream(const char* path) override;
    std::size_t readStream(void* buffer, std::size_t count) override;
    void closeStream() override;
    bool streamFailed() override;
    bool readsToEnd() const override { return true; }
    // Not on a thread of ours: the stream already decodes its blocks on
    // workers of its own, ahead of the reader.

private:
    Bzip2PullStream* bz_ = nullptr;
};

class TarCompressHandler : public TarStreamHandler {
public:
    TarCompressHandler();
    ~TarCompressHandler() override;
    // Case-exact: "z" is another format's extension.
    bool matchesExtension(const char* ext) override;

protected:
    bool openStream(const char* path) override;
    std::size_t readStream(void* buffer, std::size_t count) override;
    void closeStream() override;
    bool streamFailed() override;
    bool readsToEnd() const override { return true; }
    bool decodesAhead() const override { return true; }

private:
    CompressStream* lzw_ = nullptr;
};
