#include "formats/cab/cab_handler.h"

#include <cstdio>
#include <cstring>

#include "core/app_state.h"
#include "core/extraction_driver.h"
#include "core/member_output.h"
#include "core/narrow_text.h"
#include "core/output_files.h"
#include "formats/cab/cab_decoder.h"
#include "formats/cab/cab_messages.h"
#include "formats/cab/cab_set.h"
#include "platform/win_types.h"

namespace {

const char* folderPath(const CabFolder* folder) { return folder->parts[0].cabinet->path; }

// Extracts one member; false when it could not be written whole.
bool extractMember(const CabFile& member, MemberOutput& output) {
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

    switch (output.open(member.name)) {
    case MemberStart::Opened: break;
    case MemberStart::FolderMade: return member.length == 0;
    default: return false;
    }
    std::FILE* stream = output.stream();
    CabResult result = stream ? decodeCabFolder(member.length, stream) : CabResult::Output;
    if (result == CabResult::Ok && !output.close(nullptr, nullptr, 0)) result = CabResult::Output;
    if (result != CabResult::Ok) {
        output.abandon();
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
    MemberOutput output(destFolder, MemberNames::AsStored);
    bool allExtracted = !set.incomplete;
    for (const CabFile* member = set.members; member; member = member->nextListed) {
        if (!extractMember(*member, output)) allExtracted = false;
    }
    stopCabFolder();
    return allExtracted ? 1 : 0;
}
