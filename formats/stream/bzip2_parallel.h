// Decodes every bzip2 stream of a file on several threads and delivers the
// bytes in order, exactly as the plain one-after-another decode by libbz2
// would: the same bytes, and on damaged or cut-short input the same bytes
// before the same failure.
//
// bzip2 blocks are independent. The calling thread finds block starts by
// their 48-bit signature (at any bit offset), gives each block to a worker
// as a stream of its own (a "BZh<level>" header, the block's bits moved to
// a byte boundary, and an end record carrying the block's CRC, so that
// libbz2 checks it), and checks the stream CRC itself from the block CRCs.
// A signature can also occur by chance inside block data; any block that
// does not decode as a whole sends the decoder back to the start of its
// stream for the plain decode, which skips the bytes already delivered.
// That restart reads the file again, so the file must be seekable.
//
// Bounds: at most 2 blocks per worker in flight; a block's input is at most
// about 2.3 MB (level 9) and a worker holds at most 4 MiB of its output
// (larger outputs are decoded again, in order, by the calling thread), plus
// libbz2's own 3.6 MB per decoder.
#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>

class Bzip2ParallelDecoder {
public:
    // Decodes file from its start. workers 0 decodes in the calling thread
    // alone (the plain decode). The file stays the caller's.
    Bzip2ParallelDecoder(std::FILE* file, unsigned workers);
    ~Bzip2ParallelDecoder();
    Bzip2ParallelDecoder(const Bzip2ParallelDecoder&) = delete;
    Bzip2ParallelDecoder& operator=(const Bzip2ParallelDecoder&) = delete;

    // One per core, at least one.
    static unsigned defaultWorkers();

    // False when the file does not start with "BZh" and a level 1-9.
    bool started() const;

    // Places up to count decoded bytes in buffer and returns how many; fewer
    // than count only at the end of the data or on a failure. Bytes after
    // the last stream that do not start another one end the data.
    std::size_t read(void* buffer, std::size_t count);

    // Corrupt data, a failed CRC, input cut short inside a stream, or a read
    // error. Everything read before it is as decoded.
    bool failed() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};
