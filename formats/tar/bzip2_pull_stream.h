// A pull-style reader of the bytes held in a bzip2 file: as many streams as
// follow one another, decoded on every core by the parallel bzip2 decoder
// so that every decoded byte reaches the caller in order and every error is
// seen.
#pragma once

#include <cstddef>

struct Bzip2PullStream;

// nullptr when the file cannot be opened, does not start with a bzip2
// stream signature ("BZh" and a level 1-9), or memory is short.
Bzip2PullStream* bzip2PullOpen(const char* path);

// Places up to count decoded bytes in buffer and returns how many. A shorter
// read than asked for means the end of the data or a failure; bytes after
// the last stream that do not start another one end the data.
std::size_t bzip2PullRead(void* buffer, std::size_t count, Bzip2PullStream* stream);

// True once decoding met corrupt data, a failed CRC, input cut short inside
// a stream, or a read error. Everything read before it is as decoded.
bool bzip2PullFailed(const Bzip2PullStream* stream);

// Releases the decoder and closes the file; nullptr is ignored.
void bzip2PullClose(Bzip2PullStream* stream);
