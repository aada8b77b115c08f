// Loading one cabinet: finding its header (at the start of the file, or for
// the later cabinets of a set, embedded behind other data), reading the
// header, the folder and the member entries.
#pragma once

#include <cstdint>
#include <cstdio>

#include "formats/cab/cab_records.h"

// Opens path for binary reading, retrying once with the name part
// lowercased. On success path holds the spelling that opened.
std::FILE* openCabinetFile(char* path, std::uint64_t* fileLength);

// Reads exactly count bytes. A read that would pass the file's end records
// the truncation warning for path and fails.
bool readCabinetBytes(std::FILE* file, void* buffer, std::size_t count, const char* path);

// nullptr when the file cannot be opened, holds no cabinet or its header or
// entries are unusable; the reason is in the message buffer.
Cabinet* loadCabinet(const char* path);
