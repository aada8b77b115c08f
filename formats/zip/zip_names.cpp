#include "formats/zip/zip_names.h"

#include <cstring>

#include "formats/zip/zip_extra_fields.h"
#include "platform/text_conversion.h"

namespace {

constexpr std::uint32_t kFlagUtf8Name = 0x0800;

bool isSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// Hosts whose archivers store names as the raw bytes of the system's
// encoding, which is UTF-8 there today, without setting the UTF-8 flag.
bool hostStoresUtf8Names(std::uint32_t versionMadeBy) {
    const std::uint32_t host = versionMadeBy >> 8;
    return host == 3 /* Unix */ || host == 19 /* OS X */;
}

void applyNameSafety(std::u16string& name) {
    static const char16_t* const kPatterns[] = {u"\\..\\", u"\\../", u"/../", u"/..\\"};
    for (;;) {
        if (name.size() >= 2 && name[1] == u':') {
            name.erase(0, 2);
            continue;
        }
        if (!name.empty() && isSeparator(name[0])) {
            name.erase(0, 1);
            continue;
        }
        bool changed = false;
        for (const char16_t* pattern : kPatterns) {
            const std::size_t found = name.find(pattern);
            if (found != std::u16string::npos) {
                name.erase(0, found + 4);
                changed = true;
                break;
            }
        }
        if (!changed) return;
    }
}

}  // namespace

std::u16string decodeZipName(const char* stored, std::size_t storedLength, std::uint32_t flag,
                             std::uint32_t versionMadeBy, const std::uint8_t* centralExtra,
                             std::size_t centralExtraLength) {
    std::u16string name;
    std::string unicodePath;
    std::u16string checked;
    if (!(flag & kFlagUtf8Name) &&
        unicodePathName(centralExtra, centralExtraLength, stored, storedLength, unicodePath)) {
        unicodePath.resize(strnlen(unicodePath.c_str(), unicodePath.size()));
    }
    // A block that is itself no valid UTF-8 is no better than the name.
    if (!unicodePath.empty() && utf8ToUtf16(unicodePath, checked)) {
        name = memberNameToUtf16(unicodePath.c_str(), CP_UTF8);
    } else {
        // A name ends at its first NUL.
        const std::string bytes(stored, strnlen(stored, storedLength));
        const bool utf8 = (flag & kFlagUtf8Name) || hostStoresUtf8Names(versionMadeBy);
        name = memberNameToUtf16(bytes.c_str(), utf8 ? CP_UTF8 : CP_OEMCP);
    }
    applyNameSafety(name);
    return name;
}
