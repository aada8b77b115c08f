#include "formats/stream/stream_output.h"

#include <cstring>
#include <vector>

#include "core/format_handler.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "platform/win_types.h"

bool derivedOutputPath(char* buffer, std::size_t capacity, const char* destFolder,
                       const char* archivePath, const char* plainExtension, const char* suffix) {
    if (capacity > 0) buffer[0] = '\0';
    char name[MAX_PATH];
    const char* nameSuffix = equalsIgnoreCase(extensionOf(archivePath), plainExtension) ? nullptr : suffix;
    if (outputNameFor(name, sizeof name, archivePath, nameSuffix) == nullptr) return false;
    // Cutting ".gz" leaves nothing to name the file by.
    if (name[0] == '\0' && outputNameFor(name, sizeof name, archivePath, suffix) == nullptr) return false;
    if (name[0] == '\0') return false;
    return joinOutputPath(buffer, capacity, destFolder, name);
}

bool writeAll(std::FILE* output, const void* data, std::size_t count) {
    return count == 0 || std::fwrite(data, 1, count, output) == count;
}

bool closeOutput(std::FILE* output) { return std::fclose(output) == 0; }

NamedPath lastComponentPath(char* buffer, std::size_t capacity, const char* destFolder,
                            const char* name) {
    if (capacity) buffer[0] = '\0';
    // Joined where any name fits, so that a name too long for a path is told
    // apart from one with nothing usable in it.
    const std::size_t joinedCapacity = std::strlen(destFolder) + std::strlen(name) + 2;
    std::vector<char> joined(joinedCapacity);
    if (!joinLastComponent(joined.data(), joinedCapacity, destFolder, name) || toWide(joined.data(), nullptr, 0) == 0) {
        return NamedPath::Unusable;
    }
    return copyBounded(buffer, capacity, joined.data()) ? NamedPath::Usable : NamedPath::TooLong;
}
