#include "formats/cab/cab_set.h"

#include <cstdio>
#include <cstring>

#include "core/format_handler.h"
#include "core/member_path.h"
#include "core/narrow_text.h"
#include "formats/cab/cab_messages.h"
#include "formats/cab/cab_reader.h"

namespace {

// Sets of hundreds of disks exist; a chain longer than this is hostile.
constexpr int kMaxCabinetsInSet = 1024;

bool alreadyLoaded(const CabSet& set, const char* path) {
    for (const Cabinet* cabinet = set.first; cabinet; cabinet = cabinet->next) {
        if (namesSameFile(cabinet->path, path)) return true;
    }
    return false;
}

// The folder of archivePath followed by name; false when it does not fit.
bool nextCabinetPath(char* buffer, std::size_t capacity, const char* archivePath, const char* name) {
    const char* slash = lastCharOf(archivePath, '/');
    const char* backslash = lastCharOf(archivePath, '\\');
    const char* separator = slash > backslash ? slash : backslash;
    const std::size_t folderLength = separator ? static_cast<std::size_t>(separator - archivePath) + 1 : 0;
    const std::size_t nameLength = std::strlen(name);
    if (folderLength + nameLength >= capacity) return false;
    std::memcpy(buffer, archivePath, folderLength);
    std::memcpy(buffer + folderLength, name, nameLength + 1);
    return true;
}

CabFolder* lastFolderOf(Cabinet& cabinet) { return &cabinet.folders[cabinet.folderCount - 1]; }

bool sameEntry(const CabFile& a, const CabFile& b) {
    return a.offset == b.offset && a.length == b.length && std::strcmp(a.name, b.name) == 0;
}

}  // namespace

CabSet::~CabSet() {
    Cabinet* cabinet = first;
    while (cabinet) {
        Cabinet* next = cabinet->next;
        delete cabinet;
        cabinet = next;
    }
}

bool loadCabinetSet(CabSet& set, const char* archivePath) {
    set.first = loadCabinet(archivePath);
    if (set.first == nullptr) return false;
    if (set.first->flags & kCabFlagPrevious) {
        cabMessage("%s: WARNING; this is not the first cabinet in sequence\n", archivePath);
    }
    Cabinet* last = set.first;
    for (int count = 1; last->flags & kCabFlagNext; ++count) {
        char nextPath[kArchivePathCapacity];
        if (count == kMaxCabinetsInSet || !nextCabinetPath(nextPath, sizeof nextPath, archivePath, last->nextName)) {
            cabMessage("%s: can't read next cabinet %s\n", archivePath, last->nextName);
            set.incomplete = true;
            break;
        }
        // A chain that comes back to a cabinet of the set would go round
        // for ever; the set ends where it closes.
        if (alreadyLoaded(set, nextPath)) break;
        Cabinet* next = loadCabinet(nextPath);
        if (next == nullptr) {
            cabMessage("%s: can't read next cabinet %s\n", archivePath, nextPath);
            set.incomplete = true;
            break;
        }
        last->next = next;
        next->previous = last;
        last = next;
    }
    return true;
}

void buildMemberList(CabSet& set) {
    CabFile** tail = &set.members;
    CabFolder* linkFolder = nullptr;
    for (Cabinet* cabinet = set.first; cabinet; cabinet = cabinet->next) {
        CabFolder* firstFolder = &cabinet->folders[0];
        CabFolder* lastFolder = lastFolderOf(*cabinet);
        bool mergeOk = true;
        for (std::uint16_t i = 0; i < cabinet->fileCount; ++i) {
            CabFile& member = cabinet->files[i];
            const std::uint16_t index = member.folderIndex;
            if (index < kCabContinuedFromPrevious) {
                CabFolder* folder = firstFolder;
                for (std::uint16_t step = 0; folder && step < index; ++step) folder = folder->next;
                member.folder = folder;
            }
            if ((index == kCabContinuedToNext || index == kCabContinuedBoth) && cabinet->next &&
                lastFolder->continuation == nullptr) {
                lastFolder->continuation = &member;
                member.state = CabEntryState::Continuing;
            }
            if (index == kCabContinuedFromPrevious || index == kCabContinuedBoth) {
                if (index == kCabContinuedBoth) mergeOk = false;
                if (linkFolder) {
                    CabFile* continued = linkFolder->continuation;
                    if (continued && sameEntry(*continued, member) &&
                        linkFolder->compressionType == firstFolder->compressionType) {
                        if (1 + linkFolder->extraParts >= kCabSplitMax) {
                            std::printf("%s: internal error, increase CAB_SPLITMAX :)\n", set.first->path);
                            mergeOk = false;
                        } else {
                            linkFolder->parts[++linkFolder->extraParts] = firstFolder->parts[0];
                            linkFolder->next = firstFolder->next;
                            linkFolder->continuation = firstFolder->continuation;
                            if (lastFolder == firstFolder) lastFolder = linkFolder;
                            firstFolder = linkFolder;
                            linkFolder = nullptr;
                            continued->state = CabEntryState::Joined;
                        }
                    } else {
                        mergeOk = false;
                    }
                }
                // Without a joined folder the entry's beginning is in a
                // cabinet that is not part of what was loaded.
                if (mergeOk && firstFolder->extraParts > 0) member.folder = firstFolder;
            }
            if (member.state == CabEntryState::Continuing) continue;
            if (member.folder) {
                member.state = CabEntryState::Listed;
                *tail = &member;
                tail = &member.nextListed;
            } else {
                member.state = CabEntryState::Dropped;
                set.incomplete = true;
            }
        }
        linkFolder = lastFolder;
    }
    // A member that goes on into a cabinet that never took it up.
    for (Cabinet* cabinet = set.first; cabinet; cabinet = cabinet->next) {
        for (std::uint16_t i = 0; i < cabinet->fileCount; ++i) {
            if (cabinet->files[i].state == CabEntryState::Continuing) set.incomplete = true;
        }
    }
}
