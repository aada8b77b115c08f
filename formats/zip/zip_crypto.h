// The traditional PKWARE stream cipher of ZIP items (general-purpose bit 0
// without strong encryption): three 32-bit keys driven by CRC-32 steps.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr std::size_t kZipCryptHeaderSize = 12;

struct ZipCryptKeys {
    std::uint32_t key0;
    std::uint32_t key1;
    std::uint32_t key2;
};

// Keys after feeding every byte of password (nullptr or "" leaves the
// initial keys).
ZipCryptKeys initZipCryptKeys(const char* password);

// Decrypts count bytes in place, advancing the keys.
void decryptZipBytes(ZipCryptKeys& keys, std::uint8_t* data, std::size_t count);
