#include "formats/zip/zip_crypto.h"

#include <zlib.h>

namespace {

inline std::uint32_t crcStep(const z_crc_t* table, std::uint32_t crc, std::uint8_t byte) {
    return static_cast<std::uint32_t>(table[(crc ^ byte) & 0xFF]) ^ (crc >> 8);
}

inline void updateKeys(const z_crc_t* table, ZipCryptKeys& keys, std::uint8_t plain) {
    keys.key0 = crcStep(table, keys.key0, plain);
    keys.key1 = (keys.key1 + (keys.key0 & 0xFF)) * 134775813u + 1;
    keys.key2 = crcStep(table, keys.key2, static_cast<std::uint8_t>(keys.key1 >> 24));
}

}  // namespace

ZipCryptKeys initZipCryptKeys(const char* password) {
    ZipCryptKeys keys{0x12345678u, 0x23456789u, 0x34567890u};
    const z_crc_t* table = get_crc_table();
    if (password) {
        for (const char* p = password; *p; ++p) updateKeys(table, keys, static_cast<std::uint8_t>(*p));
    }
    return keys;
}

void decryptZipBytes(ZipCryptKeys& keys, std::uint8_t* data, std::size_t count) {
    const z_crc_t* table = get_crc_table();
    // Local copies keep the keys in registers through the loop.
    ZipCryptKeys k = keys;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t temp = (k.key2 & 0xFFFF) | 2;
        const std::uint8_t plain = static_cast<std::uint8_t>(data[i] ^ ((temp * (temp ^ 1)) >> 8));
        data[i] = plain;
        updateKeys(table, k, plain);
    }
    keys = k;
}
