// Item names: which encoding a stored name is read in, and the rules that
// keep it below the destination.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The name of an item, decoded and made safe. The stored bytes are read as
// UTF-8 when the entry says so (general-purpose bit 11), when a current
// Unicode path block gives the name, or when the entry was made on Unix,
// whose archivers store the system's (UTF-8) bytes unflagged; otherwise in
// the OEM code page. A name that is not valid UTF-8 although it should be is
// read in the OEM code page; bytes that decode in no way become a visible
// escape (memberNameToUtf16). Then drive prefixes, leading separators and
// everything up to a separator-dot-dot-separator are dropped until none is
// left; a leading ".." that remains is left to the member-output service,
// which never climbs above the destination.
std::u16string decodeZipName(const char* stored, std::size_t storedLength, std::uint32_t flag,
                             std::uint32_t versionMadeBy, const std::uint8_t* centralExtra,
                             std::size_t centralExtraLength);
