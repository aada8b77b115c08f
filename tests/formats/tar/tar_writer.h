// TAR archives built block by block for the tests, where each field is
// plain to see.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

namespace tar_testing {

// Stores the checksum of a header block whose fields are set.
inline std::string checksummed(std::string h) {
    h.replace(148, 8, "        ");
    unsigned sum = 0;
    for (unsigned char c : h) sum += c;
    std::snprintf(&h[148], 8, "%06o", sum);
    return h;
}

// One ustar header block with a correct checksum.
inline std::string header(const std::string& name, std::uint64_t size, char type = '0', unsigned mode = 0644,
                          long long mtime = 1000000000) {
    std::string h(512, '\0');
    h.replace(0, std::min<std::size_t>(name.size(), 100), name.substr(0, 100));
    std::snprintf(&h[100], 8, "%07o", mode);
    std::snprintf(&h[124], 12, "%011llo", static_cast<unsigned long long>(size));
    std::snprintf(&h[136], 12, "%011llo", mtime);
    h[156] = type;
    h.replace(257, 8, std::string("ustar\0" "00", 8));
    return checksummed(h);
}

inline std::string padded(const std::string& data) { return data + std::string((512 - data.size() % 512) % 512, '\0'); }
inline std::string entry(const std::string& name, const std::string& data, char type = '0') {
    return header(name, data.size(), type) + padded(data);
}
inline std::string pax(const std::string& key, const std::string& value) {
    std::string body = " " + key + "=" + value + "\n";
    std::size_t length = body.size() + 1;
    while (std::to_string(length).size() + body.size() != length) ++length;
    return std::to_string(length) + body;
}
const std::string kEnd(1024, '\0');

}  // namespace tar_testing
