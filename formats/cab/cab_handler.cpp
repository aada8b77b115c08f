#include "formats/cab/cab_handler.h"

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/cab/cab_decoder.h"
#include "formats/cab/cab_messages.h"
#include "formats/cab/cab_set.h"
#include "platform/win_types.h"

namespace {

enum class OutputKind { File, FolderEntry, Unusable };

// The member's output path below destFolder, with its folders created. A
// name that ends in a separator names a folder, which is then made too.
OutputKind prepareOutputPath(char* outputPath, std::size_t capacity, const char* destFolder, const char* name) {
    if (!joinMemberPath(outputPath, capacity, destFolder, name)) return OutputKind::Unusable;
    char* lastSeparator = const_cast<char*>(lastCharOf(outputPath, '\\'));
    if (lastSeparator == nullptr || static_cast<std::size_t>(lastSeparator - outputPath) <= std::strlen(destFolder)) {
        return OutputKind::File;
    }
    *lastSeparator = '\0';
    const unsigned long error = createFolderPath(outputPath);
    *lastSeparator = '\\';
    if (error != 0) return OutputKind::Unusable;
    return lastSeparator[1] == '\0' ? OutputKind::FolderEntry : OutputKind::File;
}

const char* folderPath(const CabFolder* folder) { return folder->parts[0].cabinet->path; }

// Extracts one member; false when it could not be written whole.
bool extractMember(const CabFile& member, const char* destFolder) {
    CabFolder* folder = member.folder;
    if (cabDecoder.folder != folder || member.offset < cabDecoder.produced) {
        const CabResult result = startCabFolder(folder);
        if (result != CabResult::Ok) {
            cabResultMessage(result, folderPath(folder));
            return false;
        }
    }
    if (member.offset > cabDecoder.produced) {
        const CabResult result = decodeCabFolder(member.offset - cabDecoder.produced, nullptr);
        if (result != CabResult::Ok) {
            cabResultMessage(result, folderPath(folder));
            stopCabFolder();
            return false;
        }
    }

    char outputPath[MAX_PATH];
    switch (prepareOutputPath(outputPath, sizeof outputPath, destFolder, member.name)) {
    case OutputKind::File: break;
    case OutputKind::FolderEntry: return member.length == 0;
    case OutputKind::Unusable: return false;
    }
    std::FILE* output = openNarrow(outputPath, "wb");
    if (output == nullptr) return false;
    CabResult result = decodeCabFolder(member.length, output);
    if (std::fclose(output) != 0 && result == CabResult::Ok) result = CabResult::Output;
    if (result != CabResult::Ok) {
        cabResultMessage(result, folderPath(folder));
        stopCabFolder();
        return false;
    }
    return true;
}

}  // namespace

bool CabHandler::matchesExtension(const char* ext) { return equalsIgnoreCase(ext, "cab"); }

bool CabHandler::probe(const char* path, std::int32_t fileSize) {
    const std::uint8_t* head = appState.sniffBuffer;
    return fileSize >= 4 && head[0] == 'M' && head[1] == 'S' && head[2] == 'C' && head[3] == 'F';
}

int CabHandler::extract(const char* path, const char* destFolder) {
    const PathKind destKind = pathKind(destFolder);
    if (destKind == PathKind::Missing || destKind == PathKind::File) createFolder(destFolder);

    CabSet set;
    if (!loadCabinetSet(set, path)) return 0;
    buildMemberList(set);

    cabDecoder.folder = nullptr;
    bool allExtracted = !set.incomplete;
    for (const CabFile* member = set.members; member; member = member->nextListed) {
        if (!extractMember(*member, destFolder)) allExtracted = false;
    }
    stopCabFolder();
    return allExtracted ? 1 : 0;
}
