// A pull-style stream of the bytes held in a Unix compress (.Z) file: the
// 3-byte header is checked at open, the code stream is decoded on demand.
// The .Z handler and the TAR+Compress reader both read through it.
#pragma once

#include <cstddef>

struct CompressStream;

// nullptr when the file cannot be opened, does not start with 1F 9D, names a
// maximum code width outside 9..16, or memory is short.
CompressStream* compressStreamOpen(const char* path);

// Places up to count decoded bytes in buffer and returns how many; 0 once
// every byte has been delivered. Reads of any size give the same bytes. A
// shorter read than asked for means the end of the data or a failure; after
// a failure every further read returns 0.
std::size_t compressStreamRead(void* buffer, std::size_t count, CompressStream* stream);

// True once decoding has met corrupt data (a code above the next free code),
// input cut inside a code, or a read error. Everything read before it is good.
bool compressStreamFailed(const CompressStream* stream);

// Releases the decoder and closes the file; nullptr is ignored.
void compressStreamClose(CompressStream* stream);

// The header test of compressStreamOpen on bytes already in memory (the first
// size bytes of a file): magic and a maximum width of 9..16.
bool isCompressHeader(const unsigned char* head, std::size_t size);
